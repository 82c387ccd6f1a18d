#!/usr/bin/env bash
# The Windows build: cross-compiles with Debian's mingw-w64 (POSIX thread
# model) into ./build-windows and runs it under wine:
#   - the core tests (once on the kernels the processor picks, once on the
#     plain ones);
#   - test_wav.exe on the golden inputs of every rate, layout and mode,
#     byte for byte against the native test_wav in ./build;
#   - test_wav.exe and the plugins need nothing beyond Windows' own DLLs;
#     libtarnwelnc.dll exports only the public API, the plugin modules only
#     their entry points.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get -o DPkg::Lock::Timeout=1200 install -y --no-install-recommends \
  g++-mingw-w64-x86-64-posix wine wine64 libgtest-dev ladspa-sdk lv2-dev dpf-source cmake ninja-build

start=$SECONDS
fail() { echo "windows: $*" >&2; exit 1; }
build=build-windows native=build
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# One wine server for every run below, instead of one per program start,
# with its services started here: started inside the build, they would
# inherit ninja's output pipe and keep it waiting.
wineserver -p 300 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
TMP="$(mktemp -d)"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$TMP"' EXIT

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake
cmake --build "$build"
if [ ! -x "$native/test_wav" ]; then
  cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build "$native" --target test_wav
fi
ctest --test-dir "$build" --output-on-failure

# Only Windows' own DLLs: the C++ runtime and the threads are inside.
clap="$build/plugins/clap/tarnwelnc.clap"
vst3="$build/plugins/vst3/tarnwelnc.vst3/Contents/x86_64-win/tarnwelnc.vst3"
for f in "$build/test_wav.exe" "$build/libtarnwelnc.dll" "$build"/plugins/lv2/tarnwelnc.lv2/tarnwelnc.dll "$clap" "$vst3"; do
  needed="$(x86_64-w64-mingw32-objdump -p "$f" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')"
  [ "$needed" = "KERNEL32.dll msvcrt.dll " ] || fail "$f needs: $needed"
done
exports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[ *[0-9]/ {print $3}'; }
internal="$(exports "$build/libtarnwelnc.dll" | grep -v '^\(SpectSubtract_\|SpectStream_\|FFTnRC_\|vCpy$\|CopyMem16i$\)' || true)"
[ -z "$internal" ] || fail "libtarnwelnc.dll exports internal symbols: $internal"
[ "$(exports "$build"/plugins/lv2/tarnwelnc.lv2/tarnwelnc.dll | tr '\n' ' ')" = "ladspa_descriptor lv2_descriptor " ] ||
  fail "the LADSPA/LV2 module exports more than its descriptors"
[ "$(exports "$clap" | tr '\n' ' ')" = "clap_entry " ] || fail "the CLAP module exports more than clap_entry"
[ "$(exports "$vst3" | tr '\n' ' ')" = "ExitDll GetPluginFactory InitDll " ] ||
  fail "the VST3 module exports more than its entry points"

runs=0
for rate in 6000 8000 16000 22050 32000 44100; do
  for channels in 1 2; do
    in="$TMP/in_${rate}_$channels.wav"
    wine "$build/tests/golden_wav.exe" "$rate" "$channels" "$in"
    for mode in 0 1 2 3; do
      wine "$build/test_wav.exe" "$mode" -20 0.95 0.98 "$in" "$TMP/wine.wav" </dev/null >/dev/null
      "$native/test_wav" "$mode" -20 0.95 0.98 "$in" "$TMP/native.wav" </dev/null >/dev/null
      cmp "$TMP/wine.wav" "$TMP/native.wav" || fail "test_wav.exe differs: $rate Hz, $channels ch, mode $mode"
      runs=$((runs + 1))
    done
  done
done

# The ZIP a Windows user unpacks: the tool runs from wherever it lands.
(cd "$build" && cpack -G ZIP >/dev/null)
zip="$(ls "$PWD/$build"/tarnwelnc-*-Windows-x86_64.zip)"
mkdir "$TMP/unpacked" && (cd "$TMP/unpacked" && cmake -E tar xf "$zip")
for f in bin/test_wav.exe bin/libtarnwelnc.dll "Common Files/CLAP/tarnwelnc.clap" \
         "Common Files/VST3/tarnwelnc.vst3/Contents/x86_64-win/tarnwelnc.vst3"; do
  [ -f "$TMP/unpacked/$f" ] || fail "not in the ZIP: $f"
done
cp "$TMP/unpacked/bin/test_wav.exe" "$TMP/alone.exe"
wine "$TMP/alone.exe" 2 -20 0.95 0.98 "$TMP/in_16000_1.wav" "$TMP/alone.wav" </dev/null >/dev/null
"$native/test_wav" 2 -20 0.95 0.98 "$TMP/in_16000_1.wav" "$TMP/native.wav" </dev/null >/dev/null
cmp "$TMP/alone.wav" "$TMP/native.wav" || fail "test_wav.exe from the ZIP differs"
echo "windows: test_wav.exe byte-identical on $runs runs; all checks passed in $((SECONDS - start)) s"
