#!/usr/bin/env bash
# Whole-process benchmark: tovrel pack and unpack against the floor (bench/floor.cpp, the least work
# the archive format allows, with the same durable writes) and against zip -6 / unzip, on a large save
# (64 MiB .sav of binary records + 2 MiB .jpg), a typical one (2 MiB .sav + 100 KiB .jpg) and a text one
# (64 MiB .sav of records written as lines of text + 2 MiB .jpg), generated deterministically in a
# scratch folder outside the repository. Every round runs every contender once per case and
# operation, in rotating order; the report gives medians of wall time and of peak resident memory,
# and checks the targets. Builds the tool in Release (-O2) in build-bench first.
#
# Usage: scripts/bench.sh [--rounds N] [--scratch DIR] [--keep] | --micro
#   --rounds N     measured rounds (default 7), after one unmeasured warm-up round
#   --scratch DIR  where the saves and archives go (default: a new folder under ${TMPDIR:-/tmp})
#   --keep         leave the scratch folder in place (it holds results.txt, the raw measurements)
#   --micro        run the microbenchmarks (bench/*_bench.cpp) instead: medians of 5 repetitions
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

rounds=7
scratch=""
keep=0
micro=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --micro) micro=1; shift ;;
    *) echo "usage: scripts/bench.sh [--rounds N] [--scratch DIR] [--keep] | --micro" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh cmake make g++ zlib1g-dev libgtest-dev libbenchmark-dev zip unzip

build=$repo/build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DTOVREL_BUILD_BENCH=ON >/dev/null
if [ "$micro" -eq 1 ]; then
  cmake --build "$build" -j2 --target tovrel_bench >/dev/null
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  "$build/bench/tovrel_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_display_aggregates_only=true 2>&1 | grep -v -e '_mean ' -e '_stddev ' -e '_cv '
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi
cmake --build "$build" -j2 --target tovrel tovrel_floor tovrel_make_save tovrel_measure >/dev/null
tool=$build/tovrel
floor=$build/bench/tovrel_floor
measure=$build/bench/tovrel_measure

if [ -z "$scratch" ]; then
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-bench.XXXXXX")
else
  mkdir -p "$scratch"
  scratch=$(cd "$scratch" && pwd)
