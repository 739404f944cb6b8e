#!/usr/bin/env bash
# The Windows lane: cross-builds Tovrel.exe and the tests with MinGW-w64 in build-mingw (warnings as
# errors), checks that the exe imports exactly KERNEL32.dll and msvcrt.dll and that its PE header has no
# time stamp and its version resource the project's version and copyright, runs the whole test suite
# under Wine in a fresh prefix (scripts/wine-env.sh), then the cross-platform check against the Linux
# build (build/, or the build directory given), and last checks what the ZIP made by cpack holds.
# Installs what is missing first; when that cannot be done it prints a "skipped" line and exits 0 (or
# fails, under TOVREL_REQUIRE_ALL_LANES=1: scripts/skip-lane.sh). Any other failure fails the lane.
# Usage: scripts/test-windows.sh [LINUX_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/skip-lane.sh
. scripts/wine-env.sh
root=$(pwd)
linux_build=${1:-build}
mingw_build=build-mingw
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake make g++ zlib1g-dev libgtest-dev g++-mingw-w64-x86-64 libz-mingw-w64-dev googletest wine wine64 unzip)
if ! bash scripts/install-deps.sh "${packages[@]}"; then
  skip_lane windows "cannot install ${packages[*]}"
fi

# the browser page goes into the ZIP beside Tovrel.exe when the browser lane has built it
page=""
if [ -f build-web/Tovrel.html ]; then page="$root/build-web/Tovrel.html"; fi
echo "windows: cross-building in $mingw_build (MinGW-w64, -DTOVREL_WERROR=ON)"
cmake -S . -B "$mingw_build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTOVREL_WERROR=ON -DTOVREL_PAGE="$page" >/dev/null
cmake --build "$mingw_build" -j"$jobs"

# one file for the user: it imports exactly the DLLs every Windows has, no more and no fewer (user32.dll,
# for the console hold, is loaded at run time only when needed)
imports=$(x86_64-w64-mingw32-objdump -p "$mingw_build/Tovrel.exe" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
expected=$(printf '%s\n' kernel32.dll msvcrt.dll)
if [ "$imports" != "$expected" ]; then
  echo "windows: Tovrel.exe imports" $imports "instead of exactly" $expected >&2
  exit 1
fi
echo "windows: Tovrel.exe imports exactly" $imports

# no link time in the PE header (at e_lfanew + 8), so two builds of one commit give the same exe
pe_header=$(od -An -tu4 --endian=little -j60 -N4 "$mingw_build/Tovrel.exe" | tr -d ' ')
stamp=$(od -An -tu4 --endian=little -j$((pe_header + 8)) -N4 "$mingw_build/Tovrel.exe" | tr -d ' ')
if [ "$stamp" != 0 ]; then
  echo "windows: Tovrel.exe's PE header holds the time stamp $stamp instead of 0" >&2
  exit 1
fi
# what Explorer's Properties shows, read back from the exe: the project's version, LICENSE's copyright
version=$(sed -n 's/^project(Tovrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch tweak <<<"$version"
resource=$(x86_64-w64-mingw32-windres -i "$mingw_build/Tovrel.exe" -O rc | sed 's/^ *//')
for want in "FILEVERSION ${major:-0}, ${minor:-0}, ${patch:-0}, ${tweak:-0}" "VALUE \"FileVersion\", \"$version\"" \
  "VALUE \"ProductVersion\", \"$version\"" "VALUE \"ProductName\", \"Tovrel\"" \
  "VALUE \"OriginalFilename\", \"Tovrel.exe\"" "VALUE \"LegalCopyright\", \"$(head -n 1 LICENSE)\""; do
  if ! grep -qxF "$want" <<<"$resource"; then
    echo "windows: Tovrel.exe's version resource lacks '$want'; it reads:" >&2
    echo "$resource" >&2
    exit 1
  fi
done
if ! grep -qx 'VALUE "FileDescription", "..*"' <<<"$resource"; then
  echo "windows: Tovrel.exe's version resource has no FileDescription" >&2
  exit 1
fi
echo "windows: Tovrel.exe has no time stamp and shows version $version, $(head -n 1 LICENSE)"

# a fresh Wine prefix per run, removed afterwards (scripts/wine-env.sh); cross_check.sh runs in it too
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-windows.XXXXXX")
cleanup() {
  wine_prefix_remove
  rm -rf "$scratch"
}
trap cleanup EXIT
wine_prefix_create "$scratch/wine" windows

echo "windows: running the whole suite under Wine"
(cd "$mingw_build" && ctest --output-on-failure --timeout 600)

if [ ! -x "$linux_build/tovrel" ]; then
  echo "windows: building the Linux tool in $linux_build for the cross-platform check"
  cmake -S . -B "$linux_build" -DTOVREL_WERROR=ON >/dev/null
  cmake --build "$linux_build" --target tovrel -j"$jobs" >/dev/null
fi
bash scripts/cross_check.sh "$root/$mingw_build" "$(cd "$linux_build" && pwd)"

# the ZIP for players: one folder holding Tovrel.exe, the README, LICENSE and, when built, the page
(cd "$mingw_build" && cpack -B "$scratch/package" >/dev/null)
zip=$(ls "$scratch"/package/Tovrel-*-win64.zip)
expected="Tovrel-VERSION-win64/README.md Tovrel-VERSION-win64/LICENSE Tovrel-VERSION-win64/Tovrel.exe${page:+ Tovrel-VERSION-win64/Tovrel.html}"
held=$(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^Tovrel-[0-9.]*-win64/|Tovrel-VERSION-win64/|' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$held" != "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ' | sed 's/ $//')" ]; then
  echo "windows: $(basename "$zip") holds: $held; expected: $expected" >&2
  exit 1
fi
echo "windows: $(basename "$zip") holds $held"
echo "windows lane: passed"
