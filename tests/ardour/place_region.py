"""Places a WAV file as a region at the start of the track "Voice" of an
Ardour 7 session file, and sets the session range to the file's length.
Ardour 7's Lua has no headless import, so the session file is edited:
    place_region.py SESSION.ardour AUDIOFILE.wav"""
import re
import sys
import wave

session, audio = sys.argv[1], sys.argv[2]
with wave.open(audio) as w:
    channels, rate, frames = w.getnchannels(), w.getframerate(), w.getnframes()
# Ardour 7 keeps audio times in superclock ticks, 282240000 per second.
length = "a%d" % (frames * 282240000 // rate)
name = audio.rsplit("/", 1)[-1]
first_id = 90001
sources = "".join('    <Source name="%s" type="audio" id="%d" channel="%d"/>\n' % (name, first_id + c, c)
                  for c in range(channels))
used = " ".join('source-%d="%d" master-source-%d="%d"' % (c, first_id + c, c, first_id + c) for c in range(channels))
region = ('<Region name="input" muted="0" opaque="1" locked="0" video-locked="0" automatic="0" whole-file="%d" '
          'import="0" external="0" sync-marked="0" left-of-split="0" right-of-split="0" hidden="0" '
          'position-locked="0" valid-transients="0" start="a0" length="' + length + '@a0" position="a0" '
          'sync-position="a0" ancestral-start="a0" ancestral-length="a0@a0" stretch="1" shift="1" '
          'layering-index="0" envelope-active="0" default-fade-in="0" default-fade-out="0" fade-in-active="0" '
          'fade-out-active="0" scale-amplitude="1" id="%d" type="audio" first-edit="nothing" ' + used +
          ' channels="%d"/>')
xml = open(session).read()
for empty, full in (("<Sources/>", "<Sources>\n%s  </Sources>" % sources),
                    ("<Regions/>", "<Regions>\n    %s\n  </Regions>" % (region % (1, first_id + 10, channels))),
                    ("<Locations/>", '<Locations>\n    <Location id="%d" name="session" start="a0" end="%s" '
                                     'flags="IsSessionRange" locked="0" timestamp="0" cue="0"/>\n  </Locations>'
                                     % (first_id + 20, length))):
    if empty not in xml:
        sys.exit("place_region: no %s in %s" % (empty, session))
    xml = xml.replace(empty, full, 1)
xml, n = re.subn(r'(<Playlist id="\d+" name="Voice" type="audio"[^>]*?)/>',
                 lambda m: m.group(1) + ">\n      " + region % (0, first_id + 11, channels) + "\n    </Playlist>",
                 xml, count=1)
if n != 1:
    sys.exit("place_region: the track's playlist is not in " + session)
open(session, "w").write(xml)
