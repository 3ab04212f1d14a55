# Thin wrapper around CMake: `make run` and `make test` work on a fresh Debian machine, installing
# whatever build or test dependency is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# CI builds treat warnings as errors; a local build may opt out with WERROR=OFF.
WERROR ?= ON

.PHONY: all deps test-deps configure build run test test-sanitize fuzz format format-check install package \
	windows-check windows-release windows-e2e artwork clean

all: build

deps:
	@./scripts/install-deps.sh

test-deps:
	@./scripts/install-deps.sh --test

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCORVAN_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "Corvan HTML Starter is a desktop tool and needs a graphical session (no DISPLAY or WAYLAND_DISPLAY is set)."; \
	    echo "To try it without a desktop:  xvfb-run -a $(BUILD_DIR)/bin/corvan-html-starter"; \
	    exit 1; \
	fi
	@$(BUILD_DIR)/bin/corvan-html-starter

test: test-deps build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UBSan, in a build folder of its own.
test-sanitize:
	@$(MAKE) --no-print-directory test BUILD_DIR=build-asan CMAKE_FLAGS="$(CMAKE_FLAGS) -DCORVAN_SANITIZE=ON"

# The server's libFuzzer targets (clang, ASan, UBSan) in a build folder of their own, each run for
# FUZZ_SECONDS; a finding fails the run and leaves its input in $(FUZZ_BUILD_DIR)/findings.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
# clang warns where gcc does not; the gcc build already holds the code to -Werror, so a clang-only
# warning must not stop a fuzz run.
FUZZ_WERROR ?= OFF
FUZZ_TARGETS = $(notdir $(wildcard tests/fuzz/corpus/*))

fuzz:
	@./scripts/install-deps.sh --fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -DCORVAN_FUZZ=ON -DCORVAN_WITH_QT=OFF \
	    -DCORVAN_WITH_SERVER=ON -DCORVAN_BUILD_TESTS=OFF -DCORVAN_WERROR=$(FUZZ_WERROR) >/dev/null
	@cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)
	@./scripts/run-fuzz.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

format:
	@clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "clang-format: clean"

PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# Redraws the images, the Windows icon file and the desktop icons from tools/; commit what changes.
artwork: deps
	@cmake -S tools -B $(BUILD_DIR)/artwork -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD_DIR)/artwork -j $(JOBS)
	@$(BUILD_DIR)/artwork/corvan-artwork $(CURDIR)

# Cross-builds the Qt-free layers for Windows and runs their tests under wine.
windows-check:
	@./scripts/windows-check.sh

# The Windows x64 release: dist/CorvanHTMLStarter-<version>-win64.zip and -setup.exe. The first run
# builds Qt for Windows (about half an hour on two cores) into a cache outside the work tree.
windows-release:
	@JOBS=$(JOBS) ./scripts/windows-release.sh

# The release, run under wine on a private X display with a real drag, a real browser and the
# installer round trip.
windows-e2e:
	@JOBS=$(JOBS) BUILD_DIR=$(BUILD_DIR) ./scripts/windows-e2e.sh

clean:
	@rm -rf $(BUILD_DIR)
