#!/usr/bin/env bash
# The VST3 bundle in Ardour 7 headless, mono and stereo, against test_wav:
#   run.sh TEST_WAV GOLDEN_WAV BUNDLE.vst3
# Ardour compensates the reported latency, and its export starts the
# plugin PREROLL samples of silence before the region; test_wav is run on
# that silence followed by the input.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
test_wav="$1" golden_wav="$2" bundle="$3"
preroll=${PREROLL:-102145}  # at 48 kHz; 769 modulo the engine's 1024-sample cycle
block=1024                  # test_wav's block at 48 kHz: its output lags by one
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
fail() { echo "ardour: $*" >&2; exit 1; }
. "$here/session.sh"

# Ardour's cache and user configuration of this run alone (instances that
# share them can stall each other); no Ardour program may hang the test.
export XDG_CACHE_HOME="$TMP/cache" XDG_CONFIG_HOME="$TMP/config" VST3_PATH="$TMP/vst3"
mkdir -p "$XDG_CONFIG_HOME"
mkdir -p "$VST3_PATH"
cp -r "$bundle" "$VST3_PATH/"
find "$VST3_PATH" -type f -exec touch -d '-5 seconds' {} +
# Ardour's programs do not scan VST3 themselves: its scanner writes the
# cache, which counts only when at least a second newer than the module.
LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 300 /usr/lib/ardour7/ardour-vst3-scanner -f "$VST3_PATH/$(basename "$bundle")" \
  >"$TMP/scan.log" 2>&1 || { cat "$TMP/scan.log"; fail "the scanner refused the bundle"; }

# channels, VST3 class UID, controls (mode limit adaptation smoothing)
run_case() {
  local channels=$1 uid=$2 controls=$3
  "$golden_wav" 48000 "$channels" "$TMP/in$channels.wav"
  python3 - "$TMP/in$channels.wav" "$TMP/pre$channels.wav" "$preroll" <<'PY'
import sys, wave
with wave.open(sys.argv[1]) as w:
    params, frames = w.getparams(), w.readframes(w.getnframes())
with wave.open(sys.argv[2], "wb") as w:
    w.setparams(params)
    w.writeframes(b"\0" * (int(sys.argv[3]) * params.sampwidth * params.nchannels) + frames)
PY
  "$test_wav" ${controls} "$TMP/pre$channels.wav" "$TMP/ref$channels.wav" </dev/null >/dev/null
  local try log=""
  for try in $(seq "$ardour_tries"); do
    if ardour_export "$TMP/s$channels" vst3 "$uid" "$channels" "$controls" "$TMP/in$channels.wav" \
      "$TMP/out$channels.wav" -b float; then
      echo -n "ardour: $channels channel(s), controls $controls: "
      python3 "$here/compare.py" "$TMP/out$channels.wav" "$TMP/ref$channels.wav" "$channels" \
        $((preroll + block)) && return 0
    else
      log="$(tail -n 3 "$TMP/s$channels.log")"
    fi
  done
  fail "no try of $ardour_tries gave test_wav's samples${log:+; the last export ended: $log}"
}
run_case 1 028BAA000FE94A188C5A8B10A6A932F2 "1 -20 0.95 0.98"
run_case 2 51A4F993E2B54ABE96F4C70BDDFD7053 "2 -20 0.95 0.98"
echo "ardour: the VST3 plugins give test_wav's samples"
