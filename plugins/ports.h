/* The plugins' ports, in one table read by the plugin library (LADSPA
   descriptors, LV2 port indices) and by ttl_gen (the LV2 bundle's data),
   so indices, names and ranges cannot drift apart.

   Both variants share the layout: the four input controls first, in the
   command line's order (hosts that take control values by position, such
   as sox, then read like test_wav's arguments), the two output controls,
   then the audio inputs and the audio outputs, one per channel. The
   controls' ranges and defaults are the host layer's (spstream.h). */
#ifndef TARNWELNC_PLUGIN_PORTS_H
#define TARNWELNC_PLUGIN_PORTS_H

#include "spstream.h"

namespace tnc_plugin {

enum Port {
    kMode,
    kLimit,
    kAdaptation,
    kSmoothing,
    kSpeech,
    kLatency,
    kAudio,  // first audio port: inputs, then outputs
    kControlPorts = kAudio,
    kInputControls = kSpeech
};

// Which of LADSPA's fixed default points holds the default; LADSPA cannot
// name any other value. Output controls have one too: sox asks for a value
// for every control port that has none.
enum DefaultPoint { kDefaultZero, kDefaultMinimum, kDefaultMiddle, kDefaultHigh, kDefaultMaximum };

enum ControlFlags { kInteger = 1, kToggled = 2, kReportsLatency = 4, kDecibel = 8 };

struct Control {
    const char *symbol;  // LV2 symbol
    const char *name;    // LADSPA port name and LV2 name; "latency" is what LADSPA hosts look for
    float minimum, maximum, fallback;
    DefaultPoint ladspa_default;
    int flags;
    const char *comment;
};

// The maximum latency is that of the longest block.
constexpr Control kControls[kControlPorts] = {
    {"mode", "Mode", SPSTREAM_MODE_MIN, SPSTREAM_MODE_MAX, SPSTREAM_MODE_DEFAULT, kDefaultHigh, kInteger,
     "0 decision-directed, 1 Wiener-scaled subtraction, 2 Wiener with a noise floor, 3 Wiener only"},
    {"limit", "Limit (dB)", float(SPSTREAM_LIMIT_LOW), float(SPSTREAM_LIMIT_MAX),
     float(SPSTREAM_LIMIT_DEFAULT), kDefaultHigh, kDecibel, "How far a noise-only bin may be pulled down"},
    {"adaptation", "Noise adaptation", float(SPSTREAM_FACTOR_MIN), float(SPSTREAM_FACTOR_HIGH),
     float(SPSTREAM_ADAPTATION_DEFAULT), kDefaultHigh, 0,
     "Weight of the old noise estimate per frame; higher adapts more slowly"},
    {"smoothing", "Musical-noise smoothing", float(SPSTREAM_FACTOR_MIN), float(SPSTREAM_FACTOR_HIGH),
     float(SPSTREAM_SMOOTHING_DEFAULT), kDefaultHigh, 0,
     "Weight of the previous frame in the a-priori SNR; higher gives a smoother residual"},
    {"speech", "Speech", 0.0f, 1.0f, 0.0f, kDefaultZero, kToggled,
     "1 when the last block was taken for speech"},
    {"latency", "latency", 0.0f, 2.0f * SPSTREAM_MAX_BLOCK - 1.0f, 0.0f, kDefaultZero,
     kInteger | kReportsLatency, "Delay of the output in samples"},
};

const char *const kModeLabels[4] = {"Decision-directed", "Wiener-scaled subtraction",
                                    "Wiener with noise floor", "Wiener only"};

struct AudioPort {
    const char *symbol, *name;
};

struct Variant {
    const char *label;      // LADSPA label
    const char *uri;        // LV2 URI
    const char *name;
    unsigned long ladspa_id;
    unsigned channels;
    AudioPort inputs[2], outputs[2];
};

#define TNC_PLUGIN_URI_BASE "https://tarnwelnc.example.org/plugins/"

constexpr Variant kVariants[2] = {
    {"tarnwelnc_mono", TNC_PLUGIN_URI_BASE "mono", "TarnwelNC noise suppressor (mono)", 4711, 1,
     {{"in", "Input"}, {}}, {{"out", "Output"}, {}}},
    {"tarnwelnc_stereo", TNC_PLUGIN_URI_BASE "stereo", "TarnwelNC noise suppressor (stereo)", 4712, 2,
     {{"in_l", "Input L"}, {"in_r", "Input R"}}, {{"out_l", "Output L"}, {"out_r", "Output R"}}},
};

constexpr unsigned port_count(const Variant &v) { return kAudio + 2 * v.channels; }

}  // namespace tnc_plugin

#endif
