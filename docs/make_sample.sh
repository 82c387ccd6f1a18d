#!/usr/bin/env bash
# make_sample.sh - rebuilds samples/noisy_speech.wav, the bundled demo input.
#
# What it makes: about 5.8 s of synthesised English speech with stationary
# pink noise added at 8 dB SNR (speech power measured over the frames where
# speech is active), as 16 kHz mono 16-bit PCM with a plain 44-byte
# RIFF/WAVE header (16-byte fmt chunk, then data; no LIST or other chunks).
# The first 1.0 s is noise only, so a noise tracker has a stretch to learn
# from, and the last 0.5 s is noise only as well. Peaks stay below full scale.
#
# How: espeak-ng speaks the text (voice en-us, 165 words/min) to a WAV file;
# sox resamples it to 16 kHz without dither (so the result is deterministic)
# and writes raw samples; an embedded Python 3 standard-library script pads,
# scales, adds pink noise from a seeded generator (random.Random(20240607),
# Gaussian white noise through a three-pole pink-noise filter) and
# writes the file with a hand-made header.
#
# Needs the Debian packages: espeak-ng, sox, python3
#   apt-get update && apt-get install -y espeak-ng sox python3
#
# Usage: bash docs/make_sample.sh [OUTPUT]   (default: samples/noisy_speech.wav
# under the repository root). Running it again with the same package versions
# gives the same bytes; another espeak-ng version may speak slightly
# differently.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/samples/noisy_speech.wav}"

TEXT="The quick brown fox jumps over the lazy dog. Now it is easy to hear."
VOICE="en-us"
SPEED=165          # words per minute
RATE=16000         # output sample rate, Hz
LEAD_S=1.0         # noise only before the speech, seconds
TAIL_S=0.5         # noise only after the speech, seconds
SNR_DB=8           # speech power over noise power, dB
PEAK=0.5           # speech peak before the noise is added, of full scale
SEED=20240607      # noise generator seed

for tool in espeak-ng sox python3; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "make_sample.sh: '$tool' not found; apt-get install -y espeak-ng sox python3" >&2
    exit 1
  }
done

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# 1. Speech, at espeak-ng's own rate (22050 Hz mono 16-bit).
espeak-ng -v "$VOICE" -s "$SPEED" -w "$TMP/speech.wav" "$TEXT"

# 2. Resample to 16 kHz, 16-bit signed raw; -D: no dither, so no randomness.
sox -D -V1 "$TMP/speech.wav" -t raw -e signed-integer -b 16 -c 1 -r "$RATE" \
    -L "$TMP/speech.raw" rate -v "$RATE"

# 3. Pad, scale, add seeded pink noise and write a canonical 44-byte header.
mkdir -p "$(dirname "$OUT")"
python3 - "$TMP/speech.raw" "$OUT" "$RATE" "$LEAD_S" "$TAIL_S" "$SNR_DB" "$PEAK" "$SEED" <<'PY'
import math, random, struct, sys, array

raw, out = sys.argv[1], sys.argv[2]
rate = int(sys.argv[3])
lead_s, tail_s, snr_db, peak = map(float, sys.argv[4:8])
seed = int(sys.argv[8])

speech = array.array("h")
with open(raw, "rb") as f:
    speech.frombytes(f.read())
if sys.byteorder != "little":
    speech.byteswap()
if not speech:
    sys.exit("make_sample: espeak-ng produced no speech")

# Trim the synthesiser's own leading and trailing near-silence so the
# noise-only stretches are exactly as long as asked.
thr = 0.01 * max(abs(v) for v in speech)
first = next(i for i, v in enumerate(speech) if abs(v) > thr)
last = len(speech) - next(i for i, v in enumerate(reversed(speech)) if abs(v) > thr)
s = [float(v) for v in speech[first:last]]

# Scale the speech to the chosen peak.
smax = max(abs(v) for v in s)
s = [v * peak * 32767.0 / smax for v in s]

lead, tail = int(round(lead_s * rate)), int(round(tail_s * rate))
total = lead + len(s) + tail
clean = [0.0] * lead + s + [0.0] * tail

# Speech power over active 20 ms frames (frames within 30 dB of the loudest).
frame = rate // 50
powers = []
for i in range(lead, lead + len(s) - frame + 1, frame):
    seg = clean[i:i + frame]
    powers.append(sum(v * v for v in seg) / frame)
pmax = max(powers)
active = [p for p in powers if p > pmax * 1e-3]
speech_power = sum(active) / len(active)

# Seeded pink noise: Gaussian white noise through an economy three-pole pink
# filter; the filter is run in for a second first so the start is stationary.
rng = random.Random(seed)
b0 = b1 = b2 = 0.0
noise = []
for n in range(total + rate):
    w = rng.gauss(0.0, 1.0)
    b0 = 0.99765 * b0 + w * 0.0990460
    b1 = 0.96300 * b1 + w * 0.2965164
    b2 = 0.57000 * b2 + w * 1.0526913
    if n >= rate:
        noise.append(b0 + b1 + b2 + w * 0.1848)
mean = sum(noise) / len(noise)
noise = [v - mean for v in noise]
noise_power = sum(v * v for v in noise) / len(noise)
g = math.sqrt(speech_power / (noise_power * 10.0 ** (snr_db / 10.0)))

mix = [c + g * v for c, v in zip(clean, noise)]
mpeak = max(abs(v) for v in mix)
if mpeak > 32000.0:          # keep clear of clipping, whatever the text
    k = 32000.0 / mpeak
    mix = [v * k for v in mix]

pcm = array.array("h", (int(math.floor(v + 0.5)) for v in mix))
opeak = max(abs(v) for v in pcm)
if sys.byteorder != "little":
    pcm.byteswap()
data = pcm.tobytes()
header = struct.pack("<4sI4s4sIHHIIHH4sI",
                     b"RIFF", 36 + len(data), b"WAVE",
                     b"fmt ", 16, 1, 1, rate, rate * 2, 2, 16,
                     b"data", len(data))
with open(out, "wb") as f:
    f.write(header)
    f.write(data)
print("make_sample: wrote %s: %.2f s, %d Hz mono 16-bit, peak %d, %d bytes"
      % (out, total / rate, rate, opeak,
         len(header) + len(data)))
PY
