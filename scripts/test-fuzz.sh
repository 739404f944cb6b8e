#!/usr/bin/env bash
# The fuzz lane: builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each one for a bounded time on a scratch copy of the seed corpus; the
# repository's corpus is never written. Any crash, sanitizer report, leak or failed check fails the
# lane; the input that caused it is kept in build-fuzz/artifacts/<target>/.
#   FUZZ_SECONDS=1800 scripts/test-fuzz.sh       run each target for half an hour instead of a minute
#   FUZZ_TARGETS=unpack_fuzz scripts/test-fuzz.sh  run only the named targets
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake make clang libclang-rt-14-dev zlib1g-dev

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-archive_fuzz unpack_fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
root=$(pwd)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_SANITIZE=ON \
  -DTOVREL_BUILD_FUZZ=ON -DTOVREL_BUILD_TESTS=OFF -DTOVREL_WERROR=ON >/dev/null
# shellcheck disable=SC2086  # targets is a list
cmake --build build-fuzz -j"$jobs" --target $targets

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in $targets; do
  echo "== $target: ${seconds} s =="
  corpus="$scratch/$target"
  artifacts="$root/build-fuzz/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  cp fuzz/corpus/*.ssav "$corpus"/
  # libFuzzer exits non-zero on the first finding and writes the input to $artifacts
  # the tool's own lines would flood the log: libFuzzer keeps its reports and the sanitizers'
  if ! build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -close_fd_mask=3 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$scratch/$target.log" 2>&1; then
    tail -n 60 "$scratch/$target.log"
    echo "test-fuzz: $target found a problem; the input is in $artifacts/" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$target.log" || true
done
