# The front door: `make demo` runs the assistant against the bundled demo service, `make test`
# runs every test. Both install what they need on a fresh Debian machine. `make build` makes the
# program a vendor ships, for the service at ORIGIN (make build ORIGIN=https://downloads.example.com),
# with the vendor's minisign public key when INSTALLER_KEY is given (INSTALLER_KEY=RW...).

BUILD      ?= build
BUILD_TEST ?= build-test
BUILD_ASAN ?= build-asan
BUILD_TSAN ?= build-tsan
BUILD_FUZZ ?= build-fuzz
JOBS       ?= $(shell nproc)
# Tests and the demo talk to a service on loopback, and build in their own folder for it; a
# vendor's program is built in $(BUILD) for ORIGIN, or for CMake's default (which never resolves)
# when ORIGIN is not given, so that no loopback program is ever taken for a shippable one.
SERVICE_PORT ?= 47810
ORIGIN ?=
# CI turns compiler warnings into errors; a user's build with another compiler only warns.
WERROR ?= OFF
# ccache, when installed, makes rebuilds of the build folders cheap (they share most objects).
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Further options for every configure step, e.g. CMAKE_ARGS=-DCMAKE_BUILD_TYPE=Release.
CMAKE_ARGS ?=
TEST_CMAKE_ARGS := -DTARVIK_SERVICE_ORIGIN=http://127.0.0.1:$(SERVICE_PORT) \
                   -DTARVIK_WERROR=$(WERROR) $(LAUNCHER) $(CMAKE_ARGS)
# Without ORIGIN the cached origin is dropped, so the default applies again.
ORIGIN_ARG := $(if $(ORIGIN),-DTARVIK_SERVICE_ORIGIN=$(ORIGIN),-UTARVIK_SERVICE_ORIGIN)
# The installer key is set every time, so a build without INSTALLER_KEY carries none, whatever an
# earlier configure of the folder had.
INSTALLER_KEY ?=
KEY_ARG := -DTARVIK_INSTALLER_KEY=$(INSTALLER_KEY)
# How long each fuzz entry point runs in `make fuzz-smoke`, in seconds.
FUZZ_SECONDS ?= 20

.PHONY: all deps build-deps test-deps demo-deps page-deps build build-test test test-asan test-tsan demo \
        page-dev bench lint fuzz-smoke format format-check clean

all: build

# Everything any target below may need.
deps:
	tools/install-deps.sh
build-deps:
	tools/install-deps.sh --build
test-deps:
	tools/install-deps.sh --build --test
demo-deps:
	tools/install-deps.sh --build --demo

page-deps: test-deps
	if [ -f tests/page/package-lock.json ]; then cd tests/page && npm ci --no-audit --no-fund; fi

# Configured every time, so that a changed ORIGIN, SERVICE_PORT or WERROR reaches an existing
# folder. Only the program: the tests build in $(BUILD_TEST).
build: build-deps
	cmake -S . -B $(BUILD) -G Ninja $(ORIGIN_ARG) $(KEY_ARG) -DTARVIK_WERROR=$(WERROR) $(LAUNCHER) \
	  $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target tarvik
	@echo "$(BUILD)/tarvik: $$($(BUILD)/tarvik --version | tr '\n' ' ')"

# Everything, for the service on loopback that the tests and the demo start.
build-test: build-deps
	cmake -S . -B $(BUILD_TEST) -G Ninja $(TEST_CMAKE_ARGS)
	cmake --build $(BUILD_TEST) -j $(JOBS)

test: page-deps build-test
	cd $(BUILD_TEST) && ctest --output-on-failure -j $(JOBS)

# Unit and integration tests (no windows) under AddressSanitizer and UBSan.
test-asan: build-deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DTARVIK_SANITIZE=ON -DTARVIK_GUI=OFF $(TEST_CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) -LE gui

