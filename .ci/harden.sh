#!/usr/bin/env bash
# Hardening checks, run by .ci/run after the regular test suite: the whole
# test suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# WAV fuzzer for a bounded time. Any sanitizer report fails the run.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev

build=build-harden
logs="$PWD/$build/sanitizer-logs"
fuzz_seconds="${FUZZ_SECONDS:-60}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      -DTNC_SANITIZE=ON -DTNC_FUZZ=ON
cmake --build "$build"

# Reports go to files as well as ending the process with a status of their
# own: the tests that run test_wav as a child see only its exit status, and
# a report must not pass for one of the tool's own failures.
rm -rf "$logs" && mkdir -p "$logs"
status=0
ASAN_OPTIONS="exitcode=86:log_path=$logs/asan" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86:log_path=$logs/ubsan" \
  ctest --test-dir "$build" --output-on-failure || status=$?
if [ -n "$(ls -A "$logs")" ]; then
  echo "Sanitizer reports:"
  for f in "$logs"/*; do echo "== $f"; cat "$f"; done
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

# The committed seeds stay as they are; new inputs go to a scratch corpus.
work="$build/fuzz-corpus"
rm -rf "$work" "$build/fuzz-artifacts" && mkdir -p "$work" "$build/fuzz-artifacts"
"$build/fuzz/wav_fuzz" -dict=fuzz/wav.dict -max_total_time="$fuzz_seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" \
  "$work" fuzz/corpus
