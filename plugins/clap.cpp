// The suppressor as CLAP plugins, mono and stereo. Parameters are the four
// input controls of the port table (ids are their port numbers) and the
// speech flag, read-only; the latency goes through the latency extension.
// Parameter events take effect at their sample: the buffer is run up to
// each event, then the event applied.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include "channels.h"

namespace tnc_plugin {
namespace {

constexpr unsigned kParams = kSpeech + 1;

struct Plugin {
    clap_plugin_t clap;
    const clap_host_t *host;
    const Variant *variant;
    Channels<2> channels;
    // Set from the main thread (flush outside processing, state) and from
    // the audio thread (events); read by both.
    std::atomic<float> value[kInputControls];
    float speech_sent;
};

Plugin *self(const clap_plugin_t *p) { return static_cast<Plugin *>(p->plugin_data); }

Settings current(const Plugin *p) {
    Settings s;
    for (unsigned i = 0; i < kInputControls; ++i) s.value[i] = p->value[i].load(std::memory_order_relaxed);
    return s;
}

void apply_event(Plugin *p, const clap_event_header_t *e) {
    if (e->space_id != CLAP_CORE_EVENT_SPACE_ID || e->type != CLAP_EVENT_PARAM_VALUE) return;
    const auto *v = reinterpret_cast<const clap_event_param_value_t *>(e);
    if (v->param_id < kInputControls)
        p->value[v->param_id].store(control_value(v->param_id, v->value), std::memory_order_relaxed);
}

void apply_events(Plugin *p, const clap_input_events_t *in) {
    const uint32_t n = in ? in->size(in) : 0;
    for (uint32_t i = 0; i < n; ++i) apply_event(p, in->get(in, i));
}

void send_speech(Plugin *p, const clap_output_events_t *out) {
    const float speech = static_cast<float>(p->channels.speech());
    if (out == nullptr || speech == p->speech_sent) return;
    clap_event_param_value_t e{};
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = kSpeech;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = speech;
    if (out->try_push(out, &e.header)) p->speech_sent = speech;
}

// ------------------------------------------------------------------ plugin

bool plugin_init(const clap_plugin_t *) { return true; }
void plugin_destroy(const clap_plugin_t *p) { std::free(self(p)); }

bool plugin_activate(const clap_plugin_t *cp, double rate, uint32_t, uint32_t) {
    Plugin *p = self(cp);
    return p->channels.start(p->variant->channels, rate);
}
void plugin_deactivate(const clap_plugin_t *) {}
bool plugin_start_processing(const clap_plugin_t *) { return true; }
void plugin_stop_processing(const clap_plugin_t *) {}
void plugin_reset(const clap_plugin_t *p) { self(p)->channels.restart(); }

clap_process_status plugin_process(const clap_plugin_t *cp, const clap_process_t *pr) {
    Plugin *p = self(cp);
    const unsigned channels = p->variant->channels;
    if (pr->audio_inputs_count < 1 || pr->audio_outputs_count < 1 ||
        pr->audio_inputs[0].channel_count < channels || pr->audio_outputs[0].channel_count < channels ||
        pr->audio_inputs[0].data32 == nullptr || pr->audio_outputs[0].data32 == nullptr)
        return CLAP_PROCESS_ERROR;
    const float *in[2] = {};
    float *out[2] = {};
    for (unsigned c = 0; c < channels; ++c) {
        in[c] = pr->audio_inputs[0].data32[c];
        out[c] = pr->audio_outputs[0].data32[c];
    }

    const clap_input_events_t *events = pr->in_events;
    const uint32_t count = events ? events->size(events) : 0;
    uint32_t done = 0;
    for (uint32_t i = 0; i <= count; ++i) {
        const clap_event_header_t *e = i < count ? events->get(events, i) : nullptr;
        uint32_t until = e ? e->time : pr->frames_count;
        if (until > pr->frames_count) until = pr->frames_count;
        if (until > done) {
            const float *ins[2] = {in[0] + done, channels > 1 ? in[1] + done : nullptr};
            float *outs[2] = {out[0] + done, channels > 1 ? out[1] + done : nullptr};
            p->channels.run(current(p), ins, outs, until - done);
            done = until;
        }
        if (e) apply_event(p, e);
    }
    send_speech(p, pr->out_events);
    return CLAP_PROCESS_CONTINUE;
}

// -------------------------------------------------------------- extensions

uint32_t ports_count(const clap_plugin_t *, bool) { return 1; }
bool ports_get(const clap_plugin_t *cp, uint32_t index, bool is_input, clap_audio_port_info_t *info) {
    if (index != 0) return false;
    const Variant *v = self(cp)->variant;
    info->id = 0;
    std::snprintf(info->name, sizeof info->name, "%s", is_input ? "Input" : "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = v->channels;
    info->port_type = v->channels == 1 ? CLAP_PORT_MONO : CLAP_PORT_STEREO;
    info->in_place_pair = 0;
    return true;
}
const clap_plugin_audio_ports_t kAudioPorts = {ports_count, ports_get};

uint32_t latency_get(const clap_plugin_t *cp) { return self(cp)->channels.latency(); }
const clap_plugin_latency_t kLatency = {latency_get};

uint32_t params_count(const clap_plugin_t *) { return kParams; }
bool params_info(const clap_plugin_t *, uint32_t index, clap_param_info_t *info) {
    if (index >= kParams) return false;
    const Control &c = kControls[index];
    std::memset(info, 0, sizeof *info);
    info->id = index;
    info->flags = index == kSpeech ? CLAP_PARAM_IS_READONLY | CLAP_PARAM_IS_STEPPED : CLAP_PARAM_IS_AUTOMATABLE;
    if (c.flags & kInteger) info->flags |= CLAP_PARAM_IS_STEPPED;
    std::snprintf(info->name, sizeof info->name, "%s", c.name);
    info->min_value = c.minimum;
    info->max_value = c.maximum;
    info->default_value = c.fallback;
    return true;
}
bool params_value(const clap_plugin_t *cp, clap_id id, double *value) {
    Plugin *p = self(cp);
    if (id < kInputControls)
        *value = p->value[id].load(std::memory_order_relaxed);
    else if (id == kSpeech)
        *value = p->speech_sent;
    else
        return false;
    return true;
}
bool params_to_text(const clap_plugin_t *, clap_id id, double value, char *text, uint32_t size) {
    if (id >= kParams || size == 0) return false;
    if (id == kMode) {
        std::snprintf(text, size, "%s", kModeLabels[static_cast<int>(control_value(kMode, value))]);
    } else if (id == kSpeech) {
        std::snprintf(text, size, "%s", value >= 0.5 ? "speech" : "noise");
    } else {
        std::snprintf(text, size, (kControls[id].flags & kDecibel) ? "%.1f dB" : "%.3f", value);
    }
    return true;
}
bool params_from_text(const clap_plugin_t *, clap_id id, const char *text, double *value) {
    if (id >= kInputControls) return false;
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text) return false;
    *value = control_value(id, v);
    return true;
}
void params_flush(const clap_plugin_t *cp, const clap_input_events_t *in, const clap_output_events_t *out) {
    Plugin *p = self(cp);
    apply_events(p, in);
    send_speech(p, out);
}
const clap_plugin_params_t kParamsExt = {params_count, params_info, params_value, params_to_text,
                                         params_from_text, params_flush};

bool state_save(const clap_plugin_t *cp, const clap_ostream_t *stream) {
    unsigned char bytes[kStateSize];
    state_encode(current(self(cp)), bytes);
    for (unsigned done = 0; done < kStateSize;) {
        const int64_t n = stream->write(stream, bytes + done, kStateSize - done);
        if (n <= 0) return false;
        done += static_cast<unsigned>(n);
    }
    return true;
}

// A state that is short, foreign or of another version changes nothing.
bool state_load(const clap_plugin_t *cp, const clap_istream_t *stream) {
    unsigned char bytes[kStateSize];
    for (unsigned done = 0; done < kStateSize;) {
        const int64_t n = stream->read(stream, bytes + done, kStateSize - done);
        if (n <= 0) return false;
        done += static_cast<unsigned>(n);
    }
    float values[kInputControls];
    if (!state_decode(bytes, values)) return false;
    Plugin *p = self(cp);
    for (unsigned i = 0; i < kInputControls; ++i)
        p->value[i].store(control_value(i, values[i]), std::memory_order_relaxed);
    return true;
}
const clap_plugin_state_t kState = {state_save, state_load};

const void *plugin_extension(const clap_plugin_t *, const char *id) {
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParamsExt;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    return nullptr;
}
void plugin_on_main_thread(const clap_plugin_t *) {}

// ----------------------------------------------------------------- factory

const char *kMonoFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_RESTORATION,
                               CLAP_PLUGIN_FEATURE_MONO, nullptr};
const char *kStereoFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_RESTORATION,
                                 CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor_t kDescriptors[2] = {
    {CLAP_VERSION_INIT, "org.example.tarnwelnc.mono", kVariants[0].name, "TarnwelNC",
     "https://tarnwelnc.example.org/", "", "", TNC_VERSION, "Single-microphone noise suppressor",
     kMonoFeatures},
    {CLAP_VERSION_INIT, "org.example.tarnwelnc.stereo", kVariants[1].name, "TarnwelNC",
     "https://tarnwelnc.example.org/", "", "", TNC_VERSION, "Single-microphone noise suppressor",
     kStereoFeatures},
};

uint32_t factory_count(const clap_plugin_factory_t *) { return 2; }
const clap_plugin_descriptor_t *factory_descriptor(const clap_plugin_factory_t *, uint32_t index) {
    return index < 2 ? &kDescriptors[index] : nullptr;
}
const clap_plugin_t *factory_create(const clap_plugin_factory_t *, const clap_host_t *host, const char *id) {
    if (host == nullptr || id == nullptr || !clap_version_is_compatible(host->clap_version)) return nullptr;
    unsigned which = 2;
    for (unsigned i = 0; i < 2; ++i)
        if (std::strcmp(id, kDescriptors[i].id) == 0) which = i;
    if (which == 2) return nullptr;
    Plugin *p = static_cast<Plugin *>(std::calloc(1, sizeof(Plugin)));
    if (p == nullptr) return nullptr;
    p->host = host;
    p->variant = &kVariants[which];
    const Settings defaults = Settings::defaults();
    for (unsigned i = 0; i < kInputControls; ++i) p->value[i].store(defaults.value[i]);
    p->clap = {&kDescriptors[which], p, plugin_init, plugin_destroy, plugin_activate, plugin_deactivate,
               plugin_start_processing, plugin_stop_processing, plugin_reset, plugin_process,
               plugin_extension, plugin_on_main_thread};
    return &p->clap;
}
const clap_plugin_factory_t kFactory = {factory_count, factory_descriptor, factory_create};

bool entry_init(const char *) { return true; }
void entry_deinit() {}
const void *entry_factory(const char *id) {
    return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace
}  // namespace tnc_plugin

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT, tnc_plugin::entry_init, tnc_plugin::entry_deinit, tnc_plugin::entry_factory};
