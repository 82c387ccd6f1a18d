#!/usr/bin/env bash
# The Python package as a wheel: installs the Debian packages it needs (as
# root, no standard input), builds a wheel from the repository root with the
# README's command, installs it offline into a fresh virtual environment and
# runs the package's tests there with nothing but the environment's bin/ on
# the PATH (no compiler, no cmake: no build step can run), against the
# test_wav in ./build. The README's own commands (.ci/readme.sh) cover the
# install from source.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build python3-dev python3-venv python3-pip \
  python3-setuptools python3-wheel python3-pybind11 python3-numpy \
  python3-soundfile python3-distributed python3-pytest

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

/usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index -w "$TMP/dist" .
wheel="$(echo "$TMP"/dist/tarnwelnc-*.whl)"
[ -f "$wheel" ] || { echo "python: no wheel built" >&2; exit 1; }

/usr/bin/python3 -m venv --system-site-packages "$TMP/venv"
bare=(env -i "HOME=$TMP" "PATH=$TMP/venv/bin" "TARNWELNC_TEST_WAV=$ROOT/build/test_wav")
"${bare[@]}" pip install --no-index "$wheel"
# Run from outside the tree, so that the installed package is the one tested.
cd "$TMP"
"${bare[@]}" python -m pytest -p no:cacheprovider "$ROOT/python/tests"
