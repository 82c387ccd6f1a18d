#!/usr/bin/env bash
# The CLAP plugin (and the other host formats built beside the LADSPA/LV2
# module): installs the plugin API headers from Debian, builds in ./build
# and runs the plugins' own host tests.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get -o DPkg::Lock::Timeout=1200 install -y --no-install-recommends dpf-source

start=$SECONDS
fail() { echo "formats: $*" >&2; exit 1; }
build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target tarnwelnc_clap clap_tests
ctest --test-dir "$build" --output-on-failure -R '^Clap\.'
ctest --test-dir "$build" -N -R '^Clap\.' | grep -q 'Total Tests: [1-9]' || fail "the CLAP tests were not registered"

clap="$build/plugins/clap/tarnwelnc.clap"
[ "$(nm -D --defined-only "$clap" | awk '{print $3}' | tr '\n' ' ')" = "clap_entry " ] ||
  fail "the CLAP module exports more than clap_entry"
readelf -d "$clap" | grep -q 'NEEDED.*libstdc++' && fail "the CLAP module needs libstdc++"
echo "formats: all checks passed in $((SECONDS - start)) s"
