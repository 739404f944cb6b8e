#!/usr/bin/env bash
# Builds the browser page, build-web/Tovrel.html: the tool compiled to WebAssembly with Debian's
# Emscripten, zlib compiled from Debian's own source package, and the page from web/, in one file.
# Installs what is missing first (deb-src entries mirroring the system's deb entries are added when
# there are none).
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
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    # the source entries mirror the binary ones this system already uses: the same addresses, suites
    # and components, so the source comes from wherever its packages come from
    eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
    # (a file that does not exist is no entry: cat's complaint is dropped, what it read is kept)
    one_line=$( (cat "$list" "$parts"*.list 2>/dev/null || true) | sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p')
    # deb822 stanzas (blank-line separated; comments dropped) whose Types name "deb" become deb-src ones
    stanzas=$( (cat "$parts"*.sources 2>/dev/null || true) | awk -v RS= '{
        n = split($0, lines, "\n"); out = ""; binary = 0
        for (i = 1; i <= n; ++i) {
          if (lines[i] ~ /^#/) continue
          if (tolower(lines[i]) ~ /^types:/) {
            binary = (" " lines[i] " ") ~ /[[:space:]]deb[[:space:]]/
            lines[i] = "Types: deb-src"
          }
          out = out lines[i] "\n"
        }
        if (binary) printf "%s\n", out
      }')
    if [ -z "$one_line$stanzas" ]; then
      echo "build-page: this system lists no deb entry to derive a deb-src entry from" >&2
      exit 1
    fi
    echo "build-page: adding deb-src entries beside this system's deb entries"
    [ -z "$one_line" ] || printf '%s\n' "$one_line" | $sudo tee "${parts%/}/tovrel-deb-src.list" >/dev/null
    [ -z "$stanzas" ] || printf '%s\n' "$stanzas" | $sudo tee "${parts%/}/tovrel-deb-src.sources" >/dev/null
    $sudo apt-get update -qq
  fi
  mkdir -p "$build/zlib"
  # the version the native tool links against, where the mirror has its source; else the newest one
  # it has (a security suite's mirror may list sources it does not hold)
  versions=$( { dpkg-query -W -f='${Version}\n' zlib1g 2>/dev/null || true
                apt-cache showsrc zlib 2>/dev/null | sed -n 's/^Version: //p' | sort -Vr; } | awk 'NF && !seen[$0]++')
  for version in $versions; do
    if (cd "$build/zlib" && apt-get source -qq "zlib=$version" >/dev/null 2>&1); then break; fi
  done
  zlib_dir=$(find "$build/zlib" -maxdepth 2 -name zlib.h -printf '%h\n' | head -n 1)
  if [ -z "$zlib_dir" ]; then
    echo "build-page: no version of zlib's source could be fetched (tried: $(echo $versions))" >&2
    exit 1
  fi
  fetched=$(sed -n 's/^Version: //p' "$build"/zlib/*.dsc | head -n 1)
  installed=$(dpkg-query -W -f='${Version}' zlib1g 2>/dev/null || true)
  if [ -n "$installed" ] && [ "$fetched" != "$installed" ]; then
    echo "build-page: warning: the mirror has no source of zlib $installed (the version installed here);" \
      "the page's zlib is built from $fetched" >&2
  fi
fi
echo "build-page: zlib from $zlib_dir"

# Debian's emcc finds its acorn only through NODE_PATH
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOVREL_BUILD_TESTS=OFF -DTOVREL_WERROR=ON \
  -DTOVREL_ZLIB_SOURCE="$(pwd)/$zlib_dir" >/dev/null
cmake --build "$build" --target page -j"$(nproc 2>/dev/null || echo 2)"
echo "build-page: $build/Tovrel.html ($(wc -c <"$build/Tovrel.html") bytes)"
