#!/usr/bin/env bash
# The demo: installs what is missing, builds the tool, then packs the sample save from examples/ in a
# scratch folder, unpacks it again and checks that every file came back byte for byte.
# Usage: scripts/demo.sh   (exits non-zero when anything differs or fails)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev

echo "demo: building the tool (build/, Release)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target tovrel -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
tool="$root/build/tovrel"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp examples/autosave1.* "$scratch/"
cd "$scratch"
files=(autosave1.*)
echo "demo: sample save in $scratch: ${files[*]}"

echo
echo "\$ tovrel autosave1.sav"
"$tool" autosave1.sav
echo

mkdir originals
mv "${files[@]}" originals/

echo "\$ tovrel autosave1.ssav"
"$tool" autosave1.ssav
echo

status=0
for name in "${files[@]}"; do
  if cmp "originals/$name" "$name"; then
    echo "demo: $name is byte-identical ($(wc -c <"$name" | tr -d ' ') bytes)"
  else
    echo "demo: $name DIFFERS from the original" >&2
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "demo: FAILED: some files did not come back as they were" >&2
  exit 1
fi
echo "demo: all ${#files[@]} files came back byte-identical"
