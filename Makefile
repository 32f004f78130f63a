# Velkor: `make run` starts the program, `make test` runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps configure build run test sample clean format

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

# Until the windows exist, this splits the sample animation with the
# command-line splitter into a fresh temporary folder and lists the frames.
run: sample
	@scripts/run-sample.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
