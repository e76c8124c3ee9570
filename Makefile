# Tonemirror developer entry points. See README.md.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
GENERATOR := -G Ninja

ASAN_DIR := $(BUILD)/asan
RELEASE_DIR := $(BUILD)/release
FUZZ_DIR := $(BUILD)/fuzz
TSAN_DIR := $(BUILD)/tsan

.PHONY: all bootstrap test demo bench eval fuzz tsan format clean run screenshots package check-package mutants

all: test

bootstrap:
	@scripts/bootstrap

# AddressSanitizer + UBSan build, every test.
test: bootstrap
	cmake -S . -B $(ASAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
	    -DTM_SANITIZE=address,undefined -DTM_BUILD_TESTS=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTM_BUILD_TESTS=OFF -DTM_BUILD_BENCH=ON

release: bootstrap $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# Release .deb in $(RELEASE_DIR)/package; only what it installs is built (no benchmarks).
package: bootstrap $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target installable
	cpack --config $(RELEASE_DIR)/CPackConfig.cmake -B $(RELEASE_DIR)/package

# Builds the package, unpacks it into a temporary root and runs the installed CLI from there.
check-package:
	scripts/check-package --build-dir $(RELEASE_DIR)

demo: release
	scripts/demo $(RELEASE_DIR)/bin $(BUILD)/demo

# The desktop program, from the build folder.
run: release
	$(RELEASE_DIR)/bin/tonemirror

# Renders the windows offscreen to docs/screenshots/*.png.
screenshots: release
	QT_QPA_PLATFORM=offscreen $(RELEASE_DIR)/bin/tonemirror-screenshots docs/screenshots

bench: release
	scripts/bench $(RELEASE_DIR)/bin

# Labelled corpus of real recorded music (Debian game-music packages in many variants) under
# $(BUILD)/eval, scanned with every method; prints precision and recall. Slow, not part of `make test`.
eval: release
	scripts/make-eval-corpus $(BUILD)/eval
	scripts/eval $(RELEASE_DIR)/bin $(BUILD)/eval

# libFuzzer targets (clang), each run for FUZZ_SECONDS.
fuzz: bootstrap
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTM_SANITIZE=address,undefined -DTM_BUILD_FUZZ=ON -DTM_BUILD_TESTS=OFF -DTM_BUILD_APP=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/fuzz $(FUZZ_DIR)/bin $(FUZZ_SECONDS)

# Plants each fault of tests/mutants/ in turn in a scratch copy under $(BUILD)/mutants, builds its
# release tree with tests and reports the test that caught it. Slow; not part of `make test` nor CI.
mutants: bootstrap
	scripts/mutants --work $(BUILD)/mutants --jobs $(JOBS) $(MUTANTS_FLAGS)

# ThreadSanitizer build of the engine tests.
tsan: bootstrap
	cmake -S . -B $(TSAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
	    -DTM_SANITIZE=thread -DTM_BUILD_TESTS=ON -DTM_BUILD_APP=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target tests_engine
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN_DIR) --output-on-failure -L engine -j $(JOBS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
