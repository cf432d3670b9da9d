SHELL := /bin/bash
# Thin wrapper around CMake. `make check` and `make demo` work on a fresh
# Debian machine: they install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian packages the build, the tests and the demo need.
DEPS := cmake g++ make pkg-config qt6-base-dev qt6-base-private-dev qt6-serialport-dev fonts-liberation2 xvfb xauth appstream \
	clang libclang-rt-14-dev at-spi2-core dbus-bin python3-pyatspi

.PHONY: all deps build check check-unit check-asan fuzz-smoke fuzz demo clean bench-deps bench \
	windows-deps windows check-windows

# What `make bench` needs on top.
BENCH_DEPS := libbenchmark-dev
BENCH_BUILD ?= build-bench
BENCH_SECONDS ?= 60

SAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
FUZZ_LONG_SECONDS ?= 600
FUZZERS := reply settings decimal
# Fuzzers held to a memory ceiling: libFuzzer fails a run whose resident
# memory goes over FUZZ_RSS_MB.
FUZZ_RSS_BOUNDED := reply settings decimal
FUZZ_RSS_MB := 200
# The longest input each fuzzer is given, where one is needed: a handful of
# replies reach every state of the session, and longer lines only cost time.
FUZZ_MAX_LEN_reply := 64
# Sanitizer reports fail the run; fontconfig's lifetime cache is no leak of ours.
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Windows: pollbench.exe cross-built with MinGW-w64 against a Qt built for
# it, packed as a zip and an installer in dist/, tested under Wine. QT_MINGW
# is that Qt; by default the tarball in ../shared/toolchains unpacked under
# the build folder.
WIN_DEPS := cmake make g++-mingw-w64-x86-64-posix qt6-base-dev-tools groff-base nsis wine64 \
	xvfb xauth xdotool
WIN_BUILD ?= build-windows
QT_MINGW_TARBALL ?= $(CURDIR)/../shared/toolchains/qt-6.4.2-mingw64.tar.xz
QT_MINGW_DEFAULT := $(CURDIR)/$(WIN_BUILD)/qt-6.4.2-mingw64
QT_MINGW ?= $(QT_MINGW_DEFAULT)
WINE ?= /usr/lib/wine/wine64
# A Wine of its own under the build folder, quiet, with no window of its own
# and no offer to download Mono or Gecko.
WIN_ENV := WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
	WINEPATH="Z:$(QT_MINGW)/bin;Z:$(QT_MINGW)/mingw-runtime"

all: build

deps:
	@missing=$$(for p in $(DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Sanitizers and fuzzers first, so the plain suite's summary closes the run.
check: fuzz-smoke check-asan check-unit

check-unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
check-asan: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPOLLBENCH_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

# AddressSanitizer only: UndefinedBehaviorSanitizer's checks split nearly
# every block, which tripled the edges libFuzzer tallies after each input
# (1,255 against 436) and cost the reply fuzzer half its speed. The same code
# runs under both sanitizers in check-asan.
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DPOLLBENCH_FUZZ=ON -DBUILD_TESTING=OFF \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer" \
	  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address"

fuzz-build: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZERS))

# Each fuzzer for a bounded time from the seed corpus; new finds stay in
# $(FUZZ_BUILD)/corpus, the committed seeds are left alone.
fuzz-smoke: fuzz-build
	@for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$f; \
	  echo "== fuzz_$$f for $(FUZZ_SECONDS) s"; \
	  case " $(FUZZ_RSS_BOUNDED) " in *" $$f "*) rss=-rss_limit_mb=$(FUZZ_RSS_MB) ;; *) rss= ;; esac; \
	  case $$f in reply) len=-max_len=$(FUZZ_MAX_LEN_reply) ;; *) len= ;; esac; \
	  QT_QPA_PLATFORM=offscreen $(SAN_ENV) $(FUZZ_BUILD)/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) $$rss $$len \
	    -print_final_stats=1 $(FUZZ_BUILD)/corpus/$$f fuzz/corpus/$$f 2>&1 \
	    | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done|==[0-9]+== ?ERROR|SUMMARY)' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

