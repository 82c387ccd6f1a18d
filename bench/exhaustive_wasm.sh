#!/usr/bin/env bash
# The exhaustive check of the transcendental functions, native and under
# node: builds exhaustive_trig natively (build-bench) and for WebAssembly
# (build-wasm), runs the native check on every float input (the kernels and
# the fallbacks against the C library, and the fallbacks' rounding margins),
# then the WebAssembly build's digests of the same inputs in two node
# processes, and compares them line by line. Two hours or more on two
# cores; the node processes take a range of 2^24-input blocks each.
#
#   bash bench/exhaustive_wasm.sh
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="${BENCH_BUILD_DIR:-$src/build-bench}"
wasm="$src/build-wasm"
export NODE_PATH=/usr/share/nodejs

cmake -S "$src" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$native" -j2 --target exhaustive_trig >/dev/null
emcmake cmake -S "$src" -B "$wasm" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" >/dev/null
cmake --build "$wasm" -j2 --target exhaustive_trig >/dev/null

out="$native/exhaustive"
mkdir -p "$out"
"$native/bench/exhaustive_trig" 2 --digests "$out/native.txt"
node "$wasm/js/exhaustive_trig.js" --digest 0 0x80000000 >"$out/wasm0.txt" &
node "$wasm/js/exhaustive_trig.js" --digest 0x80000000 0x100000000 >"$out/wasm1.txt"
wait
cat "$out/wasm0.txt" "$out/wasm1.txt" >"$out/wasm.txt"
# The tables' names differ (avx2 or plain, wasm-simd128 or plain); the bits
# may not.
if diff <(awk '{print $1, $3, $4, $5}' "$out/native.txt") <(awk '{print $1, $3, $4, $5}' "$out/wasm.txt"); then
  echo "WebAssembly: the same bits as the native build on all 2^32 inputs ($(wc -l <"$out/wasm.txt") blocks)"
else
  echo "WebAssembly: the blocks above differ from the native build" >&2
  exit 1
fi
