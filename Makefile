# The project's commands. `make test` and `make demo` install what is missing
# first, so on a fresh machine they do all the set-up.
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all build deps host win32 win64 test demo examples pictures bench bench-quick fuzz clean install package

all: build

deps:
	@bash scripts/deps.sh

build: host win32 win64

host:
	@cmake -S . -B build/host $(CMAKE_FLAGS) >/dev/null
	@cmake --build build/host -j$(JOBS)

win32:
	@cmake -S . -B build/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build build/win32 -j$(JOBS)

win64:
	@cmake -S . -B build/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	@cmake --build build/win64 -j$(JOBS)

test: deps
	@$(MAKE) --no-print-directory build
	@bash scripts/run-tests.sh

demo: deps
	@$(MAKE) --no-print-directory build
	@bash scripts/demo.sh

examples: build
	@bash examples/build.sh all

pictures: deps
	@$(MAKE) --no-print-directory build
	@bash scripts/pictures.sh

bench: deps
	@$(MAKE) --no-print-directory build
	@/usr/bin/python3 bench/run.py

bench-quick: deps
	@$(MAKE) --no-print-directory build
	@/usr/bin/python3 bench/run.py --quick --results build/bench-quick.md

# korvan-pack, both stubs and the README under PREFIX (bin/, share/korvan/,
# share/doc/korvan/); `package` makes the same into a Debian package under
# build/host/package/, installed under /usr.
PREFIX ?= /usr/local

install: build
	@cmake -S . -B build/host -DCMAKE_INSTALL_PREFIX=$(abspath $(PREFIX)) >/dev/null
	@cmake --build build/host -j$(JOBS) --target korvan-pack
	@cmake --install build/host --prefix $(abspath $(PREFIX))

package: build
	@cmake -S . -B build/host -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build build/host -j$(JOBS) --target korvan-pack
	@cd build/host && cpack -G DEB -B package

fuzz: deps
	@bash scripts/fuzz.sh

clean:
	rm -rf build
