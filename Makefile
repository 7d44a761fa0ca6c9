# Thin wrapper around CMake. Every target installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench sanitize sanitize-thread fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@$(BUILD)/tools/orvik demo

bench: deps
	@scripts/install-deps --peers
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DORVIK_BUILD_BENCH=ON -DORVIK_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@for b in $(BUILD)-bench/bench/orvik_bench_*; do echo "== $$b"; $$b $(BENCH_ARGS); done

# Address and undefined-behaviour sanitizers over the whole test suite. Allocation
# failures are part of what the tests check, so the sanitizer's allocator returns
# null on huge requests instead of aborting.
sanitize: export ASAN_OPTIONS = allocator_may_return_null=1
sanitize: deps
	@cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_SANITIZE=address >/dev/null
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@ctest --test-dir $(BUILD)-asan --output-on-failure -j $(JOBS)

sanitize-thread: export TSAN_OPTIONS = allocator_may_return_null=1
sanitize-thread: deps
	@cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_SANITIZE=thread -DORVIK_BUILD_TOOLS=OFF >/dev/null
	@cmake --build $(BUILD)-tsan -j $(JOBS)
	@ctest --test-dir $(BUILD)-tsan --output-on-failure -j $(JOBS)

# libFuzzer targets under clang with the address and undefined-behaviour
# sanitizers; each runs FUZZ_SECONDS from its seed corpus under tests/data.
# New inputs go to $(BUILD)-fuzz/corpus and crash, leak, timeout and slow-unit
# artefacts to $(BUILD)-fuzz/artifacts, never into the repository. Declared
# sizes are not limited by the targets: a single allocation of 128 MB or more
# from an input of at most 16 KB is a finding.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/install-deps --fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_BUILD_FUZZ=ON \
	  -DORVIK_SANITIZE=address -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_TOOLS=OFF -DBUILD_SHARED_LIBS=OFF >/dev/null
	@cmake --build $(BUILD)-fuzz -j $(JOBS)
	@for t in matrix_stream:storage/stream matrix_archive:storage/archive charmatrix_archive:chain/charmatrix \
	  mesh_stream:triangulation/stream mesh_archive:triangulation/archive \
	  matrix_library:storage/library polygon_stream:polygon/stream polygon_archive:polygon/archive; do \
	  name=$${t%%:*}; seeds=tests/data/$${t#*:}; \
	  mkdir -p $(BUILD)-fuzz/corpus/$$name $(BUILD)-fuzz/artifacts/$$name; \
	  echo "== fuzz $$name for $(FUZZ_SECONDS) s"; \
	  $(BUILD)-fuzz/fuzz/orvik_fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -max_len=16384 -rss_limit_mb=2048 -malloc_limit_mb=128 \
	    -print_final_stats=1 -artifact_prefix=$(BUILD)-fuzz/artifacts/$$name/ $(BUILD)-fuzz/corpus/$$name $$seeds || exit 1; \
	done

clean:
	@rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
