/* One stream record per channel in fixed-delay mode, for the plugin formats
   whose hosts hand over float buffers of any length and set the controls
   by value (CLAP, VST3, the OBS filter). Controls are read through the
   port table, so every format shares its ranges and defaults. Nothing here
   allocates: a host embeds the record in its instance. */
#ifndef TARNWELNC_PLUGIN_CHANNELS_H
#define TARNWELNC_PLUGIN_CHANNELS_H

#include <cstdint>
#include <cstring>

#include "ports.h"
#include "spstream.h"

namespace tnc_plugin {

// The four input controls, in the command line's order.
struct Settings {
    float value[kInputControls];

    static Settings defaults() {
        Settings s;
        for (unsigned p = 0; p < kInputControls; ++p) s.value[p] = kControls[p].fallback;
        return s;
    }
    bool operator!=(const Settings &o) const {
        return std::memcmp(value, o.value, sizeof value) != 0;
    }
};

// A value outside a control's range is held at the nearest end, NaN means
// the default, and the mode is the nearest whole number.
inline float control_value(unsigned p, double v) {
    const Control &c = kControls[p];
    if (v != v) return c.fallback;
    if (v < c.minimum) return c.minimum;
    if (v > c.maximum) return c.maximum;
    if (c.flags & (kInteger | kToggled)) return static_cast<float>(static_cast<int>(v + 0.5));
    return static_cast<float>(v);
}

template <unsigned MaxChannels>
struct Channels {
    // Inputs are copied here before any output is written: hosts may hand
    // the same buffer to an input and an output, also across channels.
    static constexpr uint32_t kChunk = 256;

    TSpectStream stream[MaxChannels];
    unsigned count;
    uint32 rate;
    bool fresh;  // no sample since start(): the streams begin at the next run
    Settings applied;
    float scratch[MaxChannels][kChunk];

    // Takes a sampling rate for `channels` channels, refusing rates the
    // stream layer does not serve (and fractional ones). The latency is
    // known from here on.
    bool start(unsigned channels, double sample_rate) {
        if (channels < 1 || channels > MaxChannels) return false;
        if (!(sample_rate >= SPSTREAM_MIN_RATE && sample_rate <= SPSTREAM_MAX_RATE)) return false;
        const uint32 whole = static_cast<uint32>(sample_rate);
        if (whole != sample_rate) return false;
        count = channels;
        rate = whole;
        if (!init(Settings::defaults())) return false;
        fresh = true;
        return true;
    }

    // Forgets the audio so far; the next run starts the streams again.
    void restart() { fresh = true; }

    uint32 latency() const { return SpectStream_Latency(&stream[0]); }

    int speech() const {
        int s = 0;
        for (unsigned c = 0; c < count; ++c) s |= SpectStream_Speech(&stream[c]);
        return s;
    }

    // Runs n samples of every channel with the given settings. The
    // suppressor's starting state depends on the mode, so a stream begins
    // with the settings of its first run; later changes keep the noise
    // estimate. NaN and infinite samples are taken as silence.
    void run(const Settings &wanted, const float *const *in, float *const *out, uint32_t n) {
        if (n == 0) return;
        if (fresh) {
            init(wanted);
            fresh = false;
        } else if (wanted != applied) {
            for (unsigned c = 0; c < count; ++c)
                SpectStream_Reset(&stream[c], mode(wanted), wanted.value[kLimit],
                                  wanted.value[kAdaptation], wanted.value[kSmoothing]);
            applied = wanted;
        }
        for (uint32_t done = 0; done < n;) {
            const uint32_t k = n - done < kChunk ? n - done : kChunk;
            for (unsigned c = 0; c < count; ++c) std::memcpy(scratch[c], in[c] + done, k * sizeof(float));
            for (unsigned c = 0; c < count; ++c) SpectStream_ProcessFloat(&stream[c], scratch[c], k, out[c] + done);
            done += k;
        }
    }

private:
    static int8 mode(const Settings &s) { return static_cast<int8>(s.value[kMode]); }

    bool init(const Settings &s) {
        for (unsigned c = 0; c < count; ++c)
            if (!SpectStream_Init(&stream[c], rate, mode(s), s.value[kLimit], s.value[kAdaptation],
                                  s.value[kSmoothing], SPSTREAM_FIXED_DELAY))
                return false;
        applied = s;
        return true;
    }
};

// Saved state, the same in every format: "TNC1", then the four input
// controls as little-endian IEEE floats.
constexpr unsigned kStateSize = 4 + 4 * kInputControls;
constexpr char kStateTag[4] = {'T', 'N', 'C', '1'};

inline void state_encode(const Settings &s, unsigned char *bytes) {
    std::memcpy(bytes, kStateTag, 4);
    for (unsigned i = 0; i < kInputControls; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &s.value[i], 4);
        for (unsigned b = 0; b < 4; ++b) bytes[4 + 4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
}

// Whether `bytes` hold a state of this version; if so, its controls as the
// plugin last had them (the caller brings them into range).
inline bool state_decode(const unsigned char *bytes, float *values) {
    if (std::memcmp(bytes, kStateTag, 4) != 0) return false;
    for (unsigned i = 0; i < kInputControls; ++i) {
        uint32_t bits = 0;
        for (unsigned b = 0; b < 4; ++b) bits |= static_cast<uint32_t>(bytes[4 + 4 * i + b]) << (8 * b);
        std::memcpy(&values[i], &bits, 4);
    }
    return true;
}

}  // namespace tnc_plugin

#endif
