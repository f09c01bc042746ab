# The user's commands: `make run` and `make test`. Everything else is for developers.
BUILD ?= build
JOBS  ?= $(shell nproc)
BENCH_RUNS ?= 3
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build run test sanitize tsan asan bench clean

all: build

deps:
	@scripts/install-deps.sh

# Configured on every build (quick), so a stale cache never changes what is built.
build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVELLICOR_GUI=ON -DVELLICOR_BENCH=ON \
	  -DVELLICOR_TSAN=OFF -DVELLICOR_ASAN=OFF > /dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/vellicor /demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The engine's and the application's tests (lifecycle, key commands, headless runs
# of the binary) under ThreadSanitizer, then the engine's under AddressSanitizer
# with UBSan. The ThreadSanitizer tests run one at a time: the signal and terminal
# tests time their children, and under parallel load a sanitized child now and
# then missed a signal (rare; not seen alone or without the sanitizer).
sanitize: tsan asan

tsan: deps
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELLICOR_TSAN=ON -DVELLICOR_GUI=OFF -DVELLICOR_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target vellicor_engine_tests vellicor_app_tests vellicor
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L 'engine|app' -j 1

asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELLICOR_ASAN=ON -DVELLICOR_GUI=OFF -DVELLICOR_BENCH=OFF
	cmake --build build-asan -j $(JOBS) --target vellicor_engine_tests
	cd build-asan && ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" ctest --output-on-failure -L engine -j $(JOBS)

# Synchronisation cost and wake-up floor, the integration against a triad of the
# same run, the end-to-end table of both engines, then the event engine's network
# statistics against the exact engine's (10 s simulated per run, some minutes).
# Every phase kernel against memory bandwidth: $(BUILD)/bench/bench_dynamics.
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target vellicor_bench
	$(BUILD)/bench/bench_work_manager
	bench/triad-ratio.sh $(BUILD)
	bench/run-bench.sh $(BUILD) $(BENCH_RUNS)
	$(BUILD)/bench/bench_event_stats 10 $(BENCH_PRESETS)
	bench/python-overhead.sh $(BUILD) $(BENCH_RUNS)
	bench/distributed.sh $(BUILD) $(BENCH_RUNS)

clean:
	rm -rf $(BUILD) build-tsan build-asan
