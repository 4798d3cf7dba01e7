# The two commands of the README: `make play` and `make test`.
.PHONY: play test test-release test-asan test-fuzz test-tsan test-install test-python deps deps-hosts build

JOBS ?= $(shell nproc)

deps:
	@./cmake/install-deps.sh

# What the other hosts' builds and tests need on top (cross compiler, emulator, emscripten, browser).
deps-hosts:
	@./cmake/install-deps.sh hosts

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

play: build
	./build/release/tools/tarnwick play

test: test-release test-asan test-fuzz test-tsan test-install test-python

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# A short libFuzzer run over the model parser; a finding fails the target.
test-fuzz: deps
	./fuzz/run.sh 30

# Two sessions on two threads under ThreadSanitizer; only what that test needs is built.
test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target capi_threads_test
	ctest --preset tsan

# Installs into a scratch prefix and builds a find_package and a pkg-config consumer against
# it, static and shared (which also checks what the shared library exports).
test-install: deps
	JOBS=$(JOBS) ./tests/install/run.sh static
	JOBS=$(JOBS) ./tests/install/run.sh shared

# The Python ctypes binding over the shared library.
test-python: deps
	cmake --preset shared >/dev/null
	cmake --build --preset shared -j $(JOBS)
	TARNWICK_LIBRARY=$(CURDIR)/build/shared/Tarnwick/libtarnwick.so \
	  /usr/bin/python3 -m unittest discover -s bindings/python/tests -v
