// Peer: the speech preprocessor's noise suppression of libspeexdsp, one
// preprocessor per channel, 20 ms frames, suppression limit -20 dB (the
// usual limit of test_wav), automatic gain, VAD and dereverb off.
#include <speex/speex_preprocess.h>

#include <vector>

#include "peer_driver.h"

namespace {

class Speex : public PeerDenoiser {
public:
    Speex(uint32_t rate, unsigned channels) : frames_(rate / 50), channel_(frames_) {
        for (unsigned c = 0; c < channels; ++c) {
            SpeexPreprocessState *st =
                speex_preprocess_state_init(static_cast<int>(frames_), static_cast<int>(rate));
            int on = 1, off = 0, limit_db = -20;
            speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DENOISE, &on);
            speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &limit_db);
            speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &off);
            speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_VAD, &off);
            speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_DEREVERB, &off);
            states_.push_back(st);
        }
    }
    ~Speex() override {
        for (SpeexPreprocessState *st : states_) speex_preprocess_state_destroy(st);
    }
    size_t block_frames() const override { return frames_; }
    bool process(int16_t *x) override {
        const size_t n = states_.size();
        for (size_t c = 0; c < n; ++c) {
            for (size_t i = 0; i < frames_; ++i) channel_[i] = x[i * n + c];
            speex_preprocess_run(states_[c], channel_.data());
            for (size_t i = 0; i < frames_; ++i) x[i * n + c] = channel_[i];
        }
        return true;
    }

private:
    size_t frames_;
    std::vector<spx_int16_t> channel_;
    std::vector<SpeexPreprocessState *> states_;
};

std::unique_ptr<PeerDenoiser> make(uint32_t rate, unsigned channels, std::string *why) {
    if (rate < 50) {
        *why = "sampling rate too low";
        return nullptr;
    }
    return std::make_unique<Speex>(rate, channels);
}

}  // namespace

int main(int argc, char **argv) { return peer_main(argc, argv, make); }
