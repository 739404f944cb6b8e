#!/usr/bin/env bash
# The sanitizer lane: builds everything with clang++ under AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings as errors) in build-asan and runs the whole test suite there.
# Any sanitizer report stops the offending process and fails the lane.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake make clang zlib1g-dev libgtest-dev

jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
  -DTOVREL_SANITIZE=ON -DTOVREL_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"

# Leak checking stays on: LeakSanitizer runs here (root, no ptrace restriction) and a leak is a bug.
# halt_on_error makes the first report fatal, so ctest sees a failed test rather than a log line.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure
