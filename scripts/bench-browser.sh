#!/usr/bin/env bash
# The browser page against the native tool on the benchmark's large save (64 MiB .sav + 2 MiB .jpg):
# the wall time of a pack and of an unpack, each the median of ROUNDS rounds, natively (Release build,
# as scripts/bench.sh builds it) and through the page opened from disk in Chromium, Firefox ESR and
# WebKitGTK (bench/browser_bench.mjs, under xvfb-run), with the peak resident memory of each and the
# size of Tovrel.html, plain and gzipped. Run bash scripts/test-browser.sh once first: it installs the
# browsers and their drivers.
# Usage: scripts/bench-browser.sh [ROUNDS]      (default 5; the first round of each is not counted)
#        TOVREL_ENGINES=chromium,firefox,webkit (the default) picks the engines
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
rounds=${1:-5}

engines=${TOVREL_ENGINES:-chromium,firefox,webkit}

bash scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev libbenchmark-dev
bash scripts/build-page.sh >/dev/null
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
for engine in ${engines//,/ }; do
  xvfb-run -a node bench/browser_bench.mjs "$engine" build-web/Tovrel.html "$scratch/save" autosave1 \
    "$scratch/pack/autosave1.ssav" $((rounds + 1)) >"$scratch/$engine.txt"
done

column() { awk -v f="$1" '{ print $f }' "$scratch/native.txt" | median; }
timed() { awk -v op="$2" '$1 == op { print $2 }' "$scratch/$1.txt" | tail -n +2 | median; }
kib() { awk -v key="$2" '$1 == key { print $2 }' "$scratch/$1.txt"; }
nativePack=$(column 1) nativeUnpack=$(column 3)
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
echo "medians of $rounds rounds, wall seconds (x native); peak memory of the largest process, one step in a fresh browser:"
echo "| engine | pack s | unpack s | pack MiB | unpack MiB |"
echo "|---|---|---|---|---|"
awk -v p="$nativePack" -v u="$nativeUnpack" -v pm="$(($(column 2) / 1024))" -v um="$(($(column 4) / 1024))" \
  'BEGIN { printf "| native tool | %.3f | %.3f | %d | %d |\n", p, u, pm, um }'
for engine in ${engines//,/ }; do
  case $engine in
    chromium) version=$(chromium --version 2>/dev/null | awk '{ print $1, $2 }') ;;
    firefox) version=$(firefox-esr --version 2>/dev/null | sed 's/^Mozilla //') ;;
    webkit) version="WebKitGTK $(dpkg-query -W -f='${Version}' libwebkit2gtk-4.1-0 2>/dev/null | cut -d- -f1)" ;;
  esac
  p=$(timed "$engine" pack) u=$(timed "$engine" unpack)
  awk -v e="$version" -v p="$p" -v u="$u" -v np="$nativePack" -v nu="$nativeUnpack" \
    -v pm="$(($(kib "$engine" pack-peak-kib) / 1024))" -v um="$(($(kib "$engine" unpack-peak-kib) / 1024))" \
    'BEGIN { printf "| %s | %.3f (%.2fx) | %.3f (%.2fx) | %d | %d |\n", e, p, p / np, u, u / nu, pm, um }'
done
echo "Tovrel.html: $(wc -c <build-web/Tovrel.html) bytes, $(gzip -9c build-web/Tovrel.html | wc -c) gzipped"
