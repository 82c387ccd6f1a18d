#!/usr/bin/env bash
# spectrogram.sh - draws docs/spectrogram.png: the bundled sample before
# (top) and after (bottom) test_wav with the usual parameters, on one time
# axis.
#
# It builds the demo target of an existing build folder, which writes the
# cleaned sample to BUILD/noisy_speech_clean.wav, drops the cleaned file's
# first block (190 samples at 16 kHz: the output lags the input by one block)
# so the two line up, and has sox draw both as the two channels of one
# spectrogram. 800 x 200 pixels per channel and a 90 dB range keep the PNG
# under 300 KB.
#
# Needs the Debian package sox (its spectrogram effect writes PNG).
# Usage: bash docs/spectrogram.sh [BUILD_DIR [OUTPUT]]
#        (defaults: build, docs/spectrogram.png under the repository root)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
OUT="${2:-$ROOT/docs/spectrogram.png}"
command -v sox >/dev/null 2>&1 || { echo "spectrogram.sh: sox not found; apt-get install -y sox" >&2; exit 1; }

cmake --build "$BUILD" --target demo >/dev/null
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
sox "$BUILD/noisy_speech_clean.wav" "$TMP/clean.wav" trim 190s
sox -M "$ROOT/samples/noisy_speech.wav" "$TMP/clean.wav" -n \
    spectrogram -x 800 -y 200 -z 90 -c "" \
    -t "noisy_speech wav - top: as recorded, bottom: test_wav 2 -20 0.95 0.98" -o "$OUT"
echo "spectrogram.sh: wrote $OUT ($(stat -c %s "$OUT") bytes)"
