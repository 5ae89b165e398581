# Quorbel: `make run` builds and starts the program (under Wine here),
# `make test` builds and runs every test. Both install what is missing first.
BUILD ?= build
JOBS  ?= $(shell nproc)
FUZZ_SECONDS ?= 20

NATIVE := $(BUILD)/native
WIN32  := $(BUILD)/win32
WIN64  := $(BUILD)/win64
FUZZ   := $(BUILD)/fuzz

.PHONY: all setup native win32 win64 fuzz-build build test test-native test-win fuzz-smoke fuzz run screenshots bench clean

all: build

setup:
	@scripts/setup.sh

$(NATIVE)/build.ninja:
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
$(WIN32)/build.ninja:
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQUORBEL_TESTS=OFF >/dev/null
$(WIN64)/build.ninja:
	cmake -S . -B $(WIN64) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
$(FUZZ)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORBEL_TESTS=OFF -DQUORBEL_FUZZ=ON >/dev/null

native: setup $(NATIVE)/build.ninja
	cmake --build $(NATIVE) -j $(JOBS)
win32: setup $(WIN32)/build.ninja
	cmake --build $(WIN32) -j $(JOBS)
win64: setup $(WIN64)/build.ninja
	cmake --build $(WIN64) -j $(JOBS)
fuzz-build: setup $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS)

build: native win32 win64

test-native: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test-win: win64
	scripts/wine-prefix.sh $(WIN64)
	scripts/with-display.sh scripts/wine-session.sh $(WIN64) sh -c 'cd $(WIN64) && ctest --output-on-failure -j $(JOBS)'

fuzz-smoke: fuzz-build
	scripts/run-fuzz.sh $(FUZZ) $(FUZZ_SECONDS)

test: build fuzz-build
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory fuzz-smoke
	$(MAKE) --no-print-directory test-win
	$(MAKE) --no-print-directory test-dist

fuzz: fuzz-build
	scripts/run-fuzz.sh $(FUZZ) 600

run: win32 win64
	scripts/wine-prefix.sh $(WIN64)
	scripts/run.sh $(WIN64)

screenshots: win64
	scripts/wine-prefix.sh $(WIN64)
	scripts/with-display.sh scripts/screenshots.sh $(WIN64) $(BUILD)/screenshots

bench: native win64
	scripts/wine-prefix.sh $(WIN64)
	scripts/with-display.sh scripts/bench.sh $(BUILD)

# The user manual (PDF, with the screenshots) and the release packages.
.PHONY: manual dist test-dist
manual: screenshots
	scripts/manual.sh $(BUILD)

dist: win32 native manual
	scripts/dist.sh $(BUILD)

test-dist: dist
	tests/dist/check_dist.py $(BUILD)

clean:
	rm -rf $(BUILD)
