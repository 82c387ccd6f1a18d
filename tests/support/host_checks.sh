# Shell helpers shared by the host checks (plugin_hosts.sh, hosts/run.sh).
# Block length at each rate (the README's frame geometry table).
block_of() { case "$1" in 8000) echo 120 ;; 16000) echo 190 ;; *) echo 1024 ;; esac; }
size() { stat -c %s "$1"; }
# Equal byte ranges: FILE_A FROM_A FILE_B FROM_B COUNT (offsets from 0).
same() { cmp -s <(tail -c +$(($2 + 1)) "$1" | head -c "$5") <(tail -c +$(($4 + 1)) "$3" | head -c "$5"); }
# The samples of a WAV file as raw 16-bit little-endian.
raw() { sox -D "$1" -t s16 "$2"; }
