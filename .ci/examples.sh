#!/usr/bin/env bash
# Installs the build in ./build to a temporary prefix, then builds the
# examples against the installed package, once through find_package and once
# through pkg-config, and runs both builds on the bundled sample:
#   - the shared library exports only the public interface;
#   - nr_wav writes the same file as the installed test_wav;
#   - nr_pipe's output is exactly as long as its input, lines up with it, and
#     has less noise in the noise-only first second.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
SAMPLE="$ROOT/samples/noisy_speech.wav"   # 16 kHz mono, 44-byte header
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT
PREFIX="$TMP/prefix"

fail() { echo "examples: $*" >&2; exit 1; }

cmake --install build --prefix "$PREFIX"
PCDIR="$(dirname "$(find "$PREFIX" -name tarnwelnc.pc)")"
LIBDIR="$(dirname "$PCDIR")"

exports="$(nm -D --defined-only "$LIBDIR/libtarnwelnc.so" | awk '{print $3}')"
echo "$exports" | grep -Evx 'SpectSubtract_[A-Za-z]+|SpectStream_[A-Za-z0-9]+|FFTnRC_[A-Za-z0-9]+|vCpy|CopyMem16i' &&
  fail "libtarnwelnc.so exports more than the public interface"
echo "$exports" | grep -qx SpectSubtract_Info || fail "SpectSubtract_Info is not exported"

# The installed headers also work when named by their folder, in C and C++.
printf '#include <tarnwelnc/spsubst.h>\n' | cc -x c -std=c99 -fsyntax-only -I"$PREFIX/include" -
printf '#include <tarnwelnc/spsubst.h>\n#include <tarnwelnc/wav.h>\n' |
  c++ -x c++ -std=c++17 -fsyntax-only -I"$PREFIX/include" -
# The WAV module links through its own pkg-config file.
printf '#include "wav.h"\nint main() { WAV_HEADER h; return h.Channels > 2; }\n' |
  c++ -x c++ -std=c++17 -o "$TMP/wav_link" - \
    $(PKG_CONFIG_PATH="$PCDIR" pkg-config --cflags --libs tarnwelnc-wav)

cmake -S examples -B "$TMP/by-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX"
cmake --build "$TMP/by-cmake"
mkdir -p "$TMP/by-pkgconfig"
PKG_CONFIG_PATH="$PCDIR" make -C "$TMP/by-pkgconfig" -f "$ROOT/examples/Makefile" \
  CFLAGS="-O2 -Wall -Wextra -Werror" CXXFLAGS="-O2 -Wall -Wextra -Werror" \
  LDFLAGS="-Wl,-rpath,$LIBDIR"

"$PREFIX/bin/test_wav" 2 -20 0.95 0.98 "$SAMPLE" "$TMP/ref.wav" >/dev/null
tail -c +45 "$SAMPLE" >"$TMP/in.raw"
in_bytes=$(stat -c %s "$TMP/in.raw")
ref_bytes=$(($(stat -c %s "$TMP/ref.wav") - 56))
block_bytes=380   # one block at 16 kHz

# Mean square of `count` samples from sample `first` of a raw file.
power() {
  od -An -v -td2 -w2 -j $((2 * $2)) -N $((2 * $3)) "$1" |
    awk '{ s += $1 * $1 } END { printf "%.0f\n", s / NR }'
}

for build in by-cmake by-pkgconfig; do
  bin="$TMP/$build"
  "$bin/nr_wav" "$SAMPLE" "$TMP/c.wav"
  cmp "$TMP/c.wav" "$TMP/ref.wav" ||
    fail "$build: nr_wav and test_wav disagree"

  "$bin/nr_pipe" 16000 <"$TMP/in.raw" >"$TMP/out.raw"
  out_bytes=$(stat -c %s "$TMP/out.raw")
  [ "$out_bytes" -eq "$in_bytes" ] || fail "$build: nr_pipe wrote $out_bytes bytes for $in_bytes"
  # test_wav's output lags by one block; nr_pipe's does not.
  cmp <(head -c $((ref_bytes - block_bytes)) "$TMP/out.raw") \
      <(tail -c +$((57 + block_bytes)) "$TMP/ref.wav") ||
    fail "$build: nr_pipe's output is not aligned with its input"
  p_in=$(power "$TMP/in.raw" 0 16000)
  p_out=$(power "$TMP/out.raw" 0 16000)
  awk -v a="$p_in" -v b="$p_out" 'BEGIN { exit !(b * 10 < a) }' ||
    fail "$build: noise power $p_in -> $p_out, less than 10 dB down"
  echo "examples ($build): nr_wav matches test_wav; nr_pipe $out_bytes bytes, aligned; noise power $p_in -> $p_out"
done

usage="$("$TMP/by-pkgconfig/nr_pipe" 2>&1)" && fail "nr_pipe without a rate must fail"
grep -q 'flushes the last one' <<<"$usage" || fail "nr_pipe's usage text does not explain the flush"
echo "examples: all checks passed"
