"""Compares a host's output (float or 16-bit) with test_wav's:
    compare.py EXPORT.wav TEST_WAV_OUT.wav CHANNELS SHIFT
Sample t of every channel of the export must equal sample t + SHIFT of
test_wav's (times 32768) wherever both exist."""
import struct
import sys


def read(path):
    b = open(path, "rb").read()
    if b[:4] != b"RIFF" or b[8:12] != b"WAVE":
        sys.exit("compare: %s is not a WAV file" % path)
    at, fmt, data = 12, None, None
    while at + 8 <= len(b):
        cid, size = b[at:at + 4], struct.unpack("<I", b[at + 4:at + 8])[0]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", b[at + 8:at + 24])
        elif cid == b"data":
            data = b[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    channels, bits = fmt[1], fmt[5]
    n = len(data) // (bits // 8)
    values = struct.unpack("<%d%s" % (n, "f" if bits == 32 else "h"), data[:n * (bits // 8)])
    scale = 32768.0 if bits == 32 else 1
    return [[v * scale for v in values[c::channels]] for c in range(channels)]


export, reference = read(sys.argv[1]), read(sys.argv[2])
channels, shift = int(sys.argv[3]), int(sys.argv[4])
n = min(len(export[0]), len(reference[0]) - shift)
equal = sum(1 for c in range(channels) for t in range(n) if export[c][t] == reference[c][t + shift])
sound = sum(1 for c in range(channels) for t in range(n) if export[c][t] != 0)
print("%d of %d samples equal, %d not silent" % (equal, n * channels, sound))
sys.exit(0 if n > 0 and equal == n * channels and sound > n * channels // 2 else 1)