fi
case "$scratch/" in "$repo"/*) echo "bench: the scratch folder must lie outside the repository" >&2; exit 2 ;; esac
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$scratch"' EXIT; fi
results=$scratch/results.txt
: >"$results"

base=autosave1
cases="large typical text"
declare -A savBytes=([large]=$((64 << 20)) [typical]=$((2 << 20)) [text]=$((64 << 20)))
declare -A jpgBytes=([large]=$((2 << 20)) [typical]=$((100 << 10)) [text]=$((2 << 20)))
declare -A savKind=([large]=binary [typical]=binary [text]=text)
contenders="tovrel floor zip"

# per case: src/ the save; pack-C/ each contender's own copy, where its archive appears; unpack-C/
# its archive alone, where the unpacked files appear (and are replaced round after round)
for c in $cases; do
  mkdir -p "$scratch/$c/src"
  "$build/bench/tovrel_make_save" "$scratch/$c/src" "$base" "${savBytes[$c]}" "${jpgBytes[$c]}" "${savKind[$c]}"
  for who in $contenders; do
    rm -rf "$scratch/$c/pack-$who" "$scratch/$c/unpack-$who"
    mkdir -p "$scratch/$c/pack-$who" "$scratch/$c/unpack-$who"
    cp "$scratch/$c/src/$base".* "$scratch/$c/pack-$who/"
  done
done

# runs one contender's pack or unpack of case $1 under the wrapper; prints "SECONDS KIB STATUS CPU"
run() {
  local c=$1 op=$2 who=$3
  local pdir=$scratch/$c/pack-$who udir=$scratch/$c/unpack-$who
  case "$op-$who" in
    pack-tovrel) (cd "$pdir" && "$measure" "$tool" "$base.sav") ;;
    pack-floor) (cd "$pdir" && "$measure" "$floor" pack "$pdir/$base.sav") ;;
    pack-zip) rm -f "$pdir/$base.zip"; (cd "$pdir" && "$measure" zip -6 -q -X "$base.zip" "$base.sav" "$base.jpg") ;;
    unpack-tovrel) (cd "$udir" && "$measure" "$tool" "$base.ssav") ;;
    unpack-floor) (cd "$udir" && "$measure" "$floor" unpack "$udir/$base.ssav") ;;
    unpack-zip) (cd "$udir" && "$measure" unzip -q -o "$base.zip") ;;
  esac
}

rotate() {  # the words after $1, rotated left by $1 places
  local n=$1
  shift
  local words=("$@") i
  for i in "${!words[@]}"; do echo "${words[$(((i + n) % ${#words[@]}))]}"; done
}

archive_of() { [ "$1" = zip ] && echo "$base.zip" || echo "$base.ssav"; }

echo "bench: scratch $scratch, $rounds rounds, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 0 "$rounds"); do
  for c in $cases; do
    for op in pack unpack; do
      # rotate the order each round so no contender always runs right after the same other one
      for who in $(rotate "$round" $contenders); do
        if [ "$op" = unpack ] && [ ! -f "$scratch/$c/unpack-$who/$(archive_of "$who")" ]; then
          cp "$scratch/$c/pack-$who/$(archive_of "$who")" "$scratch/$c/unpack-$who/"
        fi
        read -r seconds kib status cpu < <(run "$c" "$op" "$who")
        if [ "$status" != 0 ]; then
          echo "bench: $who $op of the $c save failed with status $status" >&2
          exit 1
        fi
        # round 0 warms the page cache and checks the outputs; it is not counted
        [ "$round" -gt 0 ] && echo "$c $op $who $seconds $kib $cpu $round" >>"$results"
      done
    done
    if [ "$round" -eq 0 ]; then
      cmp -s "$scratch/$c/pack-tovrel/$base.ssav" "$scratch/$c/pack-floor/$base.ssav" ||
        { echo "bench: the floor's archive differs from the tool's ($c)" >&2; exit 1; }
      for who in $contenders; do
        for ext in sav jpg; do
          cmp -s "$scratch/$c/src/$base.$ext" "$scratch/$c/unpack-$who/$base.$ext" ||
            { echo "bench: $who did not restore $base.$ext ($c)" >&2; exit 1; }
        done
      done
    fi
  done
done

median() {  # median of the numbers on stdin
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
med() { awk -v c="$1" -v o="$2" -v w="$3" -v f="$4" '$1 == c && $2 == o && $3 == w { print $f }' "$results" | median; }
# median over the rounds of tovrel's time / the floor's time in the same round
roundRatio() {
  awk -v c="$1" -v o="$2" '$1 == c && $2 == o && $3 == "tovrel" { t[$7] = $4 }
    $1 == c && $2 == o && $3 == "floor" { f[$7] = $4 }
    END { for (r in t) print t[r] / f[r] }' "$results" | median
}

echo
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1); compiler: $("$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")" --version | head -1)"
echo "zlib $(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' /usr/include/zlib.h); $(zip -v | sed -n 2p | sed 's/^ *//'); load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Medians of $rounds rounds: wall seconds; the ratio of the median wall times (the target's measure);"
echo "the median of the per-round ratios; the ratio of the median processor times (user + system);"
echo "peak resident memory in MiB:"
echo
echo "| save | step | tovrel s | floor s | tovrel/floor | target | per round | CPU tovrel/floor | zip s | tovrel MiB | floor MiB | zip MiB | tovrel memory limit MiB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
missed=0
for c in $cases; do
  sav=${savBytes[$c]} jpg=${jpgBytes[$c]}
  largest=$((sav > jpg ? sav : jpg))
  for op in pack unpack; do
    t=$(med "$c" "$op" tovrel 4) f=$(med "$c" "$op" floor 4) z=$(med "$c" "$op" zip 4)
    tm=$(med "$c" "$op" tovrel 5) fm=$(med "$c" "$op" floor 5) zm=$(med "$c" "$op" zip 5)
    tc=$(med "$c" "$op" tovrel 6) fc=$(med "$c" "$op" floor 6) pr=$(roundRatio "$c" "$op")
    if [ "$op" = pack ]; then limitTime=1.05 limitKib=$(((sav + jpg + largest) / 1024 + 8192))
    else limitTime=1.10 limitKib=$((largest / 1024 + 8192)); fi
    verdict=$(awk -v t="$t" -v f="$f" -v lt="$limitTime" -v m="$tm" -v lm="$limitKib" \
      'BEGIN { r = t / f; printf "%.3f %s %s", r, (r <= lt ? "met" : "MISSED"), (m <= lm ? "met" : "MISSED") }')
    read -r ratio timeVerdict memVerdict <<<"$verdict"
    [ "$timeVerdict" = met ] && [ "$memVerdict" = met ] || missed=1
    awk -v c="$c" -v op="$op" -v t="$t" -v f="$f" -v r="$ratio" -v lt="$limitTime" -v tv="$timeVerdict" \
      -v pr="$pr" -v tc="$tc" -v fc="$fc" -v z="$z" -v tm="$tm" -v fm="$fm" -v zm="$zm" -v lm="$limitKib" \
      -v mv="$memVerdict" \
      'BEGIN { printf "| %s | %s | %.3f | %.3f | %.3f | <= %.2f %s | %.3f | %.3f | %.3f | %.1f | %.1f | %.1f | <= %.1f %s |\n",
               c, op, t, f, r, lt, tv, pr, tc / fc, z, tm / 1024, fm / 1024, zm / 1024, lm / 1024, mv }'
  done
done
echo
for c in $cases; do
  echo "archive sizes ($c): tovrel $(stat -c %s "$scratch/$c/pack-tovrel/$base.ssav") bytes," \
    "zip $(stat -c %s "$scratch/$c/pack-zip/$base.zip") bytes, save $((${savBytes[$c]} + ${jpgBytes[$c]})) bytes"
done
[ "$keep" -eq 1 ] && echo "raw measurements: $results"
if [ "$missed" -ne 0 ]; then
  echo "bench: a target was missed"
  exit 1
fi
echo "bench: every target met"
