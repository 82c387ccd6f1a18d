#!/usr/bin/env bash
# The Python package: installs the Debian packages it needs (as root, no
# standard input), installs the package from the repository root into a
# fresh virtual environment with the README's commands, and runs its tests
# there, against a test_wav built from the same tree.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build python3-dev python3-venv python3-pip \
  python3-setuptools python3-wheel python3-pybind11 python3-numpy \
  python3-soundfile python3-distributed python3-pytest

TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$TMP/venv"
"$TMP/venv/bin/pip" install --no-build-isolation .
# Run from outside the tree, so that the installed package is the one tested.
cd "$TMP"
"$TMP/venv/bin/python" -m pytest -p no:cacheprovider "$OLDPWD/python/tests"

# Under flush-to-zero and denormals-are-zero, switched on before the
# interpreter starts, the package writes the same files.
cc -O2 -shared -fPIC -o "$TMP/ftz_preload.so" "$OLDPWD/tests/support/ftz_preload.c"
for mode in 0 1 2 3; do
  clean="import sys, tarnwelnc; tarnwelnc.denoise_file(sys.argv[1], sys.argv[2], mode=$mode)"
  "$TMP/venv/bin/python" -c "$clean" "$OLDPWD/samples/noisy_speech.wav" "$TMP/plain.wav"
  LD_PRELOAD="$TMP/ftz_preload.so" "$TMP/venv/bin/python" -c "$clean" \
    "$OLDPWD/samples/noisy_speech.wav" "$TMP/ftz.wav"
  cmp -s "$TMP/plain.wav" "$TMP/ftz.wav" ||
    { echo "python: under flush-to-zero, mode $mode cleans noisy_speech.wav differently" >&2; exit 1; }
done
echo "python: the same files under flush-to-zero"
