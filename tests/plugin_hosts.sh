#!/usr/bin/env bash
# The plugins in real hosts, sample for sample against test_wav, on 16-bit
# WAV files at 8, 16, 44.1 and 48 kHz, mono and stereo, in every mode:
#   - sox's ladspa effect with -l and ffmpeg's ladspa filter with l=1 drop
#     the reported latency and flush the tail: their output is as long as
#     the input, and sample t is test_wav's sample t + one block;
#   - ffmpeg's lv2 filter and lv2apply do not compensate: their output is as
#     long as the input, silent for `latency` samples, then test_wav's
#     output from one block on;
#   - a mono plugin on a stereo file (sox -r, ffmpeg) runs once per channel
#     and gives what the stereo plugin gives.
# Then the README's sox and ffmpeg commands on FLAC, 24-bit WAV and MP3.
# Usage: plugin_hosts.sh TEST_WAV GOLDEN_WAV BUNDLE_DIR README
set -euo pipefail
test_wav="$(readlink -f "$1")" golden_wav="$(readlink -f "$2")" bundle="$(readlink -f "$3")" readme="$(readlink -f "$4")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
export LADSPA_PATH="$bundle" LV2_PATH="$(dirname "$bundle")"
uri="https://tarnwelnc.example.org/plugins"
ffmpeg_uri="${uri/:/\\:}"   # a colon ends an ffmpeg filter option
failures=0
fail() { echo "plugin_hosts: $*" >&2; failures=$((failures + 1)); }

. "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/support/host_checks.sh"

ffmpeg_raw() {  # IN FILTER OUT
  ffmpeg -nostdin -v error -y -i "$1" -af "$2" -f s16le "$3"
}

run_hosts() {  # CHANNELS MODE: writes comp-*.raw and late-*.raw for in.wav
  local ch="$1" m="$2" controls="$2 -20 0.95 0.98"
  local lv2c="mode=$m|limit=-20|adaptation=0.95|smoothing=0.98"
  rm -f comp-*.raw late-*.raw
  if [ "$ch" -eq 1 ]; then
    sox -D in.wav -t s16 comp-sox.raw ladspa -l tarnwelnc tarnwelnc_mono $controls
    ffmpeg_raw in.wav "ladspa=f=tarnwelnc:p=tarnwelnc_mono:c=${controls// /|}:l=1" comp-ffmpeg.raw
    ffmpeg_raw in.wav "lv2=p='$ffmpeg_uri/mono':c=$lv2c" late-ffmpeg-lv2.raw
    lv2apply -i in.wav -o la.wav -c mode "$m" -c limit -20 -c adaptation 0.95 -c smoothing 0.98 "$uri/mono"
  else
    sox -D in.wav -t s16 comp-sox-replicated.raw ladspa -l -r tarnwelnc tarnwelnc_mono $controls
    sox -D in.wav -t s16 comp-sox-stereo.raw ladspa -l tarnwelnc tarnwelnc_stereo $controls
    ffmpeg_raw in.wav "ladspa=f=tarnwelnc:p=tarnwelnc_mono:c=${controls// /|}:l=1" comp-ffmpeg-mono.raw
    ffmpeg_raw in.wav "ladspa=f=tarnwelnc:p=tarnwelnc_stereo:c=${controls// /|}:l=1" comp-ffmpeg-stereo.raw
    ffmpeg_raw in.wav "lv2=p='$ffmpeg_uri/stereo':c=$lv2c" late-ffmpeg-lv2.raw
    lv2apply -i in.wav -o la.wav -c mode "$m" -c limit -20 -c adaptation 0.95 -c smoothing 0.98 "$uri/stereo"
  fi
  raw la.wav late-lv2apply.raw
}

cases=0
for rate in 8000 16000 44100 48000; do
  for ch in 1 2; do
    "$golden_wav" "$rate" "$ch" in.wav
    frame=$((2 * ch))
    block=$(($(block_of "$rate") * frame)) latency=$(((2 * $(block_of "$rate") - 1) * frame))
    input=$(($(size in.wav) - 44))
    for mode in 0 1 2 3; do
      what="$rate Hz, $ch channel(s), mode $mode"
      "$test_wav" "$mode" -20 0.95 0.98 in.wav ref.wav >/dev/null
      tail -c +57 ref.wav >ref.raw
      reference=$(size ref.raw)
      run_hosts "$ch" "$mode"
      first=""
      for out in comp-*.raw; do
        [ "$(size "$out")" -eq "$input" ] || fail "$what: $out holds $(size "$out") bytes, not $input"
        same "$out" 0 ref.raw "$block" $((reference - block)) ||
          fail "$what: $out is not test_wav's output one block early"
        # The flushed tail too: every compensating host gives the same samples.
        [ -z "$first" ] && first="$out"
        cmp -s "$first" "$out" || fail "$what: $out and $first differ"
      done
      for out in late-*.raw; do
        [ "$(size "$out")" -eq "$input" ] || fail "$what: $out holds $(size "$out") bytes, not $input"
        cmp -s -n "$latency" "$out" /dev/zero || fail "$what: $out does not start with the latency's silence"
        same "$out" "$latency" ref.raw "$block" $((input - latency)) ||
          fail "$what: $out is not test_wav's output delayed by latency - one block"
      done
      cases=$((cases + 1))
    done
  done
done
echo "plugin_hosts: $cases files through sox, ffmpeg (ladspa, lv2) and lv2apply"

# The README's commands (the block after "<!-- plugin commands -->") on the
# formats it names: FLAC, 24-bit WAV and MP3 in and out.
commands="$(awk '/<!-- plugin commands -->/ { f = 1; next }
                 f && /^```/ { if (b) exit; b = 1; next }
                 b' "$readme")"
[ -n "$commands" ] || { echo "plugin_hosts: no plugin commands in $readme" >&2; exit 1; }
"$golden_wav" 44100 2 in.wav
"$test_wav" 2 -20 0.95 0.98 in.wav ref.wav >/dev/null
tail -c +57 ref.wav >ref.raw
block=$((1024 * 4))
sox in.wav noisy.flac
sox in.wav -b 24 noisy24.wav
ffmpeg -nostdin -v error -i in.wav -q:a 2 noisy.mp3
for input in noisy.flac noisy24.wav noisy.mp3; do
  ext="${input##*.}"
  rm -f clean*
  script="$(sed -e "s/noisy\.flac/$input/" -e "/^sox/ s/clean\.flac/clean-sox.$ext/" \
                -e "/^ffmpeg/ s/clean\.flac/clean-ffmpeg.$ext/" <<<"$commands")"
  bash -euo pipefail -c "$script" </dev/null >/dev/null 2>&1 || { fail "README commands failed on $input"; continue; }
  for out in "clean-sox.$ext" "clean-ffmpeg.$ext"; do
    [ -s "$out" ] || { fail "README commands wrote no $out"; continue; }
    # MP3 lengths depend on the decoder's handling of encoder padding.
    [ "$ext" = mp3 ] && continue
    [ "$(soxi -s "$out")" -eq "$(soxi -s "$input")" ] || fail "$out is not as long as $input"
    # Lossless, so the samples are those of the WAV runs.
    raw "$out" out.raw
    same out.raw 0 ref.raw "$block" $(($(size ref.raw) - block)) ||
      fail "$out is not test_wav's output one block early"
  done
done
echo "plugin_hosts: README commands on FLAC, 24-bit WAV and MP3"

[ "$failures" -eq 0 ] || { echo "plugin_hosts: $failures failure(s)" >&2; exit 1; }
echo "plugin_hosts: all checks passed"
