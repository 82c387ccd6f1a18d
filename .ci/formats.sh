#!/usr/bin/env bash
# The CLAP and VST3 plugins and the OBS filter: installs the plugin API
# headers, Ardour, libobs and Xvfb from Debian, builds in ./build and runs
#   - the CLAP tests (a host of our own);
#   - the VST3 bundle in Ardour headless, mono and stereo, against test_wav;
#   - the OBS filter inside libobs (under Xvfb) against test_wav;
# and checks that the modules export their entry points alone and need no
# C++ runtime.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get -o DPkg::Lock::Timeout=1200 install -y --no-install-recommends \
  dpf-source ardour python3 ladspa-sdk lv2-dev libobs-dev xvfb xauth

start=$SECONDS
fail() { echo "formats: $*" >&2; exit 1; }
build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target tarnwelnc_clap clap_tests tarnwelnc_vst3 test_wav golden_wav \
  obs_tarnwelnc obs_harness
ctest --test-dir "$build" --output-on-failure -R '^Clap\.|^vst3_ardour$|^obs_filter$'
ctest --test-dir "$build" -N -R '^obs_filter$' | grep -q 'Total Tests: 1' || fail "the OBS test was not registered"
ctest --test-dir "$build" -N -R '^Clap\.' | grep -q 'Total Tests: [1-9]' || fail "the CLAP tests were not registered"
ctest --test-dir "$build" -N -R '^vst3_ardour$' | grep -q 'Total Tests: 1' || fail "the Ardour test was not registered"

clap="$build/plugins/clap/tarnwelnc.clap"
[ "$(nm -D --defined-only "$clap" | awk '{print $3}' | tr '\n' ' ')" = "clap_entry " ] ||
  fail "the CLAP module exports more than clap_entry"
vst3="$build/plugins/vst3/tarnwelnc.vst3/Contents/x86_64-linux/tarnwelnc.so"
[ "$(nm -D --defined-only "$vst3" | awk '{print $3}' | sort | tr '\n' ' ')" = "GetPluginFactory ModuleEntry ModuleExit " ] ||
  fail "the VST3 module exports more than its entry points"
obs="$build/obs/obs-plugins/64bit/obs-tarnwelnc.so"
[ "$(nm -D --defined-only "$obs" | awk '$2 == "T" {print $3}' | grep -v '^obs_module_' || true)" = "" ] ||
  fail "the OBS module exports more than obs_module_*"
for f in "$clap" "$vst3" "$obs"; do
  if readelf -d "$f" | grep -q 'NEEDED.*libstdc++'; then fail "$f needs libstdc++"; fi
done
echo "formats: all checks passed in $((SECONDS - start)) s"
