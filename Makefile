# The two commands of the README: `make play` and `make test`.
.PHONY: play test test-release test-asan fuzz bench deps build

JOBS ?= $(shell nproc)

deps:
	@./cmake/install-deps.sh

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

play: build
	./build/release/tools/tarnwick play

test: test-release test-asan

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	./build/fuzz/fuzz/model_fuzzer -max_total_time=30 Resources/version0328.mlmodelc/model.json

bench: build
	./build/release/bench/tarnwick_bench
