# Entry points of demosaic-eval. Each target installs what is missing first,
# so `make test` and `make demo` work on a fresh Debian 12 machine.

BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
# The reference corpus for the bit-exact conformance test; the test is
# skipped, with a message, where this folder does not exist.
CONFORMANCE_DIR ?= $(abspath ../shared/conformance)
PREFIX ?= /usr/local
# The Python module is built for, and tested with, Debian's interpreter, whose
# packages (numpy, dask, pytest) apt-get installs; another python3 earlier on
# the PATH (pyenv, a virtual environment) lacks them.
PYTHON ?= /usr/bin/python3
# The sanitizer build (clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# with the libFuzzer targets) lives in its own folder.
SANITIZE_BUILD_DIR ?= build-sanitize
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test demo bench install clean sanitize-build test-sanitize fuzz

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DDEMOSAIC_CONFORMANCE_DIR=$(CONFORMANCE_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	  -DPython3_EXECUTABLE=$(PYTHON)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

demo: build
	@mkdir -p $(BUILD_DIR)/demo
	@$(BUILD_DIR)/make-chart $(BUILD_DIR)/demo/chart.png
	@$(BUILD_DIR)/demosaic-eval $(BUILD_DIR)/demo/chart.png $(BUILD_DIR)/demo/chart-reconstructed.png
	@echo "Reference: $(BUILD_DIR)/demo/chart.png"
	@echo "Reconstruction written to $(BUILD_DIR)/demo/chart-reconstructed.png"

# Engine speed beside OpenCV's Bayer conversions, then peak memory of one run.
bench: build
	$(BUILD_DIR)/engine-benchmark --benchmark_min_time=0.5
	@bash scripts/measure-memory.sh $(BUILD_DIR)

sanitize-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(SANITIZE_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DDEMOSAIC_FUZZ=ON -DDEMOSAIC_FUZZ_SECONDS=$(FUZZ_SECONDS) \
	  -DDEMOSAIC_CONFORMANCE_DIR=$(CONFORMANCE_DIR)
	cmake --build $(SANITIZE_BUILD_DIR) -j $(JOBS)

# The whole test suite under the sanitizers, then a short run of each fuzz
# target (FUZZ_SECONDS each).
test-sanitize: sanitize-build
	ctest --test-dir $(SANITIZE_BUILD_DIR) --output-on-failure -j $(JOBS)

# The fuzz targets only, for FUZZ_SECONDS each; the corpus grows in
# $(SANITIZE_BUILD_DIR)/fuzz/corpus and findings land in .../fuzz/artifacts.
fuzz: sanitize-build
	ctest --test-dir $(SANITIZE_BUILD_DIR) --output-on-failure -j $(JOBS) -L fuzz

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_BUILD_DIR)