fuzz:
	$(MAKE) fuzz-smoke FUZZ_SECONDS=$(FUZZ_LONG_SECONDS)

demo: build
	./tools/demo.sh $(BUILD)

bench-deps:
	@missing=$$(for p in $(BENCH_DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

# Micro-benchmarks, then about ten minutes end to end (three polling runs of
# $(BENCH_SECONDS) s each; for each poll rate three turns of the tester and a
# bare window, for the CPU ratio; three turns with the trace history closed
# and open; idle, a bare window, program starts); one table at the end. The build's own output goes to a log unless it fails.
bench: deps bench-deps
	@echo "building the benchmarks in $(BENCH_BUILD)"
	@mkdir -p $(BENCH_BUILD); { cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DPOLLBENCH_BENCH=ON -DBUILD_TESTING=OFF \
	  && cmake --build $(BENCH_BUILD) -j $(JOBS) --target pollbench pollbench-sim bench_micro bench_e2e; } \
	  > $(BENCH_BUILD)/build.log 2>&1 || { cat $(BENCH_BUILD)/build.log; exit 1; }
	@echo "bench: micro-benchmarks"
	@QT_QPA_PLATFORM=offscreen $(BENCH_BUILD)/bench/bench_micro --benchmark_out=$(BENCH_BUILD)/micro.json \
	  --benchmark_out_format=json > $(BENCH_BUILD)/micro.log 2>&1 || { cat $(BENCH_BUILD)/micro.log; exit 1; }
	@$(BENCH_BUILD)/bench/bench_e2e --seconds $(BENCH_SECONDS) --micro $(BENCH_BUILD)/micro.json \
	  --sim $(BENCH_BUILD)/pollbench-sim --program $(BENCH_BUILD)/pollbench

windows-deps:
	@missing=$$(for p in $(WIN_DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

$(QT_MINGW_DEFAULT)/lib/cmake/Qt6/Qt6Config.cmake:
	@test -f $(QT_MINGW_TARBALL) || { echo "no Qt for MinGW: give QT_MINGW=<folder> or QT_MINGW_TARBALL=<file>"; exit 1; }
	mkdir -p $(WIN_BUILD)
	tar -C $(WIN_BUILD) -xJf $(QT_MINGW_TARBALL)
	touch $@

# The program, the Windows test suites, the zip and the installer.
windows: windows-deps $(QT_MINGW)/lib/cmake/Qt6/Qt6Config.cmake
	cmake -S . -B $(WIN_BUILD)/build -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DQT_MINGW_PREFIX=$(QT_MINGW) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR=$(WINE)
	cmake --build $(WIN_BUILD)/build -j $(JOBS)
	cd $(WIN_BUILD)/build && cpack -B $(CURDIR)/dist
	@rm -rf dist/_CPack_Packages
	@ls -l dist/pollbench-*-win64.zip dist/Pollbench-*-win64-setup.exe

$(WIN_BUILD)/wine/system.reg:
	@echo "making the Wine prefix $(WIN_BUILD)/wine"
	@$(WIN_ENV) $(WINE) wineboot --init > $(WIN_BUILD)/wineboot.log 2>&1 || { cat $(WIN_BUILD)/wineboot.log; exit 1; }
	@$(WIN_ENV) wineserver -w

# The suites under Wine with the offscreen platform, then the unpacked zip
# end to end (tools/windows-check.sh), against the simulator built here.
check-windows: windows $(WIN_BUILD)/wine/system.reg deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target pollbench-sim screen_grab
	cd $(WIN_BUILD)/build && $(WIN_ENV) ctest --output-on-failure -j $(JOBS)
	$(WIN_ENV) WINE=$(WINE) ./tools/windows-check.sh $(WIN_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD)
