# `make test` and `make demo` are the whole set-up on a fresh Debian machine.
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all setup build build-asan test demo bench clean

all: build

setup:
	@scripts/setup

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS)

build-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)

# Every test through CTest, then the same tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: build
	cd build && ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The demo needs only the executable.
demo: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS) --target quorvel-server
	scripts/demo

bench: build
	bench/run

clean:
	rm -rf build build-asan demo
