#!/usr/bin/env bash
# A source of the core compiled with options that change its arithmetic
# stops with the guard's message (Src/exact.h); with the build's own options
# it compiles, so the guard is not simply always on.
#   exactness_guard.sh C++-COMPILER SRC-DIR
set -uo pipefail
cxx="$1"
src="$2"
compile() { "$cxx" -std=c++17 -fsyntax-only -I"$src" "$@" "$src/spsubst.cpp" 2>&1; }
status=0
for flags in "-ffast-math" "-ffinite-math-only"; do
  # shellcheck disable=SC2086
  if out=$(compile -ffp-contract=off -DNR_FP_CONTRACT_OFF=1 $flags); then
    echo "compiled with $flags"
    status=1
  elif ! grep -q 'error.*the noise-suppressor core' <<<"$out"; then
    echo "with $flags, not the guard's message: $out"
    status=1
  fi
done
out=$(compile -ffp-contract=off -DNR_FP_CONTRACT_OFF=1) || { echo "the build's options fail: $out"; status=1; }
exit $status
