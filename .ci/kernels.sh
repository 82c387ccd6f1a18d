#!/usr/bin/env bash
# Every kernel path gives the golden bytes: a build with the plain kernels
# only (what a target without a vector unit gets) on this machine, then
# 64-bit ARM cross-built with Debian's aarch64 toolchain and run under
# qemu-user: the whole test suite with the NEON kernels (the core's tests a
# second time on the plain ones), and a plain-only build's golden tests.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends g++-aarch64-linux-gnu libc6-dev-arm64-cross \
  qemu-user cmake ninja-build libgtest-dev

golden='Golden|Determinism'
arm=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake)
strict=-DTNC_WERROR=ON

cmake -S . -B build-plain -G Ninja -DCMAKE_BUILD_TYPE=Release -DTNC_VECTOR=OFF "$strict"
cmake --build build-plain --target golden_tests
ctest --test-dir build-plain --output-on-failure -R "$golden"

cmake -S . -B build-aarch64 -G Ninja -DCMAKE_BUILD_TYPE=Release "$strict" "${arm[@]}"
cmake --build build-aarch64
ctest --test-dir build-aarch64 --output-on-failure -j2

cmake -S . -B build-aarch64-plain -G Ninja -DCMAKE_BUILD_TYPE=Release -DTNC_VECTOR=OFF "$strict" "${arm[@]}"
cmake --build build-aarch64-plain --target golden_tests
ctest --test-dir build-aarch64-plain --output-on-failure -R "$golden"
