# Every target first installs what it needs (scripts/bootstrap.sh), then wraps CMake.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

CONFIGURE = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

.PHONY: build test bench bench-accuracy bench-alignment bench-matching bench-threads fuzz fuzz-build demo format clean

build:
	scripts/bootstrap.sh
	$(CONFIGURE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

bench:
	scripts/bootstrap.sh bench
	$(CONFIGURE) -DTRELIS_BUILD_BENCH=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	scripts/run-benchmarks.sh $(BUILD_DIR)

# Accuracy and speed on simulated multi-device corpora (slow the first time: it builds them).
bench-accuracy: build
	scripts/bootstrap.sh accuracy
	scripts/bench-accuracy.sh $(BUILD_DIR)

# Sample-accurate alignment on the field, day, drift, noisy and reverb-codec corpora, on the
# tuning set (seed 1) and the held-out set (seed 2).
bench-alignment: build
	scripts/bootstrap.sh accuracy
	scripts/bench-alignment.sh $(BUILD_DIR)

# Which recordings are matched, in the default and the verified matching mode, on the field,
# field-alt, hard, clip10, drift, noisy and reverb-codec corpora, tuning and held-out sets.
bench-matching: build
	scripts/bootstrap.sh accuracy
	scripts/bench-matching.sh $(BUILD_DIR)

# Threads and crowds: -j 2 against -j 1, 50 to 400 files, a crowd of 150 phones (slow the first
# time: it builds the scale and crowd corpora).
bench-threads: build
	scripts/bootstrap.sh accuracy
	scripts/bench-threads.sh $(BUILD_DIR)

# Builds the fuzz targets (the WAVE reader and the media decoder) with clang, libFuzzer,
# AddressSanitizer and UBSan.
fuzz-build:
	scripts/bootstrap.sh fuzz
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DTRELIS_BUILD_FUZZERS=ON -DTRELIS_BUILD_TESTS=OFF \
	    -DTRELIS_BUILD_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)

# Fuzzes each target for FUZZ_SECONDS.
fuzz: fuzz-build
	scripts/run-fuzzer.sh build-fuzz $(FUZZ_SECONDS)

# A synthetic event (four cameras and one unrelated recording), clustered, refined, scored
# against its truth, written out synchronized, as JSON, as an editor's timeline and as the report
# page, all under $(BUILD_DIR)/demo.
demo: build
	rm -rf $(BUILD_DIR)/demo
	$(BUILD_DIR)/bin/make_demo $(BUILD_DIR)/demo/event
	$(BUILD_DIR)/bin/Trelis -f $(BUILD_DIR)/demo/event -match verified -t $(BUILD_DIR)/demo/truth.xml \
	    -o $(BUILD_DIR)/demo/out -json $(BUILD_DIR)/demo/result.json \
	    -timeline $(BUILD_DIR)/demo/timeline.otio -html $(BUILD_DIR)/demo/report.html

format:
	scripts/bootstrap.sh
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
