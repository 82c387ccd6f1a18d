#!/usr/bin/env bash
# The plugins in the hosts people use, which run them with the processor's
# flush-to-zero and denormals-are-zero modes on; each output compared sample
# for sample with test_wav. Also test_wav itself under those modes.
#   - test_wav under FTZ_SO (LD_PRELOAD) writes the same bytes on every
#     golden input, modes 0-3;
#   - gst-launch-1.0 (ladspa and lv2 elements, mono and stereo, with and
#     without queues) and ecasound (-el:) do not compensate the latency:
#     output as long as the input, silent for `latency` samples, then
#     test_wav's output from one block on;
#   - Audacity (when installed) through its scripting pipe, LADSPA and LV2
#     at the plugin's defaults: not compensated either;
#   - ardour7-export of a session with the LV2 or the LADSPA plugin on a
#     mono and a stereo track at 48 kHz: Ardour
#     compensates the latency, after feeding the plugin PREROLL silent
#     samples, so sample t is test_wav's sample PREROLL + block + t of the
#     input behind PREROLL zeros.
# Usage: run.sh TEST_WAV GOLDEN_WAV BUNDLE_DIR FTZ_SO SAMPLES_DIR
set -euo pipefail
test_wav="$(readlink -f "$1")" golden_wav="$(readlink -f "$2")" bundle="$(readlink -f "$3")"
ftz="$(readlink -f "$4")" samples="$(readlink -f "$5")"
here="$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export LADSPA_PATH="$bundle" LV2_PATH="$(dirname "$bundle")" GST_REGISTRY="$work/gst-registry.bin"
failures=0
fail() { echo "hosts: $*" >&2; failures=$((failures + 1)); }
. "$here/../support/host_checks.sh"
# IN.wav OUT.raw [MODE LIMIT ADAPTATION SMOOTHING]: test_wav's samples, at
# the command line's values unless given.
reference() {
  "$test_wav" "${3:-2}" "${4:--20}" "${5:-0.95}" "${6:-0.98}" "$1" ref.wav >/dev/null && tail -c +57 ref.wav >"$2"
}

# test_wav under the preload.
inputs=()
for rate in 8000 16000 44100 48000; do
  for ch in 1 2; do "$golden_wav" "$rate" "$ch" "golden-$rate-$ch.wav"; inputs+=("golden-$rate-$ch.wav"); done
done
inputs+=("$samples/noisy_speech.wav")
for in in "${inputs[@]}"; do
  for mode in 0 1 2 3; do
    "$test_wav" "$mode" -20 0.95 0.98 "$in" plain.wav >/dev/null
    LD_PRELOAD="$ftz" "$test_wav" "$mode" -20 0.95 0.98 "$in" ftz.wav >/dev/null
    cmp -s plain.wav ftz.wav || fail "test_wav under flush-to-zero differs on $(basename "$in"), mode $mode"
  done
done
echo "hosts: test_wav under flush-to-zero, ${#inputs[@]} inputs x 4 modes"

# A host that does not compensate: OUT.raw against test_wav on IN.wav.
check_late() {  # WHAT OUT.raw IN.wav RATE CHANNELS
  local frame=$((2 * $5)) input=$(($(size "$3") - 44))
  local block=$(($(block_of "$4") * frame)) latency=$(((2 * $(block_of "$4") - 1) * frame))
  [ "$(size "$2")" -eq "$input" ] || { fail "$1: $(size "$2") bytes, not $input"; return; }
  cmp -s -n "$latency" "$2" /dev/zero || { fail "$1: does not start with the latency's silence"; return; }
  same "$2" "$latency" ref.raw "$block" $((input - latency)) ||
    fail "$1: not test_wav's output delayed by latency - one block"
}

gst=0 eca=0
for rate in 8000 16000 44100 48000; do
  for ch in 1 2; do
    in="golden-$rate-$ch.wav"
    reference "$in" ref.raw
    if [ "$ch" -eq 1 ]; then variant=mono; else variant=stereo; fi
    ladspa="ladspa-tarnwelnc-so-tarnwelnc-$variant mode=2 limit=-20 noise-adaptation=0.95 musical-noise-smoothing=0.98"
    lv2="tarnwelnc-example-org-plugins-$variant"   # its defaults are the command line's values
    for element in "$ladspa" "$lv2"; do
      for q in "" "queue !"; do
        # shellcheck disable=SC2086
        gst-launch-1.0 -q filesrc location="$in" ! wavparse ! audioconvert ! $q $element ! $q \
          audioconvert dithering=none ! audio/x-raw,format=S16LE ! filesink location=gst.raw ||
          { fail "gst-launch-1.0 failed: ${element%% *} ${q:+with queues}"; continue; }
        check_late "gst-launch-1.0 ${element%% *} ${q:+with queues} on $in" gst.raw "$in" "$rate" "$ch"
        gst=$((gst + 1))
      done
    done
    plugins=("tarnwelnc_$variant")
    [ "$ch" -eq 2 ] && plugins+=(tarnwelnc_mono)   # ecasound runs one instance per channel
    for plugin in "${plugins[@]}"; do
      rm -f eca.wav   # ecasound updates an existing file in place
      ecasound -q -f:s16_le,"$ch","$rate" -i "$in" -o eca.wav -el:"$plugin",2,-20,0.95,0.98 </dev/null >/dev/null ||
        { fail "ecasound failed: $plugin on $in"; continue; }
      raw eca.wav eca.raw
      check_late "ecasound $plugin on $in" eca.raw "$in" "$rate" "$ch"
      eca=$((eca + 1))
    done
  done
