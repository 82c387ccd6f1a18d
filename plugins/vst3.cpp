// The suppressor as VST3 plugins, mono and stereo, written against VST3's C
// interface. One object is component, audio processor and edit controller
// at once, as the interface allows; the factory hands out one class per
// variant.
//
// Hosts keep parameter values normalised to [0, 1], often in single
// precision. Each control is therefore a list of steps of its resolution
// (the mode's whole numbers, 0.1 dB, thousandths): a value sent as
// normalised comes back as the nearest step, and the command line's
// settings (-20 dB, 0.95, 0.98) arrive exactly.
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <travesty/audio_processor.h>
#include <travesty/base.h>
#include <travesty/bstream.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>

#include "channels.h"

#if defined(_WIN32)
#define TNC_EXPORT extern "C" __declspec(dllexport)
#else
#define TNC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace tnc_plugin {
namespace {

constexpr unsigned kParams = kSpeech + 1;
// Steps per unit of each control: whole modes, 0.1 dB, thousandths.
constexpr double kScale[kParams] = {1.0, 10.0, 1000.0, 1000.0, 1.0};

double first_step(unsigned id) { return std::round(kControls[id].minimum * kScale[id]); }
int32_t steps(unsigned id) {
    return static_cast<int32_t>(std::round(kControls[id].maximum * kScale[id]) - first_step(id));
}

// Counted in steps from the minimum and divided once, so that every step
// is its decimal value rounded once.
double to_plain(unsigned id, double normalised) {
    if (!(normalised >= 0.0)) normalised = 0.0;  // NaN included
    if (normalised > 1.0) normalised = 1.0;
    return (first_step(id) + std::round(normalised * steps(id))) / kScale[id];
}

double to_normalised(unsigned id, double plain) {
    const double v = control_value(id, plain);
    return (std::round(v * kScale[id]) - first_step(id)) / steps(id);
}

struct Plugin {
    // One interface pointer each; a host's pointer to an interface points
    // at one of these.
    const v3_component_cpp *component;
    const v3_audio_processor_cpp *processor;
    const v3_edit_controller_cpp *controller;
    std::atomic<uint32_t> refs;
    const Variant *variant;
    bool ready;  // setup_processing took the rate
    float speech_sent;
    std::atomic<float> value[kInputControls];
    Channels<2> channels;
};

Plugin *from_component(void *self) { return static_cast<Plugin *>(self); }
Plugin *from_processor(void *self) {
    return reinterpret_cast<Plugin *>(static_cast<char *>(self) - offsetof(Plugin, processor));
}
Plugin *from_controller(void *self) {
    return reinterpret_cast<Plugin *>(static_cast<char *>(self) - offsetof(Plugin, controller));
}

Settings current(const Plugin *p) {
    Settings s;
    for (unsigned i = 0; i < kInputControls; ++i) s.value[i] = p->value[i].load(std::memory_order_relaxed);
    return s;
}

void set_plain(Plugin *p, unsigned id, double plain) {
    if (id < kInputControls) p->value[id].store(control_value(id, plain), std::memory_order_relaxed);
}

// A host's object is a pointer to its table of functions, which starts
// with the three of FUnknown; the C declarations of the host interfaces
// leave those out in C++.
struct StreamTable : v3_funknown {
    v3_bstream stream;
};
const v3_bstream &host(v3_bstream **s) { return (*reinterpret_cast<StreamTable **>(s))->stream; }
const v3_param_changes &host(v3_param_changes **c) {
    return (*reinterpret_cast<v3_param_changes_cpp **>(c))->changes;
}
const v3_param_value_queue &host(v3_param_value_queue **q) {
    return (*reinterpret_cast<v3_param_value_queue_cpp **>(q))->queue;
}

void copy_name(int16_t *to, const char *from) {
    unsigned i = 0;
    for (; from[i] != '\0' && i < 127; ++i) to[i] = static_cast<int16_t>(static_cast<unsigned char>(from[i]));
    to[i] = 0;
}

// ------------------------------------------------------------- unknown

v3_result query(Plugin *p, const v3_tuid iid, void **obj) {
    void *found = nullptr;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_base_iid) ||
        v3_tuid_match(iid, v3_component_iid))
        found = &p->component;
    else if (v3_tuid_match(iid, v3_audio_processor_iid))
        found = &p->processor;
    else if (v3_tuid_match(iid, v3_edit_controller_iid))
        found = &p->controller;
    *obj = found;
    if (found == nullptr) return V3_NO_INTERFACE;
    p->refs.fetch_add(1);
    return V3_OK;
}
uint32_t ref(Plugin *p) { return p->refs.fetch_add(1) + 1; }
uint32_t unref(Plugin *p) {
    const uint32_t left = p->refs.fetch_sub(1) - 1;
    if (left == 0) std::free(p);
    return left;
}

