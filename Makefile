# The two commands of the README: `make play` and `make test`.
.PHONY: play test test-release test-asan test-fuzz test-tsan test-install test-python deps deps-hosts build \
	test-portable test-aarch64 web web-build test-web bench-web

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

test: test-release test-asan test-fuzz test-tsan test-install test-python test-portable test-aarch64 \
	test-web

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

# What a distributor ships: no -march=native, so the network runs its 4-lane vector path.
test-portable: deps
	cmake --preset portable >/dev/null
	cmake --build --preset portable -j $(JOBS)
	ctest --preset portable -j $(JOBS)

# The phones' instruction set: cross-built with Debian's aarch64 compiler (googletest from its
# sources), every test run under qemu-aarch64. Tests too slow under emulation would be
# excluded here, by name, and nowhere else; none is today.
AARCH64_EXCLUDE ?=
test-aarch64: deps-hosts
	cmake --preset aarch64 >/dev/null
	cmake --build --preset aarch64 -j $(JOBS)
	ctest --preset aarch64 -j $(JOBS) $(if $(AARCH64_EXCLUDE),-E '$(AARCH64_EXCLUDE)')

# The page under web/ with the library as WebAssembly; `make web` serves it on 127.0.0.1.
WEB_PORT ?= 8034
web-build: deps-hosts
	NODE_PATH=/usr/share/nodejs cmake --preset wasm >/dev/null
	NODE_PATH=/usr/share/nodejs cmake --build --preset wasm --target web -j $(JOBS)

web: web-build
	/usr/bin/python3 web/serve.py build/wasm/site $(WEB_PORT)

# The C interface's and the platform's tests under node (emscripten 3.1.6 would fetch its .wasm
# with node's fetch, which takes no file paths; the module has no threads, so the test that parses
# on a small thread's stack stays with the native builds), then the page in headless Chromium,
# played like a person (screenshots in build/wasm/screenshots).
test-web: web-build
	node --no-experimental-fetch build/wasm/node/capi_test.js
	node --no-experimental-fetch build/wasm/node/platform_test.js \
	  --gtest_filter=-ModelResource.DeepManifestIsRefusedOnASmallStack
	/usr/bin/python3 web/tests/test_page.py build/wasm

# A 50-simulation move in the browser and in the native portable build, side by side.
bench-web: web-build
	cmake --preset portable >/dev/null
	cmake --build --preset portable --target tarnwick_tool -j $(JOBS)
	/usr/bin/python3 web/tests/bench.py build/wasm build/portable/tools/tarnwick
