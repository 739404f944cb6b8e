#!/usr/bin/env bash
# The browser lane: builds Tovrel.html (scripts/build-page.sh) and the native tool, then drives the page
# in Debian's Chromium (playwright-core), Firefox ESR (puppeteer-core, WebDriver BiDi) and WebKitGTK
# (selenium-webdriver and WebKitWebDriver, under xvfb-run), each from file:// and over HTTP
# (tests/browser/page_test.mjs): packs and unpacks through its inputs and a drop, compares every
# download and every printed line with the native tool's, and counts the requests that would leave the
# machine. Installs what is missing first (npm packages pinned by tests/browser/package-lock.json; no
# browser is downloaded); when that cannot be done it prints a "skipped" line and exits 0 (or fails,
# under TOVREL_REQUIRE_ALL_LANES=1: scripts/skip-lane.sh). Any other failure fails the lane.
# Usage: scripts/test-browser.sh [LINUX_BUILD_DIR]      (TOVREL_ENGINES=chromium,firefox,webkit by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/skip-lane.sh
linux_build=${1:-build}

packages=(cmake make g++ zlib1g-dev libgtest-dev emscripten dpkg-dev chromium firefox-esr webkit2gtk-driver xvfb xauth python3)
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
if ! bash scripts/install-deps.sh "${packages[@]}"; then
  skip_lane browser "cannot install ${packages[*]}"
fi
# the drivers only: the browsers are Debian's
export PUPPETEER_SKIP_DOWNLOAD=1 PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
if ! (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null); then
  skip_lane browser "cannot install the drivers (tests/browser/package.json) from the npm registry"
fi

bash scripts/build-page.sh
if [ ! -x "$linux_build/tovrel" ]; then
  cmake -S . -B "$linux_build" -DTOVREL_WERROR=ON >/dev/null
  cmake --build "$linux_build" --target tovrel -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
fi

page=build-web/Tovrel.html
echo "browser: $page is $(wc -c <"$page") bytes, $(gzip -9c "$page" | wc -c) gzipped"
started=$(date +%s)
TOVREL_PAGE="$page" TOVREL_TOOL="$linux_build/tovrel" xvfb-run -a node --test tests/browser/
echo "browser lane: passed in ${TOVREL_ENGINES:-chromium,firefox,webkit}, from file:// and over HTTP ($(($(date +%s) - started)) s)"
