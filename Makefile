# The two commands of the README: `make play` and `make test`.
.PHONY: play test test-release test-asan test-fuzz deps deps-hosts build

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

test: test-release test-asan test-fuzz

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# A short libFuzzer run over the model parser; a finding fails the target.
test-fuzz: deps
	./fuzz/run.sh 30