template <Plugin *(*From)(void *)>
struct Unknown {
    static v3_result V3_API query_interface(void *self, const v3_tuid iid, void **obj) { return query(From(self), iid, obj); }
    static uint32_t V3_API add_ref(void *self) { return ref(From(self)); }
    static uint32_t V3_API release(void *self) { return unref(From(self)); }
};

v3_result V3_API initialize(void *, v3_funknown **) { return V3_OK; }
v3_result V3_API terminate(void *) { return V3_OK; }

// --------------------------------------------------------------- state

// The state the CLAP plugin saves too (channels.h).
constexpr int32_t kStateBytes = kStateSize;

v3_result save(Plugin *p, v3_bstream **stream) {
    if (stream == nullptr) return V3_INVALID_ARG;
    unsigned char bytes[kStateSize];
    state_encode(current(p), bytes);
    for (int32_t done = 0; done < kStateBytes;) {
        int32_t n = 0;
        if (host(stream).write(stream, bytes + done, kStateBytes - done, &n) != V3_OK || n <= 0) return V3_FALSE;
        done += n;
    }
    return V3_OK;
}

// A state that is short or foreign changes nothing.
v3_result load(Plugin *p, v3_bstream **stream) {
    if (stream == nullptr) return V3_INVALID_ARG;
    unsigned char bytes[kStateSize];
    for (int32_t done = 0; done < kStateBytes;) {
        int32_t n = 0;
        if (host(stream).read(stream, bytes + done, kStateBytes - done, &n) != V3_OK || n <= 0) return V3_FALSE;
        done += n;
    }
    float values[kInputControls];
    if (!state_decode(bytes, values)) return V3_FALSE;
    for (unsigned i = 0; i < kInputControls; ++i) set_plain(p, i, values[i]);
    return V3_OK;
}

// ----------------------------------------------------------- component

v3_result V3_API get_controller_class_id(void *, v3_tuid id) {
    std::memset(id, 0, sizeof(v3_tuid));
    return V3_NOT_IMPLEMENTED;  // the controller is this object
}
v3_result V3_API set_io_mode(void *, int32_t) { return V3_OK; }
int32_t V3_API get_bus_count(void *, int32_t media, int32_t) { return media == V3_AUDIO ? 1 : 0; }
v3_result V3_API get_bus_info(void *self, int32_t media, int32_t direction, int32_t index, v3_bus_info *info) {
    if (media != V3_AUDIO || index != 0) return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    info->media_type = V3_AUDIO;
    info->direction = direction;
    info->channel_count = static_cast<int32_t>(from_component(self)->variant->channels);
    copy_name(info->bus_name, direction == V3_INPUT ? "Input" : "Output");
    info->bus_type = V3_MAIN;
    info->flags = V3_DEFAULT_ACTIVE;
    return V3_OK;
}
v3_result V3_API get_routing_info(void *, v3_routing_info *, v3_routing_info *) { return V3_NOT_IMPLEMENTED; }
v3_result V3_API activate_bus(void *, int32_t, int32_t, int32_t, v3_bool) { return V3_OK; }
v3_result V3_API set_active(void *self, v3_bool state) {
    Plugin *p = from_component(self);
    if (state && !p->ready) return V3_FALSE;
    p->channels.restart();
    return V3_OK;
}
v3_result V3_API component_set_state(void *self, v3_bstream **s) { return load(from_component(self), s); }
v3_result V3_API component_get_state(void *self, v3_bstream **s) { return save(from_component(self), s); }

const v3_component_cpp kComponent = {
    {Unknown<from_component>::query_interface, Unknown<from_component>::add_ref, Unknown<from_component>::release},
    {initialize, terminate},
    {get_controller_class_id, set_io_mode, get_bus_count, get_bus_info, get_routing_info, activate_bus,
     set_active, component_set_state, component_get_state}};

// ----------------------------------------------------------- processor

