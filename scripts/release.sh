#!/usr/bin/env bash
# Builds every download from the committed sources into dist/: the Windows ZIP (Tovrel.exe, the page,
# README.md and LICENSE in one folder), the Linux tarball (the static bin/tovrel, README.md and
# LICENSE), the page alone, and SHA256SUMS. The commit at HEAD is exported with `git archive` into
# build-release/ and built there from scratch, so uncommitted changes never reach dist/ (a warning on
# stderr says when there are some). One commit gives the same bytes in any folder, at any time, in any
# time zone, locale or umask.
# Installs what is missing first. Exits non-zero when anything fails; dist/ is then left as it was.
# Usage: scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# names sort, and zip writes its local times, the same way everywhere
export LC_ALL=C TZ=UTC0
jobs=$(nproc 2>/dev/null || echo 2)
fail() {
  echo "release: $*" >&2
  exit 1
}

bash scripts/install-deps.sh cmake make g++ zlib1g-dev git zip g++-mingw-w64-x86-64 libz-mingw-w64-dev

commit=$(git rev-parse --verify HEAD)
if [ -n "$(git status --porcelain)" ]; then
  echo "release: warning: the tree has uncommitted changes; dist/ is built from commit ${commit:0:12} without them" >&2
fi
# every time written into the downloads is the commit's
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

work=$root/build-release
src=$work/source
rm -rf "$work"
mkdir -p "$src" "$work/stage" "$work/dist"
git archive "$commit" | tar -x -C "$src"
echo "release: building commit ${commit:0:12} in $work"

# the page, with zlib's source as build-page.sh fetched it before in this tree, when it did (and kept
# here when it did not, for the next run and the browser lane)
if [ -d build-web/zlib ]; then
  mkdir -p "$src/build-web"
  cp -a build-web/zlib "$src/build-web/"
fi
if ! bash "$src/scripts/build-page.sh" >"$work/page.log" 2>&1; then
  tail -n 20 "$work/page.log" >&2
  fail "cannot build the page (scripts/build-page.sh failed; its output is in $work/page.log)"
fi
page=$src/build-web/Tovrel.html
if [ ! -d build-web/zlib ]; then
  mkdir -p build-web
  cp -a "$src/build-web/zlib" build-web/
fi

{ cmake -S "$src" -B "$work/linux" -DCMAKE_BUILD_TYPE=Release -DTOVREL_BUILD_TESTS=OFF >/dev/null &&
  cmake --build "$work/linux" --target tovrel -j"$jobs" >/dev/null; } || fail "cannot build the Linux tool"
# the version the tool itself reports, which the page shows too
version=$("$work/linux/tovrel" --version | sed -n 's/^Tovrel \([0-9][0-9.]*\)$/\1/p')
[ -n "$version" ] || fail "cannot read the version from '$work/linux/tovrel --version'"

{ cmake -S "$src" -B "$work/win64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchains/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTOVREL_BUILD_TESTS=OFF -DTOVREL_PAGE="$page" >/dev/null &&
  cmake --build "$work/win64" --target tovrel -j"$jobs" >/dev/null; } || fail "cannot build Tovrel.exe"

# the packages' trees as the install rules lay them out (the exe is stripped as it is linked; binutils'
# strip would stamp its PE header with the time)
win=Tovrel-$version-win64
linux=tovrel-$version-linux-$(uname -m)
cmake --install "$work/win64" --prefix "$work/stage/$win" >/dev/null
cmake --install "$work/linux" --prefix "$work/stage/$linux" --strip --component Unspecified >/dev/null
cmake --install "$work/linux" --prefix "$work/stage/$linux" --component Package >/dev/null

# members in name order, with the commit's time, no owner, and modes that do not follow the umask
chmod -R u=rwX,go=rX "$work/stage"
find "$work/stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
tar -C "$work/stage" --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$SOURCE_DATE_EPOCH" "$linux" | gzip -9 -n >"$work/dist/$linux.tar.gz"
(cd "$work/stage" && find "$win" -type f | sort | zip -q -X -D -9 "$work/dist/$win.zip" -@)
cp "$page" "$work/dist/Tovrel-$version.html"
(cd "$work/dist" && sha256sum "$win.zip" "$linux.tar.gz" "Tovrel-$version.html" >SHA256SUMS &&
  sha256sum --quiet -c SHA256SUMS)

rm -rf dist
mv "$work/dist" dist
echo "release: dist/ holds Tovrel $version from commit ${commit:0:12}:"
cat dist/SHA256SUMS
# the same bytes come from the same tools: what a rebuild needs to match
tools=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}=${Version}\n' cmake 'g++-[0-9]*' libc6-dev zlib1g-dev \
  binutils g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev libz-mingw-w64-dev \
  emscripten 'clang-[0-9]*' 'lld-[0-9]*' binaryen zip tar gzip 2>/dev/null | awk '$1 == "ii" { print $2 }' || true)
zlib_source=$(cd "$src/build-web/zlib" && ls -- *.dsc 2>/dev/null | sed 's/\.dsc$//' || true)
echo "release: built with" $tools "and the page's zlib from the source package" $zlib_source
