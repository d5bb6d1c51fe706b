# Korvan: the two set-up commands are `make run` and `make test`; both install what is
# missing from Debian's packages first.

BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR  := -G Ninja

# iproute2: `make stress` plays a vanished controller by taking a private loopback down.
# qt6-base-private-dev: the accessibility test switches Qt's accessibility on offscreen.
PACKAGES := cmake ninja-build g++ make qt6-base-dev qt6-base-private-dev libgl-dev \
            fonts-dejavu-core xvfb xauth clang-14 libclang-rt-14-dev clang-format \
            dpkg-dev file iproute2

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps run test build-release build-test bench fuzz stress package install screenshot \
        clean format

all: build-release

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

build-release: deps
	cmake -S . -B $(BUILD)/release $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKORVAN_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)

run: build-release
	$(BUILD)/release/bin/korvan

build-test: deps
	cmake -S . -B $(BUILD)/test $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
	    -DKORVAN_SANITIZE=ON -DKORVAN_WERROR=ON
	cmake --build $(BUILD)/test -j $(JOBS)

TEST_ENV := QT_QPA_PLATFORM=offscreen \
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
            UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp

# The storm, flood and fault tests first, at everyday sizes, with the figures they measured;
# then everything else.
test: build-test
	cd $(BUILD)/test && $(TEST_ENV) ctest --output-on-failure -j $(JOBS) --timeout 600 -L stress
	@echo "Robustness figures:"
	@grep -h "QINFO" $(BUILD)/test/Testing/Temporary/LastTest.log \
	    | sed 's/^.*QINFO *: [^ ]* /  /'
	cd $(BUILD)/test && $(TEST_ENV) ctest --output-on-failure -j $(JOBS) --timeout 300 -LE stress

stress: build-test
	cd $(BUILD)/test && $(TEST_ENV) KORVAN_STRESS=1 \
	    ctest --output-on-failure -L stress --timeout 1800

bench: deps
	cmake -S . -B $(BUILD)/bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	    -DKORVAN_BUILD_TESTS=OFF -DKORVAN_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)
	cmake --build $(BUILD)/bench --target run-bench

fuzz: deps
	cmake -S . -B $(BUILD)/fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++-14 -DKORVAN_BUILD_TESTS=OFF -DKORVAN_BUILD_FUZZ=ON
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	cmake --build $(BUILD)/fuzz --target run-fuzz

package: build-release
	cd $(BUILD)/release && cpack -G DEB

# Pictures of the windows into the build folder; `make screenshot DOCS=1` renews docs/.
SHOT_DIR := $(if $(DOCS),docs,$(BUILD)/screenshot)
screenshot: build-release
	mkdir -p $(SHOT_DIR)
	QT_QPA_PLATFORM=offscreen $(BUILD)/release/bin/korvan-screenshot $(SHOT_DIR)
	@echo "Pictures in $(SHOT_DIR)/"

install: build-release
	cmake --install $(BUILD)/release

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

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
