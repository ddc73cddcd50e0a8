# Front door: `make demo`, `make test`, `make bench`, `make fuzz`.
JOBS ?= $(shell nproc)
TEST_BUILD := build/test
RELEASE_BUILD := build/release
FUZZ_BUILD := build/fuzz
FUZZ_SECONDS ?= 600
# UNITY=0: every source file a compile of its own (an edit recompiles that file alone).
UNITY ?= 1
UNITY_BUILD := $(if $(filter 0 OFF off,$(UNITY)),OFF,ON)

.PHONY: all deps build test demo bench fuzz format clean

all: build

deps:
	@./scripts/install-deps.sh

# -Og: the sanitized library compiles in about a sixth less time than at -O1; the suite runs
# a little slower, `make test` as a whole costs less. Every sanitizer check stays.
$(TEST_BUILD)/CMakeCache.txt:
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -Og" \
	  -DQOV_SANITIZE=ON -DQOV_WERROR=ON -DQOV_UNITY_BUILD=$(UNITY_BUILD)

$(RELEASE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DQOV_BUILD_TESTS=OFF \
	  -DQOV_BUILD_BENCH=ON

build: deps $(TEST_BUILD)/CMakeCache.txt
	@grep -qx 'QOV_UNITY_BUILD:BOOL=$(UNITY_BUILD)' $(TEST_BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(TEST_BUILD) -DQOV_UNITY_BUILD=$(UNITY_BUILD)
	cmake --build $(TEST_BUILD) -j$(JOBS)

test: build
	cd $(TEST_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j$(JOBS)

demo: deps $(RELEASE_BUILD)/CMakeCache.txt
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target qovtool
	./scripts/demo.sh $(RELEASE_BUILD)

bench: deps $(RELEASE_BUILD)/CMakeCache.txt
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target qov_bench
	$(RELEASE_BUILD)/qov_bench

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_COMPILER=clang -DQOV_BUILD_TESTS=OFF -DQOV_BUILD_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

format:
	find src tests bench tools fuzz -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
