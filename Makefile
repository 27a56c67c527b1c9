# kiromenu.exe: the main menu of KIRO-skema, cross-compiled with MinGW-w64
# and tested under Wine.
#   make demo   run the menu on a ready demo installation
#   make test   build and run every test
#   make dist   the release to hand out: dist/kiromenu-<FileVersion>.zip
BUILD ?= build

.PHONY: all setup build test demo bench dist clean

all: build

setup:
	@tools/setup.sh $(BUILD)

build: setup
	@tools/build.sh $(BUILD)

test: build
	@tools/run-tests.sh $(BUILD)

demo: build
	@tools/demo.sh $(BUILD)

bench: build
	@tools/bench.sh $(BUILD)

dist: build
	@tools/dist.sh $(BUILD)

clean:
	-@tools/services.sh stop $(BUILD) 2>/dev/null
	-@tools/services.sh stop $(BUILD)/x64 2>/dev/null
	rm -rf $(BUILD)
