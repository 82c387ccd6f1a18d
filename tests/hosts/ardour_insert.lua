-- ardour7-lua ardour_insert.lua, with SESSION_DIR, FORMAT (lv2 or ladspa)
-- and CHANNELS (1 or 2) in the environment (Ardour's Lua interpreter passes
-- no arguments to a script): adds an audio track of CHANNELS channels to the
-- session with the plugin of that many channels as its first processor, the
-- controls at the command line's values, and saves the session. One session
-- per process: loading a second one in the same process crashes Ardour 7.3.
local uri = "https://tarnwelnc.example.org/plugins/"
local ladspa_id = { "4711", "4712" }
local controls = { 2, -20, 0.95, 0.98 }   -- mode, limit, adaptation, smoothing

local dir, format = os.getenv("SESSION_DIR"), os.getenv("FORMAT")
local channels = tonumber(os.getenv("CHANNELS"))
local s = load_session(dir, ARDOUR.LuaAPI.path_get_basename(dir))
assert(s, "cannot load the session in " .. dir)
local tracks = s:new_audio_track(channels, channels, nil, 1, "noisy",
                                 ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
assert(tracks:size() == 1, "no track made in " .. dir)
local p
if format == "lv2" then
  p = ARDOUR.LuaAPI.new_plugin(s, uri .. (channels == 1 and "mono" or "stereo"), ARDOUR.PluginType.LV2, "")
else
  p = ARDOUR.LuaAPI.new_plugin(s, ladspa_id[channels], ARDOUR.PluginType.LADSPA, "")
end
assert(not p:isnil(), "Ardour does not find the " .. format .. " plugin")
for i, v in ipairs(controls) do
  assert(ARDOUR.LuaAPI.set_processor_param(p, i - 1, v), "cannot set control " .. i)
end
for t in tracks:iter() do
  assert(t:add_processor_by_index(p, 0, nil, true) == 0, "cannot insert the plugin")
end
s:save_state("", false, false, false, false, false)
close_session()
print(dir .. ": " .. format .. " plugin on a " .. channels .. "-channel track")
