"""place_region.py SESSION_FILE WAV_NAME: places the WAV file (already copied
into the session's interchange/NAME/audiofiles/) as one region at the start
of every playlist of the session, sets the session range to the region and
saves the session file. Ardour 7.3's Lua offers no file import without its
editor, so the sources and regions are written into the session's XML.
The region has no fades and unit gain, so it plays the file's samples."""
import os
import sys
import wave
import xml.etree.ElementTree as ET

session_file, wav_name = sys.argv[1], sys.argv[2]
name = os.path.basename(session_file)[: -len(".ardour")]
audio = os.path.join(os.path.dirname(session_file), "interchange", name, "audiofiles", wav_name)
with wave.open(audio) as w:
    channels, frames = w.getnchannels(), w.getnframes()

tree = ET.parse(session_file)
root = tree.getroot()
# Positions and lengths are in superclock ticks, "a" marking audio time.
ticks = int(root.find("TempoMap").get("superclocks-per-second")) // int(root.get("sample-rate"))
length = "a%d" % (frames * ticks)
next_id = int(root.get("id-counter"))


def new_id():
    global next_id
    next_id += 1
    return str(next_id)


sources = [new_id() for _ in range(channels)]
for channel, source in enumerate(sources):
    ET.SubElement(root.find("Sources"), "Source", {
        "name": wav_name, "type": "audio", "flags": "", "id": source, "captured-for": "",
        "channel": str(channel), "origin": "", "gain": "1"})


def region():
    attributes = {
        "name": "noisy", "type": "audio", "id": new_id(), "channels": str(channels),
        "position": "a0", "start": "a0", "length": length + "@a0", "sync-position": "a0",
        "ancestral-start": "a0", "ancestral-length": length + "@a0", "whole-file": "1",
        "muted": "0", "opaque": "1", "locked": "0", "video-locked": "0", "automatic": "0",
        "import": "1", "external": "0", "sync-marked": "0", "left-of-split": "0",
        "right-of-split": "0", "hidden": "0", "position-locked": "0", "valid-transients": "0",
        "stretch": "1", "shift": "1", "layering-index": "0", "envelope-active": "0",
        "default-fade-in": "0", "default-fade-out": "0", "fade-in-active": "0",
        "fade-out-active": "0", "scale-amplitude": "1", "first-edit": "nothing"}
    for channel, source in enumerate(sources):
        attributes["source-%d" % channel] = source
        attributes["master-source-%d" % channel] = source
    return attributes


ET.SubElement(root.find("Regions"), "Region", region())
playlists = root.find("Playlists")
if len(playlists) == 0:
    sys.exit("%s: no playlist to place the region on" % session_file)
for playlist in playlists:
    ET.SubElement(playlist, "Region", region())
ET.SubElement(root.find("Locations"), "Location", {
    "id": new_id(), "name": "session", "start": "a0", "end": length,
    "flags": "IsSessionRange", "locked": "0", "timestamp": "0", "cue": "0"})
root.set("id-counter", str(next_id + 1))
tree.write(session_file, encoding="UTF-8", xml_declaration=True)