v3_speaker_arrangement arrangement(const Plugin *p) {
    return p->variant->channels == 1 ? V3_SPEAKER_M : V3_SPEAKER_L | V3_SPEAKER_R;
}
v3_result V3_API set_bus_arrangements(void *self, v3_speaker_arrangement *in, int32_t nin,
                                      v3_speaker_arrangement *out, int32_t nout) {
    const v3_speaker_arrangement a = arrangement(from_processor(self));
    return nin == 1 && nout == 1 && in[0] == a && out[0] == a ? V3_OK : V3_FALSE;
}
v3_result V3_API get_bus_arrangement(void *self, int32_t, int32_t index, v3_speaker_arrangement *a) {
    if (index != 0) return V3_INVALID_ARG;
    *a = arrangement(from_processor(self));
    return V3_OK;
}
v3_result V3_API can_process_sample_size(void *, int32_t size) { return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE; }
uint32_t V3_API get_latency_samples(void *self) {
    Plugin *p = from_processor(self);
    return p->ready ? p->channels.latency() : 0;
}
v3_result V3_API setup_processing(void *self, v3_process_setup *setup) {
    Plugin *p = from_processor(self);
    p->ready = setup->symbolic_sample_size == V3_SAMPLE_32 &&
               p->channels.start(p->variant->channels, setup->sample_rate);
    return p->ready ? V3_OK : V3_FALSE;
}
v3_result V3_API set_processing(void *, v3_bool) { return V3_OK; }

struct Change {
    int32_t at;
    v3_param_id id;
    double normalised;
};

// Changes beyond this many in one call are applied at the start of it.
constexpr int32_t kMaxChanges = 64;

int32_t gather_changes(v3_param_changes **changes, Change *list) {
    int32_t count = 0;
    const int32_t queues = changes ? host(changes).get_param_count(changes) : 0;
    for (int32_t q = 0; q < queues; ++q) {
        v3_param_value_queue **queue = host(changes).get_param_data(changes, q);
        if (queue == nullptr) continue;
        const v3_param_id id = host(queue).get_param_id(queue);
        const int32_t points = host(queue).get_point_count(queue);
        for (int32_t i = 0; i < points; ++i) {
            Change c{0, id, 0.0};
            if (host(queue).get_point(queue, i, &c.at, &c.normalised) != V3_OK) continue;
            if (count == kMaxChanges) c.at = 0;
            // Kept in time order; equal times keep their order.
            int32_t j = count < kMaxChanges ? count++ : kMaxChanges - 1;
            while (j > 0 && list[j - 1].at > c.at) {
                list[j] = list[j - 1];
                --j;
            }
            list[j] = c;
        }
    }
    return count;
}

void report_speech(Plugin *p, v3_param_changes **out) {
    const float speech = static_cast<float>(p->channels.speech());
    if (out == nullptr || speech == p->speech_sent) return;
    v3_param_id id = kSpeech;
    int32_t index = 0;
    v3_param_value_queue **queue = host(out).add_param_data(out, &id, &index);
    if (queue != nullptr && host(queue).add_point(queue, 0, speech, &index) == V3_OK) p->speech_sent = speech;
}

v3_result V3_API process(void *self, v3_process_data *d) {
    Plugin *p = from_processor(self);
    Change changes[kMaxChanges];
    const int32_t count = gather_changes(d->input_params, changes);
    const unsigned channels = p->variant->channels;
    const int32_t frames = d->nframes > 0 ? d->nframes : 0;
    const bool audio = frames > 0 && p->ready && d->symbolic_sample_size == V3_SAMPLE_32 &&
                       d->num_input_buses >= 1 && d->num_output_buses >= 1 &&
                       d->inputs[0].num_channels >= static_cast<int32_t>(channels) &&
                       d->outputs[0].num_channels >= static_cast<int32_t>(channels);
    int32_t done = 0;
    for (int32_t i = 0; i <= count; ++i) {
        int32_t until = i < count ? changes[i].at : frames;
        if (until > frames) until = frames;
        if (audio && until > done) {
            const float *in[2] = {};
            float *out[2] = {};
            for (unsigned c = 0; c < channels; ++c) {
                in[c] = d->inputs[0].channel_buffers_32[c] + done;
                out[c] = d->outputs[0].channel_buffers_32[c] + done;
            }
            p->channels.run(current(p), in, out, static_cast<uint32_t>(until - done));
            done = until;
        }
        if (i < count && changes[i].id < kInputControls)
            set_plain(p, changes[i].id, to_plain(changes[i].id, changes[i].normalised));
    }
    if (audio) d->outputs[0].channel_silence_bitset = 0;
    report_speech(p, d->output_params);
    return frames > 0 && !audio ? V3_FALSE : V3_OK;
}
// After the input ends, the delayed signal goes on for the latency.
uint32_t V3_API get_tail_samples(void *self) { return get_latency_samples(self); }

