# make run   installs what is missing, builds, packs the sample project, shows the archive
# make test  installs, builds Linux, Linux under sanitizers and Windows, runs every test
JOBS ?= $(shell nproc)
BUILD := build
LINUX := $(BUILD)/linux
ASAN := $(BUILD)/asan
WINDOWS := $(BUILD)/windows
BENCH := $(BUILD)/bench
MINGW_DEPS := $(abspath $(BUILD)/mingw-deps)
CTEST := ctest --output-on-failure -j$(JOBS)

.PHONY: all run test deps deps-windows linux asan windows test-linux test-asan test-windows \
        test-large bench install clean

all: linux

deps:
	@bash tools/install-deps.sh native

deps-windows:
	@bash tools/install-deps.sh windows
	@bash tools/build-mingw-deps.sh $(MINGW_DEPS)

linux: deps
	@cmake -S . -B $(LINUX) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(LINUX) -j$(JOBS)

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DPAKKARO_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

windows: deps-windows
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPAKKARO_MINGW_DEPS=$(MINGW_DEPS) \
	  -DCMAKE_PREFIX_PATH=$(MINGW_DEPS) >/dev/null
	@cmake --build $(WINDOWS) -j$(JOBS)

test-linux: linux
	cd $(LINUX) && $(CTEST) -LE large

test-asan: asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST) -LE 'large|e2e'

test-windows: windows
	cd $(WINDOWS) && PAKKARO_WINEPREFIX=$(abspath $(WINDOWS))/wineprefix $(CTEST) -LE large

test: test-linux test-asan test-windows
	@echo "all test suites passed"

# The long tests: archives over 4 GiB and trees of 70 000 files.
test-large: linux
	cd $(LINUX) && $(CTEST) -L large

# Benchmarks: a Release build with the bench programs, then every benchmark and
# the packing comparison on the corpus (built on first use; needs the network).
bench: deps
	@cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DPAKKARO_BENCH=ON -DPAKKARO_TESTS=OFF >/dev/null
	@cmake --build $(BENCH) -j$(JOBS)
	bash bench/run.sh $(BENCH)

run: linux
	@bash tools/run-sample.sh $(LINUX)/pakkaro

PREFIX ?= /usr/local
install: linux
	cmake --install $(LINUX) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