# The tests with threads under ThreadSanitizer: the host and the transfer worker, and the GTK
# message queue that the worker posts into, on a virtual X server with the GLib main loop running.
# GLib, GTK and the libraries under them are not instrumented, so ThreadSanitizer is told to
# ignore the memory accesses they make through intercepted calls (memcpy, strcmp, ...) while still
# following their locks; every access our own code makes is checked. (A label list given to
# gtest_discover_tests would be split into bogus properties, so the areas' single labels are
# matched instead.)
# Only what the threaded tests need: the GUI library builds for the queue test, the web view's
# tests and the program do not.
TSAN_TARGETS := host_tests installer_file_name_test stall_watch_test transfer_job_test gui_queue_tests
test-tsan: test-deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DTARVIK_TSAN=ON $(TEST_CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS="ignore_noninstrumented_modules=1 halt_on_error=1 $(TSAN_OPTIONS)" \
	  ctest --output-on-failure -j $(JOBS) -L 'host|download|gui-queue'

# clang-tidy over every C++ source the test build compiles (checks in .clang-tidy, findings are
# errors), and shellcheck over every shell script.
LINT_HEADERS := ^$(CURDIR)/(app|bench|bridge|common|download|platform|po|service|settings|tests|tools)/
lint: build-test
	tools/install-deps.sh --lint
	run-clang-tidy -p $(BUILD_TEST) -j $(JOBS) -quiet -header-filter='$(LINT_HEADERS)' '^$(CURDIR)/'
	git ls-files -z '*.sh' .ci/run | xargs -0 shellcheck

# Builds the libFuzzer entry points with clang and runs each for FUZZ_SECONDS on its seeds in
# tests/fuzz/corpus; what a run adds stays in the build folder. Fails on any crash.
fuzz-smoke: build-deps
	tools/install-deps.sh --fuzz
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DTARVIK_GUI=OFF -DTARVIK_FUZZ=ON $(TEST_CMAKE_ARGS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers
	tests/fuzz/smoke.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# DEMO_ARGS go to the demo service, e.g. make demo DEMO_ARGS="--drop-after 4M". SIGNED=1 shows
# a build with an installer key and a service that signs the installer (tools/run-demo.sh).
SIGNED ?=
demo: demo-deps
	BUILD=$(BUILD_TEST) tools/run-demo.sh $(if $(SIGNED),--signed) -- $(DEMO_ARGS)

# The page in an ordinary browser with the page kit's simulator, served by the demo service:
# edit page/, reload the browser. DEMO_ARGS go to the demo service as for `make demo`.
page-dev:
	tools/install-deps.sh --page
	BUILD=$(BUILD_TEST) SERVICE_PORT=$(SERVICE_PORT) tools/page-dev.sh -- $(DEMO_ARGS)

# The benchmarks answer the program's event reports on loopback, so they use the test build.
bench: build-test
	bench/run-all.sh $(BUILD_TEST)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	tools/install-deps.sh --format
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(BUILD_TEST) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_FUZZ)

# Windows: tarvik.exe cross-built with MinGW-w64 (cmake/mingw-w64.cmake) and its tests run under
# Wine, whose prefix and home stay in the build folder. tools/windows-deps.sh builds the libraries
# Debian does not package for MinGW, once per Debian version, into $(BUILD_WINDOWS)/deps.
BUILD_WINDOWS ?= build-windows
WINDOWS_JOBS  ?= 2
# CI may keep the built libraries outside the clone (tools/windows-deps.sh).
ifdef TARVIK_WINDOWS_DEPS
export TARVIK_WINDOWS_PREFIX := $(abspath $(TARVIK_WINDOWS_DEPS))/prefix
endif
.PHONY: windows-deps windows test-windows build-windows
windows-deps:
	tools/install-deps.sh --windows
	JOBS=$(WINDOWS_JOBS) tools/windows-deps.sh $(BUILD_WINDOWS)
windows: windows-deps
	cmake -S . -B $(BUILD_WINDOWS) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DTARVIK_SERVICE_ORIGIN=http://127.0.0.1:$(SERVICE_PORT) -DTARVIK_WERROR=$(WERROR) $(LAUNCHER)
	# The build runs the translation table's tool under Wine (the first run makes Wine's prefix);
	# the test programs list their tests only when CTest starts (tests/CMakeLists.txt).
	env -u DISPLAY TARVIK_WINE_ROOT=$(abspath $(BUILD_WINDOWS))/wine \
	  cmake --build $(BUILD_WINDOWS) -j $(WINDOWS_JOBS)
# The Windows program a vendor ships: tarvik.exe for ORIGIN, a release build in
# $(BUILD_WINDOWS_RELEASE), with the libraries `windows-deps` built. With INSTALLER_PUBLISHER (the
# display name of the vendor's code signing certificate) an installer is started only when its
# code signature holds and is that publisher's: make build-windows ORIGIN=https://... \
# INSTALLER_PUBLISHER="Example Software Ltd". Set every time, like the installer key.
BUILD_WINDOWS_RELEASE ?= build-windows-release
INSTALLER_PUBLISHER ?=
build-windows: windows-deps
	TARVIK_WINDOWS_PREFIX=$${TARVIK_WINDOWS_PREFIX:-$(abspath $(BUILD_WINDOWS))/deps/prefix} \
	  cmake -S . -B $(BUILD_WINDOWS_RELEASE) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $(ORIGIN_ARG) \
	  "-DTARVIK_INSTALLER_PUBLISHER=$(INSTALLER_PUBLISHER)" -DTARVIK_WERROR=$(WERROR) $(LAUNCHER) \
	  $(CMAKE_ARGS)
	env -u DISPLAY TARVIK_WINE_ROOT=$(abspath $(BUILD_WINDOWS_RELEASE))/wine \
	  cmake --build $(BUILD_WINDOWS_RELEASE) -j $(WINDOWS_JOBS) --target tarvik
	@echo "$(BUILD_WINDOWS_RELEASE)/tarvik.exe built"

# Console tests without a display; the window tests start their own virtual X server.
# A Wine server left running in this build folder by an earlier, interrupted run once made every
# test wait out its time limit; it is ended first. Should Wine still hang, the run stops after
# 30 minutes rather than spend CI's whole time on 60 s limits. An idle machine runs it in a few
# minutes; at a load of 12-17 on two cores it took 21 (the web view's window tests run one at a time).
test-windows: windows
	for prefix in wine/prefix wine/gui/prefix; do \
	  WINEPREFIX=$(abspath $(BUILD_WINDOWS))/$$prefix wineserver --kill 2>/dev/null || true; \
	done
	cd $(BUILD_WINDOWS) && env -u DISPLAY TARVIK_WINE_ROOT=$(abspath $(BUILD_WINDOWS))/wine \
	  timeout --kill-after=30 1800 ctest --output-on-failure -j $(WINDOWS_JOBS)
