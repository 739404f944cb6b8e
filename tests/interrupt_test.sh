#!/usr/bin/env bash
# Ctrl+C under Wine, which turns a SIGINT to a Windows program into its console's Ctrl+C event. Tovrel.exe,
# stopped just after making its first temporary (a pack over an older archive, an unpack over an older
# save), must delete it, leave every other file as it was, and end with STATUS_CONTROL_C_EXIT
# (0xC000013A; Wine gives the shell its low byte, 58). An interrupt that found no temporary (not made
# yet, or gone) shows as another code or a changed folder.
# Usage: tests/interrupt_test.sh TOVREL_EXE   (run by ctest in the Windows build)
set -euo pipefail
dir=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-interrupt.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir" && mkdir pack unpack && head -c 300000 /dev/urandom >pack/s.sav
wine "$1" pack/s.sav >/dev/null 2>&1
mv pack/s.ssav unpack/ && printf 'an older archive' >pack/s.ssav && printf 'an older save' >unpack/s.sav
for arg in pack/s.sav unpack/s.ssav; do
  cp -r "${arg%/*}" before
  TOVREL_STOP_AT_TEMPORARY=1 wine "$1" "$arg" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 300); do compgen -G "${arg%/*}/~tovrel-*.tmp" >/dev/null && break || sleep 0.1; done
  kill -INT $!
  status=0 && wait $! || status=$?
  diff -r before "${arg%/*}" >&2 && [ "$status" -eq 58 ] || { echo "interrupt: $arg: exit status $status" >&2; exit 1; }
  rm -r before
done
echo "interrupt: an interrupted pack and unpack left every file as it was"
