#!/usr/bin/env bash
# test_wav past 4 GiB (tests/large_file.sh): a 4.5 GB sparse input cleaned
# into an RF64 file that libsndfile must read. About a minute and a half,
# and 4.5 GB of free disk for that time; reuses build/ from .ci/run.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get install -y --no-install-recommends sndfile-programs python3

cmake --build build --target test_wav
bash tests/large_file.sh build/test_wav build
