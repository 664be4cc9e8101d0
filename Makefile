# `make test` and `make demo` set up everything they need on a fresh machine.
SHELL := /bin/bash
PYTHON ?= python3
JOBS ?= 2
BUILD := build
VENV := .venv
VENV_NUMPY1 := .venv-numpy1
CORE_CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Release -DTARNWELL_WERROR=ON -DTARNWELL_BUILD_TESTS=ON

# Debian packages, installed only when absent.
APT_PACKAGES := googletest libgtest-dev clang
APT_CROSS_PACKAGES := g++-aarch64-linux-gnu qemu-user

.PHONY: test demo core-test core-test-clang cross-test py-test bench apt-deps clean

test: core-test core-test-clang cross-test py-test

define apt_install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "installing Debian packages:" $$missing; \
		(apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing) $(2); \
	fi
endef

apt-deps:
	$(call apt_install_missing,$(APT_PACKAGES),)

core-test: apt-deps
	cmake -S . -B $(BUILD)/gcc $(CORE_CMAKE_FLAGS) -DTARNWELL_BUILD_BENCH=ON -DCMAKE_CXX_COMPILER=g++
	cmake --build $(BUILD)/gcc -j$(JOBS)
	ctest --test-dir $(BUILD)/gcc --output-on-failure -j$(JOBS)

core-test-clang: apt-deps
	cmake -S . -B $(BUILD)/clang $(CORE_CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)/clang -j$(JOBS)
	ctest --test-dir $(BUILD)/clang --output-on-failure -j$(JOBS)

# The 64-bit Arm build runs its tests under qemu-user; without emulation it is skipped
# loudly rather than passed silently.
cross-test: apt-deps
	$(call apt_install_missing,$(APT_CROSS_PACKAGES),|| true)
	@if ! command -v aarch64-linux-gnu-g++ >/dev/null || ! command -v qemu-aarch64 >/dev/null; then \
		echo "SKIPPED: aarch64 core tests (no cross compiler or qemu-aarch64 on this machine)"; \
	else \
		cmake -S . -B $(BUILD)/aarch64 $(CORE_CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake && \
		cmake --build $(BUILD)/aarch64 -j$(JOBS) && \
		ctest --test-dir $(BUILD)/aarch64 --output-on-failure -j$(JOBS); \
	fi

# Each virtual environment is made once from $(PYTHON): .venv with the newest NumPy 2,
# .venv-numpy1 with NumPy 1.26, both with what the tests import.
PY_TEST_PACKAGES := pytest
WHEEL_DIR := $(BUILD)/wheel

$(VENV)/.ready:
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/python -m pip install -q --upgrade pip
	$(VENV)/bin/python -m pip install -q --upgrade "numpy>=2,<3" $(PY_TEST_PACKAGES)
	touch $@

$(VENV_NUMPY1)/.ready:
	$(PYTHON) -m venv $(VENV_NUMPY1)
	$(VENV_NUMPY1)/bin/python -m pip install -q --upgrade pip
	$(VENV_NUMPY1)/bin/python -m pip install -q "numpy==1.26.*" $(PY_TEST_PACKAGES)
	touch $@

# One wheel, built with warnings as errors, is tested under both NumPy generations.
# pytest's own exit status stands: a run that collects no test (status 5) fails.
py-test: $(VENV)/.ready $(VENV_NUMPY1)/.ready
	rm -rf $(WHEEL_DIR)
	$(VENV)/bin/python -m pip wheel -q --no-deps -w $(WHEEL_DIR) -Ccmake.define.TARNWELL_WERROR=ON .
	$(VENV)/bin/python -m pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/tarnwell-*.whl
	$(VENV_NUMPY1)/bin/python -m pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/tarnwell-*.whl
	$(VENV)/bin/python -m pytest -q -p no:cacheprovider tests
	$(VENV_NUMPY1)/bin/python -m pytest -q -p no:cacheprovider tests

demo: $(VENV)/.ready
	$(VENV)/bin/python -m pip install -q --force-reinstall --no-deps .
	@for example in examples/*.py; do \
		echo "== $$example"; \
		$(VENV)/bin/python $$example || exit 1; \
	done

bench: apt-deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j$(JOBS) --target tarnwell_core_bench
	$(BUILD)/bench/bench/tarnwell_core_bench

clean:
	rm -rf $(BUILD) $(VENV) $(VENV_NUMPY1) dist *.egg-info
