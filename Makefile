# vorlane_core: build, test, demo, wheel.
#   make demo    build, install and check the bundled example run
#   make test    everything CI runs (.ci/run): the suite on every Python of
#                PYTHON_VERSIONS, the C++ tests, the ASan/UBSan suite, the
#                ThreadSanitizer driver, the fuzz targets' regression replay and
#                a short campaign, the typing checks and the wheel check
#   make wheel   a manylinux wheel with its libraries bundled, built from the sdist
#   make fuzz    every fuzz target for FUZZ_SECONDS (default 60) each
#
# PYTHON (default python3) picks the interpreter.  When it runs inside a
# virtual environment, that one is used; otherwise .venv is made from it.
# The other versions of PYTHON_VERSIONS get .venv-<version>, made from the
# interpreter of that version found on PATH or in pyenv (an entry may also be
# the path of an interpreter).  tools/venv.sh does this and installs
# requirements-test.txt, the one list of PyPI packages.  Debian packages that
# are missing are installed with apt-get where it is available; then
# tools/check_system.sh checks every tool and library at once and names the
# package of each missing one.
PYTHON ?= python3
PYTHON_VERSIONS ?= 3.11 3.12 3.13
JOBS ?= 2
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

APT_PACKAGES := g++ cmake pkg-config libpcre2-dev libcurl4-openssl-dev nlohmann-json3-dev python3-venv
# The HTML view's tests render it in a headless browser.
TEST_APT_PACKAGES := chromium
# The fuzz targets and the ThreadSanitizer driver are built with clang.
FUZZ_APT_PACKAGES := clang libclang-rt-14-dev

# The interpreter of the environment to build in (made on first use).
VENV = tools/venv.sh "$(PYTHON)"
PIP_INSTALL = -m pip install -q --disable-pip-version-check --no-build-isolation
# Each part of `make test` is timed; the times go to build/test-times.txt.
TIMED = tools/timed.sh

.PHONY: deps fuzz-deps install demo inspect test test-python test-cpp test-asan test-tsan \
        test-fuzz fuzz-build wheel sdist test-wheel fuzz bench clean

deps:
	@tools/apt_install.sh $(APT_PACKAGES)
	@sh tools/check_system.sh

fuzz-deps: deps
	@tools/apt_install.sh $(FUZZ_APT_PACKAGES)
	@command -v clang++ >/dev/null || { echo "clang++ not found (Debian: clang libclang-rt-14-dev; Fedora: clang compiler-rt; Homebrew: llvm)" >&2; exit 1; }

install: deps
	py=$$($(VENV)) && v=$$($$py -c 'import sys; print("%d.%d" % sys.version_info[:2])') && \
	  $$py $(PIP_INSTALL) --config-settings=build-dir=build/py$$v .

# The example's exit status is 1: one of its claims is contradicted.
demo: install
	py=$$($(VENV)) || exit 1; cd examples; $$py -m vorlane_core check report.md --log run.json; \
	  status=$$?; [ $$status -le 1 ]

inspect: install
	py=$$($(VENV)) && $$py -m vorlane_core.extract examples/report.md

# Run from tests/ so that the source tree's vorlane_core/ (which has no
# compiled modules) never shadows the installed package, in the tests or in
# the commands they start; with the environment's bin/ first on PATH, as if
# it were activated (the `vorlane` command found is the one under test).
test: deps
	@tools/apt_install.sh $(TEST_APT_PACKAGES)
	@rm -f build/test-times.txt
	@set -e; for v in $(PYTHON_VERSIONS); do $(MAKE) --no-print-directory test-python TEST_PYTHON=$$v; done
	@$(MAKE) --no-print-directory test-cpp test-asan test-tsan test-fuzz test-wheel
	@echo "== time per part (s):"; cat build/test-times.txt

# The suite (typing checks included) on one interpreter: TEST_PYTHON is a
# version (3.12) or an interpreter's path.
TEST_PYTHON ?= $(PYTHON)
PYTEST_ARGS ?= -q -rs
test-python: deps
	@case "$(TEST_PYTHON)" in [0-9]*) py=$$(tools/venv.sh "$(PYTHON)" $(TEST_PYTHON));; *) py=$$(tools/venv.sh "$(TEST_PYTHON)");; esac && \
	  v=$$($$py -c 'import sys; print("%d.%d" % sys.version_info[:2])') && \
	  $(TIMED) "build, Python $$v" $$py $(PIP_INSTALL) --config-settings=build-dir=build/py$$v . && \
	  cd tests && PATH="$$(dirname $$py):$$PATH" ../$(TIMED) "pytest, Python $$v" $$py -m pytest $(PYTEST_ARGS)

