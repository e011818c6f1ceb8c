# The two commands a newcomer needs: `make run` and `make test`. Everything installs what it lacks first.
JOBS ?= $(shell nproc)
CTEST_JOBS ?= $(JOBS)
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test test-debug test-asan test-tsan test-release-build test-package package bench soak fuzz fuzz-deep fuzz-report trials format clean

all: build

deps:
	@bash scripts/install-deps

build/debug/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset debug

build: deps build/debug/build.ninja
	cmake --build --preset debug -j $(JOBS)

# The main job: the desktop client against the local default (a bundled server on this machine).
run: build
	bash scripts/run-local

test: deps test-debug test-asan test-tsan test-release-build test-package

test-debug:
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(CTEST_JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(CTEST_JOBS)

# Everything without Qt (Debian's Qt is not built for ThreadSanitizer): the engines, the session and call
# logic, velaphond and velaphon-cli, and the integration tests that run them.
test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(CTEST_JOBS)

# Compiled only: -O3 lets GCC see warnings the debug builds never show, and warnings are errors.
test-release-build:
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

# The Debian packages made from that build, checked and run unpacked.
test-package: test-release-build
	ctest --preset release -L package

# Three Debian packages (velaphon, velaphond, velaphon-cli) in build/release/packages/.
package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cd build/release && cpack -G DEB

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	bash scripts/run-bench build/release

# One long call through a local server with sound, chat and video both ways; memory, CPU and losses are
# reported in build/soak/report.md. SOAK_MINUTES sets its length.
SOAK_MINUTES ?= 30
soak: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target velaphond velaphon-cli
	SOAK_MINUTES=$(SOAK_MINUTES) bash scripts/soak

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/run-fuzz build/fuzz $(FUZZ_SECONDS)

# Campaigns that add up across runs: every harness for its share of FUZZ_MINUTES, from the corpus it has
# grown so far; the minimised corpora go back into tests/fuzz/corpus (commit them).
FUZZ_MINUTES ?= 60
fuzz-deep: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/fuzz-deep build/fuzz $(FUZZ_MINUTES)

# What the campaigns add up to per harness: time, executions, findings, line coverage.
fuzz-report: deps
	cmake --preset fuzz-cov
	cmake --build --preset fuzz-cov -j $(JOBS) --target fuzzers
	bash scripts/fuzz-report build/fuzz-cov

# Fault trials, minutes long and not part of make test: the server killed under a session and under a call,
# kill -9 during settings saves, a call through a relay that delays, caps, stalls and resets the link.
# TRIALS_N sets the rounds of the repeated ones (default 100).
trials: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target trials velaphond velaphon-cli
	build/debug/bin/trials --report build/trials/report.md

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
