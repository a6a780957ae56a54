# The README's commands: `make run` and `make test`. Both start with the idempotent set-up.
# The sanitizer tests look for leaks too; the SDL tests there use SDL's software renderer,
# because the GL drivers it would otherwise load are unloaded again before the leak check
# runs, and what they still hold then reads as leaked from unknown code.
BUILD ?= build
SANBUILD ?= build-sanitize
GEN := -G Ninja

.PHONY: setup build run test test-sanitize bench bench-comparison bench-scale bench-lod bench-web fuzz soak windows test-windows web serve-web test-web dist test-dist clean

setup:
	@bash scripts/setup

build: setup
	@cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD)

run: build
	@bash scripts/run $(BUILD)/vorl

test: build
	@cd $(BUILD) && ctest --output-on-failure -j2

test-sanitize: setup
	@cmake -S . -B $(SANBUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVORL_SANITIZE=ON >/dev/null
	@cmake --build $(SANBUILD)
	@cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/leak-suppressions.txt \
	  SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 ctest --output-on-failure -j2

# An optimised sanitizer build headless for SOAK_FRAMES frames under a random script of
# every key (the Debug build of the sanitizer tests draws too slowly for long runs).
SOAKBUILD ?= build-soak
SOAK_FRAMES ?= 100000
soak: setup
	@cmake -S . -B $(SOAKBUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORL_SANITIZE=ON >/dev/null
	@cmake --build $(SOAKBUILD) --target vorl
	@SOAK_FRAMES=$(SOAK_FRAMES) python3 scripts/soak $(SOAKBUILD)/vorl

# The program for 64-bit Windows, cross-built with MinGW-w64 (build-windows/), and its tests
# under Wine against the Linux build.
windows:
	@bash scripts/windows

test-windows: windows build
	@python3 scripts/test-windows

# The program for the browser with Debian's Emscripten (build-web/), a local server with the
# isolation headers, and the page's tests in Chromium against the Linux build.
web:
	@bash scripts/web

serve-web: web
	@python3 scripts/serve-web build-web $${PORT:-8080}

test-web: web build
	@bash scripts/test-web

# The release packages in dist/ (Linux archive, Debian package, Windows zip, web zip and
# SHA256SUMS), packed from the builds above; test-dist unpacks and installs them and runs them.
dist: build windows web
	@bash scripts/dist

test-dist: dist
	@python3 scripts/test-dist

bench: build
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b; done

# The speed goals' measures, pairs of runs in turn with the median ratio: bench-comparison is
# `frame_bench --scene comparison` (the program headless against the peer at static detail 6
# and 20; more with BENCH_ARGS, e.g. "--pairs 5"), bench-web is bench/web_fps (the comparison
# scene in the page in Chromium beside the native build; BENCH_ARGS e.g. "--profile t.json").
bench-comparison: build
	@$(BUILD)/frame_bench --scene comparison $(BENCH_ARGS)

# The program headless on one terrain of 128, 512, 1024 and 4096 points a side: file size, first
# frame, peak memory and frame rates, medians of runs (BENCH_ARGS e.g. "--sides 128,512 --runs 5").
bench-scale: build
	@$(BUILD)/scale_bench $(BENCH_ARGS)

# The detail rules against static detail 20 (bench/lod_bench.cpp); BENCH_ARGS="--quick" for fewer
# tolerances, "--scene shipped|terrain" for one scene, "--tolerances 1,4" for the screen rule's.
bench-lod: build
	@$(BUILD)/lod_bench $(BENCH_ARGS)

bench-web: web build
	@BUILD=$(BUILD) bash bench/web_fps $(BENCH_ARGS)

# libFuzzer targets of tests/fuzz/, built with clang in build-fuzz/, FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
fuzz: setup
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz

clean:
	rm -rf $(BUILD) $(SANBUILD) $(SOAKBUILD) build-windows build-web dist
