# The two set-up commands of the README. Both install what is missing first.
#   make run   build, then open the bundled house sample in the desktop program (without a
#              display: calibrate it and export its model with modrin-cli)
#   make test  build and run every test: the normal build, the sanitizer build and the fuzzers
#   make soak  random input to the sanitizer build of the desktop program on a virtual display
#              for SECONDS (600) from SEED (a new one each run when not given)

FUZZ_SECONDS ?= 20
SECONDS ?= 600
SEED ?=
SOAK_FLAGS ?=
JOBS ?= $(shell nproc)
FUZZERS := project_file_fuzz camera_database_fuzz image_decode_fuzz exif_fuzz layout_string_fuzz

.PHONY: all deps build run run-headless screenshot web-screenshot help-screenshots package test test-default test-asan test-fuzz \
  test-clang test-package soak clean format

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# The sample is copied into the build folder, so the run never changes the repository. With a
# display the desktop program opens it; without one (over ssh, in CI) the command-line road
# calibrates it and exports its model instead. HEADLESS=1 takes that road on a desktop too.
run: build
	rm -rf build/house && cp -r examples/house build/house
	@if [ -z "$(HEADLESS)" ] && [ -n "$${DISPLAY}$${WAYLAND_DISPLAY}" ]; then \
	  echo "Starting Modrin on build/house/house.mpj"; \
	  ./build/src/app/modrin build/house/house.mpj; \
	else \
	  [ -n "$(HEADLESS)" ] || echo "No display: calibrating and exporting the house sample with modrin-cli instead"; \
	  $(MAKE) --no-print-directory run-headless; \
	fi

run-headless:
	./build/src/cli/modrin-cli calibrate --all build/house/house.mpj
	./build/src/cli/modrin-cli export build/house/house.mpj build/house/house.obj
	./build/src/cli/modrin-cli export build/house/house.mpj build/house/house.wrl
	./build/src/cli/modrin-cli export build/house/house.mpj build/house/house.glb
	@echo "The textured model: build/house/house.obj (with house.mtl), build/house/house.wrl and build/house/house.glb"

# A picture of the window for the README, made on a virtual display.
screenshot: build
	bash scripts/screenshot.sh build/src/app/modrin examples/house docs/screenshot.png \
	  build/src/cli/modrin-cli

# A picture of the house's web page (Save to Web, modrin-cli web) in headless Chromium, for the
# README.
web-screenshot: build deps
	rm -rf build/web-shot && mkdir -p build/web-shot/page && cp -r examples/house build/web-shot/
	./build/src/cli/modrin-cli calibrate --all build/web-shot/house/house.mpj >/dev/null
	./build/src/cli/modrin-cli web --size 640x420 --background 2f4f6f --max-texture 512 \
	  --v-range 5,80 build/web-shot/house/house.mpj build/web-shot/page/house.html
	node tests/js/web_page_screenshot.js build/web-shot/page/house.html docs/web-page.png 640x420

# The pictures of the Getting started help page, made by its walk-through in the real window
# on a virtual display, with settings kept apart from the user's own.
help-screenshots: build
	rm -rf build/help-shots-home && mkdir -p build/help-shots-home
	xvfb-run -a -s "-screen 0 1280x1024x24" env HOME=$(CURDIR)/build/help-shots-home \
	  XDG_CONFIG_HOME=$(CURDIR)/build/help-shots-home/config QT_QPA_PLATFORM=xcb LC_ALL=C \
	  MODRIN_SOURCE_DIR=$(CURDIR) MODRIN_HELP_SHOTS=$(CURDIR)/src/app/help \
	  ./build/tests/e2e_getting_started

test: deps test-default test-asan test-fuzz test-clang test-package

test-default:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset default -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The random-input soak of the desktop program (tests/soak/soak.js). A failing run prints its
# seed and the command that replays it; SOAK_FLAGS=--no-undo-check leaves out the undo check.
soak: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS) --target modrin modrin-cli modrin-wm
	xvfb-run -a -s "-screen 0 1400x950x24" node tests/soak/soak.js --modrin build-asan/src/app/modrin \
	  --cli build-asan/src/cli/modrin-cli --wm build-asan/tests/modrin-wm --sample examples/house \
	  --work build-asan/soak --seed "$(SEED)" --seconds $(SECONDS) $(SOAK_FLAGS)

# Each fuzzer runs for FUZZ_SECONDS on a copy of its seed corpus.
test-fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS) --target $(FUZZERS)
	@for f in $(FUZZERS); do \
	  rm -rf build-fuzz/corpus/$$f && mkdir -p build-fuzz/corpus/$$f && \
	  cp -r fuzz/corpus/$$f/. build-fuzz/corpus/$$f/ 2>/dev/null; \
	  echo "fuzzing $$f for $(FUZZ_SECONDS) s"; \
	  ./build-fuzz/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 \
	    -print_final_stats=0 -artifact_prefix=build-fuzz/$$f- build-fuzz/corpus/$$f 2> build-fuzz/$$f.log \
	    || { tail -n 60 build-fuzz/$$f.log; exit 1; }; \
	done
	@echo "fuzzers: $(words $(FUZZERS)) passed, 0 failed"

# A Release build with clang, warnings as errors: the code must build with both compilers.
test-clang:
	cmake --preset clang-release
	cmake --build --preset clang-release -j $(JOBS)

# The Debian package, built with Debian's hardening flags and installed under /usr.
VERSION := $(shell grep -m1 -o 'Modrin VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
DEB := build-package/modrin_$(VERSION)_$(shell dpkg --print-architecture).deb
package: deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DMODRIN_BUILD_TESTS=OFF -DMODRIN_BUILD_BENCHMARKS=OFF \
	  -DCMAKE_C_FLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB
	@echo "The package: $(DEB) (install it with: sudo apt install ./$(DEB))"

test-package: package
	bash tests/package_test.sh $(DEB) examples/house

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-fuzz build-clang build-package
