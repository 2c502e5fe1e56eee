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

bench: build
	@for b in $(BUILD)/bench_*; do [ -x "$$b" ] && "$$b"; done; true

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
