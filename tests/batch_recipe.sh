#!/usr/bin/env bash
# Runs the README's recipe for cleaning a folder on every core (the code
# block after the line "<!-- batch recipe -->") on a handful of small files,
# and checks every output: present, a valid header, and the length the tool
# gives for its rate and channel count.
# Usage: batch_recipe.sh TEST_WAV README SAMPLE_WAV
set -euo pipefail
tool_dir="$(cd "$(dirname "$1")" && pwd)" readme="$2" sample="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

recipe="$(awk '/<!-- batch recipe -->/ { f = 1; next }
               f && /^```/ { if (b) exit; b = 1; next }
               b' "$readme")"
[ -n "$recipe" ] || { echo "no batch recipe in $readme" >&2; exit 1; }

le() {  # value, bytes: little-endian binary
  local v="$1" n="$2" i out=""
  for ((i = 0; i < n; i++)); do out+="$(printf '\\%03o' $(((v >> (8 * i)) & 255)))"; done
  printf "$out"
}
# Name, rate, channels, sample frames (taken from the bundled sample's data).
make_wav() {
  local bytes=$(($4 * $3 * 2))
  { printf RIFF; le $((36 + bytes)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le "$3" 2
    le "$2" 4; le $(($2 * $3 * 2)) 4; le $(($3 * 2)) 2; le 16 2; printf data; le "$bytes" 4
    head -c $((44 + bytes)) "$sample" | tail -c +45; } >"$work/noisy/$1"
}

# name | rate | channels | frames | data bytes expected (whole blocks)
cases="a.wav|16000|1|20000|39900
with space.wav|8000|2|9000|36000
c.wav|44100|1|5000|8192
d.wav|22050|2|3000|12000
tiny.wav|16000|1|100|0"
mkdir "$work/noisy"
echo "not audio" >"$work/noisy/notes.txt"
while IFS='|' read -r name rate ch frames _; do make_wav "$name" "$rate" "$ch" "$frames"; done <<<"$cases"

(cd "$work" && PATH="$tool_dir:$PATH" bash -euo pipefail -c "$recipe")

u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
status=0
[ "$(find "$work/clean" -type f | wc -l)" -eq 5 ] || { echo "expected 5 outputs" >&2; status=1; }
while IFS='|' read -r name rate ch frames expected; do
  out="$work/clean/$name"
  if [ ! -f "$out" ]; then echo "missing: $name" >&2; status=1; continue; fi
  if [ "$(head -c 4 "$out")" != RIFF ] || [ "$(head -c 16 "$out" | tail -c 8)" != 'WAVEfmt ' ] ||
     [ "$(u32 "$out" 24)" != "$rate" ] || [ "$(u32 "$out" 52)" != "$expected" ] ||
     [ "$(stat -c %s "$out")" != $((56 + expected)) ]; then
    echo "bad output: $name" >&2; status=1
  fi
done <<<"$cases"
[ "$status" -eq 0 ] && echo "batch recipe: 5 files cleaned and checked"
exit "$status"
