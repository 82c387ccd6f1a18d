#!/usr/bin/env bash
# The LADSPA and LV2 plugins: installs their headers and the hosts from
# Debian, builds in ./build-plugins, runs the plugin tests (plugin_tests,
# and plugin_hosts: sox, ffmpeg and lv2apply against test_wav), then checks
# the installed tree:
#   - both plugins in lib/ladspa and lib/lv2/tarnwelnc.lv2;
#   - the module exports only the two descriptor functions and needs no
#     C++ runtime;
#   - lv2_validate finds no error in the bundle;
#   - sox and ffmpeg find the installed plugins through LADSPA_PATH and
#     LV2_PATH, as the README says, and clean a file as the build tree's do.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends \
  ladspa-sdk lv2-dev lilv-utils sordi sox libsox-fmt-all ffmpeg

build=build-plugins
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTNC_WERROR=ON
# Everything the install rules copy, and the tests.
cmake --build "$build" --target tarnwelnc_plugin plugin_tests golden_wav test_wav \
  tarnwelnc_core tarnwelnc_shared tarnwelnc_wav
# The other plugin formats, where this machine has what they need.
# (The list is read whole first: grep -q leaves early, and under pipefail
# the writer's SIGPIPE would count as "not there".)
targets="$(cmake --build "$build" --target help)"
for t in tarnwelnc_clap tarnwelnc_vst3 obs_tarnwelnc; do
  if grep -q "^$t:" <<<"$targets"; then cmake --build "$build" --target "$t"; fi
done
[ -f "$build/plugins/lv2/tarnwelnc.lv2/tarnwelnc.so" ] || { echo "plugins: not built" >&2; exit 1; }
ctest --test-dir "$build" --output-on-failure -R '[Pp]lugin'
ctest --test-dir "$build" -N -R plugin_hosts | grep -q 'Total Tests: 1' ||
  { echo "plugins: the host test was not registered" >&2; exit 1; }

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
fail() { echo "plugins: $*" >&2; exit 1; }
prefix="$TMP/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
ladspa="$prefix/lib/ladspa" bundle="$prefix/lib/lv2/tarnwelnc.lv2"
for f in "$ladspa/tarnwelnc.so" "$bundle/tarnwelnc.so" "$bundle/manifest.ttl" "$bundle/tarnwelnc.ttl"; do
  [ -f "$f" ] || fail "not installed: $f"
done

exports="$(nm -D --defined-only "$ladspa/tarnwelnc.so" | awk '{print $3}' | sort | tr '\n' ' ')"
[ "$exports" = "ladspa_descriptor lv2_descriptor " ] || fail "the module exports: $exports"
readelf -d "$ladspa/tarnwelnc.so" | grep -q 'NEEDED.*libstdc++' && fail "the module needs libstdc++"

validation="$(lv2_validate "$bundle/manifest.ttl" "$bundle/tarnwelnc.ttl" 2>&1)"
echo "$validation" | tail -n 1
echo "$validation" | grep -q '^Found 0 errors' || fail "lv2_validate: $validation"

export LADSPA_PATH="$ladspa" LV2_PATH="$prefix/lib/lv2"
lv2info https://tarnwelnc.example.org/plugins/stereo | grep -q 'Has latency: *yes' ||
  fail "lv2info does not see the reported latency"
"$build/tests/golden_wav" 16000 2 "$TMP/in.wav"
sox -D "$TMP/in.wav" "$TMP/installed.wav" ladspa -l -r tarnwelnc tarnwelnc_mono 2 -20 0.95 0.98
LADSPA_PATH="$build/plugins/lv2/tarnwelnc.lv2" \
  sox -D "$TMP/in.wav" "$TMP/built.wav" ladspa -l -r tarnwelnc tarnwelnc_mono 2 -20 0.95 0.98
cmp "$TMP/installed.wav" "$TMP/built.wav" || fail "installed and built plugins differ"
ffmpeg -nostdin -v error -i "$TMP/in.wav" \
  -af "lv2=p='https\://tarnwelnc.example.org/plugins/stereo':c=mode=2" "$TMP/lv2.wav"
[ -s "$TMP/lv2.wav" ] || fail "ffmpeg's lv2 filter wrote nothing"
echo "plugins: all checks passed"
