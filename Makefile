# vorlane_core: build, test, demo.
#   make demo   - install what is missing, build, and check the bundled example run
#   make test   - install what is missing, build, and run the whole test suite
PYTHON ?= python3
PIP := $(PYTHON) -m pip
APT_PACKAGES := libpcre2-dev nlohmann-json3-dev libcurl4-openssl-dev libicu-dev pkg-config g++ cmake
PY_PACKAGES := scikit-build-core nanobind pytest hypothesis ninja
BUILD_DIR := build/release

.PHONY: deps install demo test test-cpp inspect bench clean

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
test: install test-cpp
	cd tests && $(PYTHON) -m pytest -q

# C++ unit tests of the core (no Python involved).
test-cpp: deps
	cmake -S . -B build/cpp-tests -DVORLANE_CPP_TESTS=ON -DVORLANE_PYTHON=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/cpp-tests -j2
	@set -e; for t in build/cpp-tests/test_*; do [ -x "$$t" ] && "$$t"; done

bench: install
	$(PYTHON) -P bench/bench_extract.py
	@[ ! -f bench/bench_verify.py ] || $(PYTHON) -P bench/bench_verify.py

clean:
	rm -rf build
