#!/usr/bin/env bash
# The kernel sets are one text compiled with different instruction sets; if
# any function of them had a weak or global definition, the linker could
# keep one target's copy for all and run AVX2 code on a processor without
# it. Each kernel object must define exactly one global symbol, its table,
# and nothing weak.
#   kernel_symbols.sh libtarnwelnc.a [nm]
set -euo pipefail
archive="$1"
nm() { command "$NM" "$@"; }
NM="${2:-nm}"
status=0
members=$(nm -A --defined-only "$archive" 2>/dev/null | awk -F: '$2 ~ /kernels_.*\.o$/ {print $2}' | sort -u)
[ -n "$members" ] || { echo "no kernel objects in $archive"; exit 1; }
for member in $members; do
  globals=$(nm -A --defined-only "$archive" | awk -F: -v m="$member" '$2 == m {print $3}' |
            awk '$2 ~ /^[A-Z]$|^u$/ {print $2, $3}')
  if [ "$(printf '%s\n' "$globals" | wc -l)" -ne 1 ] || ! grep -q 'kKernels' <<<"$globals"; then
    echo "$member defines more than its table:"
    printf '%s\n' "$globals"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "kernel objects: $(echo $members | wc -w), each defines its table and nothing else"
exit "$status"
