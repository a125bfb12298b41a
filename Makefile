# Entry points of demosaic-eval. Each target installs what is missing first,
# so `make test` and `make demo` work on a fresh Debian 12 machine.

BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
# The reference corpus for the bit-exact conformance test; the test is
# skipped, with a message, where this folder does not exist.
CONFORMANCE_DIR ?= $(abspath ../shared/conformance)
# Independent figures of the perceptual metrics over that corpus; likewise
# skipped, with a message, where absent.
METRICS_DIR ?= $(abspath ../shared/metrics)
PREFIX ?= /usr/local
# The Python module is built for, and tested with, Debian's interpreter, whose
# packages (numpy, dask, pytest) apt-get installs; another python3 earlier on
# the PATH (pyenv, a virtual environment) lacks them.
PYTHON ?= /usr/bin/python3
# The sanitizer build (clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# with the libFuzzer targets) lives in its own folder.
SANITIZE_BUILD_DIR ?= build-sanitize
# The library and its unit tests cross-built for 64-bit ARM and run under
# qemu-aarch64.
ARM64_BUILD_DIR ?= build-arm64
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test demo bench noise-sweep install clean sanitize-build \
        test-sanitize fuzz arm64-deps test-arm64

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DDEMOSAIC_CONFORMANCE_DIR=$(CONFORMANCE_DIR) -DDEMOSAIC_METRICS_DIR=$(METRICS_DIR) \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DPython3_EXECUTABLE=$(PYTHON)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The camera chart (what a lens could deliver to a Bayer sensor) through
# demosaic-eval, then through demosaic-bench beside the baselines, with the
# HTML report to open in a browser.
DEMO_DIR = $(BUILD_DIR)/demo
demo: build
	@mkdir -p $(DEMO_DIR)
	@$(BUILD_DIR)/make-chart $(DEMO_DIR)/chart.png
	@echo "demosaic-eval on the camera chart ($(DEMO_DIR)/chart.png):"
	@$(BUILD_DIR)/demosaic-eval $(DEMO_DIR)/chart.png $(DEMO_DIR)/chart-reconstructed.png
	@echo "Reconstruction written to $(DEMO_DIR)/chart-reconstructed.png"
	@echo
	@echo "demosaic-bench on the camera chart, beside OpenCV's bilinear and edge-aware conversions:"
	@$(BUILD_DIR)/demosaic-bench --detail --report $(DEMO_DIR)/report $(DEMO_DIR)/chart.png
	@echo
	@echo "Open the report: file://$(abspath $(DEMO_DIR))/report/index.html"
	@echo "The stress chart (detail no lens passes, where every method fails): $(BUILD_DIR)/make-chart --stress FILE"

# Engine speed beside OpenCV's Bayer conversions, the metrics' speed beside
# PSNR, PNG decoding and encoding beside OpenCV's, then a whole demosaic-eval run against the I/O floor, with its peak
# memory; the bench's throughput column and metrics cost against the engine
# (with `vips copy` as a reference point); demosaic-bench on one chart at 8
# and at 16 bits.
bench: build
	@bash scripts/install-packages.sh libvips-tools
	$(BUILD_DIR)/engine-benchmark --benchmark_min_time=0.5
	$(BUILD_DIR)/metrics-benchmark --benchmark_min_time=0.5
	$(BUILD_DIR)/png-benchmark --benchmark_min_time=3
	@bash scripts/measure-run.sh $(BUILD_DIR)
	@bash scripts/measure-bench.sh $(BUILD_DIR)
	@bash scripts/depth-throughput.sh $(BUILD_DIR)
	@bash scripts/noise-sweep.sh $(BUILD_DIR)

# The README's noise sweep over the Kodak set beside the checkout.
noise-sweep: build
	@bash scripts/noise-sweep.sh $(BUILD_DIR)

sanitize-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(SANITIZE_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DDEMOSAIC_FUZZ=ON -DDEMOSAIC_FUZZ_SECONDS=$(FUZZ_SECONDS) \
	  -DDEMOSAIC_CONFORMANCE_DIR=$(CONFORMANCE_DIR) -DDEMOSAIC_METRICS_DIR=$(METRICS_DIR)
	cmake --build $(SANITIZE_BUILD_DIR) -j $(JOBS)

# The whole test suite under the sanitizers, then a short run of each fuzz
# target (FUZZ_SECONDS each).
test-sanitize: sanitize-build
	ctest --test-dir $(SANITIZE_BUILD_DIR) --output-on-failure -j $(JOBS)

# The fuzz targets only, for FUZZ_SECONDS each; the corpus grows in
# $(SANITIZE_BUILD_DIR)/fuzz/corpus and findings land in .../fuzz/artifacts.
fuzz: sanitize-build
	ctest --test-dir $(SANITIZE_BUILD_DIR) --output-on-failure -j $(JOBS) -L fuzz

# The portable build on another processor: the library (baseline code only,
# no x86 variants) and its unit tests, cross-compiled with Debian's
# g++-aarch64-linux-gnu and run through ctest under qemu-aarch64. Its
# packages are installed here only, never by `make deps`.
arm64-deps:
	@bash scripts/install-cross-deps.sh

test-arm64: arm64-deps
	cmake -S . -B $(ARM64_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/aarch64-linux-gnu.cmake) -DDEMOSAIC_BUILD_TOOLS=OFF
	cmake --build $(ARM64_BUILD_DIR) -j $(JOBS)
	ctest --test-dir $(ARM64_BUILD_DIR) --output-on-failure -j $(JOBS)

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_BUILD_DIR) $(ARM64_BUILD_DIR)
