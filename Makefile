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

SOURCES := $(shell find src -type f) CMakeLists.txt pyproject.toml
INSTALLED := $(VENV)/.installed
CPP_BUILD := build/cpp

.PHONY: setup install test test-cpp test-python demo bench format clean
.DEFAULT_GOAL := test

setup:
	@scripts/setup.sh

# Build the module through scikit-build-core into a persistent build directory
# and install it into .venv; skipped when no source changed.
$(INSTALLED): $(SOURCES) $(VENV)/.requirements
	@echo "build: compiling and installing the foundation module into $(VENV)"
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
	$(PY) bench/python/bench.py --floor-dir $(FLOOR_BUILD) --cpp-json $(BENCH_BUILD)/cpp.json
