comma := ,
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build sanitize-build run test check bench fuzz mutants install package clean format

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program runs from run/, outside the build tree, so its records (run/Data)
# outlive make clean and any rm -rf build.
RUN ?= run
run: build
	@mkdir -p $(RUN)
	@cp $(BUILD)/varnlock $(RUN)/.varnlock.new && mv -f $(RUN)/.varnlock.new $(RUN)/varnlock
	@cp $(BUILD)/libvarnlock-window.so $(RUN)/.window.new && mv -f $(RUN)/.window.new $(RUN)/libvarnlock-window.so
	@rm -rf $(RUN)/Help && cp -r $(BUILD)/Help $(RUN)/Help
	$(RUN)/varnlock

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize-build: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNLOCK_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)

# Every test, then the unit and GUI tests again under the sanitizers (the kill
# tests, which prove file safety rather than memory safety, run once). The
# sanitizer's own dlopen hides the program's search path from the loader, so
# the window's library is named on LD_LIBRARY_PATH there.
test: build sanitize-build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZE_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    LD_LIBRARY_PATH=$(CURDIR)/$(SANITIZE_BUILD) \
	    ctest --output-on-failure -j $(JOBS) -LE 'kill|package|memory|sync'

# The quick loop: one build, the unit and GUI tests, none of the kill,
# bad-input or package suites.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE 'kill|badinput|package'

# RECORDS=1000,10000 picks the sizes; the default runs 1,000 to 1,000,000.
bench: build
	$(BUILD)/bench/varnlock_bench $(if $(RECORDS),--records $(RECORDS))

fuzz:
	@sh tools/install-deps.sh fuzz
	@sh tools/fuzz.sh

# Each security check broken on purpose, one at a time: a test must notice.
# MUTANTS=name,... picks some.
mutants:
	@sh tools/install-deps.sh mutants
	@python3 tools/security-mutants.py $(subst $(comma), ,$(MUTANTS))

# The installed files are linked again without the build tree's search path
# (preinstall), then copied; PREFIX=DIR installs elsewhere than ~/.local.
install: build
	cmake --build $(BUILD) --target preinstall
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package (build/varnlock_*.deb) installing under /usr.
package: build
	cd $(BUILD) && cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@sh tools/clean.sh $(BUILD) build-fuzz build-sanitize
