#!/bin/sh
# Writes the sample save next to this script: autosave1.sav (a made-up binary save: a header, entity
# records and quest text), autosave1.jpg (pseudo-random bytes standing in for the screenshot; not an
# image) and autosave1.txt (the save's description). Deterministic: every run writes the same bytes.
# Needs only a POSIX shell and awk. Usage: examples/make_sample.sh
set -eu
cd "$(dirname "$0")"
LC_ALL=C
export LC_ALL

# awk prints the bytes as octal escapes, 64 to a line; printf(1) turns each line back into bytes,
# which keeps NUL and high bytes intact whatever awk is installed.
emit() {
  while IFS= read -r line; do
    printf "$line"
  done
}

# minstd (x = 48271 x mod 2^31-1): every product stays below 2^53, so awk's doubles compute it exactly
awk_common='
function rnd() { seed = (seed * 48271) % 2147483647; return seed }
function put(b) { out = out sprintf("\\%03o", b); if (++n % 64 == 0) { print out; out = "" } }
function u32(v) { put(v % 256); put(int(v / 256) % 256); put(int(v / 65536) % 256); put(int(v / 16777216) % 256) }
function str(s,   i) { for (i = 1; i <= length(s); i++) put(ord[substr(s, i, 1)]) }
function finish() { if (out != "") print out }
BEGIN { for (i = 0; i < 256; i++) ord[sprintf("%c", i)] = i; n = 0; out = "" }
'

awk "$awk_common"'
BEGIN {
  seed = 20240611
  str("BRSKSAVE"); u32(3); u32(200); u32(48211)           # magic, version, entity count, play seconds
  for (e = 0; e < 200; e++) {                             # 200 entity records of 24 bytes
    u32(e + 1); u32(rnd() % 12)                           # id, kind
    u32(rnd() % 4096); u32(rnd() % 4096); u32(rnd() % 256) # x, y, level
    u32(rnd() % 2 ? 1 : 0)                                # flags
  }
  split("Find the lost caravan|Clear the old mine|Return the silver key|Speak to the ferryman|Light the beacon", quest, "|")
  for (q = 0; q < 60; q++) {                              # quest log: length-prefixed strings
    line = quest[rnd() % 5 + 1] " (stage " (rnd() % 9 + 1) ")"
    u32(length(line)); str(line)
  }
  finish()
}' | emit > autosave1.sav

awk "$awk_common"'
BEGIN { seed = 77; for (i = 0; i < 4096; i++) put(int(rnd() / 7) % 256); finish() }
' | emit > autosave1.jpg

cat > autosave1.txt <<'TEXT'
Brask saved game
Name: autosave1
Location: Harbour of Vell, north pier
Play time: 13:23:31
Party: Aren (level 14), Mirel (level 12), Tosk (level 13)
Note: a sample made by examples/make_sample.sh for the demo.
TEXT

echo "make_sample: wrote autosave1.sav, autosave1.jpg and autosave1.txt in $(pwd)"
