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

# Makes session $1 with a track of $2 channels carrying plugin $3 set to
# controls $4, the input in$2.wav as its region, and exports it to $1.wav.
export_session() {
  local name=$1 channels=$2 uid=$3 controls=$4
  rm -rf "$TMP/$name" "$TMP/$name.wav"
  timeout 300 ardour7-new_session -s 48000 "$TMP/$name" "$name" >"$TMP/$name.log" 2>&1 || return 1
  SESSION_DIR="$TMP/$name" SESSION_NAME="$name" TRACK_CHANNELS=$channels PLUGIN_FORMAT=vst3 PLUGIN_ID=$uid \
    CONTROLS="$controls" \
    timeout 300 ardour7-lua "$here/insert_plugin.lua" >>"$TMP/$name.log" 2>&1 || return 1
  cp "$TMP/in$channels.wav" "$TMP/$name/interchange/$name/audiofiles/input.wav"
  python3 "$here/place_region.py" "$TMP/$name/$name.ardour" input.wav
  timeout 120 ardour7-export -b float -o "$TMP/$name.wav" "$TMP/$name" "$name" >>"$TMP/$name.log" 2>&1
}

# channels, VST3 class UID, controls (mode limit adaptation smoothing)
run_case() {
  local channels=$1 uid=$2 controls=$3 name="s$1"
  "$golden_wav" 48000 "$channels" "$TMP/in$channels.wav"
  # On a loaded machine ardour7-export now and then never finishes; a
  # second try starts again from a new session.
  export_session "$name" "$channels" "$uid" "$controls" ||
    export_session "$name" "$channels" "$uid" "$controls" ||
    { cat "$TMP/$name.log"; fail "no export"; }
  python3 - "$TMP/in$channels.wav" "$TMP/pre$channels.wav" "$preroll" <<'PY'
import sys, wave
with wave.open(sys.argv[1]) as w:
    params, frames = w.getparams(), w.readframes(w.getnframes())
with wave.open(sys.argv[2], "wb") as w:
    w.setparams(params)
    w.writeframes(b"\0" * (int(sys.argv[3]) * params.sampwidth * params.nchannels) + frames)
PY
  "$test_wav" ${controls} "$TMP/pre$channels.wav" "$TMP/ref$channels.wav" </dev/null >/dev/null
  echo -n "ardour: $channels channel(s), controls $controls: "
  python3 "$here/compare.py" "$TMP/$name.wav" "$TMP/ref$channels.wav" "$channels" $((preroll + block)) ||
    fail "the export differs from test_wav"
}
run_case 1 028BAA000FE94A188C5A8B10A6A932F2 "1 -20 0.95 0.98"
run_case 2 51A4F993E2B54ABE96F4C70BDDFD7053 "2 -20 0.95 0.98"
echo "ardour: the VST3 plugins give test_wav's samples"
