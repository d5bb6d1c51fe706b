# Korvan: the two set-up commands are `make run` and `make test`; both install what is
# missing from Debian's packages first. Every other target is a thin call of a preset in
# CMakePresets.json (build folders build/<preset>), which IDEs and `cmake --preset` use too.

# iproute2: `make stress` plays a vanished controller by taking a private loopback down.
# qt6-base-private-dev: the accessibility test switches Qt's accessibility on offscreen.
PACKAGES := cmake ninja-build g++ make qt6-base-dev qt6-base-private-dev libgl-dev \
            fonts-dejavu-core xvfb xauth xdotool clang-14 libclang-rt-14-dev clang-format \
            dpkg-dev file iproute2

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

FUZZ_SECONDS ?= 60
FUZZ_RUNS    ?= -1
PREFIX       ?= /usr/local

.PHONY: all deps release run sanitizers test stress bench fuzz package install uninstall \
        screenshot format clean

all: release

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' \
	        || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

release: deps
	cmake --preset release
	cmake --build --preset release

run: release
	build/release/bin/korvan

sanitizers: deps
	cmake --preset sanitizers
	cmake --build --preset sanitizers

# The storm, flood and fault tests first, with what their figures mean; then the rest.
test: sanitizers
	ctest --preset robustness
	@tests/tools/robustness-summary.sh build/sanitizers/Testing/Temporary/LastTest.log
	ctest --preset sanitizers

stress: sanitizers
	ctest --preset stress

bench: deps
	cmake --preset bench
	cmake --build --preset bench

# make fuzz FUZZ_SECONDS=900, or FUZZ_RUNS=10000000 FUZZ_SECONDS=0: each target in turn.
fuzz: deps
	cmake --preset fuzz -DKORVAN_FUZZ_SECONDS=$(FUZZ_SECONDS) -DKORVAN_FUZZ_RUNS=$(FUZZ_RUNS)
	cmake --build --preset fuzz

package: release
	cpack --preset deb
	@if command -v lintian >/dev/null; then lintian build/release/korvan_*.deb; \
	else echo "(apt-get install lintian to check the package)"; fi

install: release
	$(SUDO) cmake --install build/release --prefix $(PREFIX)

# Removes exactly the files the last `make install` wrote (CMake lists them).
uninstall:
	@test -r build/release/install_manifest.txt \
	    || { echo "Nothing to uninstall: build/release/install_manifest.txt is missing."; exit 1; }
	xargs -d '\n' $(SUDO) rm -fv -- < build/release/install_manifest.txt
	$(SUDO) rm -f build/release/install_manifest.txt

# Pictures of the windows into the build folder; `make screenshot DOCS=1` renews docs/.
SHOT_DIR := $(if $(DOCS),docs,build/screenshot)
screenshot: release
	mkdir -p $(SHOT_DIR)
	QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(CURDIR)/build/release/runtime \
	    build/release/bin/korvan-screenshot $(SHOT_DIR)
	@echo "Pictures in $(SHOT_DIR)/"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# --- Windows: cross-built with MinGW-w64, tested and packaged under Wine -----------------
# The logic lives in tools/windows/build.sh, which installs what it needs itself; the first
# run also builds Qt for Windows into ~/.cache/korvan (docs/windows-build.md).
.PHONY: windows windows-test windows-package

windows:
	BUILD=$(BUILD) JOBS=$(JOBS) tools/windows/build.sh build

windows-test:
	BUILD=$(BUILD) JOBS=$(JOBS) tools/windows/build.sh test

windows-package:
	BUILD=$(BUILD) JOBS=$(JOBS) tools/windows/build.sh package
