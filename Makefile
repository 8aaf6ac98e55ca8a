# make run   installs what is missing, builds, packs the sample project, shows the archive
# make test  installs, builds Linux, Linux under sanitizers and Windows, runs every test
# make fuzz  builds the libFuzzer targets with clang and runs each FUZZ_SECONDS
JOBS ?= $(shell nproc)
BUILD := build
LINUX := $(BUILD)/linux
ASAN := $(BUILD)/asan
WINDOWS := $(BUILD)/windows
BENCH := $(BUILD)/bench
FUZZ := $(BUILD)/fuzz
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 1
MINGW_DEPS := $(abspath $(BUILD)/mingw-deps)
# Each suite leaves its results in ctest-results.xml for tools/test-summary.py;
# the output sizes keep every end-to-end script's closing counts.
CTEST = ctest --output-on-failure -j$(JOBS) --output-junit $(abspath $(1))/ctest-results.xml \
  --test-output-size-passed 200000 --test-output-size-failed 2000000

.PHONY: all run test deps deps-windows programs linux asan windows test-linux test-asan test-windows \
        test-large test-summary check-format bench fuzz deps-fuzz install clean

all: linux

deps:
	@bash tools/install-deps.sh native

deps-fuzz:
	@bash tools/install-deps.sh fuzz

deps-windows:
	@bash tools/install-deps.sh windows
	@bash tools/build-mingw-deps.sh $(MINGW_DEPS)

linux: deps
	@cmake -S . -B $(LINUX) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(LINUX) -j$(JOBS)

# The two programs alone, in the same build folder: what `make run` needs.
programs: deps
	@cmake -S . -B $(LINUX) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(LINUX) -j$(JOBS) --target pakkaro korbel

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DPAKKARO_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

windows: deps-windows
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPAKKARO_MINGW_DEPS=$(MINGW_DEPS) \
	  -DCMAKE_PREFIX_PATH=$(MINGW_DEPS) >/dev/null
	@cmake --build $(WINDOWS) -j$(JOBS)

# Every C++ file formatted as .clang-format says.
check-format: deps
	@bash tools/check-format.sh

test-linux: linux
	cd $(LINUX) && $(call CTEST,$(LINUX)) -LE large

test-asan: asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(call CTEST,$(ASAN)) -LE 'large|e2e'

# Under Wine each unit test program is one test; its cases report to
# gtest-results/ (a drive path, as the program sees the folder).
# One Wine server for the whole suite, started once the prefix exists:
# programs started side by side in a fresh prefix race to start their own.
WINE_PREFIX := $(abspath $(WINDOWS))/wineprefix
WINESERVER := /usr/lib/wine/wineserver64
test-windows: windows
	rm -rf $(WINDOWS)/gtest-results && mkdir -p $(WINDOWS)/gtest-results
	mkdir -p $(WINE_PREFIX) && WINEPREFIX=$(WINE_PREFIX) $(WINESERVER) -p
	PAKKARO_WINEPREFIX=$(WINE_PREFIX) bash tools/wine-run.sh $(WINDOWS)/tests/support_tests.exe --gtest_list_tests >/dev/null
	@status=0; cd $(WINDOWS) && PAKKARO_WINEPREFIX=$(WINE_PREFIX) \
	  GTEST_OUTPUT='xml:Z:$(subst /,\,$(abspath $(WINDOWS))/gtest-results/)' $(call CTEST,$(WINDOWS)) -LE large \
	  || status=$$?; WINEPREFIX=$(WINE_PREFIX) $(WINESERVER) -k; exit $$status

# -k: every suite runs even when an earlier one fails; the counts of each
# follow, and the status is that of the suites.
test:
	@status=0; $(MAKE) -k check-format test-linux test-asan test-windows || status=$$?; \
	  $(MAKE) --no-print-directory test-summary; \
	  if [ $$status = 0 ]; then echo "all test suites passed"; else echo "a test suite failed"; fi; \
	  exit $$status

test-summary:
	@python3 tools/test-summary.py linux:$(LINUX) asan:$(ASAN) windows:$(WINDOWS)

# The long tests: archives over 4 GiB and trees of 70 000 files.
test-large: linux
	cd $(LINUX) && $(call CTEST,$(LINUX)) -L large

# Benchmarks: a Release build with the bench programs, then every benchmark and
# the packing comparison on the corpus (built on first use; needs the network).
bench: deps
	@cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DPAKKARO_BENCH=ON -DPAKKARO_TESTS=OFF >/dev/null
	@cmake --build $(BENCH) -j$(JOBS)
	bash bench/run.sh $(BENCH)

# Fuzzing: every target of fuzz/ for FUZZ_SECONDS on a working copy of its
# seeds (build/fuzz/corpus-work), FUZZ_JOBS side by side; findings land in
# build/fuzz/corpus-work/findings. The seeds themselves run in `make test`.
fuzz: deps deps-fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAKKARO_FUZZ=ON \
	  -DPAKKARO_TESTS=OFF -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS)
	FUZZ_JOBS=$(FUZZ_JOBS) bash tools/run-fuzz.sh $(FUZZ) $(FUZZ_SECONDS)

run: programs
	@bash tools/run-sample.sh $(LINUX)/pakkaro

PREFIX ?= /usr/local
install: linux
	cmake --install $(LINUX) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
