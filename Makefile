# vorlane_core: build, test, demo.
#   make demo   - install what is missing, build, and check the bundled example run
#   make test   - install what is missing, build, and run the whole test suite
#                 (also under ASan + UBSan, and the core under ThreadSanitizer)
#   make fuzz   - run every fuzz target for FUZZ_SECONDS (default 60) each
#   make test-asan / test-tsan - the sanitizer runs on their own
PYTHON ?= python3
PIP := $(PYTHON) -m pip
APT_PACKAGES := libpcre2-dev nlohmann-json3-dev libcurl4-openssl-dev libicu-dev pkg-config g++ cmake
PY_PACKAGES := scikit-build-core nanobind pytest hypothesis ninja
BUILD_DIR := build/release

.PHONY: deps install demo test test-cpp inspect bench clean fuzz-deps fuzz test-asan test-tsan

deps:
	@missing=""; for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
	@$(PIP) install -q --disable-pip-version-check $(PY_PACKAGES) 2>&1 | grep -v -i 'warning' || true

install: deps
	$(PIP) install -q --disable-pip-version-check --no-build-isolation -C build-dir=$(BUILD_DIR) .

demo: install
	cd examples && vorlane check report.md --log run.json; status=$$?; [ $$status -le 1 ]

inspect: install
	$(PYTHON) -m vorlane_core.extract examples/report.md

# Run from tests/ so that the source tree's vorlane_core/ (which has no
# compiled modules) never shadows the installed package, in the tests or in
# the commands they start.
test: install test-cpp test-asan test-tsan
	cd tests && $(PYTHON) -m pytest -q

# C++ unit tests of the core (no Python involved).
test-cpp: deps
	cmake -S . -B build/cpp-tests -DVORLANE_CPP_TESTS=ON -DVORLANE_PYTHON=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/cpp-tests -j2
	@set -e; for t in build/cpp-tests/test_*; do [ -x "$$t" ] && "$$t"; done

# Hardening (fuzz/Makefile holds the clang builds).  The fuzz targets and the
# ThreadSanitizer driver need clang 14 and its runtime libraries.
FUZZ_APT_PACKAGES := clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=

fuzz-deps: deps
	@missing=""; for p in $(FUZZ_APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

# Every fuzz target (fuzz/fuzz_*.cpp) for FUZZ_SECONDS each (or FUZZ_RUNS
# executions each), after replaying the inputs kept under tests/regressions/;
# execution counts go to fuzz/out/summary.txt.
fuzz: fuzz-deps
	$(MAKE) -f fuzz/Makefile fuzz FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) PYTHON=$(PYTHON)

# The core run from 8 threads on shared inputs under ThreadSanitizer.
test-tsan: fuzz-deps
	$(MAKE) -f fuzz/Makefile tsan

# The modules built with ASan + UBSan into their own directory (never over
# the installed package), and the whole test suite run against them with the
# runtime preloaded (libstdc++ too, so that ASan finds __cxa_throw).  Python
# itself leaks at exit, hence detect_leaks=0; any UBSan report fails the run.
ASAN_SITE := build/asan-site
ASAN_BUILD := build/asan
ASAN_PYTEST_ARGS ?= -x -q -p no:cacheprovider
ASAN_HYPOTHESIS_EXAMPLES ?= 300

test-asan: deps
	VORLANE_SANITIZE=address,undefined $(PIP) install -q --disable-pip-version-check --root-user-action=ignore \
	  --no-build-isolation --no-deps --upgrade --target $(ASAN_SITE) -C build-dir=$(ASAN_BUILD) .
	cd tests && env LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libstdc++.so)" \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  PYTHONPATH=$(CURDIR)/$(ASAN_SITE) VORLANE_HYPOTHESIS_EXAMPLES=$(ASAN_HYPOTHESIS_EXAMPLES) \
	  $(PYTHON) -m pytest $(ASAN_PYTEST_ARGS)

bench: install
	$(PYTHON) -P bench/bench_extract.py
	@[ ! -f bench/bench_verify.py ] || $(PYTHON) -P bench/bench_verify.py

clean:
	rm -rf build
