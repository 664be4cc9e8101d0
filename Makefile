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

py-test:
	@echo "the Python module is not built yet"

demo:
	cmake -S . -B $(BUILD)/demo -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/demo -j$(JOBS)

bench: apt-deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j$(JOBS)

clean:
	rm -rf $(BUILD) $(VENV) $(VENV_NUMPY1) dist *.egg-info
