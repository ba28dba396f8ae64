# All set-up on a fresh Debian 12 machine: `make run` or `make test`.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan

# Debian packages that building, running, testing and benchmarking need.
PACKAGES := g++ make cmake qt6-base-dev qt6-serialport-dev libgl-dev \
            xvfb xauth x11-utils imagemagick fonts-dejavu-core

.PHONY: deps build asan run test bench clean

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
	  echo "Installing:" $$missing; \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DHEXLINE_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	./$(BUILD)/hexline

test: build asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

BENCH_SECONDS ?= 10
bench: build
	@echo "== receive_throughput, offscreen"
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/bench/receive_throughput $(BENCH_SECONDS)
	@echo "== receive_throughput, Xvfb"
	xvfb-run -a -s "-screen 0 1280x800x24" ./$(BUILD)/bench/receive_throughput $(BENCH_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
