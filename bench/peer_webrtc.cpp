// Peer: the noise suppressor of webrtc-audio-processing, alone (every other
// component stays off), at its strongest level, 10 ms frames. It takes
// 8, 16, 32 and 48 kHz only; other rates are reported as not applicable.
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <cstring>

#include "peer_driver.h"

namespace {

class WebRtcNs : public PeerDenoiser {
public:
    WebRtcNs(uint32_t rate, unsigned channels) : apm_(webrtc::AudioProcessing::Create()) {
        frame_.sample_rate_hz_ = static_cast<int>(rate);
        frame_.num_channels_ = static_cast<int>(channels);
        frame_.samples_per_channel_ = rate / 100;
        apm_->noise_suppression()->set_level(webrtc::NoiseSuppression::kVeryHigh);
        apm_->noise_suppression()->Enable(true);
    }
    ~WebRtcNs() override { delete apm_; }
    size_t block_frames() const override { return frame_.samples_per_channel_; }
    bool process(int16_t *x) override {
        const size_t n = frame_.samples_per_channel_ * static_cast<size_t>(frame_.num_channels_);
        std::memcpy(frame_.data_, x, n * sizeof(int16_t));
        if (apm_->ProcessStream(&frame_) != webrtc::AudioProcessing::kNoError) return false;
        std::memcpy(x, frame_.data_, n * sizeof(int16_t));
        return true;
    }

private:
    webrtc::AudioProcessing *apm_;
    webrtc::AudioFrame frame_;
};

std::unique_ptr<PeerDenoiser> make(uint32_t rate, unsigned channels, std::string *why) {
    if (rate != 8000 && rate != 16000 && rate != 32000 && rate != 48000) {
        *why = "takes 8, 16, 32 and 48 kHz only";
        return nullptr;
    }
    return std::make_unique<WebRtcNs>(rate, channels);
}

}  // namespace

int main(int argc, char **argv) { return peer_main(argc, argv, make); }
