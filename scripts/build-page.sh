#!/usr/bin/env bash
# Builds the browser page, build-web/Tovrel.html: the tool compiled to WebAssembly with Debian's
# Emscripten, zlib compiled from Debian's own source package, and the page from web/, in one file.
# Installs what is missing first (a deb-src entry for this system's suite is added when none exists).
# Usage: scripts/build-page.sh      (exits non-zero when the page cannot be built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-web

bash scripts/install-deps.sh cmake make emscripten dpkg-dev

# zlib's source, as Debian ships it for this release; Emscripten's own "ports" would download it
# from elsewhere
zlib_dir=$(find "$build/zlib" -maxdepth 2 -name zlib.h -printf '%h\n' 2>/dev/null | head -n 1 || true)
if [ -z "$zlib_dir" ]; then
  if ! apt-get source --print-uris zlib >/dev/null 2>&1; then
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "build-page: adding a deb-src entry for $suite"
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$suite" | $sudo tee /etc/apt/sources.list.d/tovrel-deb-src.sources >/dev/null
    $sudo apt-get update -qq
  fi
  mkdir -p "$build/zlib"
  (cd "$build/zlib" && apt-get source -qq zlib >/dev/null 2>&1)
  zlib_dir=$(find "$build/zlib" -maxdepth 2 -name zlib.h -printf '%h\n' | head -n 1)
fi
echo "build-page: zlib from $zlib_dir"

# Debian's emcc finds its acorn only through NODE_PATH
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVREL_BUILD_TESTS=OFF -DTOVREL_WERROR=ON \
  -DTOVREL_ZLIB_SOURCE="$(pwd)/$zlib_dir" >/dev/null
cmake --build "$build" --target page -j"$(nproc 2>/dev/null || echo 2)"
echo "build-page: $build/Tovrel.html ($(wc -c <"$build/Tovrel.html") bytes)"
