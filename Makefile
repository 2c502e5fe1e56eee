# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
DEBIAN_PACKAGES := cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev libreadline-dev pkg-config tshark \
	libcpp-httplib-dev nlohmann-json3-dev

.PHONY: all deps browser-deps configure build test test-browser demo bench clean install test-asan test-tsan soak \
	fuzz-deps fuzz-build fuzz-smoke fuzz win32-deps test-win32 mutation test-ratio

all: build

# Installs the Debian packages of a list ($(1)), when one is missing, with
# extra apt-get options ($(2)).
define install_packages
	@missing=""; for p in $(1); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -q && $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $(2) $$missing; fi
endef

# The packages the build needs.
deps:
	$(call install_packages,$(DEBIAN_PACKAGES))

# The browser test of `kztarn serve` (part of `make test`): Chromium driven
# by Node through the DevTools protocol.
BROWSER_PACKAGES := chromium nodejs
browser-deps:
	$(call install_packages,$(BROWSER_PACKAGES))

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: browser-deps build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 300

# Only the program the tour runs, not the tests and benchmarks.
demo: configure
	cmake --build $(BUILD) -j$(JOBS) --target kztarn
	$(BUILD)/kztarn demo

# The page of `kztarn serve` in headless Chromium; screenshots and the
# ring-to-screen latency go to $(BUILD)/browser-test.
test-browser: browser-deps configure
	cmake --build $(BUILD) -j$(JOBS) --target kztarn
	node tests/browser/serve_browser.mjs $(BUILD)/kztarn $(BUILD)/browser-test

# Builds the benchmarks (whatever the cache said about them) and runs each;
# results go to $(BENCH_OUT) as JSON, and the download plot is drawn from them.
BENCH_OUT ?= $(BUILD)/bench-results
bench: configure
	cmake -S . -B $(BUILD) -DKZ_BUILD_BENCH=ON >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	@mkdir -p $(BENCH_OUT)
	@set -e; for b in $(BUILD)/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  name=$$(basename "$$b"); echo "== $$name"; \
	  BENCHMARK_OUT=$(BENCH_OUT)/$$name.json BENCHMARK_OUT_FORMAT=json "$$b"; done
	@if [ -f $(BENCH_OUT)/bench_e2e.json ] && [ -f bench/plot_download.py ]; then \
	  python3 bench/plot_download.py $(BENCH_OUT)/bench_e2e.json $(BENCH_OUT)/download_time.svg; fi

install: build
	cmake --install $(BUILD)

# Sanitizer builds: the whole suite under AddressSanitizer + UndefinedBehavior-
# Sanitizer, and under ThreadSanitizer, each in its own build folder.
SAN_CMAKE := $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_BUILD_BENCH=OFF
SAN_CTEST := --output-on-failure -j$(JOBS) --timeout 600
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

build-asan/CMakeCache.txt: | deps
	cmake -S . -B build-asan $(SAN_CMAKE) -DKZ_SANITIZE=address

build-tsan/CMakeCache.txt: | deps
	cmake -S . -B build-tsan $(SAN_CMAKE) -DKZ_SANITIZE=thread

test-asan: build-asan/CMakeCache.txt
	$(ASAN_ENV) cmake --build build-asan -j$(JOBS)
	$(ASAN_ENV) ctest --test-dir build-asan $(SAN_CTEST)

test-tsan: build-tsan/CMakeCache.txt
	$(TSAN_ENV) cmake --build build-tsan -j$(JOBS)
	$(TSAN_ENV) ctest --test-dir build-tsan $(SAN_CTEST)

# The long noisy-line sessions (disabled in the ordinary suite for their
# length): 2000 requests, 1000 indications, a 300-contact phonebook and five
# calls at 1% and 3% of the line's bytes damaged, each against a clean run.
soak: build
	$(BUILD)/test_reliability --gtest_also_run_disabled_tests --gtest_filter='*NoisyLineSoak*'

# libFuzzer harnesses (fuzz/), built with clang in their own folder. Each
# harness runs FUZZ_SECONDS on its seed corpus (fuzz/corpus/<name>); new
# inputs go to build-fuzz/corpus/<name>, the seeds stay as they are.
FUZZ_SECONDS ?= 20
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_FLAGS := -timeout=10 -rss_limit_mb=2048 -print_final_stats=1

fuzz-deps:
	$(call install_packages,$(FUZZ_PACKAGES))

build-fuzz/CMakeCache.txt: | fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKZ_BUILD_TESTS=OFF -DKZ_BUILD_BENCH=OFF -DKZ_SANITIZE=fuzzer

fuzz-build: build-fuzz/CMakeCache.txt
	cmake --build build-fuzz -j$(JOBS) --target fuzzers

fuzz-smoke: fuzz-build
	@set -e; for h in build-fuzz/fuzz/*_fuzz; do \
	  name=$$(basename $$h _fuzz); mkdir -p build-fuzz/corpus/$$name; \
	  echo "== $$name ($(FUZZ_SECONDS) s)"; \
	  $$h $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SECONDS) build-fuzz/corpus/$$name fuzz/corpus/$$name \
	    > build-fuzz/$$name.log 2>&1 || { tail -60 build-fuzz/$$name.log; exit 1; }; \
	  grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb)" build-fuzz/$$name.log || true; \
	done

# One harness for a long run: make fuzz FUZZER=vcard FUZZ_SECONDS=600
fuzz: fuzz-build
	mkdir -p build-fuzz/corpus/$(FUZZER)
	build-fuzz/fuzz/$(FUZZER)_fuzz $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SECONDS) \
	  build-fuzz/corpus/$(FUZZER) fuzz/corpus/$(FUZZER)

# KZ_Tarn.dll, cross-built with mingw-w64 in build-win32, its export table
# checked, and the system scenarios run by a Win32 host under Wine against
# the module simulator of the Linux build ($(BUILD)/kztarn). See docs/win32.md.
WIN32_PACKAGES := wine wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64

win32-deps:
	$(call install_packages,$(WIN32_PACKAGES),--no-install-recommends)

build-win32/CMakeCache.txt: | win32-deps
	cmake -S . -B build-win32 $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKZ_LINUX_KZTARN=$(abspath $(BUILD))/kztarn

test-win32: configure build-win32/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target kztarn
	cmake --build build-win32 -j$(JOBS)
	ctest --test-dir build-win32 --output-on-failure

# Mutation testing of src/ (not part of CI; see docs/testing.md): MUTANTS
# faults sampled with SEED, each built in a scratch copy of the tree under
# build-mutation/ against its folder's suite, then ALSO on its survivors.
MUTANTS ?= 200
SEED ?= 17
ALSO ?= test_system
mutation: | deps
	nice -n 19 python3 tools/mutation/mutate.py --mutants $(MUTANTS) --seed $(SEED) \
	  --also "$(ALSO)" --jobs $(JOBS) --workdir build-mutation

# Non-blank lines of tests/ against src/, sim/, tools/ and include/.
test-ratio:
	@tools/mutation/test_ratio.sh

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-win32 build-mutation
