# Quick start: `make demo` runs the example, `make test` runs every test.
# Each target does its own set-up (scripts/setup.sh) and rebuilds only what changed.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
VENV := .venv
PY := $(VENV)/bin/python
# System tools first, so pyenv shims never stand in for cmake or ninja.
export PATH := $(CURDIR)/$(VENV)/bin:/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin:$(PATH)
export CMAKE_BUILD_PARALLEL_LEVEL := 2
JOBS := 2

SOURCES := $(shell find src stubs python -type f) CMakeLists.txt pyproject.toml README.md
INSTALLED := $(VENV)/.installed
CPP_BUILD := build/cpp

.PHONY: setup install test test-cpp test-python demo bench check-deep wheel format clean
.DEFAULT_GOAL := test

setup:
	@scripts/setup.sh

# Build the module through scikit-build-core into a persistent build directory
# and install it into .venv; skipped when no source changed.
$(INSTALLED): $(SOURCES) $(VENV)/.requirements
	@echo "build: compiling and installing the foundation module into $(VENV) (about a minute on 2 cores the first time)"
	$(PY) -m pip install -q --no-build-isolation --no-deps .
	@touch $@

install: setup
	@$(MAKE) --no-print-directory $(INSTALLED)

$(CPP_BUILD)/build.ninja:
	@echo "build: configuring the C++ tests in $(CPP_BUILD)"
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFOUNDATION_TESTS=ON >/dev/null

test-cpp: setup $(CPP_BUILD)/build.ninja
	@echo "build: compiling the C++ tests"
	cmake --build $(CPP_BUILD) -j $(JOBS)
	@echo "test: GoogleTest through ctest"
	ctest --test-dir $(CPP_BUILD) --output-on-failure -j $(JOBS)

test-python: install
	@echo "test: pytest against the installed module"
	$(PY) -m pytest

test: test-cpp test-python

$(VENV)/.demo-deps: | $(VENV)/.requirements
	@echo "setup: installing the demo's plotting extra (matplotlib)"
	$(PY) -m pip install -q matplotlib
	@touch $@

demo: install
	@$(MAKE) --no-print-directory $(VENV)/.demo-deps
	$(PY) examples/demo.py

format:
	clang-format -i $$(find src tests/cpp bench -name '*.cpp' -o -name '*.hpp')

clean:
	rm -rf build $(VENV)/.installed

BENCH_BUILD := build/bench
FLOOR_BUILD := build/bench-floor

# Release builds of the C++ benchmarks and of the benchmark-only floor module,
# then everything side by side; results in bench/results.json.
bench: install
	@echo "setup: installing the comparison package simple-pid"
	$(PY) -m pip install -q simple-pid
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

# A wheel in dist/, then proof that it stands alone: a fresh CPython 3.13
# virtual environment installs it (pulling in only NumPy) and imports it from
# outside the source tree.
wheel: install
	rm -rf dist build/wheel-check
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w dist .
	@echo "wheel: checking $$(ls dist/*.whl) in a fresh virtual environment"
	$$($(PY) -c 'import sys; print(sys._base_executable)') -m venv build/wheel-check
	build/wheel-check/bin/python -m pip install -q dist/*.whl
	cd /tmp && $(CURDIR)/build/wheel-check/bin/python -c 'import foundation, numpy; \
	    p = foundation.Pose(); p.position = [1, 2, 3]; print("wheel ok:", foundation.__file__, p)'
	build/wheel-check/bin/python -m pip list --format=freeze
