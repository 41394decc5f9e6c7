# The front door: `make demo` runs the assistant against the bundled demo service, `make test`
# runs every test. Both install what they need on a fresh Debian machine.

BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_TSAN ?= build-tsan
JOBS       ?= $(shell nproc)
# Tests and the demo talk to a service on loopback; a vendor builds with its own origin.
SERVICE_PORT ?= 47810
CMAKE_ARGS ?= -DTARVIK_SERVICE_ORIGIN=http://127.0.0.1:$(SERVICE_PORT)

.PHONY: all deps page-deps build test test-asan test-tsan demo bench format format-check clean

all: build

deps:
	tools/install-deps.sh

page-deps: deps
	if [ -f tests/page/package-lock.json ]; then cd tests/page && npm ci --no-audit --no-fund; fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: page-deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Unit and integration tests (no windows) under AddressSanitizer and UBSan.
test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DTARVIK_SANITIZE=ON -DTARVIK_GUI=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) -LE gui

# The host and transfer worker tests, the ones with threads, under ThreadSanitizer. (A label
# list given to gtest_discover_tests would be split into bogus properties, so the areas' single
# labels are matched instead.)
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DTARVIK_TSAN=ON -DTARVIK_GUI=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	cd $(BUILD_TSAN) && ctest --output-on-failure -j $(JOBS) -L 'host|download'

# DEMO_ARGS go to the demo service, e.g. make demo DEMO_ARGS="--drop-after 4M".
demo: deps
	tools/run-demo.sh -- $(DEMO_ARGS)

bench: build
	bench/run-all.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN)
