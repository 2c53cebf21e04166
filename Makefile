# make test  : install missing packages, build with ASan/UBSan, run every test in the sandbox
# make tsan  : install missing packages, build with ThreadSanitizer, run every test in the sandbox
#              (a race reported by any process under a test fails it)
# make run   : install missing packages, release build, start the gateway in the sandbox
# make bench : release build of the benchmarks under bench/, run them
JOBS ?= $(shell nproc)

.PHONY: test tsan run bench deps clean

deps:
	@scripts/install-deps

test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVK_SANITIZE=ON -DVK_TESTS=ON
	cmake --build build/test -j $(JOBS)
	scripts/sandbox ctest --test-dir build/test -j $(JOBS) --output-on-failure

tsan: deps
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVK_TSAN=ON -DVK_TESTS=ON
	cmake --build build/tsan -j $(JOBS)
	scripts/sandbox ctest --test-dir build/tsan -j $(JOBS) --output-on-failure

run: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVK_TESTS=OFF
	cmake --build build/release -j $(JOBS)
	scripts/sandbox scripts/run-gateway build/release

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVK_TESTS=OFF -DVK_BENCH=ON -DCMAKE_CXX_FLAGS=-O2
	cmake --build build/bench -j $(JOBS)
	scripts/run-bench build/bench

clean:
	rm -rf build
