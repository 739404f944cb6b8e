#!/usr/bin/env bash
# The cross-platform check. Saves packed by Tovrel.exe (under Wine) unpack byte-identically with the
# Linux build, and the reverse; both builds write the same archive bytes and leave the same files; and
# both print the same stdout for the same commands, once Windows line ends are read as "\n" and the
# absolute path in the not-found message is cut down to its directory-free tail.
# Usage: scripts/cross_check.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]   (defaults: build-mingw, build)
# Uses $WINEPREFIX when set, else a fresh prefix of its own (scripts/wine-env.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
exe=$(cd "${1:-build-mingw}" && pwd)/Tovrel.exe
linux_tool=$(cd "${2:-build}" && pwd)/tovrel
for tool in "$exe" "$linux_tool"; do
  if [ ! -f "$tool" ]; then
    echo "cross-check: $tool not found; build it first" >&2
    exit 1
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-cross.XXXXXX")
failures=0
cleanup() {
  wine_prefix_remove
  if [ "$failures" -eq 0 ]; then
    rm -rf "$scratch"
  else
    echo "cross-check: the files are kept in $scratch" >&2
  fi
}
trap cleanup EXIT
# the caller's prefix (the Windows lane's), or a fresh one of this run's own
if [ -n "${WINEPREFIX:-}" ]; then
  wine_settings
else
  wine_prefix_create "$scratch/wine" cross-check
fi

fail() {
  echo "cross-check: FAIL: $*" >&2
  failures=$((failures + 1))
}

# run_tool windows|linux DIR TAG ARGS...: runs one build in DIR with stdin empty; keeps its stdout in
# TAG.out (Windows line ends turned into "\n"), its stderr in TAG.err and its exit code in TAG.code
run_tool() {
  local side=$1 dir=$2 tag=$3
  shift 3
  local code=0
  if [ "$side" = windows ]; then
    (cd "$dir" && wine "$exe" "$@" </dev/null >"$scratch/$tag.raw" 2>"$scratch/$tag.err") || code=$?
    tr -d '\r' <"$scratch/$tag.raw" >"$scratch/$tag.out"
  else
    (cd "$dir" && "$linux_tool" "$@" </dev/null >"$scratch/$tag.out" 2>"$scratch/$tag.err") || code=$?
  fi
  echo "$code" >"$scratch/$tag.code"
}

# same_run WHAT TAG_A TAG_B: both runs printed the same stdout and ended with the same code
same_run() {
  if ! cmp -s "$scratch/$2.out" "$scratch/$3.out"; then
    fail "$1: stdout differs"
    diff "$scratch/$2.out" "$scratch/$3.out" >&2 || true
  elif ! cmp -s "$scratch/$2.code" "$scratch/$3.code"; then
    fail "$1: exit codes differ ($(cat "$scratch/$2.code") and $(cat "$scratch/$3.code"))"
  else
    echo "cross-check: ok: $1: same stdout, exit code $(cat "$scratch/$2.code")"
  fi
}

expect_code() {
  local got
  got=$(cat "$scratch/$2.code")
  if [ "$got" != "$3" ]; then
    fail "$1: exit code $got, expected $3; stderr: $(cat "$scratch/$2.err")"
  fi
}

# the saves: the sample from examples/ (three members), and a larger one of 180 KiB with a
# no-extension member and an empty one, packed under another archive name
originals=$scratch/originals
mkdir -p "$originals"
cp examples/autosave1.sav examples/autosave1.jpg examples/autosave1.txt "$originals/"
for _ in $(seq 1 20); do cat examples/autosave1.sav examples/autosave1.jpg; done >"$originals/bigsave.sav"
cp examples/autosave1.txt "$originals/bigsave"
: >"$originals/bigsave.dat"
# save name, pack arguments, archive, and each unpacked file with the original it must equal
checks=(
  "autosave1|autosave1.sav|autosave1.ssav|autosave1.sav=autosave1.sav autosave1.jpg=autosave1.jpg autosave1.txt=autosave1.txt"
  "bigsave|bigsave.sav myarch|myarch.ssav|myarch.sav=bigsave.sav myarch=bigsave myarch.dat=bigsave.dat"
)

