#!/usr/bin/env bash
# noise_table.sh - measures, for each mode, how much test_wav lowers the
# noise of the bundled sample, and prints the Markdown table of the README.
#
# The sample (samples/noisy_speech.wav, 16 kHz mono) holds noise only in its
# first 1.0 s and its last 0.5 s. Each mode runs with the usual parameters
# (-20 dB, 0.95, 0.98); the reduction is 10 log10 of the input's mean square
# over the output's on the same samples. The output lags by one block of 190
# samples, so output sample n + 190 is compared with input sample n; the
# first output block (start-up, before any input) is left out that way. The
# first second includes the start of the stream; the last half second shows
# the suppressor after it has run through the speech.
#
# Needs python3 (standard library only) and a built test_wav.
# Usage: bash docs/noise_table.sh [TEST_WAV]   (default: build/test_wav)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TOOL="${1:-$ROOT/build/test_wav}"
[ -x "$TOOL" ] || { echo "noise_table.sh: no test_wav at $TOOL; build first" >&2; exit 1; }

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
for mode in 0 1 2 3; do
  "$TOOL" "$mode" -20 0.95 0.98 "$ROOT/samples/noisy_speech.wav" "$TMP/mode$mode.wav" >/dev/null
done

python3 - "$ROOT/samples/noisy_speech.wav" "$TMP" <<'PY'
import array, math, struct, sys

def samples(path):
    """16-bit samples of the data chunk, found by walking the chunks."""
    with open(path, "rb") as f:
        b = f.read()
    at = 12
    while at + 8 <= len(b):
        ident, size = b[at:at + 4], struct.unpack("<I", b[at + 4:at + 8])[0]
        if ident == b"fmt ":
            rate = struct.unpack("<I", b[at + 12:at + 16])[0]
        if ident == b"data":
            a = array.array("h")
            a.frombytes(b[at + 8:at + 8 + size])
            if sys.byteorder != "little":
                a.byteswap()
            return rate, a
        at += 8 + size + (size & 1)
    sys.exit("noise_table: no data chunk in " + path)

def mean_square(a, start, end):
    return sum(v * v for v in a[start:end]) / (end - start)

rate, x = samples(sys.argv[1])
assert rate == 16000, "the block length below is that of 16 kHz"
LAG = 190
first = (0, rate)                      # first 1.0 s
last = (len(x) - rate // 2, len(x))    # last 0.5 s

print("| Mode | First 1.0 s (start of the stream) | Last 0.5 s (after the speech) |")
print("|---|---|---|")
for mode in range(4):
    _, y = samples("%s/mode%d.wav" % (sys.argv[2], mode))
    cells = []
    for start, end in (first, last):
        end = min(end, len(y) - LAG)   # the output ends up to two blocks early
        out = mean_square(y, start + LAG, end + LAG)
        if out == 0:
            cells.append("silent")
        else:
            cells.append("%.1f dB" % (10 * math.log10(mean_square(x, start, end) / out)))
    print("| %d | %s | %s |" % (mode, cells[0], cells[1]))
PY
