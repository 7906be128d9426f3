# Set-up, build and tests in two commands: `make test` and `make demo`.

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# FFmpeg's libraries convert songs (-c); the tests make their songs with the
# ffmpeg command.
FFMPEG_PACKAGES := pkg-config libavformat-dev libavcodec-dev \
                   libswresample-dev libavutil-dev
TEST_PACKAGES := libgtest-dev ffmpeg
PACKAGES := cmake g++ make libboost-filesystem-dev libboost-regex-dev \
            libtag1-dev libsqlite3-dev libxxhash-dev \
            $(FFMPEG_PACKAGES) $(TEST_PACKAGES)

.PHONY: all deps configure build test demo bench bench-deps bench-build fuzz fuzz-deps fuzz-build \
        clean FORCE

all: build

# Installs the missing packages with apt-get as root; otherwise names them.
deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" \
	    || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    export DEBIAN_FRONTEND=noninteractive; \
	    apt-get update -q && apt-get install -y -q $$missing; \
	  else \
	    echo "Missing packages:$$missing"; \
	    echo "Install them with: sudo apt-get install$$missing"; \
	    exit 1; \
	  fi; \
	fi

# Extra configure options, e.g. CMAKE_ARGS=-DPLINKARD_SANITIZE=ON with a
# BUILD folder of its own. The build folder remembers the options it was
# configured with and is configured anew, from an empty cache, when they
# change.
CMAKE_ARGS ?=
CONFIGURED = $(BUILD)/.configured-with

$(CONFIGURED): FORCE | deps
	@mkdir -p $(BUILD)
	@echo '$(BUILD_TYPE) $(CMAKE_ARGS)' > $@.new
	@if ! cmp -s $@.new $@ || [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  rm -f $(BUILD)/CMakeCache.txt && \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) && \
	  mv $@.new $@; \
	else rm -f $@.new; fi

configure: $(CONFIGURED)

build: deps $(CONFIGURED)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	sh tools/demo.sh $(BUILD)

# Compares whole runs with find and cp on generated libraries (made once
# under BENCH_DATA, about 2 GiB and 1.6 million files) and prints medians
# and ratios. Not part of `make test`.
BENCH_BUILD ?= build-bench
BENCH_DATA ?= /var/tmp/plinkard-bench
BENCH_RUNS ?= 5
# Runs over the file system that answers after a delay (bench/delay_fs.cpp,
# mounted under BENCH_DATA for those rows), and an earlier build of the
# program for the row pinned to one core (none: no such row).
BENCH_FUSE_RUNS ?= 1
BENCH_BASELINE ?=
bench: bench-build
	$(BENCH_BUILD)/bench/plinkard_bench --plinkard $(BENCH_BUILD)/plinkard \
	  --data $(BENCH_DATA) --runs $(BENCH_RUNS) \
	  --delay-fs $(BENCH_BUILD)/bench/plinkard_delay_fs \
	  --fuse-runs $(BENCH_FUSE_RUNS) \
	  $(if $(BENCH_BASELINE),--baseline $(BENCH_BASELINE))

# The program and the benchmark tools, built but not run; libfuse 3 for the
# delaying file system is installed like the other packages.
bench-deps: deps
	@$(MAKE) --no-print-directory deps PACKAGES="pkg-config libfuse3-dev fuse3"

bench-build: bench-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target plinkard
	cmake -S bench -B $(BENCH_BUILD)/bench -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BENCH_BUILD)/bench -j $(JOBS)

# libFuzzer targets (fuzz/), built with clang and run FUZZ_SECONDS each on a
# corpus that starts from the seeds in fuzz/corpus and grows in the build
# folder, where any crashing input is left as crash-*.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++-14
FUZZ_TARGETS := used_list options tags
fuzz-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="cmake make clang-14 \
	  libclang-rt-14-dev libboost-filesystem-dev libboost-regex-dev \
	  libtag1-dev libsqlite3-dev ffmpeg libxxhash-dev $(FFMPEG_PACKAGES)"

fuzz-build: fuzz-deps
	CXX=$(FUZZ_CXX) cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# The tag reader's seeds are songs of a tenth of a second in each format,
# made by ffmpeg, each behind the byte that makes the fuzzer name it so.
fuzz: fuzz-build
	@mkdir -p $(FUZZ_BUILD)/corpus/tags
	@n=0; for ext in mp3 flac ogg opus m4a wma wav aiff; do \
	  seed=$(FUZZ_BUILD)/corpus/tags/seed-$$ext; \
	  if [ ! -f $$seed ]; then \
	    ffmpeg -nostdin -loglevel error -f lavfi \
	      -i sine=frequency=440:sample_rate=8000:duration=0.1 -ac 1 \
	      -metadata title=T -metadata artist=A -metadata album_artist=B \
	      -metadata disc=2 -metadata track=3 -y $(FUZZ_BUILD)/seed.$$ext && \
	    { printf "\\$$(printf %o $$n)"; cat $(FUZZ_BUILD)/seed.$$ext; } > $$seed; \
	  fi; n=$$((n + 1)); \
	done
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/run-$$t && \
	  (cd $(FUZZ_BUILD)/run-$$t && ../$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) \
	    -print_final_stats=1 $$(test -f $(CURDIR)/fuzz/$$t.dict && \
	    echo -dict=$(CURDIR)/fuzz/$$t.dict) ../corpus/$$t $(CURDIR)/fuzz/corpus/$$t) \
	  || exit 1; \
	done

