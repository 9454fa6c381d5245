# Quick start: `make demo` runs the example, `make test` runs every test.
# Each target sets up what it needs (scripts/setup.sh PROFILE) and rebuilds
# only what changed. `make help` lists the targets.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
VENV := .venv
PY := $(VENV)/bin/python
# System tools first, so pyenv shims never stand in for cmake or ninja.
export PATH := $(CURDIR)/$(VENV)/bin:/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin:$(PATH)
export CMAKE_BUILD_PARALLEL_LEVEL := 2
JOBS := 2

SOURCES := $(shell find src stubs python -type f) CMakeLists.txt pyproject.toml README.md LICENSE
INSTALLED := $(VENV)/.installed
CPP_BUILD := build/cpp

.PHONY: help setup install test test-cpp test-python demo bench check-deep wheel sdist \
        check-debian13 format clean
.DEFAULT_GOAL := test

help:
	@echo "make demo            build the module and run the motor demo (writes examples/step_response.png)"
	@echo "make test            every test: GoogleTest through ctest, then pytest"
	@echo "make test-cpp        the C++ tests only"
	@echo "make test-python     the Python tests only"
	@echo "make bench           benchmarks: C++ core, then Python side by side; bench/results.json"
	@echo "make check-deep      sanitizers, fuzzing (FUZZ_SECONDS each, default 120), valgrind"
	@echo "make wheel           a manylinux wheel in dist/, checked in a fresh virtual environment"
	@echo "make sdist           a source distribution in dist/, built by plain pip in a fresh environment"
	@echo "make check-debian13  make test inside a Debian 13 root made with debootstrap (needs root)"
	@echo "make format          clang-format over the C++ sources"
	@echo "make clean           remove the build directories"

setup:
	@scripts/setup.sh build

# Build the module through scikit-build-core into a persistent build directory
# and install it into .venv; skipped when no source changed. The build's own
# progress lines are shown; its whole log is kept, and shown on failure.
$(INSTALLED): $(SOURCES)
	@echo "build: compiling and installing the foundation module into $(VENV)"
	@mkdir -p build
	@{ $(PY) -m pip install -v --no-build-isolation --no-deps . 2>&1 | tee build/install.log \
	    | sed -unE 's/^ *(\[[0-9]+\/[0-9]+\] .*)/build: \1/p'; } \
	    || { tail -n 40 build/install.log; echo "build: failed; the whole log is build/install.log"; exit 1; }
	@touch $@

install: setup
	@$(MAKE) --no-print-directory $(INSTALLED)

$(CPP_BUILD)/build.ninja:
	@echo "build: configuring the C++ tests in $(CPP_BUILD)"
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFOUNDATION_TESTS=ON >/dev/null

test-cpp:
	@scripts/setup.sh test
	@$(MAKE) --no-print-directory $(CPP_BUILD)/build.ninja
	@echo "build: compiling the C++ tests"
	cmake --build $(CPP_BUILD) -j $(JOBS)
	@echo "test: GoogleTest through ctest"
	ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

test-python: install
	@scripts/setup.sh test
	@echo "test: pytest against the installed module"
	$(PY) -m pytest

test: test-cpp test-python

demo:
	@scripts/setup.sh demo
	@$(MAKE) --no-print-directory $(INSTALLED)
	$(PY) examples/demo.py

format:
	@scripts/setup.sh format
	clang-format -i $$(find src tests/cpp bench -name '*.cpp' -o -name '*.hpp')

clean:
	rm -rf build $(VENV)/.installed

BENCH_BUILD := build/bench
FLOOR_BUILD := build/bench-floor

# Release builds of the C++ benchmarks and of the benchmark-only floor module,
# then everything side by side; results in bench/results.json.
bench: install
	@scripts/setup.sh bench
	@echo "build: C++ benchmarks (Release)"
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DFOUNDATION_BENCH=ON >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@echo "build: the binding-floor module"
	cmake -S bench/floor -B $(FLOOR_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DPython_EXECUTABLE=$(CURDIR)/$(PY) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) >/dev/null
	cmake --build $(FLOOR_BUILD) -j $(JOBS)
	@echo "bench: C++"
	$(BENCH_BUILD)/foundation_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	    --benchmark_out=$(BENCH_BUILD)/cpp.json --benchmark_out_format=json
	@echo "bench: Python, side by side"
	$(PY) bench/python/bench.py --floor-dir $(FLOOR_BUILD) --cpp-json $(BENCH_BUILD)/cpp.json \
	    --markdown $(BENCH_BUILD)/table.md

