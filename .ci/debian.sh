#!/usr/bin/env bash
# The Debian packages: builds them from debian/ in a copy of the tree (the
# .deb files land beside it), lints them, installs them with apt-get, checks
# what a user of the packages does, and removes them again, so that nothing
# installed here hides a search-path fault from the other checks:
#   - test_wav writes the bytes of the test_wav in ./build; man finds its page;
#   - sox and ffmpeg find the LADSPA plugin, ffmpeg the LV2 one, with no
#     LADSPA_PATH or LV2_PATH;
#   - /usr/bin/python3 imports the module;
#   - the examples build through pkg-config (shared and fully static) and
#     through find_package, with no path given, and nr_wav matches test_wav.
# The suite already ran on this tree, so the package build skips it
# (DEB_BUILD_OPTIONS=nocheck).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
SAMPLE="$ROOT/samples/noisy_speech.wav"
PACKAGES=(libtarnwelnc2 libtarnwelnc-dev tarnwelnc-tools tarnwelnc-plugins python3-tarnwelnc)

export DEBIAN_FRONTEND=noninteractive
# Waits for another apt-get instead of failing (a developer's machine).
apt_get() { apt-get -o DPkg::Lock::Timeout=1200 "$@"; }
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt_get update; fi
apt_get install -y --no-install-recommends \
  build-essential lintian man-db sox libsox-fmt-all ffmpeg
# The build dependencies, as debian/control names them.
apt_get build-dep -y --no-install-recommends ./

fail() { echo "debian: $*" >&2; exit 1; }
version="$(dpkg-parsechangelog -S Version)"
grep -q "project(TarnwelNC VERSION $version\$" CMakeLists.txt ||
  fail "debian/changelog's version $version is not the CMake project's"

TMP="$(mktemp -d)"
cleanup() {
  apt_get purge -y "${PACKAGES[@]}" >/dev/null 2>&1 || true
  rm -rf "$TMP"
}
trap cleanup EXIT

# The files git knows, without the build folders.
mkdir "$TMP/src"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xf - -C "$TMP/src"
# Debian's own interpreter and tools, as on a build machine.
(cd "$TMP/src" &&
  env PATH=/usr/sbin:/usr/bin:/sbin:/bin DEB_BUILD_OPTIONS="nocheck noddebs parallel=2" \
    dpkg-buildpackage -b -us -uc >"$TMP/build.log" 2>&1) ||
  { tail -n 60 "$TMP/build.log"; fail "dpkg-buildpackage failed"; }

# Warnings fail too: one that is kept goes into a lintian-overrides file
# with the reason.
lintian --allow-root --fail-on error,warning --info "$TMP"/tarnwelnc_*.changes ||
  fail "lintian"
debs=()
for p in "${PACKAGES[@]}"; do debs+=("$TMP/${p}_${version}_$(dpkg --print-architecture).deb"); done
for d in "${debs[@]}"; do
  printf '%-20s %7s bytes, %5s KB installed\n' "$(dpkg-deb -f "$d" Package)" "$(stat -c %s "$d")" \
    "$(dpkg-deb -f "$d" Installed-Size)"
done

apt_get install -y --no-install-recommends "${debs[@]}" >/dev/null
unset LADSPA_PATH LV2_PATH
W="$TMP/work"
mkdir "$W" && cd "$W"

[ "$(command -v test_wav)" = /usr/bin/test_wav ] || fail "test_wav is not /usr/bin/test_wav"
test_wav 2 -20 0.95 0.98 "$SAMPLE" pkg.wav >/dev/null
"$ROOT/build/test_wav" 2 -20 0.95 0.98 "$SAMPLE" ref.wav >/dev/null
cmp pkg.wav ref.wav || fail "the packaged test_wav and ./build's disagree"
man test_wav 2>/dev/null | grep kindMode >/dev/null || fail "man test_wav shows no page"

sox -D "$SAMPLE" sox.wav ladspa -l -r tarnwelnc tarnwelnc_mono 2 -20 0.95 0.98
ffmpeg -nostdin -v error -i "$SAMPLE" \
  -af 'ladspa=f=tarnwelnc:p=tarnwelnc_mono:c=2|-20|0.95|0.98:l=1' ladspa.wav
ffmpeg -nostdin -v error -i "$SAMPLE" \
  -af "lv2=p='https\://tarnwelnc.example.org/plugins/mono':c=mode=2" lv2.wav
# Both compensate the latency: the output is the input's length, aligned.
[ "$(soxi -s sox.wav)" = "$(soxi -s "$SAMPLE")" ] || fail "sox's output is not as long as its input"
cmp <(sox sox.wav -t raw - ) <(sox ladspa.wav -t raw - ) || fail "sox and ffmpeg disagree"
[ -s lv2.wav ] || fail "ffmpeg's lv2 filter wrote nothing"

/usr/bin/python3 - "$SAMPLE" <<'EOF'
import sys, wave
import numpy as np
import tarnwelnc
assert tarnwelnc.__file__.startswith("/usr/lib/python3/dist-packages/"), tarnwelnc.__file__
with wave.open(sys.argv[1]) as w:
    x = np.frombuffer(w.readframes(w.getnframes()), "<i2")
with wave.open("ref.wav") as w:
    ref = np.frombuffer(w.readframes(w.getnframes()), "<i2")
y = tarnwelnc.denoise(x, 16000)
block = 190   # test_wav lags by one block at 16 kHz
assert np.array_equal(y[:len(ref) - block], ref[block:]), "denoise differs from test_wav"
EOF

mkdir shared static cmake
make -s -C shared -f "$ROOT/examples/Makefile"
make -s -C static -f "$ROOT/examples/Makefile" PKG_CONFIG="pkg-config --static" LDFLAGS=-static
cmake -S "$ROOT/examples" -B cmake -G Ninja >/dev/null
cmake --build cmake >/dev/null
ldd shared/nr_wav | grep '/libtarnwelnc\.so\.2' >/dev/null || fail "nr_wav does not use the shared library"
readelf -d static/nr_wav static/nr_pipe | grep NEEDED && fail "the static examples need shared libraries"
for d in shared static cmake; do
  "$d/nr_wav" "$SAMPLE" "$d.wav"
  cmp "$d.wav" ref.wav || fail "nr_wav ($d) and test_wav disagree"
done
cd "$ROOT"

apt_get purge -y "${PACKAGES[@]}" >/dev/null
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 && fail "$p is still installed"
done
[ ! -e /usr/lib/ladspa/tarnwelnc.so ] || fail "the LADSPA plugin is left behind"
echo "debian: ${#PACKAGES[@]} packages built, lintian clean, installed, checked and removed"
