# The README's commands: `make run` and `make test`. Both start with the idempotent set-up.
BUILD ?= build
SANBUILD ?= build-sanitize
GEN := -G Ninja

.PHONY: setup build run test test-sanitize bench clean

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
	@cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j2

bench: build
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(SANBUILD)
