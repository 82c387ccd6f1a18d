# Shell helper for the Audacity check (hosts/run.sh): Audacity 3.2 under
# Xvfb, driven through its scripting pipe (mod-script-pipe).
#
# Audacity runs with a home of its own: no splash screen, no dither on
# export (the plugin's output is already on the 16-bit grid), its scratch
# files in that home. A first start with scripting off registers the
# plugins: on a first start Audacity checks new plugins in a second
# process, and were scripting on there, that process would make the
# scripting pipe afresh under the running editor, which then never
# answers.
audacity_dir="$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")"
audacity_bin="${AUDACITY:-audacity}"

# Starts Audacity in DIR (its home) in the background; its process group
# is in DIR/pgid.
audacity_launch() {
  local dir=$1
  HOME="$dir/home" setsid xvfb-run -a -s "-screen 0 1280x1024x24" "$audacity_bin" \
    </dev/null >>"$dir/audacity.log" 2>&1 &
  echo $! >"$dir/pgid"
}
audacity_stop() {
  kill -TERM -- "-$(cat "$1/pgid")" 2>/dev/null || true
  wait "$(cat "$1/pgid")" 2>/dev/null || true
}

# Runs Audacity in a fresh DIR with the plugins found through the caller's
# LADSPA_PATH and LV2_PATH, and sends it COMMANDS through the scripting
# pipe; nonzero with the reason on standard error when any fails.
#   audacity_run DIR COMMAND...
audacity_run() {
  local dir=$1 cfg
  shift
  rm -rf "$dir" && mkdir -p "$dir/home/.config/audacity" "$dir/tmp"
  cfg="$dir/home/.config/audacity/audacity.cfg"
  printf '%s\n' "[GUI]" "ShowSplashScreen=0" "[Directories]" "TempDir=$dir/tmp" \
    "[Quality]" "DitherAlgorithm=0" "HQDitherAlgorithm=0" >"$cfg"
  # The pipe's names are per user: an old pair would be taken for ours.
  rm -f "/tmp/audacity_script_pipe.to.$(id -u)" "/tmp/audacity_script_pipe.from.$(id -u)"

  audacity_launch "$dir"
  local i
  for i in $(seq 120); do
    grep -q '^mod-script-pipe=' "$cfg" && grep -qi tarnwelnc "$dir/home/.config/audacity/pluginregistry.cfg" \
      2>/dev/null && break
    sleep 0.5
  done
  sleep 2
  audacity_stop "$dir"
  grep -q '^\[ModulePath\]' "$cfg" || { echo "audacity: no scripting module found" >&2; return 1; }
  sed -i 's/^mod-script-pipe=[0-9]*$/mod-script-pipe=1/' "$cfg"

  audacity_launch "$dir"
  local status=0
  timeout 600 python3 "$audacity_dir/pipe.py" "$@" >"$dir/pipe.log" 2>&1 || status=$?
  audacity_stop "$dir"
  [ "$status" -eq 0 ] || { tail -n 5 "$dir/pipe.log" >&2; return 1; }
}
