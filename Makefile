# The two set-up commands of the README:
#   make run   install what is missing, build, start the program on the emulator
#   make test  install what is missing, build with AddressSanitizer and
#              UndefinedBehaviorSanitizer (the desktop program included), run every
#              test there (CI runs the threaded areas' tests under ThreadSanitizer
#              after it: make test-tsan)
# Everything else here is a convenience for developers.

SHELL := /bin/bash
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian 12 packages the build and the tests need.
PACKAGES := cmake ninja-build g++ pkg-config ccache git \
            libgtest-dev libgmock-dev libusb-1.0-0-dev \
            qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev xvfb xauth fonts-wqy-microhei \
            libxml2-utils gpsbabel gdal-bin desktop-file-utils \
            clang libclang-rt-14-dev \
            dpkg-dev file python3 \
            libgeographiclib-dev geographiclib-tools nlohmann-json3-dev libxml2-dev libgdal-dev \
            python3-pyatspi at-spi2-core dbus-x11 xdotool qt6-translations-l10n \
            lintian appstream bash-completion poppler-utils locales \
            libsqlite3-dev python3-gdal sqlite3 libssl-dev \
            postgresql-15 postgresql-15-postgis-3 libpq-dev libproj-dev proj-bin \
            python3-pyproj python3-shapely zip unzip \
            qt6-image-formats-plugins

.PHONY: run test deps configure build build-asan test-dev test-asan tsan test-tsan fuzz fuzz-run fuzz-long \
        package-test soak clean format

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build/dev/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset dev

build/asan/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset asan

configure: deps build/dev/build.ninja

build: configure
	cmake --build --preset dev -j $(JOBS)

build-asan: deps build/asan/build.ninja
	cmake --build --preset asan -j $(JOBS)

test-dev: build
	ctest --preset dev -j $(JOBS)

# Twice as many tests as cores at once: most of them wait (on the emulator, a
# server, a timer of the GUI), and the whole run on 2 cores passes at -j 4.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))

test-asan: build-asan
	ctest --preset asan -j $(TEST_JOBS)

# Every test runs once, in the asan+ubsan build: a separate debug build of the
# same tests found nothing the sanitizers' build did not, and cost a third of
# a cold run. `make test-dev` still runs them in the plain debug build.
test: test-asan
	@echo "All tests passed (asan+ubsan build)."

run: build
	scripts/run-demo

tsan: deps
	cmake --preset tsan -DDORVANE_TEST_AREAS= && cmake --build --preset tsan -j $(JOBS) && ctest --preset tsan -j $(JOBS)

# The link tests (reader threads started and stopped from two threads), the
# transfer tests (worker, document, CLI against the emulator) and the fault
# tests (links that vanish mid-run) under ThreadSanitizer; only those test
# folders are built.
test-tsan: deps
	cmake --preset tsan "-DDORVANE_TEST_AREAS=link;transfer;faults" >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz: deps
	cmake --preset fuzz && cmake --build --preset fuzz -j $(JOBS)

# Every fuzz target for a short while (FUZZ_TIME seconds each).
FUZZ_TIME ?= 25
fuzz-run: deps
	scripts/fuzz-run --time $(FUZZ_TIME)

# Every fuzz target for ten minutes, two at a time, at the lowest priority; the
# inputs that reached new code are merged into the committed corpora (not in CI).
FUZZ_LONG_TIME ?= 600
fuzz-long: deps
	nice -n 19 scripts/fuzz-run --time $(FUZZ_LONG_TIME) --parallel 2 --keep-corpus

# Builds the .deb, unpacks it and runs the installed CLI against the emulator.
package-test: deps
	scripts/package-test

# Fault soak: 1000 fetches and 200 uploads against a faulty emulator (minutes).
soak: build
	scripts/soak

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
