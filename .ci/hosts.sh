#!/usr/bin/env bash
# The plugins in Ardour, Audacity, GStreamer and ecasound, and test_wav, with the
# processor's flush-to-zero and denormals-are-zero modes on: installs the
# hosts from Debian (as root, no standard input), builds in ./build-plugins
# and runs tests/hosts/run.sh.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build ladspa-sdk lv2-dev sox python3 ecasound ardour \
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
  audacity xvfb xauth

build=build-plugins
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --target tarnwelnc_plugin golden_wav test_wav
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
cc -O2 -shared -fPIC -o "$TMP/ftz_preload.so" tests/support/ftz_preload.c
bash tests/hosts/run.sh "$build/test_wav" "$build/tests/golden_wav" \
  "$build/plugins/lv2/tarnwelnc.lv2" "$TMP/ftz_preload.so" samples | tee "$TMP/hosts.log"
# The Audacity part runs only where Audacity is installed, as it is here.
grep -q '^hosts: Audacity' "$TMP/hosts.log" || { echo "hosts: Audacity did not run" >&2; exit 1; }
