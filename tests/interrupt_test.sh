#!/usr/bin/env bash
# Ctrl+C under Wine, which turns a SIGINT to a Windows program into its console's Ctrl+C event. Tovrel.exe,
# stopped just after making its first temporary (a pack over an older archive, an unpack over older
# files), must delete it, leave every other file as it was, and end with STATUS_CONTROL_C_EXIT
# (0xC000013A; Wine gives the shell its low byte, 58).
# Usage: tests/interrupt_test.sh TOVREL_EXE   (run by ctest in the Windows build)
set -euo pipefail
exe=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-interrupt.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
head -c 300000 /dev/urandom >s.sav
printf 'a picture' >s.jpg
wine "$exe" s.sav >/dev/null 2>&1
mkdir pack unpack
cp s.sav s.jpg pack/ && printf 'an older archive' >pack/s.ssav
cp s.ssav unpack/ && printf 'an older save' >unpack/s.sav && printf 'an older picture' >unpack/s.jpg

for arg in pack/s.sav unpack/s.ssav; do
  folder=${arg%/*}
  cp -r "$folder" "$folder.before"
  TOVREL_STOP_AT_TEMPORARY=1 wine "$exe" "$arg" </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 300); do
    if compgen -G "$folder/~tovrel-*.tmp" >/dev/null; then break; fi
    sleep 0.1
  done
  if ! compgen -G "$folder/~tovrel-*.tmp" >/dev/null; then
    echo "interrupt: $arg: no temporary to interrupt" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
  fi
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  if [ "$status" -ne 58 ] || ! diff -r "$folder.before" "$folder" >&2; then
    echo "interrupt: $arg: exit status $status (58 expected), or the folder changed" >&2
    exit 1
  fi
done
echo "interrupt: an interrupted pack and unpack left every file as it was"