clean:
	rm -rf $(BUILD)

# The tests of the scan, of the conversions and the others, under
# ThreadSanitizer in a build folder of its own.
TSAN_BUILD ?= build-tsan
TSAN_TESTS ?= Scan|Index|Fault|Interrupt|Tags|Songs|Convert
.PHONY: tsan
tsan:
	$(MAKE) --no-print-directory build BUILD=$(TSAN_BUILD) \
	  CMAKE_ARGS="-DPLINKARD_TSAN=ON -DPLINKARD_WERROR=ON"
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# --- Real FAT32 and exFAT file systems in a QEMU guest (tools/fat-check/).
# Installs its packages when missing, like deps. The harness exits 77 and
# prints SKIPPED when the guest cannot run; make fails then too, unless
# FAT_CHECK_ALLOW_SKIP=1.
FAT_CHECK_ALLOW_SKIP ?= 0

.PHONY: fat-check
fat-check: build
	@st=0; sh tools/fat-check/run $(BUILD) || st=$$?; \
	if [ $$st = 77 ] && [ "$(FAT_CHECK_ALLOW_SKIP)" = 1 ]; then st=0; fi; \
	exit $$st

# --- Install, Debian package, format and lint checks.

PREFIX ?= /usr/local
CLANG_FORMAT ?= clang-format-14
CLANG_TIDY ?= clang-tidy-14
CPPCHECK ?= cppcheck
MANDOC ?= mandoc
PACKAGE_PACKAGES := dpkg-dev file
LINT_PACKAGES := clang-format-14 clang-tidy-14 clang-14 cppcheck mandoc

.PHONY: install package package-deps lint-deps format format-check \
        lint lint-tidy lint-cppcheck lint-man lint-threads

# `make install PREFIX=/usr DESTDIR=/tmp/stage` installs bin/plinkard and
# share/man/man1/plinkard.1 below $(DESTDIR)$(PREFIX).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A .deb in $(BUILD), with its dependencies read by dpkg-shlibdeps.
package: build package-deps
	cd $(BUILD) && cpack -G DEB

package-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGE_PACKAGES)"

lint-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(LINT_PACKAGES)"

# Every tracked C++ file, formatted as .clang-format says.
format-check: lint-deps
	git ls-files '*.cpp' '*.h' | xargs -r $(CLANG_FORMAT) --dry-run --Werror

format: lint-deps
	git ls-files '*.cpp' '*.h' | xargs -r $(CLANG_FORMAT) -i

# clang-tidy (.clang-tidy), cppcheck (.cppcheck), the manual page and the
# threads' locking; each fails on any finding.
lint: lint-tidy lint-cppcheck lint-man lint-threads

# clang-tidy needs only the configured build folder: its compile database
# and the generated version header.
lint-tidy: lint-deps configure
	git ls-files 'src/*.cpp' 'tests/*.cpp' | xargs -r -n 1 -P $(JOBS) \
	  $(CLANG_TIDY) -p $(BUILD) --quiet --warnings-as-errors='*'

lint-cppcheck: lint-deps
	sed -e '/^[[:space:]]*#/d' -e '/^[[:space:]]*$$/d' .cppcheck \
	  | tr '\n' '\0' | xargs -0 $(CPPCHECK) src tests

# Clang's thread-safety analysis over the units that hold threads: a field
# marked GUARDED_BY is touched only with its mutex held, a function marked
# EXCLUSIVE_LOCKS_REQUIRED is called only so (src/os/thread_annotations.h).
# Each unit is compiled, syntax only, with the defines and include paths
# its entry in the build's compile database gives. A folder's shared
# fields (ReadAhead::Folder::book_) are reached only through the annotated
# ReadAhead::book(), so no source file names them.
THREAD_UNITS := src/index/read_ahead.cpp src/index/folder_scan.cpp \
                src/convert/convert_queue.cpp
CLANG_CXX ?= clang++-14
lint-threads: lint-deps configure
	@for u in $(THREAD_UNITS); do \
	  flags=$$(grep -F '"command"' $(BUILD)/compile_commands.json \
	    | grep -F " $(CURDIR)/$$u\"" | grep -oE -- ' -(I|D|std=)[^ ]+'); \
	  if [ -z "$$flags" ]; then \
	    echo "$$u: not in $(BUILD)/compile_commands.json"; exit 1; \
	  fi; \
	  echo "$(CLANG_CXX) -fsyntax-only -Wthread-safety -Werror $$u"; \
	  $(CLANG_CXX) -fsyntax-only -Wthread-safety -Werror $$flags $$u \
	    || exit 1; \
	done
	@if git grep -n 'book_' -- 'src/*.cpp'; then \
	  echo "book_ is reached through ReadAhead::book() alone"; exit 1; \
	fi

# The manual page as CMake makes it from man/plinkard.1.in.
lint-man: lint-deps configure
	$(MANDOC) -Tlint -W style $(BUILD)/plinkard.1