# C++ unit tests of the core (no Python involved), through CTest; the
# character tables come from the same interpreter as the modules'.
test-cpp: deps
	py=$$($(VENV)) && cmake -S . -B build/cpp-tests -DVORLANE_CPP_TESTS=ON -DVORLANE_PYTHON=OFF \
	  -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$py >/dev/null
	$(TIMED) "C++ tests: build" cmake --build build/cpp-tests
	$(TIMED) "C++ tests: ctest" ctest --test-dir build/cpp-tests --output-on-failure

# The modules built with ASan + UBSan into their own directory (never over
# the installed package), and the whole test suite run against them with the
# runtime preloaded (libstdc++ too, so that ASan finds __cxa_throw).  Python
# itself leaks at exit, hence detect_leaks=0; any UBSan report fails the run.
ASAN_SITE := build/asan-site
ASAN_BUILD := build/asan
ASAN_PYTEST_ARGS ?= -x -q -p no:cacheprovider
ASAN_HYPOTHESIS_EXAMPLES ?= 300

test-asan: deps
	py=$$($(VENV)) && VORLANE_SANITIZE=address,undefined $(TIMED) "ASan build" $$py $(PIP_INSTALL) \
	  --no-deps --upgrade --target $(ASAN_SITE) --config-settings=build-dir=$(ASAN_BUILD) . && \
	cd tests && env PATH="$$(dirname $$py):$$PATH" LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libstdc++.so)" \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  PYTHONPATH=$(CURDIR)/$(ASAN_SITE) VORLANE_HYPOTHESIS_EXAMPLES=$(ASAN_HYPOTHESIS_EXAMPLES) \
	  ../$(TIMED) "ASan pytest" $$py -m pytest $(ASAN_PYTEST_ARGS)

# The core run from 8 threads on shared inputs under ThreadSanitizer (CTest).
test-tsan: fuzz-deps
	py=$$($(VENV)) && cmake -S . -B build/tsan -DVORLANE_TSAN=ON -DVORLANE_PYTHON=OFF \
	  -DCMAKE_CXX_COMPILER=clang++ -DPython_EXECUTABLE=$$py >/dev/null
	$(TIMED) "TSan build" cmake --build build/tsan
	$(TIMED) "TSan driver" ctest --test-dir build/tsan --output-on-failure

# The libFuzzer targets (ASan + UBSan): the inputs kept under
# tests/regressions/ replayed (CTest), then FUZZ_CI_RUNS executions each.
FUZZ_BUILD := build/fuzz
FUZZ_CI_RUNS ?= 20000
fuzz-build: fuzz-deps
	py=$$($(VENV)) && cmake -S . -B $(FUZZ_BUILD) -DVORLANE_FUZZ=ON -DVORLANE_PYTHON=OFF \
	  -DCMAKE_CXX_COMPILER=clang++ -DPython_EXECUTABLE=$$py >/dev/null
	$(TIMED) "fuzz build" cmake --build $(FUZZ_BUILD)

test-fuzz: fuzz-build
	$(TIMED) "fuzz replay" ctest --test-dir $(FUZZ_BUILD) --output-on-failure
	py=$$($(VENV)) && FUZZ_RUNS=$(FUZZ_CI_RUNS) PYTHON=$$py $(TIMED) "fuzz, $(FUZZ_CI_RUNS) runs each" fuzz/run.sh $(FUZZ_TARGETS)

# Every fuzz target (fuzz/fuzz_*.cpp) for FUZZ_SECONDS each (or FUZZ_RUNS
# executions each), after replaying the inputs kept under tests/regressions/;
# execution counts go to fuzz/out/summary.txt.
FUZZ_TARGETS ?= extract verify json classify
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
fuzz: fuzz-build
	py=$$($(VENV)) && FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) PYTHON=$$py fuzz/run.sh $(FUZZ_TARGETS)

# The sdist, a wheel built from it, and that wheel repaired by auditwheel
# into a manylinux wheel that bundles PCRE2, libcurl and their dependencies.
sdist: deps
	rm -rf dist/sdist && py=$$($(VENV)) && $$py -m build --sdist --no-isolation --outdir dist/sdist .

wheel: sdist
	rm -rf dist/raw dist/wheel && py=$$($(VENV)) && \
	  $$py -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
	    --config-settings=build-dir=$(CURDIR)/build/wheel -w dist/raw dist/sdist/*.tar.gz && \
	  PATH="$$(dirname $$py):$$PATH" $$py -m auditwheel repair -w dist/wheel dist/raw/*.whl && ls -l dist/wheel

# The repaired wheel installed into a fresh virtual environment: the demo
# runs from there, with the bundled libraries the ones loaded.
test-wheel: deps
	@py=$$($(VENV)) && $(TIMED) "wheel: sdist, build, repair" $(MAKE) --no-print-directory wheel && \
	  $(TIMED) "wheel: fresh install and demo" $$py tools/check_wheel.py dist/wheel/*.whl

bench: install
	py=$$($(VENV)) && for b in bench/bench_*.py; do echo "== $$b"; $$py -P $$b || exit 1; done

clean:
	rm -rf build dist