# Sanitizers, fuzzing and memcheck: the C++ tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer, the
# libFuzzer targets (clang) for FUZZ_SECONDS each from the committed seed
# corpus, and the Python side under valgrind. Any finding fails the target.
FUZZ_SECONDS ?= 120
SANITIZER_ENV := UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1

check-deep: install
	@scripts/setup.sh deep
	@echo "deep: C++ tests with AddressSanitizer and UndefinedBehaviorSanitizer"
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFOUNDATION_TESTS=ON \
	    -DFOUNDATION_SANITIZE=address,undefined >/dev/null
	cmake --build build/asan -j $(JOBS)
	$(SANITIZER_ENV) ctest --test-dir build/asan --output-on-failure -j $(JOBS)
	@echo "deep: concurrency tests with ThreadSanitizer"
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOUNDATION_TESTS=ON \
	    -DFOUNDATION_SANITIZE=thread >/dev/null
	cmake --build build/tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -R Concurrency --output-on-failure
	@echo "deep: libFuzzer targets, $(FUZZ_SECONDS) s each"
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DFOUNDATION_FUZZ=ON -DFOUNDATION_SANITIZE=address,undefined >/dev/null
	cmake --build build/fuzz -j $(JOBS)
	for target in paths registry; do \
	    mkdir -p build/fuzz/corpus-$$target build/fuzz/artifacts; \
	    $(SANITIZER_ENV) build/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus-$$target tests/fuzz/corpus/$$target \
	        2>&1 | grep -E "^(stat::number_of_executed_units|Done|==[0-9]+==|SUMMARY)"; \
	    test $${PIPESTATUS[0]} -eq 0; \
	done
	@echo "deep: the Python side under valgrind memcheck"
	PYTHONMALLOC=malloc valgrind --error-exitcode=99 --leak-check=no -q $(PY) tests/deep/memcheck_smoke.py
	PYTHONMALLOC=malloc valgrind --error-exitcode=99 --leak-check=no -q $(PY) -m pytest -q -p no:cacheprovider \
	    tests/python/test_pid.py tests/python/test_control.py tests/python/test_motion.py \
	    tests/python/test_speed_mode.py

# A wheel in dist/, repaired by auditwheel into a manylinux wheel (the only
# kind package indexes take), then proof that it stands alone: a fresh
# CPython 3.13 virtual environment outside the tree installs it (pulling in
# only NumPy) and uses the module and the logging bridge.
WHEEL_CHECK := build/wheel-check

wheel: install
	@scripts/setup.sh wheel
	rm -rf dist/*.whl build/wheel-raw $(WHEEL_CHECK)
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w build/wheel-raw .
	$(PY) -m auditwheel repair -w dist build/wheel-raw/*.whl
	@echo "wheel: $$(ls dist/*.whl) ($$(du -k dist/*.whl | cut -f1) KiB)"
	$(PY) -m auditwheel show dist/*.whl | sed -n '/consistent/,/tag/p'
	$$($(PY) -c 'import sys; print(sys._base_executable)') -m venv $(WHEEL_CHECK)
	$(WHEEL_CHECK)/bin/python -m pip install -q dist/*.whl
	cd /tmp && $(CURDIR)/$(WHEEL_CHECK)/bin/python -c 'import foundation, foundation_logging, logging, numpy; \
	    p = foundation.Pose(); p.position = [1, 2, 3]; foundation_logging.install(); \
	    print("wheel ok:", foundation.__file__, p)'
	$(WHEEL_CHECK)/bin/python -m pip list --format=freeze

# A source distribution, then proof that plain pip builds it in a fresh
# CPython 3.13 environment from PyPI's build tools and the system packages.
SDIST_CHECK := build/sdist-check

sdist: setup
	@scripts/setup.sh wheel
	rm -rf dist/*.tar.gz $(SDIST_CHECK)
	$(PY) -m build --sdist --outdir dist .
	$$($(PY) -c 'import sys; print(sys._base_executable)') -m venv $(SDIST_CHECK)
	$(SDIST_CHECK)/bin/python -m pip install -q dist/*.tar.gz
	cd /tmp && $(CURDIR)/$(SDIST_CHECK)/bin/python -c 'import foundation, foundation_logging; \
	    print("sdist ok:", foundation.__file__)'

# make test inside a Debian 13 root (spdlog 1.15, fmt 10, Debian's python3.13),
# made once with debootstrap from Debian's packages; needs root.
check-debian13:
	scripts/check-debian13.sh
