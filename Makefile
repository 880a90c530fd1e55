# `make test`: set up, build both architectures, run every test under Wine.
# `make run`:  set up, build, start the player (a screenshot under Xvfb without a display).
# `make bench`: build and print every benchmark's figures.
# `make soak`:  play on each build for MINUTES (10) minutes: dropouts and the delay at start and end.
# `make dist`:  build both programs in release form and pack them for Windows users into dist/.
# `make screenshots`: build, then photograph the dialog at four DPIs into docs/scales.png.
# `make fuzz`:  fuzz the FilterData readers natively: `make fuzz SECONDS=600 CORPUS=build/fuzz/corpus`.
.PHONY: all deps build build-x86_64 build-i686 style test run screenshots bench soak dist fuzz clean

SECONDS ?= 60
MINUTES ?= 10
CORPUS ?= build/fuzz/corpus

all: build

deps:
	@tools/install-deps

build-x86_64: deps
	cmake --preset x86_64 >/dev/null
	cmake --build --preset x86_64

build-i686: deps
	cmake --preset i686 >/dev/null
	cmake --build --preset i686

build: build-x86_64 build-i686

style: deps
	@tools/style-gate

test: build style
	tools/run-fuzz 20 build/fuzz/corpus
	ctest --preset x86_64
	ctest --preset i686

fuzz: deps
	@tools/run-fuzz $(SECONDS) $(CORPUS)

dist: deps
	@tools/make-dist

run: build-x86_64
	@tools/run-player build/x86_64/WavelarkPlayerLite.exe

screenshots: build-x86_64
	@tools/dpi-screenshots build/x86_64/WavelarkPlayerLite.exe docs/scales.png

bench: build
	@tools/bench

soak: build
	@tools/bench --minutes $(MINUTES)

clean:
	rm -rf build dist
