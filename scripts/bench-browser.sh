#!/usr/bin/env bash
# The browser page against the native tool on the benchmark's large save (64 MiB .sav + 2 MiB .jpg):
# the wall time of a pack and of an unpack, each the median of ROUNDS rounds, natively (Release build,
# as scripts/bench.sh builds it) and in headless Chromium through the page (bench/browser_bench.mjs),
# with the peak resident memory of each and the size of Tovrel.html, plain and gzipped.
# Usage: scripts/bench-browser.sh [ROUNDS]      (default 5; the first round of each is not counted)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
rounds=${1:-5}

bash scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev libbenchmark-dev chromium
bash scripts/build-page.sh >/dev/null
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
build=$repo/build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DTOVREL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tovrel tovrel_make_save tovrel_measure >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-bench-browser.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/save" "$scratch/pack" "$scratch/unpack"
"$build/bench/tovrel_make_save" "$scratch/save" autosave1 $((64 << 20)) $((2 << 20))
cp "$scratch"/save/* "$scratch/pack/"

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$scratch/native.txt"
for round in $(seq 0 "$rounds"); do
  read -r pack packKib _ < <(cd "$scratch/pack" && "$build/bench/tovrel_measure" "$build/tovrel" autosave1.sav)
  cp "$scratch/pack/autosave1.ssav" "$scratch/unpack/"
  read -r unpack unpackKib _ < <(cd "$scratch/unpack" && "$build/bench/tovrel_measure" "$build/tovrel" autosave1.ssav)
  [ "$round" -gt 0 ] && echo "$pack $packKib $unpack $unpackKib" >>"$scratch/native.txt"
done
node bench/browser_bench.mjs build-web/Tovrel.html "$scratch/save" autosave1 "$scratch/pack/autosave1.ssav" \
  $((rounds + 1)) >"$scratch/browser.txt"

column() { awk -v f="$1" '{ print $f }' "$scratch/native.txt" | median; }
timed() { awk -v op="$1" '$1 == op { print $2 }' "$scratch/browser.txt" | tail -n +2 | median; }
nativePack=$(column 1) nativeUnpack=$(column 3)
browserPack=$(timed pack) browserUnpack=$(timed unpack)
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1); $(chromium --version)"
echo "medians of $rounds rounds, wall seconds:"
echo "| step | native | browser | browser/native |"
echo "|---|---|---|---|"
for op in pack unpack; do
  if [ "$op" = pack ]; then n=$nativePack b=$browserPack; else n=$nativeUnpack b=$browserUnpack; fi
  awk -v op="$op" -v n="$n" -v b="$b" 'BEGIN { printf "| %s | %.3f | %.3f | %.2f |\n", op, n, b, b / n }'
done
echo "native peak memory: pack $(($(column 2) / 1024)) MiB, unpack $(($(column 4) / 1024)) MiB"
kib() { awk -v key="$1" '$1 == key { print $2 }' "$scratch/browser.txt"; }
for op in pack unpack; do
  echo "page peak memory, one $op in a fresh browser: renderer (page and worker) $(($(kib "$op-renderer-kib") / 1024)) MiB," \
    "browser process $(($(kib "$op-browser-kib") / 1024)) MiB"
done
echo "Tovrel.html: $(wc -c <build-web/Tovrel.html) bytes, $(gzip -9c build-web/Tovrel.html | wc -c) gzipped"
