// The suppressor as LADSPA and LV2 plugins, mono and stereo: one stream
// record per channel in fixed-delay mode, so every run returns as many
// samples as it is given, whatever the host's buffer length.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <ladspa.h>
#include <lv2/core/lv2.h>

#include "ports.h"
#include "spstream.h"

namespace tnc_plugin {
namespace {

// Inputs are copied here before any output is written, so that a host may
// hand the same buffer to any input and output port, also across channels.
constexpr uint32_t kChunk = 256;

struct Settings {
    int8 mode;
    float limit, adaptation, smoothing;
    bool operator!=(const Settings &o) const {
        return mode != o.mode || limit != o.limit || adaptation != o.adaptation ||
               smoothing != o.smoothing;
    }
};

struct Instance {
    TSpectStream stream[2];
    unsigned channels;
    uint32 rate;
    bool fresh;  // no sample since activation: the stream starts at the next run
    Settings applied;
    float *ports[kAudio + 4];
    float scratch[2][kChunk];
};

// A value a host sends outside a control's range is held at the nearest
// end; NaN means the default.
float clamped(const float *port, Port p) {
    const Control &c = kControls[p];
    if (port == nullptr) return c.fallback;
    const float v = *port;
    if (v != v) return c.fallback;
    if (v < c.minimum) return c.minimum;
    if (v > c.maximum) return c.maximum;
    return v;
}

Settings read_controls(const Instance *it) {
    const float mode = clamped(it->ports[kMode], kMode);
    return Settings{static_cast<int8>(mode + 0.5f), clamped(it->ports[kLimit], kLimit),
                    clamped(it->ports[kAdaptation], kAdaptation),
                    clamped(it->ports[kSmoothing], kSmoothing)};
}

// Inputs are copied before any output is written: a host may hand the
// same buffer to an input and an output port, even across channels.
void take_input(float *to, const float *from, uint32_t n) { std::memcpy(to, from, n * sizeof(float)); }

bool start_streams(Instance *it, const Settings &s) {
    for (unsigned c = 0; c < it->channels; ++c)
        if (!SpectStream_Init(&it->stream[c], it->rate, s.mode, s.limit, s.adaptation, s.smoothing,
                              SPSTREAM_FIXED_DELAY))
            return false;
    it->applied = s;
    return true;
}

Instance *instantiate(const Variant &v, double rate) {
    // The range check also refuses NaN; fractional rates are not served.
    if (!(rate >= SPSTREAM_MIN_RATE && rate <= SPSTREAM_MAX_RATE)) return nullptr;
    const uint32 whole = static_cast<uint32>(rate);
    if (whole != rate) return nullptr;
    Instance *it = static_cast<Instance *>(std::calloc(1, sizeof(Instance)));
    if (it == nullptr) return nullptr;
    it->channels = v.channels;
    it->rate = whole;
    it->fresh = true;
    const Settings defaults{static_cast<int8>(kControls[kMode].fallback), kControls[kLimit].fallback,
                            kControls[kAdaptation].fallback, kControls[kSmoothing].fallback};
    if (!start_streams(it, defaults)) {
        std::free(it);
        return nullptr;
    }
    return it;
}

void connect(Instance *it, unsigned long port, float *data) {
    if (port < kAudio + 2 * it->channels) it->ports[port] = data;
}

void activate(Instance *it) { it->fresh = true; }

void run(Instance *it, unsigned long samples) {
    const unsigned channels = it->channels;
    float *const *in = it->ports + kAudio;
    float *const *out = it->ports + kAudio + channels;
    bool audio = true;
    for (unsigned c = 0; c < channels; ++c) audio = audio && in[c] != nullptr && out[c] != nullptr;

    // The suppressor's starting state depends on the mode, so a new stream
    // starts with the values the host has set by its first run.
    const Settings wanted = read_controls(it);
    if (it->fresh && audio && samples > 0) {
        start_streams(it, wanted);
        it->fresh = false;
    } else if (wanted != it->applied) {
        for (unsigned c = 0; c < channels; ++c)
            SpectStream_Reset(&it->stream[c], wanted.mode, wanted.limit, wanted.adaptation,
                              wanted.smoothing);
        it->applied = wanted;
    }

    if (audio) {
        for (unsigned long done = 0; done < samples;) {
            const uint32_t n = samples - done < kChunk ? static_cast<uint32_t>(samples - done) : kChunk;
            for (unsigned c = 0; c < channels; ++c) take_input(it->scratch[c], in[c] + done, n);
            for (unsigned c = 0; c < channels; ++c)
                SpectStream_ProcessFloat(&it->stream[c], it->scratch[c], n, out[c] + done);
            done += n;
        }
    }

    int speech = 0;
    for (unsigned c = 0; c < channels; ++c) speech |= SpectStream_Speech(&it->stream[c]);
    if (it->ports[kSpeech] != nullptr) *it->ports[kSpeech] = static_cast<float>(speech);
    if (it->ports[kLatency] != nullptr)
        *it->ports[kLatency] = static_cast<float>(SpectStream_Latency(&it->stream[0]));
}

void cleanup(Instance *it) { std::free(it); }

// ------------------------------------------------------------------ LADSPA

LADSPA_Handle ladspa_instantiate(const LADSPA_Descriptor *d, unsigned long rate) {
    const Variant &v = kVariants[d->UniqueID == kVariants[0].ladspa_id ? 0 : 1];
    // A rate beyond 32 bits must not wrap into the supported range.
    return rate > SPSTREAM_MAX_RATE ? nullptr : instantiate(v, static_cast<double>(rate));
}
void ladspa_connect(LADSPA_Handle h, unsigned long port, LADSPA_Data *data) {
    connect(static_cast<Instance *>(h), port, data);
}
void ladspa_activate(LADSPA_Handle h) { activate(static_cast<Instance *>(h)); }
void ladspa_deactivate(LADSPA_Handle) {}
void ladspa_run(LADSPA_Handle h, unsigned long samples) { run(static_cast<Instance *>(h), samples); }
void ladspa_cleanup(LADSPA_Handle h) { cleanup(static_cast<Instance *>(h)); }

LADSPA_PortRangeHintDescriptor ladspa_hint(const Control &c) {
    LADSPA_PortRangeHintDescriptor h = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;
    if (c.flags & kInteger) h |= LADSPA_HINT_INTEGER;
    if (c.flags & kToggled) h = LADSPA_HINT_TOGGLED;
    switch (c.ladspa_default) {
    case kDefaultMinimum: return h | LADSPA_HINT_DEFAULT_MINIMUM;
    case kDefaultMiddle: return h | LADSPA_HINT_DEFAULT_MIDDLE;
    case kDefaultHigh: return h | LADSPA_HINT_DEFAULT_HIGH;
    case kDefaultMaximum: return h | LADSPA_HINT_DEFAULT_MAXIMUM;
    case kDefaultZero: break;
    }
    return h | LADSPA_HINT_DEFAULT_0;
}

struct LadspaTables {
    LADSPA_Descriptor descriptor;
    LADSPA_PortDescriptor kinds[kAudio + 4];
    const char *names[kAudio + 4];
    LADSPA_PortRangeHint hints[kAudio + 4];
};

void fill(LadspaTables &t, const Variant &v) {
    for (unsigned p = 0; p < kControlPorts; ++p) {
        const Control &c = kControls[p];
        t.kinds[p] = LADSPA_PORT_CONTROL | (p < kInputControls ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT);
        t.names[p] = c.name;
        t.hints[p] = {ladspa_hint(c), c.minimum, c.maximum};
    }
    for (unsigned c = 0; c < v.channels; ++c) {
        const unsigned i = kAudio + c, o = kAudio + v.channels + c;
        t.kinds[i] = LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT;
        t.kinds[o] = LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT;
        t.names[i] = v.inputs[c].name;
        t.names[o] = v.outputs[c].name;
        t.hints[i] = t.hints[o] = {0, 0.0f, 0.0f};
    }
    LADSPA_Descriptor &d = t.descriptor;
    d.UniqueID = v.ladspa_id;
    d.Label = v.label;
    d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d.Name = v.name;
    d.Maker = "TarnwelNC";
    d.Copyright = "TarnwelNC";
    d.PortCount = port_count(v);
    d.PortDescriptors = t.kinds;
    d.PortNames = t.names;
    d.PortRangeHints = t.hints;
    d.instantiate = ladspa_instantiate;
    d.connect_port = ladspa_connect;
    d.activate = ladspa_activate;
    d.deactivate = ladspa_deactivate;
    d.run = ladspa_run;
    d.cleanup = ladspa_cleanup;
}

// Filled once when the library is loaded, before any host can ask for it.
LadspaTables ladspa_tables[2];
__attribute__((constructor)) void fill_ladspa_tables() {
    for (unsigned i = 0; i < 2; ++i) fill(ladspa_tables[i], kVariants[i]);
}

// --------------------------------------------------------------------- LV2

LV2_Handle lv2_instantiate(const LV2_Descriptor *d, double rate, const char *, const LV2_Feature *const *) {
    return instantiate(kVariants[std::strcmp(d->URI, kVariants[0].uri) == 0 ? 0 : 1], rate);
}
void lv2_connect(LV2_Handle h, uint32_t port, void *data) {
    connect(static_cast<Instance *>(h), port, static_cast<float *>(data));
}
void lv2_activate(LV2_Handle h) { activate(static_cast<Instance *>(h)); }
void lv2_run(LV2_Handle h, uint32_t samples) { run(static_cast<Instance *>(h), samples); }
void lv2_deactivate(LV2_Handle) {}
void lv2_cleanup(LV2_Handle h) { cleanup(static_cast<Instance *>(h)); }
const void *lv2_extension_data(const char *) { return nullptr; }

const LV2_Descriptor lv2_descriptors[2] = {
    {kVariants[0].uri, lv2_instantiate, lv2_connect, lv2_activate, lv2_run, lv2_deactivate, lv2_cleanup,
     lv2_extension_data},
    {kVariants[1].uri, lv2_instantiate, lv2_connect, lv2_activate, lv2_run, lv2_deactivate, lv2_cleanup,
     lv2_extension_data},
};

}  // namespace
}  // namespace tnc_plugin

extern "C" {

__attribute__((visibility("default"))) const LADSPA_Descriptor *ladspa_descriptor(unsigned long index) {
    return index < 2 ? &tnc_plugin::ladspa_tables[index].descriptor : nullptr;
}

__attribute__((visibility("default"))) const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index < 2 ? &tnc_plugin::lv2_descriptors[index] : nullptr;
}

}  // extern "C"
