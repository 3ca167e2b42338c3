# The two commands of the README: `make run` and `make test`. Each installs what is missing first.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
FUZZ_SECONDS ?= 30
# `make package` builds an optimised package; CI packages its dev build instead to save a build.
PACKAGE_PRESET ?= release

.PHONY: all deps configure build run test test-asan test-tsan test-clang fuzz screenshots format check-format \
	check-includes tidy package check-package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		$(BUILD_DIR)/marrowick; \
	else \
		echo "No display to open the window on; here is the backup list from marrowick-cli instead:"; \
		$(BUILD_DIR)/marrowick-cli list; \
	fi

test: build
	@ctest --preset $(PRESET)

test-asan:
	@$(MAKE) --no-print-directory test PRESET=asan

test-tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

# The core, the command-line tool and their tests built with clang, with Qt out of reach of the configure.
test-clang:
	@$(MAKE) --no-print-directory test PRESET=clang

screenshots: build
	@$(BUILD_DIR)/tests/marrowick_screenshots docs/screenshots

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

check-format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	@echo "check-format: every C++ file is formatted"

check-includes:
	@bash scripts/check-core-includes.sh src/core

# clang-tidy over the core, with the compile commands of the clang configure (nothing needs building first).
tidy: deps
	@cmake --preset clang >/dev/null
	@run-clang-tidy -quiet -j $$(nproc) -p build/clang '$(CURDIR)/src/core/' >build/clang/tidy.log 2>&1 \
		|| { sed 's/\x1b\[[0-9;]*m//g' build/clang/tidy.log | grep -Ev '^(clang-tidy-?[0-9]* |[0-9]+ warnings)'; exit 1; }
	@echo "tidy: clang-tidy finds nothing in src/core"

package: deps
	@cmake --preset $(PACKAGE_PRESET) >/dev/null
	@cmake --build --preset $(PACKAGE_PRESET) --target package

check-package: package
	@bash scripts/check-package.sh build/$(PACKAGE_PRESET)

clean:
	@rm -rf build

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@bash tests/fuzz/run-fuzzers.sh $(CURDIR)/build/fuzz $(FUZZ_SECONDS)
