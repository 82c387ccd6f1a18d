// The suppressor as an OBS Studio audio filter: one stream record per
// channel of OBS's mix, in fixed-delay mode, so every buffer comes back as
// long as it went in, delayed by the stream's latency (OBS has no way for
// a filter to report it). The controls and their defaults are the port
// table's, which are the command line's.
#include <obs-module.h>

#include "channels.h"

OBS_DECLARE_MODULE()

namespace tnc_plugin {
namespace {

const char *const kKeys[kInputControls] = {"mode", "limit", "adaptation", "smoothing"};

struct Filter {
    obs_source_t *context;
    Settings settings;
    Channels<MAX_AUDIO_CHANNELS> channels;
};

const char *filter_name(void *) { return "TarnwelNC noise suppressor"; }

void filter_update(void *data, obs_data_t *s) {
    Filter *f = static_cast<Filter *>(data);
    f->settings.value[kMode] = control_value(kMode, static_cast<double>(obs_data_get_int(s, kKeys[kMode])));
    for (unsigned p = kLimit; p < kInputControls; ++p)
        f->settings.value[p] = control_value(p, obs_data_get_double(s, kKeys[p]));
}

// OBS runs at one rate and layout for every source; a rate the stream layer
// does not serve gets no filter.
void *filter_create(obs_data_t *s, obs_source_t *context) {
    obs_audio_info info;
    if (!obs_get_audio_info(&info)) return nullptr;
    const unsigned channels = get_audio_channels(info.speakers);
    Filter *f = static_cast<Filter *>(bzalloc(sizeof(Filter)));
    if (!f->channels.start(channels, info.samples_per_sec)) {
        blog(LOG_WARNING, "[tarnwelnc] %u Hz with %u channels is not served", info.samples_per_sec, channels);
        bfree(f);
        return nullptr;
    }
    f->context = context;
    filter_update(f, s);
    return f;
}

void filter_destroy(void *data) { bfree(data); }

obs_audio_data *filter_audio(void *data, obs_audio_data *audio) {
    Filter *f = static_cast<Filter *>(data);
    const float *in[MAX_AUDIO_CHANNELS] = {};
    float *out[MAX_AUDIO_CHANNELS] = {};
    for (unsigned c = 0; c < f->channels.count; ++c) {
        if (audio->data[c] == nullptr) return audio;
        out[c] = reinterpret_cast<float *>(audio->data[c]);
        in[c] = out[c];
    }
    f->channels.run(f->settings, in, out, audio->frames);
    return audio;
}

void filter_defaults(obs_data_t *s) {
    obs_data_set_default_int(s, kKeys[kMode], static_cast<long long>(kControls[kMode].fallback));
    for (unsigned p = kLimit; p < kInputControls; ++p) obs_data_set_default_double(s, kKeys[p], kControls[p].fallback);
}

obs_properties_t *filter_properties(void *) {
    obs_properties_t *props = obs_properties_create();
    obs_property_t *mode = obs_properties_add_list(props, kKeys[kMode], kControls[kMode].name, OBS_COMBO_TYPE_LIST,
                                                   OBS_COMBO_FORMAT_INT);
    for (int m = 0; m < 4; ++m) obs_property_list_add_int(mode, kModeLabels[m], m);
    const double steps[kInputControls] = {1.0, 0.1, 0.001, 0.001};
    for (unsigned p = kLimit; p < kInputControls; ++p) {
        obs_property_t *slider = obs_properties_add_float_slider(props, kKeys[p], kControls[p].name,
                                                                 kControls[p].minimum, kControls[p].maximum, steps[p]);
        obs_property_set_long_description(slider, kControls[p].comment);
    }
    return props;
}

obs_source_info make_info() {
    obs_source_info info = {};
    info.id = "tarnwelnc_filter";
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_AUDIO;
    info.get_name = filter_name;
    info.create = filter_create;
    info.destroy = filter_destroy;
    info.update = filter_update;
    info.filter_audio = filter_audio;
    info.get_defaults = filter_defaults;
    info.get_properties = filter_properties;
    return info;
}

}  // namespace
}  // namespace tnc_plugin

bool obs_module_load(void) {
    const obs_source_info info = tnc_plugin::make_info();
    obs_register_source(&info);
    return true;
}
