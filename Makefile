# Wraps CMake (Ninja, build folder build/). Every target installs missing packages first.
BUILD_DIR  ?= build
CMAKE_ARGS ?=
JOBS       ?= 2

.PHONY: all deps configure build run test test-asan test-tsan fuzz coverage demo screenshots bench package format format-check clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
	    cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS); \
	elif [ -n "$(CMAKE_ARGS)" ]; then \
	    cmake $(BUILD_DIR) $(CMAKE_ARGS); \
	fi

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/app/mervik-connect

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite built with AddressSanitizer and UBSan in $(BUILD_DIR)/asan: leaks reported (Qt's own are
# named in scripts/lsan.supp), the first UBSan report ends the test.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
           LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
           UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
test-asan: deps
	@cmake -S . -B $(BUILD_DIR)/asan -G Ninja -DMERVIK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD_DIR)/asan -j $(JOBS)
	@cd $(BUILD_DIR)/asan && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS)

# Every parser's fuzz target (tests/fuzz) built with clang in $(BUILD_DIR)/fuzz and run FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
fuzz: deps
	@CMAKE_ARGS="$(CMAKE_ARGS)" JOBS=$(JOBS) ./scripts/fuzz.sh $(BUILD_DIR)/fuzz $(FUZZ_SECONDS)

# The tests that run threads (commands from other threads, the servers pool, the search, the direct
# connection) built with ThreadSanitizer in $(BUILD_DIR)/tsan. Qt's own locking is not instrumented: what
# it orders is named in scripts/tsan.supp. Reports go to $(BUILD_DIR)/tsan/tsan-logs/, one file a process.
TSAN_TESTS = tst_cdevice tst_alibifirmware tst_kx40 tst_cinterfacemodule tst_modulesim tst_pelmlog \
             tst_csearching tst_searchcontroller tst_devicepage tst_reachability tst_reconnector \
             tst_mainwindow
TSAN_LOGS  = $(abspath $(BUILD_DIR))/tsan/tsan-logs
TSAN_ENV   = TSAN_OPTIONS=suppressions=$(CURDIR)/scripts/tsan.supp:halt_on_error=0:second_deadlock_stack=1:log_path=$(TSAN_LOGS)/report
# Without address randomisation: some kernels map memory where ThreadSanitizer expects its shadow.
NO_ASLR    = $(shell setarch $$(uname -m) -R true 2>/dev/null && echo setarch $$(uname -m) -R)
test-tsan: deps
	@cmake -S . -B $(BUILD_DIR)/tsan -G Ninja -DMERVIK_TSAN=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD_DIR)/tsan -j $(JOBS) --target $(TSAN_TESTS)
	@rm -rf $(TSAN_LOGS) && mkdir -p $(TSAN_LOGS)
	@cd $(BUILD_DIR)/tsan && $(TSAN_ENV) $(NO_ASLR) ctest --output-on-failure -j $(JOBS) \
	    -R '^($(subst $(eval) ,|,$(strip $(TSAN_TESTS))))$$'; \
	    status=$$?; $(CURDIR)/scripts/tsan-report.sh $(TSAN_LOGS); exit $$status

# Its own instrumented build in build/coverage-build; the HTML report goes to build/coverage/.
coverage: deps
	@CMAKE_ARGS="$(CMAKE_ARGS)" JOBS=$(JOBS) ./scripts/coverage.sh

demo: build
	@./scripts/demo.sh $(BUILD_DIR)

screenshots: build
	@./scripts/screenshots.sh $(BUILD_DIR)

bench: build
	@./scripts/bench.sh $(BUILD_DIR)

# build/mervik-connect_VERSION_amd64.deb: the three programs, desktop entry, icon and manual pages.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

format:
	@./scripts/check-format.sh --fix

format-check:
	@./scripts/check-format.sh

clean:
	rm -rf $(BUILD_DIR)
