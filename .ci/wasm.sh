#!/usr/bin/env bash
# The WebAssembly build and the JavaScript package: installs Debian's
# emscripten, builds test_wav, the core tests and the package's engine with
# SIMD128 (build-wasm) and test_wav without it (build-wasm-plain), then:
#   - the core tests under node (the SIMD128 kernels against the plain ones)
#     and the WAV module's tests;
#   - test_wav under node against the native test_wav, byte for byte, on the
#     golden signals at 8, 16, 44.1 and 48 kHz, mono and stereo, and on the
#     bundled sample, in every mode, with both WebAssembly builds;
#   - the package's tests (node --test), against the native test_wav;
#   - npm pack, and the tarball installed offline in a fresh folder and used
#     from a three-line script.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build emscripten nodejs
# Node 18 and later carry npm in the nodejs package from nodesource; Debian's
# nodejs needs its own.
command -v npm >/dev/null || apt-get install -y --no-install-recommends npm
node --version
# emcc's JavaScript optimiser needs acorn, which Debian installs there.
export NODE_PATH=/usr/share/nodejs

fail() { echo "wasm: $*" >&2; exit 1; }
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# ------------------------------------------------------------- builds
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target test_wav
emcmake cmake -S . -B build-wasm -G Ninja -DCMAKE_BUILD_TYPE=Release -DTNC_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" -DBUILD_TESTING=ON -DTNC_WASM_SIMD=ON
cmake --build build-wasm --target test_wav core_tests wav_tests tarnwelnc_engine
emcmake cmake -S . -B build-wasm-plain -G Ninja -DCMAKE_BUILD_TYPE=Release -DTNC_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" -DTNC_WASM_SIMD=OFF -DBUILD_TESTING=OFF
cmake --build build-wasm-plain --target test_wav

# -------------------------------------------- core and WAV tests under node
node build-wasm/tests/core_tests.js --gtest_brief=1
# The WAV module reports bad files by exceptions, which need emscripten's
# catching. One test caps the memory of a forked child, which node cannot.
node build-wasm/tests/wav_tests.js --gtest_brief=1 \
  --gtest_filter=-WholeFile.HugeAnnouncedDataSizeAllocatesOnlyWhatIsThere

# ------------------------------------------------ test_wav, byte for byte
# The golden tests' signal, written by their own generator.
c++ -O2 -std=c++17 -Itests/support -ISrc -DTEST_WAV_PATH='""' -DTEST_EMULATOR='""' \
  tests/golden_wav.cpp tests/support/test_support.cpp build/libtarnwelnc.a -o "$TMP/golden_wav"
inputs=(samples/noisy_speech.wav)
for rate in 8000 16000 44100 48000; do
  for ch in 1 2; do
    "$TMP/golden_wav" $rate $ch "$TMP/golden_${rate}_$ch.wav"
    inputs+=("$TMP/golden_${rate}_$ch.wav")
  done
done
runs=0
for input in "${inputs[@]}"; do
  for mode in 0 1 2 3; do
    build/test_wav $mode -20 0.95 0.98 "$input" "$TMP/native.wav" >"$TMP/native.out"
    for wasm in build-wasm build-wasm-plain; do
      status=0
      node $wasm/test_wav.js $mode -20 0.95 0.98 "$input" "$TMP/wasm.wav" >"$TMP/wasm.out" 2>"$TMP/wasm.err" ||
        status=$?
      [ $status -eq 0 ] || fail "$wasm/test_wav.js exited with $status on $input, mode $mode"
      [ ! -s "$TMP/wasm.err" ] || fail "$wasm/test_wav.js wrote to standard error: $(cat "$TMP/wasm.err")"
      cmp "$TMP/native.wav" "$TMP/wasm.wav" || fail "$wasm: output differs on $input, mode $mode"
      cmp "$TMP/native.out" "$TMP/wasm.out" || fail "$wasm: standard output differs on $input, mode $mode"
      runs=$((runs + 1))
    done
  done
done
# A refusal comes through as the native build's exit status and message.
printf 'RIFF\0\0\0\0WAVE' >"$TMP/bad.wav"
status=0
node build-wasm/test_wav.js 2 -20 0.95 0.98 "$TMP/bad.wav" "$TMP/x.wav" >"$TMP/bad.out" || status=$?
[ $status -eq 1 ] && grep -qx 'Unknown format' "$TMP/bad.out" ||
  fail "a bad file gave status $status: $(cat "$TMP/bad.out")"
echo "wasm: test_wav under node gave the native bytes in $runs runs"

# ------------------------------------------------------------- package
[ -f js/tarnwelnc_engine.mjs ] || fail "the engine was not copied into js/"
wasm_bytes="$(node -e "const s=require('fs').readFileSync('js/tarnwelnc_engine.mjs','utf8');
  console.log(Buffer.from(s.match(/base64,([A-Za-z0-9+\/=]+)/)[1],'base64').length)")"
echo "wasm: engine $wasm_bytes bytes of WebAssembly, $(stat -c %s js/tarnwelnc_engine.mjs) bytes as one ES module"
(cd js && TNC_TEST_WAV="$PWD/../build/test_wav" node --test test/)

(cd js && npm pack --pack-destination "$TMP" >/dev/null)
tarball="$(ls "$TMP"/tarnwelnc-*.tgz)"
mkdir "$TMP/app"
cd "$TMP/app"
printf '{ "name": "app", "private": true }\n' >package.json
npm install --offline --no-audit --no-fund "$tarball" >/dev/null
for f in index.js index.d.ts core.js core.d.ts tarnwelnc_engine.mjs package.json; do
  [ -f node_modules/tarnwelnc/$f ] || fail "the installed package lacks $f"
done
cat >use.mjs <<'JS'
import { denoise } from 'tarnwelnc';
const noisy = Float32Array.from({ length: 48000 }, (_, i) => 0.3 * Math.sin(i / 9) + 0.05 * Math.sin(i * i));
console.log(denoise(noisy, 48000, { mode: 2 }).length);
JS
[ "$(node use.mjs)" = 48000 ] || fail "the installed package did not clean an array"
echo "wasm: all checks passed"
