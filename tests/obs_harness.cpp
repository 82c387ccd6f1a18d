// Runs a WAV file through the OBS filter inside libobs itself: starts
// libobs with the file's rate and layout, loads the filter's module, puts
// the filter on an audio source of its own, pushes the file through the
// source in 10 ms buffers (then silence for the filter's delay) and writes
// what the source's audio capture sees, after its filters:
//   obs_harness MODULE IN.wav OUT.wav MODE LIMIT ADAPTATION SMOOTHING
// OUT.wav leaves out the filter's delay: its sample t is the cleaned input
// sample t, which test_wav writes one block later. Input must be 16-bit PCM
// with a 44-byte header.
#include <obs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "spstream.h"
#include "test_support.h"

namespace {

std::vector<std::vector<float>> captured;

void capture(void *, obs_source_t *, const audio_data *audio, bool) {
    for (size_t c = 0; c < captured.size(); ++c) {
        const float *p = reinterpret_cast<const float *>(audio->data[c]);
        captured[c].insert(captured[c].end(), p, p + audio->frames);
    }
}

const char *feed_name(void *) { return "feed"; }
void *feed_create(obs_data_t *, obs_source_t *source) { return source; }
void feed_destroy(void *) {}

int fail(const char *what) {
    std::fprintf(stderr, "obs_harness: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    using namespace testsupport;
    if (argc != 8) return fail("usage: obs_harness MODULE IN.wav OUT.wav MODE LIMIT ADAPTATION SMOOTHING");
    const Bytes in = read_file(argv[2]);
    if (in.size() < 44) return fail("cannot read the input");
    const unsigned channels = read_u16(in, 22);
    const uint32_t rate = read_u32(in, 24);
    const size_t frames = (in.size() - 44) / (2 * channels);
    const std::vector<int16_t> pcm = samples_at(in, 44, frames * channels);

    if (!obs_startup("en-US", nullptr, nullptr)) return fail("libobs does not start");
    const obs_audio_info ai = {rate, channels == 1 ? SPEAKERS_MONO : SPEAKERS_STEREO};
    if (!obs_reset_audio(&ai)) return fail("libobs refuses the audio settings");
    obs_module_t *module = nullptr;
    if (obs_open_module(&module, argv[1], nullptr) != MODULE_SUCCESS || !obs_init_module(module))
        return fail("the module does not load");

    obs_source_info feed = {};
    feed.id = "tnc_harness_feed";
    feed.type = OBS_SOURCE_TYPE_INPUT;
    feed.output_flags = OBS_SOURCE_AUDIO;
    feed.get_name = feed_name;
    feed.create = feed_create;
    feed.destroy = feed_destroy;
    obs_register_source(&feed);
    obs_source_t *source = obs_source_create("tnc_harness_feed", "feed", nullptr, nullptr);
    obs_data_t *settings = obs_data_create();
    obs_data_set_int(settings, "mode", std::atoi(argv[4]));
    obs_data_set_double(settings, "limit", std::atof(argv[5]));
    obs_data_set_double(settings, "adaptation", std::atof(argv[6]));
    obs_data_set_double(settings, "smoothing", std::atof(argv[7]));
    obs_source_t *filter = obs_source_create("tarnwelnc_filter", "denoise", settings, nullptr);
    obs_data_release(settings);
    if (source == nullptr || filter == nullptr) return fail("no source or no filter");
    obs_source_filter_add(source, filter);
    captured.assign(channels, {});
    obs_source_add_audio_capture_callback(source, capture, nullptr);

    // The filter's delay, as the stream layer states it for this rate.
    TSpectStream probe;
    if (!SpectStream_Init(&probe, rate, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_FIXED_DELAY)) return fail("rate not served");
    const size_t latency = SpectStream_Latency(&probe);
    const size_t chunk = rate / 100, total = frames + latency;
    std::vector<std::vector<float>> planes(channels, std::vector<float>(chunk));
    for (size_t at = 0; at < total; at += chunk) {
        const size_t n = total - at < chunk ? total - at : chunk;
        obs_source_audio a = {};
        for (unsigned c = 0; c < channels; ++c) {
            for (size_t i = 0; i < n; ++i)
                planes[c][i] = at + i < frames ? SpectStream_ToFloat(pcm[(at + i) * channels + c]) : 0.0f;
            a.data[c] = reinterpret_cast<const uint8_t *>(planes[c].data());
        }
        a.frames = static_cast<uint32_t>(n);
        a.speakers = ai.speakers;
        a.format = AUDIO_FORMAT_FLOAT_PLANAR;
        a.samples_per_sec = rate;
        a.timestamp = static_cast<uint64_t>(at) * 1000000000ull / rate;
        obs_source_output_audio(source, &a);
    }
    obs_source_remove_audio_capture_callback(source, capture, nullptr);
    obs_source_filter_remove(source, filter);
    obs_source_release(filter);
    obs_source_release(source);
    obs_shutdown();

    if (captured[0].size() != total) {
        std::fprintf(stderr, "obs_harness: %zu samples came back of %zu\n", captured[0].size(), total);
        return 1;
    }
    std::vector<int16_t> out;
    for (size_t t = latency; t < total; ++t)
        for (unsigned c = 0; c < channels; ++c) out.push_back(SpectStream_FromFloat(captured[c][t]));
    write_file(argv[3], pcm_wav(rate, static_cast<uint16_t>(channels), out));
    return 0;
}
