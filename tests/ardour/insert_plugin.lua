-- ardour7-lua insert_plugin.lua: loads the session named by SESSION_DIR and
-- SESSION_NAME, adds a track of TRACK_CHANNELS channels playing from disk
-- with the plugin PLUGIN_ID of PLUGIN_FORMAT (lv2: its URI, ladspa: its
-- unique ID, vst3: its class UID) on it, sets the plugin's four controls to
-- CONTROLS ("mode limit adaptation smoothing") and saves. Ardour's Lua
-- interpreter passes no arguments to a script, hence the environment; one
-- session per process (loading a second one crashes Ardour 7.3).
local function env(name)
  local value = os.getenv(name)
  assert(value, name .. " is not set")
  return value
end
local types = { lv2 = ARDOUR.PluginType.LV2, ladspa = ARDOUR.PluginType.LADSPA,
                vst3 = ARDOUR.PluginType.VST3 }
local format = env("PLUGIN_FORMAT")
assert(types[format], "unknown plugin format " .. format)
local s = load_session(env("SESSION_DIR"), env("SESSION_NAME"))
assert(s, "the session does not load")
local channels = tonumber(env("TRACK_CHANNELS"))
local tracks = Session:new_audio_track(channels, channels, nil, 1, "Voice",
                                       ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local track = tracks:front()
-- The engine's inputs must not reach the plugin: disk only.
track:input():disconnect_all(nil)
track:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorDisk, PBD.GroupControlDisposition.NoGroup)
local proc = ARDOUR.LuaAPI.new_plugin(Session, env("PLUGIN_ID"), types[format], "")
assert(not proc:isnil(), "the " .. format .. " plugin does not load")
assert(track:add_processor_by_index(proc, 0, nil, true) == 0, "the plugin is not inserted")
local i = 0
for v in string.gmatch(env("CONTROLS"), "%S+") do
  assert(ARDOUR.LuaAPI.set_processor_param(proc, i, tonumber(v)), "control " .. i)
  i = i + 1
end
-- The plugin's saved state would bring back the old values otherwise.
assert(ARDOUR.LuaAPI.wait_for_process_callback(2, 5000), "no process callback")
Session:save_state("", false, false, false, false, false)
close_session()
print(format .. " plugin on a " .. channels .. "-channel track")
