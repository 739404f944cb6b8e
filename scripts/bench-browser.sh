#!/usr/bin/env bash
# The browser page against the native tool on two saves, each a 64 MiB .sav with a 2 MiB .jpg: "binary"
# (the .sav of fixed-size binary records, scripts/bench.sh's large save) and "text" (the .sav of records
# written as lines of text). For each save and each engine, Chromium, Firefox ESR and WebKitGTK
# (bench/browser_bench.mjs, under xvfb-run, the page opened from disk), it times a pack and an unpack
# from giving the files to the page saying "Done", with the native tool (Release build, as
# scripts/bench.sh builds it) run right after each, round by round in the same run; it reports the
# medians of ROUNDS rounds, the page's time over the native tool's of the same rounds, the peak
# resident memory of each, the time of each step as the first in a freshly opened browser, and the size
# of Tovrel.html, plain and gzipped. Run
# bash scripts/test-browser.sh once first: it installs the browsers and their drivers.
# Usage: scripts/bench-browser.sh [ROUNDS]      (default 5; the first round of each is not counted)
#        TOVREL_ENGINES=chromium,firefox,webkit (the default) picks the engines
#        TOVREL_SAVES=binary,text (the default) picks the saves
#        TOVREL_KEEP=DIR keeps the raw measurements in DIR
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
rounds=${1:-5}

engines=${TOVREL_ENGINES:-chromium,firefox,webkit}
saves=${TOVREL_SAVES:-binary,text}

bash scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev libbenchmark-dev
bash scripts/build-page.sh >/dev/null
build=$repo/build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DTOVREL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tovrel tovrel_make_save tovrel_measure >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-bench-browser.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# per save: save/ what the page is given; pack/ the native tool's copy of it; archive/ the native
# tool's archive, given to the page; unpack/ the native tool's copy of the archive
for save in ${saves//,/ }; do
  s=$scratch/$save
  mkdir -p "$s/save" "$s/pack" "$s/archive" "$s/unpack"
  "$build/bench/tovrel_make_save" "$s/save" autosave1 $((64 << 20)) $((2 << 20)) "$save"
  cp "$s"/save/* "$s/pack/"
  (cd "$s/pack" && "$build/tovrel" autosave1.sav >/dev/null)
  cp "$s/pack/autosave1.ssav" "$s/archive/"
  cp "$s/pack/autosave1.ssav" "$s/unpack/"
done

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load before: $(load)"
for save in ${saves//,/ }; do
  s=$scratch/$save
  for engine in ${engines//,/ }; do
    xvfb-run -a node bench/browser_bench.mjs "$engine" build-web/Tovrel.html "$s/save" autosave1 \
      "$s/archive/autosave1.ssav" $((rounds + 1)) "$build/bench/tovrel_measure" "$build/tovrel" \
      "$s/pack" "$s/unpack" >"$s/$engine.txt"
  done
done
echo "load after: $(load)"
if [ -n "${TOVREL_KEEP:-}" ]; then
  mkdir -p "$TOVREL_KEEP"
  for save in ${saves//,/ }; do
    for engine in ${engines//,/ }; do cp "$scratch/$save/$engine.txt" "$TOVREL_KEEP/$save-$engine.txt"; done
  done
fi

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# the median of field $3 of the counted rounds' lines of kind $2 in file $1 (the first round warms up)
timed() { awk -v kind="$2" -v f="$3" '$1 == kind { print $f }' "$1" | tail -n +2 | median; }
# field 2 of the line whose first field is $2, in file $1
value() { awk -v key="$2" '$1 == key { print $2 }' "$1"; }
version() {
  case $1 in
    chromium) chromium --version 2>/dev/null | awk '{ print $1, $2 }' ;;
    firefox) firefox-esr --version 2>/dev/null | sed 's/^Mozilla //' ;;
    webkit) echo "WebKitGTK $(dpkg-query -W -f='${Version}' libwebkit2gtk-4.1-0 2>/dev/null | cut -d- -f1)" ;;
  esac
}
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
echo "medians of $rounds rounds in one browser, wall seconds; in brackets the page's time over the native"
echo "tool's, whose rounds ran between the page's; 'first': one step in a freshly opened browser, as a player"
echo "who opens the page for one save waits for it, over the same native median; peak memory of the largest"
echo "process during that step, above what it held at rest before it, and that over the save's size:"
for save in ${saves//,/ }; do
  s=$scratch/$save
  echo
  size=$(($(stat -c %s "$s/save/autosave1.sav") + $(stat -c %s "$s/save/autosave1.jpg")))
  echo "$save save ($(stat -c %s "$s/save/autosave1.sav") + $(stat -c %s "$s/save/autosave1.jpg") bytes; archive $(stat -c %s "$s/archive/autosave1.ssav") bytes):"
  echo "| engine | pack s | native pack s | unpack s | native unpack s | first pack s | first unpack s | pack MiB above rest | unpack MiB above rest |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for engine in ${engines//,/ }; do
    f=$s/$engine.txt
    p=$(timed "$f" pack 2) u=$(timed "$f" unpack 2) np=$(timed "$f" native-pack 2) nu=$(timed "$f" native-unpack 2)
    awk -v e="$(version "$engine")" -v p="$p" -v u="$u" -v np="$np" -v nu="$nu" \
      -v fp="$(value "$f" pack-first)" -v fu="$(value "$f" unpack-first)" \
      -v pm="$(($(value "$f" pack-peak-kib) - $(value "$f" pack-idle-kib)))" \
      -v um="$(($(value "$f" unpack-peak-kib) - $(value "$f" unpack-idle-kib)))" -v size="$size" \
      'BEGIN { printf "| %s | %.3f (%.2fx) | %.3f | %.3f (%.2fx) | %.3f | %.3f (%.2fx) | %.3f (%.2fx) | %d (%.1fx) | %d (%.1fx) |\n",
               e, p, p / np, np, u, u / nu, nu, fp, fp / np, fu, fu / nu, pm / 1024, pm * 1024 / size, um / 1024, um * 1024 / size }'
  done
  all=$(cat "$s"/*.txt)
  nm() { awk -v kind="$1" '$1 == kind { print $3 }' <<<"$all" | sort -g | tail -1; }
  echo "native tool's peak: pack $(($(nm native-pack) / 1024)) MiB, unpack $(($(nm native-unpack) / 1024)) MiB"
done
echo
echo "Tovrel.html: $(wc -c <build-web/Tovrel.html) bytes, $(gzip -9c build-web/Tovrel.html | wc -c) gzipped"