const v3_audio_processor_cpp kProcessor = {
    {Unknown<from_processor>::query_interface, Unknown<from_processor>::add_ref, Unknown<from_processor>::release},
    {set_bus_arrangements, get_bus_arrangement, can_process_sample_size, get_latency_samples, setup_processing,
     set_processing, process, get_tail_samples}};

// ---------------------------------------------------------- controller

v3_result V3_API controller_set_component_state(void *self, v3_bstream **s) { return load(from_controller(self), s); }
v3_result V3_API controller_set_state(void *, v3_bstream **) { return V3_OK; }
v3_result V3_API controller_get_state(void *, v3_bstream **) { return V3_OK; }
int32_t V3_API get_parameter_count(void *) { return kParams; }
v3_result V3_API get_parameter_info(void *, int32_t index, v3_param_info *info) {
    if (index < 0 || index >= static_cast<int32_t>(kParams)) return V3_INVALID_ARG;
    const Control &c = kControls[index];
    std::memset(info, 0, sizeof *info);
    info->param_id = static_cast<v3_param_id>(index);
    copy_name(info->title, c.name);
    copy_name(info->short_title, c.symbol);
    copy_name(info->units, (c.flags & kDecibel) ? "dB" : "");
    info->step_count = steps(index);
    info->default_normalised_value = to_normalised(index, c.fallback);
    info->flags = index == kSpeech ? V3_PARAM_READ_ONLY : V3_PARAM_CAN_AUTOMATE;
    if (index == kMode) info->flags |= V3_PARAM_IS_LIST;
    return V3_OK;
}
v3_result V3_API get_parameter_string_for_value(void *, v3_param_id id, double normalised, v3_str_128 out) {
    if (id >= kParams) return V3_INVALID_ARG;
    const double v = to_plain(id, normalised);
    char text[64];
    if (id == kMode)
        std::snprintf(text, sizeof text, "%s", kModeLabels[static_cast<int>(v)]);
    else if (id == kSpeech)
        std::snprintf(text, sizeof text, "%s", v >= 0.5 ? "speech" : "noise");
    else
        std::snprintf(text, sizeof text, id == kLimit ? "%.1f" : "%.3f", v);
    copy_name(out, text);
    return V3_OK;
}
v3_result V3_API get_parameter_value_for_string(void *, v3_param_id id, int16_t *in, double *out) {
    if (id >= kInputControls || in == nullptr) return V3_INVALID_ARG;
    char text[64];
    unsigned i = 0;
    for (; in[i] != 0 && i < sizeof text - 1; ++i) text[i] = in[i] > 0 && in[i] < 128 ? static_cast<char>(in[i]) : '?';
    text[i] = '\0';
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text) return V3_FALSE;
    *out = to_normalised(id, v);
    return V3_OK;
}
double V3_API normalised_to_plain(void *, v3_param_id id, double normalised) {
    return id < kParams ? to_plain(id, normalised) : normalised;
}
double V3_API plain_to_normalised(void *, v3_param_id id, double plain) {
    return id < kParams ? to_normalised(id, plain) : plain;
}
double V3_API get_parameter_normalised(void *self, v3_param_id id) {
    Plugin *p = from_controller(self);
    if (id < kInputControls) return to_normalised(id, p->value[id].load(std::memory_order_relaxed));
    return id == kSpeech ? p->speech_sent : 0.0;
}
v3_result V3_API set_parameter_normalised(void *self, v3_param_id id, double normalised) {
    if (id >= kInputControls) return V3_INVALID_ARG;
    set_plain(from_controller(self), id, to_plain(id, normalised));
    return V3_OK;
}
v3_result V3_API set_component_handler(void *, v3_component_handler **) { return V3_OK; }
v3_plugin_view **V3_API create_view(void *, const char *) { return nullptr; }

