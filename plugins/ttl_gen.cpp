// Writes the LV2 bundle's data from the port table the library is built
// from: ttl_gen BUNDLE_DIR BINARY_FILE_NAME writes manifest.ttl and
// tarnwelnc.ttl into BUNDLE_DIR.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ports.h"

using namespace tnc_plugin;

namespace {

const char kPrefixes[] =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

// Fewest decimals that read back as the same float, with at least one so
// that Turtle reads a decimal, not an integer.
std::string number(float v) {
    char text[48];
    for (int decimals = 1; decimals <= 9; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(v));
        if (std::strtof(text, nullptr) == v) break;
    }
    return text;
}

void control_port(FILE *f, unsigned index) {
    const Control &c = kControls[index];
    const bool input = index < kInputControls;
    std::fprintf(f, "        a lv2:%s, lv2:ControlPort ;\n", input ? "InputPort" : "OutputPort");
    std::fprintf(f, "        lv2:index %u ;\n        lv2:symbol \"%s\" ;\n", index, c.symbol);
    std::fprintf(f, "        lv2:name \"%s\" ;\n", index == kLatency ? "Latency" : c.name);
    std::fprintf(f, "        rdfs:comment \"%s\" ;\n", c.comment);
    if (input) std::fprintf(f, "        lv2:default %s ;\n", number(c.fallback).c_str());
    std::fprintf(f, "        lv2:minimum %s ;\n        lv2:maximum %s", number(c.minimum).c_str(),
                 number(c.maximum).c_str());
    if (c.flags & kInteger) std::fprintf(f, " ;\n        lv2:portProperty lv2:integer");
    if (c.flags & kToggled) std::fprintf(f, " ;\n        lv2:portProperty lv2:toggled");
    if (c.flags & kReportsLatency)
        std::fprintf(f, " ;\n        lv2:portProperty lv2:reportsLatency ;\n"
                        "        lv2:designation lv2:latency ;\n        units:unit units:frame");
    if (c.flags & kDecibel) std::fprintf(f, " ;\n        units:unit units:db");
    if (index == kMode) {
        std::fprintf(f, " ;\n        lv2:portProperty lv2:enumeration");
        for (int m = 0; m < 4; ++m)
            std::fprintf(f, " ;\n        lv2:scalePoint [ rdfs:label \"%s\" ; rdf:value %d ]",
                         kModeLabels[m], m);
    }
    std::fprintf(f, "\n");
}

// Stereo audio ports belong to a stereo input and a stereo output group,
// channel 0 left: some hosts (GStreamer) offer a plugin with more than one
// audio input only when its ports are grouped so.

void audio_port(FILE *f, unsigned index, const Variant &v, unsigned channel, bool input) {
    const AudioPort &p = input ? v.inputs[channel] : v.outputs[channel];
    std::fprintf(f, "        a lv2:%s, lv2:AudioPort ;\n", input ? "InputPort" : "OutputPort");
    std::fprintf(f, "        lv2:index %u ;\n        lv2:symbol \"%s\" ;\n        lv2:name \"%s\"",
                 index, p.symbol, p.name);
    if (v.channels == 2)
        std::fprintf(f, " ;\n        pg:group <%s#%s> ;\n        lv2:designation pg:%s", v.uri,
                     input ? "in" : "out", channel == 0 ? "left" : "right");
    std::fprintf(f, "\n");
}

void stereo_groups(FILE *f, const Variant &v) {
    std::fprintf(f, "<%s#in>\n    a pg:InputGroup, pg:StereoGroup ;\n"
                    "    lv2:symbol \"in\" ;\n    rdfs:label \"Input\" .\n\n", v.uri);
    std::fprintf(f, "<%s#out>\n    a pg:OutputGroup, pg:StereoGroup ;\n"
                    "    lv2:symbol \"out\" ;\n    rdfs:label \"Output\" ;\n"
                    "    pg:source <%s#in> .\n\n", v.uri, v.uri);
}

void plugin(FILE *f, const Variant &v) {
    if (v.channels == 2) stereo_groups(f, v);
    std::fprintf(f, "<%s>\n    a lv2:Plugin, lv2:FilterPlugin ;\n", v.uri);
    std::fprintf(f, "    doap:name \"%s\" ;\n", v.name);
    if (v.channels == 2)
        std::fprintf(f, "    pg:mainInput <%s#in> ;\n    pg:mainOutput <%s#out> ;\n", v.uri, v.uri);
    std::fprintf(f, "    lv2:optionalFeature lv2:hardRTCapable ;\n    lv2:port [\n");
    const unsigned ports = port_count(v);
    for (unsigned i = 0; i < ports; ++i) {
        if (i < kControlPorts)
            control_port(f, i);
        else if (i < kAudio + v.channels)
            audio_port(f, i, v, i - kAudio, true);
        else
            audio_port(f, i, v, i - kAudio - v.channels, false);
        std::fprintf(f, i + 1 < ports ? "    ] , [\n" : "    ] .\n\n");
    }
}

bool write(const std::string &path, void (*body)(FILE *, const char *), const char *binary) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    std::fputs(kPrefixes, f);
    body(f, binary);
    return std::fclose(f) == 0;
}

void manifest(FILE *f, const char *binary) {
    for (const Variant &v : kVariants)
        std::fprintf(f, "<%s>\n    a lv2:Plugin ;\n    lv2:binary <%s> ;\n    rdfs:seeAlso <tarnwelnc.ttl> .\n\n",
                     v.uri, binary);
}

void plugins(FILE *f, const char *) {
    for (const Variant &v : kVariants) plugin(f, v);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BUNDLE_DIR BINARY_FILE_NAME\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    if (!write(dir + "/manifest.ttl", manifest, argv[2]) || !write(dir + "/tarnwelnc.ttl", plugins, argv[2])) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
