# zepdemux — top-level commands. `make test` and `make run` do all set-up on a
# fresh Debian machine: missing packages are installed with apt-get (as root;
# otherwise the command says which to install), then CMake configures and builds.

JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
BUILD     ?= build/release
ASAN      ?= build/sanitize
FUZZBUILD ?= build/fuzz
COVBUILD  ?= build/coverage
CMAKE_FLAGS ?=

PACKAGES := cmake make g++ clang lld libclang-rt-14-dev pkg-config \
  zlib1g-dev libfreetype-dev libfontconfig-dev libpng-dev fonts-dejavu-core \
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev \
  ffmpeg mkvtoolnix time valgrind gcovr doxygen abigail-tools python3-jsonschema

.PHONY: all deps configure build test golden sanitize-build test-sanitize test-damage test-valgrind fuzz-campaign test-abi abi-baseline coverage docs fuzz fuzz-regress run bench test-large format clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	  else \
	    echo "Please install these Debian packages:$$missing"; exit 1; \
	  fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# Writes the golden packet lists of tests/golden anew (review the diff).
golden: build
	tests/golden/check-golden $(BUILD)/tools/zepdemux/zepdemux . --update

# The sanitizer build uses clang, so that both compilers build the tree in CI.
sanitize-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DZEP_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1 >/dev/null
	cmake --build $(ASAN) -j $(JOBS)

test-sanitize: sanitize-build
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900

# The ABI of the sixteen exports against the checked-in baseline: any change
# of a signature or of a record the exports reach fails. After a deliberate
# change (and a new soname), `make abi-baseline` writes the baseline anew.
ABI_DUMP = abidw --no-corpus-path --no-comp-dir-path --no-show-locs --drop-undefined-syms \
  --exported-interfaces-only --suppressions api/abi/zepdemux.supp
test-abi: build
	@mkdir -p $(BUILD)/abi
	$(ABI_DUMP) $(BUILD)/api/libzepdemux.so > $(BUILD)/abi/zepdemux.abi
	abidiff --suppressions api/abi/zepdemux.supp api/abi/zepdemux.abi $(BUILD)/abi/zepdemux.abi
	@echo "ABI unchanged: $$(grep -c '<elf-symbol ' api/abi/zepdemux.abi) exported functions"

abi-baseline: build
	$(ABI_DUMP) $(BUILD)/api/libzepdemux.so > api/abi/zepdemux.abi

# Line and branch coverage of the library and the CLI by the whole suite: a
# summary per folder on the terminal, file by file in $(COVBUILD)/html/.
# Branches that only throw or that gcc proves unreachable are not counted.
coverage: deps
	cmake -S . -B $(COVBUILD) -DCMAKE_BUILD_TYPE=Debug -DZEP_COVERAGE=ON >/dev/null
	cmake --build $(COVBUILD) -j $(JOBS)
	find $(COVBUILD) -name '*.gcda' -delete
	cd $(COVBUILD) && ctest -j $(JOBS) --timeout 900 >ctest.log 2>&1 || { tail -n 40 ctest.log; exit 1; }
	mkdir -p $(COVBUILD)/html
	gcovr -r . --object-directory $(COVBUILD) -j $(JOBS) \
	  --filter '(api|layer1|platform|modules|tools)/' \
	  --exclude-throw-branches --exclude-unreachable-branches \
	  --json-summary $(COVBUILD)/summary.json \
	  --html-details $(COVBUILD)/html/index.html >/dev/null
	python3 scripts/coverage-summary.py $(COVBUILD)/summary.json | tee $(COVBUILD)/summary.txt

# The reference of the C interface in build/docs/html; fails when one of the
# sixteen exports lacks its documentation or a parameter goes undescribed.
docs: deps
	@mkdir -p build/docs
	doxygen docs/Doxyfile
	@if grep -n 'zepDemux' build/docs/warnings.log; then echo "undocumented exports (above)"; exit 1; fi
	@for f in $$(sed -n 's/^ZEPDEMUX_API[^(]*[ *]\(zepDemux[A-Za-z]*\)(.*/\1/p' api/zep_demux.h); do \
	  grep -q "$$f" build/docs/html/zep__demux_8h.html || { echo "$$f is missing from the reference"; exit 1; }; \
	done
	@echo "build/docs/html/index.html"

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEP_FUZZ=ON >/dev/null
	cmake --build $(FUZZBUILD) -j $(JOBS)

# Replays every fuzz target over its checked-in corpus: a regression run.
# Undefined behaviour stops it like a crash does.
fuzz-regress: fuzz
	@set -e; for t in $(FUZZBUILD)/fuzz/fuzz_*; do \
	  [ -x "$$t" ] || continue; name=$$(basename $$t); \
	  echo "== $$name"; \
	  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	      $$t -runs=0 fuzz/corpus/$${name#fuzz_} > $(FUZZBUILD)/$$name.log 2>&1; then \
	    tail -n 40 $(FUZZBUILD)/$$name.log; exit 1; fi; \
	  tail -n 1 $(FUZZBUILD)/$$name.log; \
	done

# The suite's test programs under valgrind's memcheck (programs they start,
# such as the CLI or ffmpeg, run natively): any error or definite leak fails.
VGBUILD ?= build/valgrind
VALGRIND = valgrind;--error-exitcode=99;--leak-check=full;--errors-for-leak-kinds=definite;--show-leak-kinds=definite;--track-origins=yes;--suppressions=$(CURDIR)/tests/valgrind.supp
VGTESTS ?=
test-valgrind: deps
	cmake -S . -B $(VGBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CROSSCOMPILING_EMULATOR=$(VALGRIND)" \
	  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
	cmake --build $(VGBUILD) -j $(JOBS)
	cd $(VGBUILD) && ctest --output-on-failure -j $(JOBS) --timeout 3000 $(if $(VGTESTS),-R '$(VGTESTS)')

# The damaged-file sweep: the generated real files and the samples, cut and
# bit-flipped (seeded), read to the end and seeked by the sanitizer build's CLI.
test-damage: sanitize-build
	python3 tests/damage/damage_sweep.py $(ASAN)/tools/zepdemux/zepdemux .

# A fuzzing campaign: FUZZ_SECONDS per target (or FUZZ_RUNS executions),
# every target or those named in FUZZ_TARGETS; MERGE=1 merges what adds
# coverage into fuzz/corpus. See fuzz/run-campaign.
FUZZ_SECONDS ?= 600
FUZZ_RUNS    ?= 0
FUZZ_TARGETS ?=
fuzz-campaign: fuzz
	fuzz/run-campaign $(FUZZBUILD) $(FUZZ_SECONDS) $(FUZZ_RUNS) $(FUZZ_TARGETS)

# The opt-in test on a generated OpenDML file beyond 1 GiB (needs 4 GiB free).
test-large: build
	cd $(BUILD) && ZEP_TEST_LARGE=1 ctest -L large --output-on-failure

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DZEP_BENCH=ON -DZEP_BUILD_TESTS=OFF >/dev/null
	cmake --build build/bench -j $(JOBS)

# The bundled sample (samples/make-samples.sh made it) through the CLI.
run: build
	$(BUILD)/tools/zepdemux/zepdemux info samples/sample.avi
	$(BUILD)/tools/zepdemux/zepdemux packets samples/sample.avi | head -n 12
	$(BUILD)/tools/zepdemux/zepdemux info samples/sample.mkv
	$(BUILD)/tools/zepdemux/zepdemux packets samples/sample.mkv | head -n 12

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build
