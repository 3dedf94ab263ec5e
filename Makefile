# The two commands of the README:
#   make run    builds Corvane and runs it on the simulated Pocket PC
#   make test   builds everything and runs every test
# Both install what is missing first (scripts/install-deps.sh).

SHELL := /bin/bash
.PHONY: run screenshots test build device deps-device bench bench-arm bench-pct mutate deps deps-build test-dev test-asan test-tsan test-arm test-gcc test-device format clean

deps:
	scripts/install-deps.sh

deps-build:
	scripts/install-deps.sh --build

deps-device:
	scripts/install-deps.sh --device

build: deps-build
	cmake --preset dev
	cmake --build --preset dev

# The simulated Pocket PC on a web page: http://127.0.0.1:8053/ (Ctrl+C stops).
run: build
	./build/dev/corvane-sim --port 8053

# The README's screenshots.
screenshots: build deps
	node tests/browser/screenshots.mjs docs/screenshots

test: deps test-device test-dev test-asan test-tsan test-arm test-gcc

test-dev:
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan -LE 'fuzz|browser|arm|lint'

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan -LE 'fuzz|browser|arm|lint'

# The Pocket PC executable, build/device/corvane.exe (and its symbol map
# corvane.map): the program cross-compiled by GCC, linked by GNU ld at the PE
# layout, written out as a PE file by mkpe (platform/wince). Its project is
# platform/wince, configured from there; the build and test presets work
# from here too.
device: deps-device
	cmake -S platform/wince --preset device
	cmake --build --preset device

# The device build's checks: the machine code, the platform calls, three PE
# readers, mkpe's refusals.
test-device: device
	ctest --preset device

# The ARM lane: the program's ARM code (and the simulator's headless part)
# cross-built for armel and run on an emulated PXA255; it also loads the
# device build's corvane.exe.
test-arm: device
	cmake --preset arm
	cmake --build --preset arm
	ctest --preset arm

# The machine's GCC, optimised (-O3, where its flow-based warnings such as
# -Wrestrict fire), warnings as errors: built, not run; the dev lane's tests
# already run the same code built by clang.
test-gcc:
	cmake --preset gcc
	cmake --build --preset gcc

# Benchmarks (not tests): a simulated day in the tray; the code size of the
# device build's image.
bench: build device
	./build/dev/bench/corvane_tray_day_bench
	./build/dev/bench/corvane_soak_bench
	bench/code_size.sh

# How many of the randomised test's 15000 seeds find one race put in on
# purpose (PCT_FAULT, from tests/mutation/faults.txt), under the seeded
# scheduler and under PCT.
PCT_FAULT ?= hide-flag-after-monitor-start
bench-pct: build
	for scheduler in seeded pct; do \
	  echo "== $$scheduler"; \
	  CORVANE_RANDOM_SCHEDULER=$$scheduler ./build/dev/mutate --faults tests/mutation/faults.txt \
	    --source . --work build/mutate --only $(PCT_FAULT) --tests stress | grep -E 'caught|missed'; \
	done

# The tray day timed in the ARM lane (emulated PXA255) and in the dev lane,
# and their ratio.
bench-arm: build deps
	cmake --build --preset dev --target corvane_tray_day_timing
	cmake --preset arm
	cmake --build --preset arm --target corvane_tray_day_timing
	bench/arm_vs_dev.sh build/dev build/arm

# Mutation testing (not part of make test): each fault of
# tests/mutation/faults.txt in turn, in a scratch copy, against the fast tests.
mutate: build
	./build/dev/mutate --faults tests/mutation/faults.txt --source . --work build/mutate

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
