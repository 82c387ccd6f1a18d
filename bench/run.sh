#!/usr/bin/env bash
# Builds the benchmarks in Release mode and runs them all: the per-frame
# pieces (Google Benchmark), the whole-file tables for this project and
# every peer whose package is installed (libspeexdsp-dev,
# libwebrtc-audio-processing-dev), then, where they are built, the audio
# plugin through its real interface, the Python package (with the
# interpreter in $PYTHON that has it installed) and the WebAssembly build
# under node (js/ built by .ci/wasm.sh or as the README says).
#
#   bash bench/run.sh [--seconds S] [--reps R] [--build LABEL=PATH/test_wav]
#
# Options go to the whole-file runner (defaults: 600 s files, best of 5
# runs); --build adds another build of test_wav to the table. The build
# directory is build-bench (BENCH_BUILD_DIR overrides it); the generated
# files stay in its bench-data folder for the next run.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$src/build-bench}"

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

if [ -x "$build/bench/bench_core" ]; then
  "$build/bench/bench_core" --benchmark_min_time=0.2
else
  echo "Google Benchmark not found: per-frame benchmarks skipped (install libbenchmark-dev)"
fi
echo

peers=()
for peer in speexdsp webrtc; do
  if [ -x "$build/bench/peer_$peer" ]; then
    peers+=("--$peer" "$build/bench/peer_$peer")
  else
    echo "peer $peer not built: its development package is not installed"
  fi
done
"$build/bench/bench_files" --tarnwelnc "$build/test_wav" "${peers[@]}" \
  --dir "$build/bench-data" "$@"
echo

if [ -x "$build/bench/bench_plugin" ]; then
  "$build/bench/bench_plugin"
else
  echo "plugin benchmark not built: install ladspa-sdk and lv2-dev"
fi
echo

python="${PYTHON:-python3}"
if "$python" -c 'import tarnwelnc' 2>/dev/null; then
  "$python" "$src/bench/bench_python.py"
else
  echo "Python package not importable with $python: set PYTHON to a venv's python that has it"
fi
echo

if [ ! -f "$src/js/tarnwelnc_engine.mjs" ]; then
  echo "WebAssembly build not found: build js/ first (see the README)"
elif command -v node >/dev/null; then
  node "$src/bench/bench_wasm.mjs"
fi
