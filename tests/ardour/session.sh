# Shell helper shared by the Ardour checks (ardour/run.sh, hosts/run.sh).
#
# ardour7-export 7.3 now and then stalls for good, or aborts on freeing its
# own export buffers ("double free or corruption"), with LV2 and VST3
# plugins alike: measured on a busy two-core machine, one export in eight
# (LV2) to one in four (VST3). A check therefore makes each try from a
# new session, and passes when one of ardour_tries gives the expected
# samples.
ardour_tries=4
ardour_dir="$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")"

# Makes session DIR at 48 kHz with a track and master bus of CHANNELS
# channels, playing from disk through plugin ID of FORMAT (lv2, ladspa,
# vst3) set to CONTROLS ("mode limit adaptation smoothing"), with IN as its
# region at the start, and exports it to OUT with EXPORT_OPTIONS. Nonzero
# on any failure, with what Ardour printed in DIR.log. The caller sets
# XDG_CACHE_HOME and XDG_CONFIG_HOME to its own folders (instances that
# share them can stall each other) and the plugin paths.
#   ardour_export DIR FORMAT ID CHANNELS CONTROLS IN OUT [EXPORT_OPTIONS...]
ardour_export() {
  local dir=$1 format=$2 id=$3 channels=$4 controls=$5 in=$6 out=$7 name
  shift 7
  name="$(basename "$dir")"  # Ardour names the session's folders after DIR
  rm -rf "$dir" "$out"
  timeout 120 ardour7-new_session -s 48000 -m "$channels" "$dir" </dev/null >"$dir.log" 2>&1 || return 1
  SESSION_DIR="$dir" SESSION_NAME="$name" TRACK_CHANNELS="$channels" PLUGIN_FORMAT="$format" PLUGIN_ID="$id" \
    CONTROLS="$controls" timeout 120 ardour7-lua "$ardour_dir/insert_plugin.lua" </dev/null >>"$dir.log" 2>&1 ||
    return 1
  grep -q "plugin on a" "$dir.log" || return 1
  cp "$in" "$dir/interchange/$name/audiofiles/input.wav" || return 1
  python3 "$ardour_dir/place_region.py" "$dir/$name.ardour" input.wav >>"$dir.log" 2>&1 || return 1
  timeout 120 ardour7-export "$@" -o "$out" "$dir" "$name" </dev/null >>"$dir.log" 2>&1
}
