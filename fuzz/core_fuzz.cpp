// libFuzzer target for the core's interface: each input is a program of
// calls (Init, Reset, Frame, Equalizer, Restore, Destroyed, the FFT and its
// conversions, the any-length stream) with the parameters and samples it
// carries, on a suppressor record that starts zeroed or filled with one
// byte, and on the kernels of the path the first byte picks. Buffers are as
// large as the contract asks and no larger, so that AddressSanitizer sees
// any access outside them; beyond what the sanitizers catch, it aborts when
// a result breaks a promise of the interface.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FFTnrc.h"
#include "kernels/kernels.h"
#include "spstream.h"
#include "spsubst.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return v;
    }
    // Mostly the values that matter, sometimes any bit pattern (NaN,
    // infinities and subnormals included).
    float value(float usual) {
        const uint8_t how = byte();
        if (how < 128) return usual;
        if (how < 192) return usual * (byte() / 64.0f) - byte();
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    int16 sample() { return static_cast<int16>(byte() << 8 | byte()); }

private:
    const uint8_t *data_;
    size_t size_, at_ = 0;
};

uint32 some_rate(Input &in) {
    static const uint32 rates[] = {0, 6000, 8000, 11025, 16000, 22050, 32000, 44000, 44100, 48000, 96000};
    const uint8_t how = in.byte();
    if (how < 200) return rates[how % (sizeof rates / sizeof rates[0])];
    return static_cast<uint32>(in.u32()) * (how & 1 ? 1ul : 4099ul);
}

uint32 some_fft_size(Input &in) {
    static const uint32 sizes[] = {0, 8, 10, 128, 256, 512, 1024, 2048, 4096};
    return sizes[in.byte() % (sizeof sizes / sizeof sizes[0])];
}

void fft_calls(Input &in) {
    TFFTnRC f;
    std::memset(&f, in.byte(), sizeof f);
    const uint32 nfft = some_fft_size(in);
    FFTnRC_Init(&f, nfft);
    // Buffers exactly as large as the record's size asks: a size the
    // functions refuse must not make them reach further.
    const size_t n = nfft == 0 ? 1 : nfft > 2048 ? 2048 : nfft, bins = n / 2 + 1;
    std::vector<float> p(n), R(bins), F(bins), x(bins), y(bins);
    for (float &v : p) v = in.value(static_cast<float>(in.sample()));
    for (float &v : F) v = in.value(static_cast<float>(in.sample()) / 8000.0f);
    for (size_t k = 0; k < bins; ++k) R[k] = p[k % n];
    switch (in.byte() % 6) {
        case 0: FFTnRC_fft(&f, p.data(), in.byte() % 2 ? 1 : -1); break;
        case 1: FFTnRC_fftbuf2RF(&f, p.data(), R.data(), F.data()); break;
        case 2: FFTnRC_RF2fftbuf(&f, R.data(), F.data(), p.data()); break;
        case 3: FFTnRC_fftbuf2xy(&f, p.data(), x.data(), y.data()); break;
        case 4: FFTnRC_xy2RF(&f, R.data(), F.data(), x.data(), y.data()); break;
        default: FFTnRC_RF2xy(&f, R.data(), F.data(), x.data(), y.data()); break;
    }
}

void stream_calls(Input &in) {
    auto s = std::make_unique<TSpectStream>();
    const int ok = SpectStream_Init(s.get(), some_rate(in), static_cast<int8>(in.byte() % 6 - 1),
                                    in.value(-20.0f), in.value(0.95f), in.value(0.98f), in.byte() % 3);
    if (!ok) return;
    const uint32 latency = SpectStream_Latency(s.get()), block = SpectStream_Block(s.get());
    check(latency == 2 * block - 1);
    const bool fixed = s->delivery == SPSTREAM_FIXED_DELAY;
    while (!in.empty()) {
        const uint8_t op = in.byte();
        if (op < 16) {
            SpectStream_Reset(s.get(), static_cast<int8>(in.byte() % 6 - 1), in.value(-20.0f),
                              in.value(0.95f), in.value(0.98f));
        } else if (op < 24) {
            std::vector<int16> out(2 * SPSTREAM_MAX_BLOCK);
            const uint32 got = SpectStream_Flush16(s.get(), out.data());
            check(got <= 2 * block && (!fixed || got == latency || got == 0));
        } else {
            const uint32 n = in.byte() % 4 ? in.byte() : in.u32() % 5000;
            std::vector<float> x(n), y(n + block);
            for (float &v : x) v = in.value(static_cast<float>(in.sample()) / 32768.0f);
            const uint32 got = SpectStream_ProcessFloat(s.get(), x.data(), n, y.data());
            check(got <= n + block - 1 || (fixed && got == n));
            for (uint32 k = 0; k < got; ++k) check(y[k] >= -1.0f && y[k] < 1.0f);
        }
    }
}

void suppressor_calls(Input &in) {
    auto rec = std::make_unique<TSpectSubtract>();
    std::memset(rec.get(), in.byte() < 128 ? 0 : in.byte(), sizeof(TSpectSubtract));
    std::vector<int16> block(SPSUBST_MAX_FRAME / 2);
    while (!in.empty()) {
        switch (in.byte() % 8) {
            case 0:
                SpectSubtract_Init(rec.get(), some_rate(in), static_cast<int8>(in.byte()),
                                   in.value(-20.0f), in.value(0.95f), in.value(0.98f));
                break;
            case 1:
                SpectSubtract_Reset(rec.get(), static_cast<int8>(in.byte()), in.value(-20.0f),
                                    in.value(0.95f), in.value(0.98f));
                break;
            case 2: SpectSubtract_Destroyed(rec.get()); break;
            case 3: {
                const int32 n = static_cast<int32>(in.byte()) - 8;
                std::vector<float> gains(n > 0 ? n : 0);
                for (float &g : gains) g = in.value(1.0f);
                SpectSubtract_Equalizer(rec.get(), n, gains.data());
                break;
            }
            case 4: SpectSubtract_Restore(rec.get(), block.data()); break;
            default: {
                // Up to a few blocks in a row, as a host streams them.
                for (int k = in.byte() % 4; k >= 0; --k) {
                    const bool silent = in.byte() < 64;
                    for (int16 &v : block) v = silent ? 0 : in.sample();
                    SpectSubtract_Frame(rec.get(), static_cast<int8>(in.byte()), block.data());
                    SpectSubtract_Restore(rec.get(), block.data());
                }
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    const NrKernels *tables[4];
    const uint32 count = Nr_AvailableKernels(tables);
    Nr_ForceKernels(tables[in.byte() % count]);
    switch (in.byte() % 4) {
        case 0: fft_calls(in); break;
        case 1: stream_calls(in); break;
        default: suppressor_calls(in); break;
    }
    return 0;
}
