# Quick start: `make demo`, `make test`. Everything builds into build/.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

# Debian packages the build and the tests need; installed when missing.
DEB_PACKAGES := cmake g++ make libgtest-dev libbenchmark-dev ffmpeg libffms2-dev libffms2-5 gnuplot-nox clang lld llvm libclang-rt-14-dev valgrind bc time binutils mkvtoolnix \
  zlib1g-dev libcpp-httplib-dev

# Only the tests need these: headless Chromium opens the plan review page and
# the editor's page, which puppeteer-core drives (Node.js and npm from Debian
# where no npm is installed yet).
TEST_DEB_PACKAGES := chromium

.PHONY: all build deps test-deps test demo bench install clean format

all: build

deps:
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(DEB_PACKAGES)"
test-deps:
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(TEST_DEB_PACKAGES)"
	@command -v npm >/dev/null || $(MAKE) --no-print-directory install-packages PACKAGES="nodejs npm"
	@[ -d tests/editor_browser/node_modules/puppeteer-core ] || \
	  (cd tests/editor_browser && npm ci --ignore-scripts --no-audit --no-fund)

.PHONY: install-packages
install-packages:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Every pass, each whether or not an earlier one failed: the native suite, the
# Windows checks, the sanitizers and the fuzz targets; then one line per pass,
# and a failure if any pass failed (scripts/test.sh).
test: build test-deps
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/test.sh $(BUILD)

# Sanitizer passes (every test under ASan+UBSan, the threaded ones under TSan)
# and a short run of every fuzz target; `make test` runs them last.
FUZZ_SECONDS ?= 20
.PHONY: check sanitize fuzz
check: build
	@JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/test.sh $(BUILD) asan tsan fuzz
sanitize: build
	JOBS=$(JOBS) scripts/sanitize.sh $(BUILD)
fuzz: deps
	JOBS=$(JOBS) scripts/fuzz.sh $(FUZZ_SECONDS)

# The 32-bit Windows DLL, cross-built into build-win32/ in Microsoft's C++
# ABI with clang and lld, the 64-bit modules (build-win64/) and zemivtc.exe
# (build-win64-cli/, MinGW-w64); test-windows checks their files and runs the
# interface host (and AviSynth 2.6.0, from ../shared/hosts) and the command
# under Wine, or says why it skips a run (docs/windows.md).
.PHONY: windows test-windows
windows:
	JOBS=$(JOBS) scripts/windows.sh build $(BUILD)

test-windows: build
	JOBS=$(JOBS) scripts/windows.sh test $(BUILD)

# The downloads (scripts/dist.sh): dist/zemivtc-VERSION-windows-x64.zip (the
# exe and every Windows module) and dist/zemivtc-VERSION-linux-x86_64.tar.gz,
# each with a README.txt and the docs; VERSION is CMakeLists.txt's.
.PHONY: dist
dist: build
	JOBS=$(JOBS) scripts/windows.sh build $(BUILD)
	scripts/dist.sh $(BUILD)

# Runs the demo, then turns its stills into PNG pictures with ffmpeg.
DEMO_OUT := $(BUILD)/demo-out
demo: build
	@mkdir -p $(DEMO_OUT)
	$(BUILD)/zemivtc_demo $(BUILD)/zemivtc.so $(DEMO_OUT)
	@for s in combed weave top_field bottom_field; do \
	  ffmpeg -v error -y -f rawvideo -pix_fmt yuyv422 -s 640x480 -i $(DEMO_OUT)/$$s.yuyv $(DEMO_OUT)/$$s.png || exit 1; \
	done
	@ffmpeg -v error -y -i $(DEMO_OUT)/combed.png -i $(DEMO_OUT)/weave.png -i $(DEMO_OUT)/top_field.png \
	  -i $(DEMO_OUT)/bottom_field.png -filter_complex "[0][1][2][3]xstack=inputs=4:layout=0_0|w0_0|0_h0|w0_h0" \
	  $(DEMO_OUT)/stills.png
	@echo "stills: $(DEMO_OUT)/{combed,weave,top_field,bottom_field,stills}.png"

bench: build
	bench/run.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-win32 build-win64 build-win64-cli dist