const v3_edit_controller_cpp kController = {
    {Unknown<from_controller>::query_interface, Unknown<from_controller>::add_ref, Unknown<from_controller>::release},
    {initialize, terminate},
    {controller_set_component_state, controller_set_state, controller_get_state, get_parameter_count,
     get_parameter_info, get_parameter_string_for_value, get_parameter_value_for_string, normalised_to_plain,
     plain_to_normalised, get_parameter_normalised, set_parameter_normalised, set_component_handler, create_view}};

// ------------------------------------------------------------- factory

const v3_tuid kClassIds[2] = {
    {0x02, 0x8B, 0xAA, 0x00, 0x0F, 0xE9, 0x4A, 0x18, 0x8C, 0x5A, 0x8B, 0x10, 0xA6, 0xA9, 0x32, 0xF2},
    {0x51, 0xA4, 0xF9, 0x93, 0xE2, 0xB5, 0x4A, 0xBE, 0x96, 0xF4, 0xC7, 0x0B, 0xDD, 0xFD, 0x70, 0x53},
};

struct Factory {
    const v3_plugin_factory_cpp *vtable;
};
Factory the_factory;

v3_result V3_API factory_query(void *self, const v3_tuid iid, void **obj) {
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
        v3_tuid_match(iid, v3_plugin_factory_2_iid)) {
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API factory_ref(void *) { return 1; }
v3_result V3_API factory_info(void *, v3_factory_info *info) {
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->vendor, sizeof info->vendor, "TarnwelNC");
    std::snprintf(info->url, sizeof info->url, "https://tarnwelnc.example.org/");
    info->flags = 0x10;  // strings in UTF-16
    return V3_OK;
}
int32_t V3_API factory_classes(void *) { return 2; }
// The fields both versions of the class description share.
template <class Info>
v3_result describe_class(int32_t index, Info *info) {
    if (index < 0 || index > 1) return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->class_id, kClassIds[index], sizeof(v3_tuid));
    info->cardinality = 0x7FFFFFFF;
    std::snprintf(info->category, sizeof info->category, "Audio Module Class");
    std::snprintf(info->name, sizeof info->name, "%s", kVariants[index].name);
    return V3_OK;
}
v3_result V3_API factory_class_info(void *, int32_t index, v3_class_info *info) {
    return describe_class(index, info);
}
v3_result V3_API factory_class_info_2(void *, int32_t index, v3_class_info_2 *info) {
    const v3_result r = describe_class(index, info);
    if (r != V3_OK) return r;
    std::snprintf(info->sub_categories, sizeof info->sub_categories, "Fx|Restoration|%s",
                  kVariants[index].channels == 1 ? "Mono" : "Stereo");
    std::snprintf(info->vendor, sizeof info->vendor, "TarnwelNC");
    std::snprintf(info->version, sizeof info->version, "%s", TNC_VERSION);
    std::snprintf(info->sdk_version, sizeof info->sdk_version, "VST 3.7");
    return V3_OK;
}
v3_result V3_API factory_create(void *, const v3_tuid class_id, const v3_tuid iid, void **instance) {
    *instance = nullptr;
    int which = -1;
    for (int i = 0; i < 2; ++i)
        if (v3_tuid_match(class_id, kClassIds[i])) which = i;
    if (which < 0) return V3_NO_INTERFACE;
    Plugin *p = static_cast<Plugin *>(std::calloc(1, sizeof(Plugin)));
    if (p == nullptr) return V3_NOMEM;
    p->component = &kComponent;
    p->processor = &kProcessor;
    p->controller = &kController;
    p->variant = &kVariants[which];
    const Settings defaults = Settings::defaults();
    for (unsigned i = 0; i < kInputControls; ++i) p->value[i].store(defaults.value[i]);
    p->refs.store(1);
    const v3_result r = query(p, iid, instance);
    unref(p);
    return r;
}

const v3_plugin_factory_cpp kFactory = {{factory_query, factory_ref, factory_ref},
                                        {factory_info, factory_classes, factory_class_info, factory_create},
                                        {factory_class_info_2},
                                        {nullptr, nullptr}};

}  // namespace
}  // namespace tnc_plugin

TNC_EXPORT void *GetPluginFactory() {
    tnc_plugin::the_factory.vtable = &tnc_plugin::kFactory;
    return &tnc_plugin::the_factory;
}

#if defined(_WIN32)
TNC_EXPORT bool InitDll() { return true; }
TNC_EXPORT bool ExitDll() { return true; }
#else
TNC_EXPORT bool ModuleEntry(void *) { return true; }
TNC_EXPORT bool ModuleExit() { return true; }
#endif