done
echo "hosts: $gst gst-launch-1.0 runs, $eca ecasound runs"

# Audacity, when installed: one run per plugin format (the two would have
# the same command names), every golden file imported, cleaned by the
# plugin at its defaults and exported. Audacity does not compensate the
# latency. Its scripting sets no LADSPA or LV2 control, so the plugin runs
# at the defaults it advertises: LV2's are the command line's values;
# LADSPA's hints can only say "high", three quarters up the range, which
# gives 0.94925 for both factors.
if command -v "${AUDACITY:-audacity}" >/dev/null; then
  . "$here/../audacity/session.sh"
  for format in ladspa lv2; do
    commands=()
    for rate in 8000 16000 44100 48000; do
      for ch in 1 2; do
        name="TarnwelncNoiseSuppressor($([ "$ch" = 1 ] && echo mono || echo stereo))"
        commands+=("Import2: Filename=$work/golden-$rate-$ch.wav" "SelectAll:" "$name:"
          "Export2: Filename=$work/aud-$format-$rate-$ch.wav NumChannels=$ch" "RemoveTracks:")
      done
    done
    if [ "$format" = ladspa ]; then
      LV2_PATH=/nonexistent audacity_run "$work/audacity" "${commands[@]}" ||
        { fail "Audacity with the LADSPA plugin"; continue; }
      defaults="2 -20 0.94925 0.94925"
    else
      LADSPA_PATH=/nonexistent audacity_run "$work/audacity" "${commands[@]}" ||
        { fail "Audacity with the LV2 plugin"; continue; }
      defaults="2 -20 0.95 0.98"
    fi
    for rate in 8000 16000 44100 48000; do
      for ch in 1 2; do
        # shellcheck disable=SC2086
        reference "golden-$rate-$ch.wav" ref.raw $defaults
        raw "aud-$format-$rate-$ch.wav" aud.raw
        check_late "Audacity, $format, golden-$rate-$ch.wav" aud.raw "golden-$rate-$ch.wav" "$rate" "$ch"
      done
    done
  done
  echo "hosts: Audacity, LADSPA and LV2 plugins on 8 files each"
fi

# Ardour: a session per format and track layout, the file placed as a
# region; Ardour's cache and configuration are this run's own.
. "$here/../ardour/session.sh"
export XDG_CACHE_HOME="$work/xdg-cache" XDG_CONFIG_HOME="$work/xdg-config"
mkdir -p "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"
preroll=769
for format in lv2 ladspa; do
  for ch in 1 2; do
    in="golden-48000-$ch.wav"
    sox "$in" padded.wav pad "${preroll}s" 4096s
    reference padded.wav ref.raw
    frame=$((2 * ch)) input=$(($(size "$in") - 44))
    id=https://tarnwelnc.example.org/plugins/$([ "$ch" = 1 ] && echo mono || echo stereo)
    [ "$format" = ladspa ] && id=$((4710 + ch))
    # Now and then the region also starts a cycle off: that try counts as
    # failed too.
    why=""
    for try in $(seq "$ardour_tries"); do
      ardour_export "$work/ardour" "$format" "$id" "$ch" "2 -20 0.95 0.98" "$in" "$work/ardour.wav" ||
        { why="no export: $(tail -n 3 "$work/ardour.log")"; continue; }
      raw ardour.wav ardour.raw
      [ "$(size ardour.raw)" -eq "$input" ] || { why="$(size ardour.raw) bytes, not $input"; continue; }
      same ardour.raw 0 ref.raw $(((preroll + 1024) * frame)) "$input" ||
        { why="not test_wav's output behind $preroll zeros"; continue; }
      why=""
      break
    done
    [ -z "$why" ] || fail "Ardour, $format, $ch channel(s): $why"
  done
done
echo "hosts: Ardour, LV2 and LADSPA plugins on a mono and a stereo track at 48 kHz"

[ "$failures" -eq 0 ] || { echo "hosts: $failures failure(s)" >&2; exit 1; }
echo "hosts: all checks passed"
