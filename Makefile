# `make test` and `make demo` are the whole set-up on a fresh Debian machine.
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all setup build build-asan test demo package bench soak fuzz clean format format-check layers-check

all: build

setup:
	@scripts/setup

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS)

build-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)

# The tree has one style, .clang-format's: `make format` applies it, and `make test` refuses code
# that differs from it before it builds anything.
format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

format-check: setup
	@git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror \
	  || { echo "make: the code above is not formatted; run make format" >&2; exit 1; }

# The includes run only down the rooms of src/ (see scripts/layers).
layers-check:
	@scripts/layers

# The formatting and the rooms, then every test through CTest, then the same tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer.
test: format-check layers-check build
	cd build && ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The demo needs only the executable.
demo: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS) --target quorvel-server
	scripts/demo

# The .deb in build-package/, built without the tests and benchmarks.
package: setup
	cmake -S . -B build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF >/dev/null
	cmake --build build-package -j $(JOBS) --target package

bench: build
	bench/run

# The soak (bench/soak.cpp): CYCLES scan cycles with random faults and random changes during a send,
# then every dropped file accounted for. SEED (printed at the start) repeats a run's random choices.
CYCLES ?= 10000
soak: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS) --target soak
	nice build/bench/soak $(CYCLES) $(SEED)

# libFuzzer targets (clang) in their own build folder; each runs FUZZ_SECONDS, never in `make test`.
# New inputs go to build-fuzz/corpus; the seeds in fuzz/corpus are only read.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = codec ini alias address header base64
fuzz:
	@scripts/setup fuzz
	cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/findings; echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  if ! nice build-fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=400 -print_final_stats=1 \
	      -artifact_prefix=build-fuzz/findings/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t >build-fuzz/$$t.log 2>&1; then \
	    tail -n 40 build-fuzz/$$t.log; exit 1; \
	  fi; grep -a '^stat::number_of_executed_units' build-fuzz/$$t.log; \
	done

clean:
	rm -rf build build-asan build-package build-fuzz demo
