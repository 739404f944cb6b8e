#!/usr/bin/env bash
# The Linux package: runs cpack in the given build directory (build/ by default), then checks that the
# tarball holds the README, LICENSE and a statically linked tovrel that packs and unpacks the sample
# save byte for byte with an empty environment. Exits non-zero when anything is missing or differs.
# Usage: scripts/test-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)

version=$(sed -n 's/^project(Tovrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="tovrel-$version-linux-$(uname -m)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -B "$scratch/out" >/dev/null)
tar -xzf "$scratch/out/$name.tar.gz" -C "$scratch"
tool="$scratch/$name/bin/tovrel"
cmp README.md "$scratch/$name/README.md"
cmp LICENSE "$scratch/$name/LICENSE"
description=$(file -b "$tool")
case "$description" in
  *"statically linked"*) ;;
  *) echo "package: $name/bin/tovrel is not statically linked: $description" >&2; exit 1 ;;
esac

mkdir "$scratch/save" "$scratch/originals"
cp examples/autosave1.* "$scratch/save/"
cp examples/autosave1.* "$scratch/originals/"
(cd "$scratch/save" && env -i "$tool" autosave1.sav >/dev/null && rm autosave1.sav autosave1.jpg autosave1.txt &&
  env -i "$tool" autosave1.ssav >/dev/null)
for file in "$scratch"/originals/*; do
  cmp "$file" "$scratch/save/$(basename "$file")"
done
echo "package: $name.tar.gz holds the README, LICENSE and a static tovrel that round-trips the sample save"
