# Entry points. Every target first makes sure the machine has what the build needs.
JOBS ?= 2
CTEST_NATIVE = ctest --test-dir build/native --output-on-failure -j$(JOBS) --timeout 600

.PHONY: all bootstrap native release windows win64 win32 test test-native test-windows layout \
        demo bench fuzz asan tsan clean

all: native

bootstrap:
	@scripts/bootstrap

native: bootstrap
	@cmake --preset native >/dev/null
	@cmake --build --preset native

release: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release

win64: bootstrap
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64

win32: bootstrap
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

windows: win64 win32

# Native tests, then the Windows builds, then the portable tests under Wine and the
# comparison of the two layout outputs.
test: native windows
	@$(CTEST_NATIVE)
	@scripts/windows-tests

# FILE=path plays a WAV or DSF file of your own instead of the demo's signals.
demo: native
	@scripts/demo $(FILE)

bench: release
	@scripts/run-benchmarks

fuzz: bootstrap
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run-fuzzers

asan: bootstrap
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --test-dir build/asan --output-on-failure -j$(JOBS) --timeout 900

tsan: bootstrap
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir build/tsan --output-on-failure -j$(JOBS) --timeout 900

clean:
	rm -rf build
