#!/usr/bin/env bash
# The reproducibility lane: clones the commit at HEAD twice, into folders of different names and depths,
# and runs scripts/release.sh in each clone: the second run later, in another time zone and locale and
# with umask 077. The two dist/ folders must be identical, byte for byte (diffoscope shows where they
# are not), and hold what docs/development.md says. Only the downloads are built, and zlib's source for
# the page comes from the browser lane's build-web/zlib when it is there. Installs what is missing
# first; when that cannot be done it prints a "skipped" line and exits 0 (or fails, under
# TOVREL_REQUIRE_ALL_LANES=1: scripts/skip-lane.sh). Any other failure fails the lane.
# Usage: scripts/test-reproducible.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/skip-lane.sh
root=$(pwd)
start=$SECONDS
export LC_ALL=C  # for this script's own listings; each release gets its own locale below

packages=(cmake make g++ zlib1g-dev git zip unzip g++-mingw-w64-x86-64 libz-mingw-w64-dev emscripten dpkg-dev)
if ! bash scripts/install-deps.sh "${packages[@]}"; then
  skip_lane reproducible "cannot install ${packages[*]}"
fi

fail() {
  echo "reproducible lane: FAILED: $*" >&2
  exit 1
}

commit=$(git rev-parse --verify HEAD)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-repro.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
first=$scratch/a/tovrel
second=$scratch/elsewhere/much/deeper/Tovrel-again
for clone in "$first" "$second"; do
  git clone -q --no-checkout "$root" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  if [ -d build-web/zlib ]; then
    mkdir -p "$clone/build-web"
    cp -a build-web/zlib "$clone/build-web/"
  fi
done

echo "reproducible: releasing commit ${commit:0:12} in $first"
(cd "$first" && umask 022 && TZ=UTC LC_ALL=C.UTF-8 bash scripts/release.sh >"$scratch/first.log" 2>&1) ||
  { cat "$scratch/first.log" >&2; fail "scripts/release.sh failed in $first"; }
echo "reproducible: releasing it again in $second (umask 077, TZ=Pacific/Kiritimati, LC_ALL=C)"
(cd "$second" && umask 077 && TZ=Pacific/Kiritimati LC_ALL=C bash scripts/release.sh >"$scratch/second.log" 2>&1) ||
  { cat "$scratch/second.log" >&2; fail "scripts/release.sh failed in $second"; }

if ! diff -r "$first/dist" "$second/dist" >"$scratch/diff" 2>&1; then
  cat "$scratch/diff" >&2
  if bash scripts/install-deps.sh diffoscope >/dev/null 2>&1; then
    for file in "$first"/dist/*; do
      other=$second/dist/$(basename "$file")
      if [ -f "$other" ] && ! cmp -s "$file" "$other"; then
        diffoscope --text - "$file" "$other" | head -n 200 >&2 || true
      fi
    done
  fi
  fail "two releases of commit ${commit:0:12} differ"
fi

# the four files, the checksums right, and each package holding the files docs/development.md names
dist=$first/dist
version=$(sed -n 's/^.*  Tovrel-\([0-9.]*\)\.html$/\1/p' "$dist/SHA256SUMS")
held=$(cd "$dist" && ls | tr '\n' ' ')
expected="SHA256SUMS Tovrel-$version-win64.zip Tovrel-$version.html tovrel-$version-linux-$(uname -m).tar.gz "
[ -n "$version" ] && [ "$held" = "$expected" ] || fail "dist/ holds: $held; expected: $expected"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS fails in dist/"
win=Tovrel-$version-win64
members=$(unzip -Z1 "$dist/$win.zip" | tr '\n' ' ')
[ "$members" = "$win/LICENSE $win/README.md $win/Tovrel.exe $win/Tovrel.html " ] ||
  fail "$win.zip holds: $members"
linux=tovrel-$version-linux-$(uname -m)
members=$(tar -tzf "$dist/$linux.tar.gz" | tr '\n' ' ')
[ "$members" = "$linux/ $linux/LICENSE $linux/README.md $linux/bin/ $linux/bin/tovrel " ] ||
  fail "$linux.tar.gz holds: $members"
unzip -q "$dist/$win.zip" -d "$scratch/unzipped"
tar -xzf "$dist/$linux.tar.gz" -C "$scratch/unzipped"
for file in "$win/README.md" "$win/LICENSE" "$linux/README.md" "$linux/LICENSE"; do
  git show "$commit:$(basename "$file")" | cmp -s - "$scratch/unzipped/$file" || fail "$file is not the commit's"
done
cmp -s "$dist/Tovrel-$version.html" "$scratch/unzipped/$win/Tovrel.html" ||
  fail "the page in $win.zip is not Tovrel-$version.html"

echo "reproducible: both releases gave these identical files:"
sed 's/^/  /' "$dist/SHA256SUMS"
echo "reproducible lane: passed ($((SECONDS - start)) s)"