for direction in "windows linux" "linux windows"; do
  read -r packer unpacker <<<"$direction"
  pack_dir=$scratch/$packer-packs
  unpack_dir=$scratch/$unpacker-unpacks-$packer
  mkdir -p "$pack_dir" "$unpack_dir"
  cp "$originals"/* "$pack_dir/"
  for check in "${checks[@]}"; do
    IFS='|' read -r save pack_args archive outputs <<<"$check"
    # shellcheck disable=SC2086  # the pack arguments are words
    run_tool "$packer" "$pack_dir" "pack-$save-$packer" $pack_args
    expect_code "$packer packs $save" "pack-$save-$packer" 0
    if [ ! -f "$pack_dir/$archive" ]; then
      fail "$packer packs $save: no $archive"
      continue
    fi
    cp "$pack_dir/$archive" "$unpack_dir/"
    run_tool "$unpacker" "$unpack_dir" "unpack-$save-$packer" "$archive"
    expect_code "$unpacker unpacks $archive" "unpack-$save-$packer" 0
    identical=0
    total=0
    for pair in $outputs; do
      total=$((total + 1))
      out=${pair%%=*}
      original=${pair#*=}
      if cmp -s "$originals/$original" "$unpack_dir/$out"; then
        identical=$((identical + 1))
      else
        fail "$save packed on $packer, unpacked on $unpacker: $out is not $original byte for byte"
      fi
    done
    if [ "$identical" -eq "$total" ]; then
      echo "cross-check: ok: $save packed on $packer, unpacked on $unpacker: $total files byte-identical"
    fi
  done
done

# the same save gives the same archive bytes and leaves the same files on both sides
for check in "${checks[@]}"; do
  IFS='|' read -r save _ archive _ <<<"$check"
  if cmp -s "$scratch/windows-packs/$archive" "$scratch/linux-packs/$archive"; then
    echo "cross-check: ok: $archive is byte-identical from both builds ($(wc -c <"$scratch/linux-packs/$archive") bytes)"
  else
    fail "$archive differs between the Windows and the Linux build"
  fi
  same_run "pack $save" "pack-$save-windows" "pack-$save-linux"
  same_run "unpack $archive" "unpack-$save-linux" "unpack-$save-windows"
done
for pair in "windows-packs linux-packs" "windows-unpacks-linux linux-unpacks-windows"; do
  read -r a b <<<"$pair"
  if [ "$(ls -A "$scratch/$a")" != "$(ls -A "$scratch/$b")" ]; then
    fail "$a and $b hold different files: $(ls -A "$scratch/$a" | tr '\n' ' ')/ $(ls -A "$scratch/$b" | tr '\n' ' ')"
  fi
done

# the fixed texts: usage, a missing save (its absolute path differs: keep only the name), another
# extension, help, version, and the listing and test of one archive
for side in windows linux; do
  dir=$scratch/$side-texts
  mkdir -p "$dir"
  : >"$dir/notes.txt"
  run_tool "$side" "$dir" "usage-$side"
  run_tool "$side" "$dir" "missing-$side" missing.sav
  run_tool "$side" "$dir" "other-$side" notes.txt
  run_tool "$side" "$dir" "help-$side" --help
  run_tool "$side" "$dir" "version-$side" --version
  for look in --list --test; do
    run_tool "$side" "$scratch/$side-packs" "${look#--}-$side" "$look" myarch.ssav
  done
done
sed -e 's|^File .*[/\\]missing\.sav not found|File <dir>missing.sav not found|' "$scratch/missing-windows.out" >"$scratch/missing-w.out"
sed -e 's|^File .*[/\\]missing\.sav not found|File <dir>missing.sav not found|' "$scratch/missing-linux.out" >"$scratch/missing-l.out"
cp "$scratch/missing-windows.code" "$scratch/missing-w.code"
cp "$scratch/missing-linux.code" "$scratch/missing-l.code"
if ! grep -q '^File [A-Za-z]:\\.*\\missing\.sav not found' "$scratch/missing-windows.out"; then
  fail "Tovrel.exe's not-found message lacks a drive and backslashes: $(cat "$scratch/missing-windows.out")"
fi
same_run "no argument (usage)" usage-windows usage-linux
same_run "missing save (paths aside)" missing-w missing-l
same_run "another extension" other-windows other-linux
same_run "--help" help-windows help-linux
same_run "--version" version-windows version-linux
same_run "--list myarch.ssav" list-windows list-linux
same_run "--test myarch.ssav" test-windows test-linux

if [ "$failures" -ne 0 ]; then
  echo "cross-check: $failures check(s) failed" >&2
  exit 1
fi
echo "cross-check: passed"
