#!/usr/bin/env bash
# Runs the README's shell commands as written, so that they cannot drift.
#
# Which blocks run:
#   - every fenced block opened with ```sh (indented ones too), in the order
#     of the README;
#   - not one whose opening line follows a comment line
#       <!-- readme-ci: skip (REASON) -->
#     (other comment lines, such as the markers the tests use, may stand
#     between). The reason says what else checks it or why it cannot run
#     here: emscripten, a cluster, a sound card, long runs;
#   - blocks marked ```console, ```text, a bare ``` or another language are
#     illustrative and never run.
#
# How: in a fresh clone of this repository, as a user with passwordless sudo
# (made here, HOME in a temporary folder), with Debian's PATH and no standard
# input, all blocks in one bash session (cd and export carry over, as in a
# terminal), stopping at the first failing command. The files a reader
# brings are made first: noisy.wav and noisy/ (copies of the bundled
# sample), and my_host.c and my_tool.cpp (small hosts). Afterwards the files
# `sudo cmake --install build` put in /usr/local are removed, as are the
# user and its sudo rule.
#
#   bash .ci/readme.sh          run
#   bash .ci/readme.sh --list   show the blocks and whether they run
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
README="$ROOT/README.md"

# The runnable blocks as a bash script; with --list, a table instead.
extract() {
  awk -v list="${1:-}" '
    function flush_note() { note = "" }
    /^[ \t]*```/ {
      if (!inblock) {
        line = $0; sub(/^[ \t]*/, "", line)
        indent = index($0, "```") - 1
        inblock = 1; n++
        run = (line == "```sh") && skip == ""
        if (list) printf "%4d  %-8s %s\n", NR, line == "```sh" ? (run ? "run" : "skip") : "text", skip
        else if (run) printf "echo \"readme-ci: block %d (README line %d)\" >&2\n", n, NR
        skip = ""; next
      }
      inblock = 0; next
    }
    inblock { if (run && !list) print substr($0, indent + 1); next }
    /<!-- readme-ci: skip/ { skip = $0; sub(/.*skip */, "", skip); sub(/ *-->.*/, "", skip); next }
    /^[ \t]*<!--.*-->[ \t]*$/ { next }
    /^[ \t]*$/ { next }
    { skip = "" }
  ' "$README"
}

if [ "${1:-}" = --list ]; then extract list; exit 0; fi

# The test command the README gives is the one .ci/run runs.
test_command="$(grep -m1 '^cmake -S . -B build -G Ninja .* && ctest ' "$README")"
grep -qxF "$test_command" .ci/run || { echo "readme: .ci/run does not run the README's test command" >&2; exit 1; }

export DEBIAN_FRONTEND=noninteractive
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then apt-get update; fi
apt-get -o DPkg::Lock::Timeout=1200 install -y --no-install-recommends sudo git

user=readme-ci
TMP="$(mktemp -d)"
chmod 755 "$TMP"
find /usr/local -type d >"$TMP/local-dirs"
HOME_DIR="$TMP/home"
lock_conf=/etc/apt/apt.conf.d/99readme-ci
cleanup() {
  # What the README installed to /usr/local: the same files as a fresh
  # install of the clone's build to another prefix.
  if [ -f "$HOME_DIR/TarnwelNC/build/cmake_install.cmake" ]; then
    cmake --install "$HOME_DIR/TarnwelNC/build" --prefix "$TMP/listing" >/dev/null 2>&1 || true
    (cd "$TMP/listing" 2>/dev/null && find . -type f -o -type l) | while read -r f; do
      rm -f "/usr/local/${f#./}"
    done
    # Folders the install made, not those that were there before.
    (cd "$TMP/listing" 2>/dev/null && find . -mindepth 1 -type d | sort -r) | while read -r d; do
      grep -qxF "/usr/local/${d#./}" "$TMP/local-dirs" || rmdir "/usr/local/${d#./}" 2>/dev/null || true
    done
    ldconfig
  fi
  rm -f "/etc/sudoers.d/$user" "$lock_conf"
  userdel "$user" >/dev/null 2>&1 || true
  rm -rf "$TMP"
}
trap cleanup EXIT

# Another apt-get on a developer's machine makes sudo apt-get wait, not fail.
echo 'DPkg::Lock::Timeout "1200";' >"$lock_conf"
useradd --home-dir "$HOME_DIR" --create-home --shell /bin/bash "$user"
echo "$user ALL=(ALL) NOPASSWD: ALL" >"/etc/sudoers.d/$user"
chmod 440 "/etc/sudoers.d/$user"

as_user() {
  runuser -u "$user" -- env -i HOME="$HOME_DIR" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

clone="$HOME_DIR/TarnwelNC"
# Cloned as root (git will not read a repository another user owns), then
# handed over.
git clone -q "$ROOT" "$clone"
chown -R "$user:" "$clone"
as_user bash -c '
  set -e
  cd "$1"
  cp samples/noisy_speech.wav noisy.wav
  mkdir -p noisy && cp samples/noisy_speech.wav noisy/a.wav && cp samples/noisy_speech.wav "noisy/b c.wav"
  cat >my_host.c <<"EOF"
#include "spsubst.h"
static TSpectSubtract ns;
int main(void) {
    static int16 block[1024];
    SpectSubtract_Init(&ns, 16000, 2, -20.0f, 0.95f, 0.98f);
    SpectSubtract_Frame(&ns, 1, block);
    SpectSubtract_Restore(&ns, block);
    const int ok = ns.lenHalf == 190;
    SpectSubtract_Destroyed(&ns);
    return ok ? 0 : 1;
}
EOF
  cat >my_tool.cpp <<"EOF"
#include "spsubst.h"
#include "wav.h"
int main() { WAV_HEADER h; return h.Channels > 2; }
EOF
' sh "$clone"

{ echo 'trap '"'"'echo "readme-ci: failed (status $?): $BASH_COMMAND" >&2'"'"' ERR'; extract; } >"$TMP/blocks.sh"
chmod 644 "$TMP/blocks.sh"
echo "readme: $(grep -c '^echo "readme-ci: block' "$TMP/blocks.sh") blocks to run"
start=$SECONDS
(cd "$clone" && as_user bash -eo pipefail "$TMP/blocks.sh" </dev/null) ||
  { echo "readme: a README command failed (the last block named above)" >&2; exit 1; }
echo "readme: every runnable block passed in $((SECONDS - start)) s"
