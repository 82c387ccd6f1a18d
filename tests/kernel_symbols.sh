#!/usr/bin/env bash
# The kernel sets are one text compiled with different instruction sets; if
# two of them defined a symbol of the same name, weak or not, the linker
# could keep one set's copy for all and run AVX2 code on a processor
# without it. Each kernel object must define its table, and no name that
# another kernel object defines.
#   kernel_symbols.sh libtarnwelnc.a [nm]
set -euo pipefail
archive="$1"
nm() { command "$NM" "$@"; }
NM="${2:-nm}"
members=$(nm -A --defined-only "$archive" 2>/dev/null | awk -F: '$2 ~ /kernels_.*\.o$/ {print $2}' | sort -u)
[ -n "$members" ] || { echo "no kernel objects in $archive"; exit 1; }
# Global, weak and unique symbols: member, then name.
external=$(nm -A --defined-only "$archive" | awk -F: '$2 ~ /kernels_.*\.o$/ {split($3, f, " "); if (f[2] ~ /^[A-Z]$|^u$/) print $2, f[3]}')
status=0
for member in $members; do
  grep -q "^$member .*kKernels" <<<"$external" || { echo "$member: no table"; status=1; }
done
shared=$(awk '{print $2}' <<<"$external" | sort | uniq -d)
if [ -n "$shared" ]; then
  echo "names defined by more than one kernel object:"
  printf '%s\n' "$shared"
  status=1
fi
[ "$status" -eq 0 ] && echo "kernel objects: $(echo $members | wc -w), each with its table, no name shared"
exit "$status"
