# All set-up on a fresh Debian 12 machine: `make run`, `make test`, `make demo`.
# `make check` is the quick loop: the Release build and its tests only.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan
FUZZ_BUILD := build-fuzz
XVFB := xvfb-run -a -s "-screen 0 1280x800x24"

# Debian packages that building, running, testing, fuzzing, packaging and benchmarking need, and
# mmdebstrap for the other releases' roots. Names that every release from Debian 12 on knows:
# libclang-rt-dev is the default clang's runtime, whatever its version.
PACKAGES := g++ make cmake qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev \
            clang clang-format libclang-rt-dev dpkg-dev xvfb xauth x11-utils imagemagick fonts-dejavu-core \
            fonts-freefont-ttf build-essential debhelper lintian appstream desktop-file-utils mmdebstrap

SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

FUZZ_TARGETS := settings conversions receive
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 600
BENCH_SECONDS ?= 10
BENCH_ROUNDS ?= 3

.PHONY: deps build asan fuzz-build run demo check test test-releases format-check fuzz fuzz-short soak-short bench install package package-check clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" != 0 ]; then \
	    echo "Missing packages:" $$missing; \
	    echo "Run: sudo apt-get update && sudo apt-get install -y" $$missing; \
	    exit 1; \
	  fi; \
	  apt-get update -q; \
	  known=; for p in $$missing; do \
	    if apt-cache show --no-all-versions $$p >/dev/null 2>&1; then known="$$known $$p"; \
	    else echo "deps: this release has no package $$p; left out, and what needs it will fail"; fi; \
	  done; \
	  echo "Installing:" $$known; \
	  [ -z "$$known" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$known; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Optimised, so that the soak runs at full rate, with the sanitizers checking every access.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEXLINE_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DHEXLINE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

run: build
	./$(BUILD)/hexline

demo: build
	tools/demo.sh $(BUILD)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Everything CI runs.
test: format-check check asan
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory fuzz-short soak-short package-check

# The Release build and every test on Debian 13 and unstable, each in a root of its own made
# with mmdebstrap and kept outside the checkout, plus the package check on Debian 13. Needs root.
test-releases: deps
	tools/test-releases.sh

# Every C++ file follows .clang-format.
format-check: deps
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

# Each fuzz target over a copy of its committed seeds, so the tree stays clean.
define run-fuzz
	@set -e; for t in $(FUZZ_TARGETS); do \
	  work=$$(mktemp -d); mkdir $$work/corpus; status=0; \
	  echo "== fuzz_$$t for $(1) s"; \
	  ./$(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(1) -timeout=10 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/ \
	    $$work/corpus tests/fuzz/corpus/$$t >$$work/log 2>&1 || status=$$?; \
	  grep -E '^(Done|stat::number_of_executed_units)' $$work/log || true; \
	  [ $$status = 0 ] || { tail -n 60 $$work/log; rm -rf $$work; exit $$status; }; \
	  rm -rf $$work; \
	done
endef

fuzz: fuzz-build
	$(call run-fuzz,$(FUZZ_SECONDS))

fuzz-short: fuzz-build
	$(call run-fuzz,10)

soak-short: asan
	@echo "== soak for 30 s under AddressSanitizer and LeakSanitizer"
	$(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen ./$(ASAN_BUILD)/bench/soak 30

soak: asan
	$(SANITIZER_ENV) $(XVFB) ./$(ASAN_BUILD)/bench/soak $(SOAK_SECONDS)

bench: build
	@echo "== cpu_cost, Xvfb"
	$(XVFB) ./$(BUILD)/bench/cpu_cost --rounds=$(BENCH_ROUNDS) $(BENCH_SECONDS)
	@echo "== receive_throughput, offscreen"
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/bench/receive_throughput $(BENCH_SECONDS)
	@echo "== receive_throughput, Xvfb"
	$(XVFB) ./$(BUILD)/bench/receive_throughput $(BENCH_SECONDS)
	@echo "== loss, Xvfb"
	$(XVFB) ./$(BUILD)/bench/loss
	@echo "== startup, Xvfb"
	$(XVFB) ./$(BUILD)/bench/startup 10

install: build
	cmake --install $(BUILD)

# The tests are not built into the package: `make test` runs them on the tree itself.
package: deps
	DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS)" tools/package.sh $(BUILD)

# lintian, appstreamcli and desktop-file-validate find nothing, the package unpacks, apt can satisfy
# its dependencies and its program starts; nothing is installed.
package-check: package
	tools/check-package.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
