# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
DEBIAN_PACKAGES := cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev libreadline-dev pkg-config

.PHONY: all deps configure build test demo bench clean install

all: build

# Installs the Debian packages the build needs, when one is missing.
deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -q && $$SUDO apt-get install -y -q $$missing; fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 300

demo: build
	$(BUILD)/kztarn demo

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

clean:
	rm -rf $(BUILD)
