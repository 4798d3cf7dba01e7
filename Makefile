# The two commands of the README: `make play` and `make test`.
.PHONY: play test test-release test-asan test-fuzz deps build

JOBS ?= $(shell nproc)

deps:
	@./cmake/install-deps.sh

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
