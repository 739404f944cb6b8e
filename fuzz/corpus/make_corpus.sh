#!/usr/bin/env bash
# Rebuilds the seed corpus of both fuzz targets: archives packed by the tool from small saves, and
# hand-made ones (hostile entry names, a 267-byte name, the damaged archives the unit tests refuse).
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

def put(data, at, value):
    return data[:at] + struct.pack("<I", value) + data[at + 4:]

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
# the damaged archives the unit tests refuse or fail to extract
for what, at, value in [("header-size-below-header", 4, 15), ("header-size-past-end", 4, 48),
                        ("negative-entry-count", 12, 0xFFFFFFFF), ("more-records-than-directory", 12, 2),
                        ("name-past-directory", 16, 5), ("name-over-267", 16, 268),
                        ("offset-past-end", 24, 47), ("stream-past-end", 28, 12),
                        ("original-size-2-31", 32, 0x80000000), ("ratio-too-high", 32, 11 * 1032 + 1),
                        ("stream-cut-short", 28, 10), ("stream-shorter-than-size", 32, 4),
                        ("stream-longer-than-size", 32, 2), ("offset-inside-directory", 24, 16)]:
    save("bad-" + what, put(good, at, value))
save("bad-header-cut-short", good[:15])
save("bad-stream-cut-by-eof", good[:46])
save("bad-checksum", good[:-1] + bytes([good[-1] ^ 1]))
PY

for target in archive_fuzz unpack_fuzz; do
  rm -rf "${here:?}/$target"
  mkdir -p "$here/$target"
  cp "$seeds"/*.ssav "$here/$target/"
done
ls "$here/archive_fuzz" | wc -l
