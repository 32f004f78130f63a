# Velkor: `make run` starts the program, `make test` runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps configure build run test sample screenshots install package clean format \
	windows windows-test windows-zip

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(if $(wildcard $(BUILD)/CMakeCache.txt),,$(GENERATOR)) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$$(nproc)

sample: build
	@mkdir -p $(BUILD)/sample
	@$(BUILD)/bin/velkor-make-sample $(BUILD)/sample/anim.gif

# Starts Velkor (inside a virtual X server when there is no display).
run: build
	@scripts/run-velkor.sh $(BUILD)

# PREFIX=/usr/local by default; DESTDIR is honoured for staging.
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, build/velkor_VERSION_ARCH.deb.
package: build
	@cd $(BUILD) && cpack

screenshots: build
	@scripts/screenshots.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

# The core and velkor-split.exe for 64-bit Windows, cross-built with MinGW-w64
# (statically linked) into build-windows/; its tests run under Wine.
WINDOWS_BUILD ?= build-windows
windows:
	@scripts/install-deps.sh windows
	@scripts/windows-deps.sh $(WINDOWS_BUILD)/deps
	@cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DVELKOR_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j$$(nproc)

windows-test: windows
	@tests/windows/run-tests.sh $(WINDOWS_BUILD)

# Both Windows programs and a README in velkor-VERSION-windows-x64.zip.
windows-zip: windows
	@scripts/windows-zip.sh $(WINDOWS_BUILD)
