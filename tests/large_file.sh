#!/usr/bin/env bash
# Past 4 GiB: test_wav on a 4.5 GB stereo 48 kHz input whose RIFF and data
# sizes are placeholders (0xFFFFFFFF) must write an RF64 file that
# libsndfile reads with every whole block of the input, and must read that
# file back itself. The input is sparse; the output takes 4.5 GB of disk
# for a minute or two, in DIR (default: a folder under the current one).
#   tests/large_file.sh TEST_WAV [DIR]
set -euo pipefail
tool="$1"
work="$(mktemp -d -p "${2:-.}" large_file.XXXXXX)"
trap 'rm -rf "$work"' EXIT

size=4500000000 header=44 frame=4 block=1024
python3 - "$work/in.wav" <<'PY'
import struct, sys
fmt = struct.pack("<HHIIHH", 1, 2, 48000, 192000, 4, 16)
with open(sys.argv[1], "wb") as f:
    f.write(b"RIFF\xff\xff\xff\xffWAVEfmt " + struct.pack("<I", 16) + fmt + b"data\xff\xff\xff\xff")
PY
truncate -s "$size" "$work/in.wav"
expected=$(( (size - header) / frame / block * block ))

start=$SECONDS
"$tool" 2 -20 0.95 0.98 "$work/in.wav" "$work/out.wav" >"$work/stdout"
tail -n 1 "$work/stdout" | grep -qx "Press enter key"
echo "test_wav: $((SECONDS - start)) s for $size bytes"

[ "$(head -c 4 "$work/out.wav")" = RF64 ] || { echo "not RF64"; exit 1; }
frames=$(sndfile-info "$work/out.wav" | sed -n 's/^Frames *: *//p')
echo "libsndfile reads $frames frames; the input holds $expected in whole blocks"
[ "$frames" = "$expected" ]
[ "$(stat -c %s "$work/out.wav")" = $(( 92 + expected * frame )) ]

# The RF64 header read back by test_wav, from a pipe: the first megabyte
# gives whole blocks of it.
head -c 1000000 "$work/out.wav" | "$tool" 2 -20 0.95 0.98 /dev/stdin "$work/back.wav" >/dev/null
[ "$(stat -c %s "$work/back.wav")" = $(( 56 + (1000000 - 92) / frame / block * block * frame )) ]
echo "large_file: OK"
