BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build sanitize-build run test bench fuzz install clean format

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/varnlock

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize-build: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNLOCK_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)

# Every test, then the unit and GUI tests again under the sanitizers (the kill
# tests, which prove file safety rather than memory safety, run once).
test: build sanitize-build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZE_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -j $(JOBS) -LE kill

bench: build
	$(BUILD)/bench/varnlock_bench

fuzz:
	@sh tools/install-deps.sh fuzz
	@sh tools/fuzz.sh

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-fuzz build-sanitize
