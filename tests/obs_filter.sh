#!/usr/bin/env bash
# The OBS filter inside libobs (tests/obs_harness.cpp) against test_wav, at
# OBS's two rates, mono and stereo; libobs needs an X display, so under Xvfb:
#   obs_filter.sh OBS_HARNESS MODULE TEST_WAV GOLDEN_WAV
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
harness="$1" module="$2" test_wav="$3" golden_wav="$4"
block=1024  # test_wav's block at both rates: its output lags by one
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
for rate in 48000 44100; do
  for channels in 1 2; do
    mode=$(( (rate / 1000 + channels) % 4 ))
    "$golden_wav" "$rate" "$channels" "$TMP/in.wav"
    xvfb-run -a "$harness" "$module" "$TMP/in.wav" "$TMP/obs.wav" "$mode" -20 0.95 0.98 2>"$TMP/obs.log" ||
      { cat "$TMP/obs.log" >&2; echo "obs_filter: the harness failed" >&2; exit 1; }
    "$test_wav" "$mode" -20 0.95 0.98 "$TMP/in.wav" "$TMP/ref.wav" </dev/null >/dev/null
    echo -n "obs_filter: $rate Hz, $channels ch, mode $mode: "
    python3 "$here/ardour/compare.py" "$TMP/obs.wav" "$TMP/ref.wav" "$channels" "$block" ||
      { echo "obs_filter: the filter's output differs from test_wav" >&2; exit 1; }
  done
done
