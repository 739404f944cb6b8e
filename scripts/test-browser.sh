#!/usr/bin/env bash
# The browser lane: builds Tovrel.html (scripts/build-page.sh) and the native tool, then drives the page
# in Debian's headless Chromium through playwright-core from npm (tests/browser/page_test.mjs): packs and
# unpacks through its file input, compares every download and every printed line with the native
# tool's, and counts the requests that would leave the machine. Installs what is missing first; when
# that cannot be done it prints a "skipped" line and exits 0. Any other failure fails the lane.
# Usage: scripts/test-browser.sh [LINUX_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}

packages=(cmake make g++ zlib1g-dev libgtest-dev emscripten dpkg-dev chromium)
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
if ! bash scripts/install-deps.sh "${packages[@]}"; then
  echo "browser lane: skipped: cannot install ${packages[*]}"
  exit 0
fi
if ! (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null); then
  echo "browser lane: skipped: cannot install playwright-core from the npm registry"
  exit 0
fi

bash scripts/build-page.sh
if [ ! -x "$linux_build/tovrel" ]; then
  cmake -S . -B "$linux_build" -DTOVREL_WERROR=ON >/dev/null
  cmake --build "$linux_build" --target tovrel -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi

page=build-web/Tovrel.html
echo "browser: $page is $(wc -c <"$page") bytes, $(gzip -9c "$page" | wc -c) gzipped"
TOVREL_PAGE="$page" TOVREL_TOOL="$linux_build/tovrel" node --test tests/browser/
echo "browser lane: passed"
