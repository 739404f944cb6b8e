#!/usr/bin/env bash
# Rebuilds the seed corpus of both fuzz targets: archives packed by the tool from small saves, and
# hand-made ones (hostile entry names, duplicates, a 267-byte name, unused directory room, a cut stream).
# Damaged headers and directories are left to the fuzzers' mutations and to archive_test's table.
# Usage: fuzz/corpus/make_corpus.sh PATH/TO/tovrel   (needs python3; the output is committed)
set -euo pipefail
tool=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seeds="$work/seeds"
mkdir -p "$seeds"

# packs the files named after the save "$1" in a fresh folder into seed "$2"
pack() {
  (cd "$work/$1" && "$tool" s.sav >/dev/null)
  cp "$work/$1/s.ssav" "$seeds/$2.ssav"
}
mkdir -p "$work/two" "$work/three" "$work/five" "$work/big"
printf 'player=Ayla\nlevel=3\ngold=120\n' >"$work/two/s.sav"
printf '\xff\xd8\xff\xe0 tiny picture \xff\xd9' >"$work/two/s.jpg"
pack two tool-sav-and-jpg
: >"$work/three/s.sav"
printf 'no extension' >"$work/three/s"
printf 'notes notes notes notes\n' >"$work/three/s.txt"
pack three tool-empty-sav-bare-name-txt
for ext in sav a b c d; do printf 'member %s\n' "$ext" >"$work/five/s.$ext"; done
pack five tool-five-members
python3 -c "import random, sys; random.seed(7); sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(17000)))" \
  >"$work/big/s.sav"  # incompressible: a stored stream longer than one 16 KiB window
pack big tool-sav-over-one-window

python3 - "$seeds" <<'PY'
import struct, sys, zlib
out = sys.argv[1]

def archive(entries, slack=b""):
    """entries: (name, data) pairs; streams follow the directory in the same order"""
    header_size = 16 + sum(16 + len(n) for n, _ in entries) + len(slack)
    streams = [zlib.compress(d, 6) for _, d in entries]
    directory, offset = b"", header_size
    for (name, data), stream in zip(entries, streams):
        directory += struct.pack("<I", len(name)) + name + struct.pack("<III", offset, len(stream), len(data))
        offset += len(stream)
    return b"MXPQ" + struct.pack("<iii", header_size, 6, len(entries)) + directory + slack + b"".join(streams)

def save(name, data):
    with open(f"{out}/{name}.ssav", "wb") as f:
        f.write(data)

good = archive([(b".txt", b"abc")])
save("empty-archive", archive([]))
save("one-entry-abc", good)
save("slack-after-last-record", archive([(b".txt", b"abc")], slack=b"\xee" * 4))
save("name-of-267-bytes", archive([(b"." + b"n" * 266, b"long name")]))
save("hostile-names", archive([(b"/../../escape", b"out"), (b"\\evil", b"back"), (b":stream", b"ads"),
                               (b".ssav", b"over the archive"), (b".jpg", b"fine")]))
save("duplicate-names", archive([(b".jpg", b"first"), (b".jpg", b"second"), (b".sav", b"save")]))
save("empty-name", archive([(b"", b"bare"), (b".part", b"looks like a leftover")]))
# one damaged archive of each kind the fuzzers grow the rest from: a stream cut by the end of the file
save("bad-stream-cut-by-eof", good[:46])
PY

for target in archive_fuzz unpack_fuzz; do
  rm -rf "${here:?}/$target"
  mkdir -p "$here/$target"
  cp "$seeds"/*.ssav "$here/$target/"
done
ls "$here/archive_fuzz" | wc -l
