#!/usr/bin/env bash
# Runs the whole test suite: the native build (g++) and its Linux package, the sanitizer build (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer), short fuzz runs, the browser page in Chromium,
# Firefox and WebKitGTK, the Windows build under Wine (its ZIP with the page), and the release built
# twice, which must give the same bytes.
# Installs what is missing first. Exits non-zero when any lane fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev file

werror=ON
jobs=$(nproc 2>/dev/null || echo 2)

echo "== native lane (g++) =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_WERROR=$werror >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure

echo "== package lane =="
scripts/test-package.sh build

# a lane whose tools cannot be installed says "skipped" and goes on; .ci/run makes that a failure
for lane in sanitize fuzz browser windows; do
  echo "== $lane lane =="
  bash "scripts/test-$lane.sh"
done
# last: it reuses zlib's source the browser lane fetched
echo "== reproducible lane =="
bash scripts/test-reproducible.sh
echo "all lanes passed"
