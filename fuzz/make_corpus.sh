#!/usr/bin/env bash
# Writes the fuzzer's seed files into fuzz/corpus: small hand-built headers
# for every path of the reader. Run from anywhere; the files are committed.
set -euo pipefail
out="$(dirname "${BASH_SOURCE[0]}")/corpus"
mkdir -p "$out"

u16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
u32() { u16 $(($1 & 65535)); u16 $(($1 >> 16 & 65535)); }
# fmt body: format channels rate bits [extension bytes]
fmt() {
  local align=$(($2 * $4 / 8))
  u16 "$1"; u16 "$2"; u32 "$3"; u32 $(($3 * align)); u16 "$align"; u16 "$4"
}
chunk() { printf '%s' "$1"; u32 "$2"; }  # identifier and declared size
riff() { printf 'RIFF'; u32 "$1"; printf 'WAVE'; }
samples() { printf '\x10\x00\xf0\xff\x00\x40\x00\xc0'; }  # four 16-bit samples

{ riff 44; chunk 'fmt ' 16; fmt 1 1 8000 16; chunk data 8; samples; } >"$out/canonical.wav"
{ riff 62; chunk LIST 9; printf 'INFOICMTx\0'; chunk 'fmt ' 16; fmt 1 2 16000 16
  chunk data 8; samples; } >"$out/list_odd_padded.wav"
{ riff 56; chunk 'fmt ' 16; fmt 1 1 44100 16; chunk fact 4; u32 4
  chunk data 8; samples; } >"$out/fact.wav"
# The tool's own output shape with a fmt extension.
{ riff 58; chunk 'fmt ' 18; fmt 1 2 48000 16; u16 0; chunk fact 4; u32 0
  chunk data 8; samples; } >"$out/fmt18.wav"
{ riff 42; chunk 'fmt ' 16; fmt 6 2 8000 8; chunk data 6; printf '\xd5\x55\xaa\x2a\x80\x00'
} >"$out/alaw_stereo.wav"
{ riff 40; chunk 'fmt ' 16; fmt 7 1 8000 8; chunk data 3; printf '\x00\x7f\xff\0'
} >"$out/mulaw_odd.wav"
# A LIST after fmt is passed over byte by byte; an overlong chunk too.
{ riff 76; chunk 'fmt ' 16; fmt 1 1 22050 16; chunk LIST 12; printf 'INFOICMTtext'
  chunk JUNK 1000; printf 'junk'; chunk data 8; samples; } >"$out/list_after_fmt.wav"
# Cut inside the data chunk's header, and inside the fmt fields.
{ riff 44; chunk 'fmt ' 16; fmt 1 1 8000 16; printf 'data\x08'; } >"$out/truncated_data.wav"
{ riff 44; chunk 'fmt ' 16; u16 1; u16 1; } >"$out/truncated_fmt.wav"
# An odd fmt size, with and without its pad byte; the writer must pad it.
{ riff 49; chunk 'fmt ' 17; fmt 1 1 8000 16; printf '\x5a'; chunk data 8; samples; } >"$out/fmt17_unpadded.wav"
{ riff 50; chunk 'fmt ' 17; fmt 1 2 8000 16; printf '\x5a\0'; chunk data 8; samples; } >"$out/fmt17_padded.wav"
# RF64: ds64 first, the data size in it.
{ printf 'RF64'; u32 4294967295; printf 'WAVE'; chunk ds64 28; u32 80; u32 0; u32 8; u32 0; u32 0; u32 0; u32 0
  chunk 'fmt ' 16; fmt 1 1 8000 16; chunk data 4294967295; samples; } >"$out/rf64.wav"
