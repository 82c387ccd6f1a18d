#!/usr/bin/env bash
# Hardening checks, run by .ci/run after the regular test suite: the whole
# test suite under AddressSanitizer and UndefinedBehaviorSanitizer (built by
# g++, the compiler of the regular build), then the WAV fuzzer and the core
# interface's fuzzer (clang) for a bounded time each, and the fuzzer whose
# outputs libsndfile must read back. Any sanitizer report fails the run.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev libsndfile1-dev pkg-config

san=build-sanitize
fuzz=build-fuzz
logs="$PWD/$san/sanitizer-logs"
fuzz_seconds="${FUZZ_SECONDS:-60}"

# Unoptimised: builds in a fraction of the time, and reports are exact.
cmake -S . -B "$san" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTNC_SANITIZE=ON -DTNC_WERROR=ON
cmake --build "$san"

# A report ends the process with a status of its own, so a test_wav child
# that hits one cannot pass for the tool's own status 1. AddressSanitizer
# reports also go to files, which catches children whose status no test
# looks at.
rm -rf "$logs" && mkdir -p "$logs"
status=0
ASAN_OPTIONS="exitcode=86:log_path=$logs/asan" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86" \
  ctest --test-dir "$san" --output-on-failure -j2 || status=$?
if [ -n "$(ls -A "$logs")" ]; then
  echo "Sanitizer reports:"
  for f in "$logs"/*; do echo "== $f"; cat "$f"; done
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

cmake -S . -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DTNC_FUZZ=ON -DTNC_WERROR=ON
cmake --build "$fuzz" --target wav_fuzz wav_sndfile_fuzz core_fuzz

# The committed seeds stay as they are; new inputs go to a scratch corpus.
work="$fuzz/corpus"
rm -rf "$work" "$fuzz/artifacts" && mkdir -p "$work" "$fuzz/artifacts"
"$fuzz/fuzz/wav_fuzz" -dict=fuzz/wav.dict -max_total_time="$fuzz_seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/" \
  "$work" fuzz/corpus

# What the streaming writer makes of every input it takes, read back by
# libsndfile, which follows chunk sizes and pad bytes strictly.
rm -rf "$fuzz/sndfile-corpus" && mkdir -p "$fuzz/sndfile-corpus"
"$fuzz/fuzz/wav_sndfile_fuzz" -dict=fuzz/wav.dict -max_total_time="$fuzz_seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/" \
  "$fuzz/sndfile-corpus" fuzz/corpus

# The core's interface: random call sequences on every kernel path.
rm -rf "$fuzz/core-corpus" && mkdir -p "$fuzz/core-corpus"
"$fuzz/fuzz/core_fuzz" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$fuzz/artifacts/" "$fuzz/core-corpus"
