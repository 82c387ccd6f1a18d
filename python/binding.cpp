// tarnwelnc._core: numpy arrays in and out of the any-length stream adapter
// (aligned delivery, one stream per channel). The Python layer prepares the
// arrays and checks the parameters with precise messages; everything is
// checked again here so that a direct caller gets an exception, never a
// stray pointer. The core runs with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "spstream.h"

namespace py = pybind11;

namespace {

constexpr size_t kMaxChannels = 8;
// The adapter counts in 32 bits; longer arrays go in pieces.
constexpr size_t kPiece = size_t(1) << 24;

// Seconds this thread has spent inside the adapter; read by the benchmark.
thread_local double t_core_seconds = 0.0;

struct CoreTimer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~CoreTimer() {
        t_core_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

struct Params {
    int mode;
    float limit_db, adaptation, smoothing;
};

bool is_float(const py::array &a) {
    if (a.dtype().is(py::dtype::of<int16_t>())) return false;
    if (a.dtype().is(py::dtype::of<float>())) return true;
    throw py::type_error("samples must be int16 or float32");
}

// A C-contiguous, aligned (channels, n) array of int16 or float32.
void check_layout(const py::array &a, size_t channels) {
    if (a.ndim() != 2 || static_cast<size_t>(a.shape(0)) != channels)
        throw py::value_error("samples must be a (" + std::to_string(channels) +
                              ", n) array");
    const size_t item = is_float(a) ? sizeof(float) : sizeof(int16_t);
    if (!(a.flags() & py::array::c_style) ||
        reinterpret_cast<uintptr_t>(a.data()) % item != 0)
        throw py::value_error("samples must be C-contiguous and aligned");
}

// The adapter takes the mode as int8; a wider value must not wrap into range.
int8 mode_of(int mode) {
    if (mode < 0 || mode > 3) throw py::value_error("mode must be 0, 1, 2 or 3");
    return static_cast<int8>(mode);
}

void init_stream(TSpectStream *s, uint32_t rate, const Params &p) {
    if (!SpectStream_Init(s, rate, mode_of(p.mode), p.limit_db, p.adaptation, p.smoothing,
                          SPSTREAM_ALIGNED))
        throw py::value_error("rate or parameters out of range");
}

size_t checked_channels(size_t channels) {
    if (channels < 1 || channels > kMaxChannels) throw py::value_error("channels must be 1 to 8");
    return channels;
}

uint32 process(TSpectStream *s, const int16_t *in, uint32 n, int16_t *out) {
    return SpectStream_Process16(s, in, n, out);
}
uint32 process(TSpectStream *s, const float *in, uint32 n, float *out) {
    return SpectStream_ProcessFloat(s, in, n, out);
}
uint32 flush(TSpectStream *s, int16_t *out) { return SpectStream_Flush16(s, out); }
uint32 flush(TSpectStream *s, float *out) { return SpectStream_FlushFloat(s, out); }

// Feeds n samples and returns how many cleaned ones were written to out.
// With `speech`, the input is cut at block ends so that every completed
// block's speech flag is seen.
template <class T>
size_t feed(TSpectStream *s, const T *in, size_t n, T *out, std::vector<uint8_t> *speech) {
    size_t written = 0;
    for (size_t at = 0; at < n;) {
        size_t m = n - at < kPiece ? n - at : kPiece;
        if (speech) {
            const size_t to_block_end = SpectStream_Block(s) - s->gathered;
            if (m > to_block_end) m = to_block_end;
        }
        written += process(s, in + at, static_cast<uint32>(m), out + written);
        at += m;
        if (speech && s->gathered == 0) speech->push_back(SpectStream_Speech(s) ? 1 : 0);
    }
    return written;
}

// Flushes through a buffer of the adapter's documented maximum, so out
// needs room only for the `room` samples the caller expects.
template <class T>
size_t flush_into(TSpectStream *s, T *out, size_t room) {
    T tail[2 * SPSTREAM_MAX_BLOCK];
    const size_t got = flush(s, tail);
    if (got > room) throw std::runtime_error("stream flushed more samples than it held");
    std::memcpy(out, tail, got * sizeof(T));
    return got;
}

template <class T>
py::array denoise_typed(const py::array &x, uint32_t rate, const Params &p) {
    const size_t channels = static_cast<size_t>(x.shape(0)), n = static_cast<size_t>(x.shape(1));
    std::vector<TSpectStream> streams(channels);
    for (auto &s : streams) init_stream(&s, rate, p);
    py::array_t<T> y({channels, n});
    const T *in = static_cast<const T *>(x.data());
    T *out = y.mutable_data();
    bool complete = true;
    {
        py::gil_scoped_release unlocked;
        CoreTimer timer;
        for (size_t c = 0; c < channels; ++c) {
            // An aligned stream that starts fresh never returns more than it
            // was given, and its flush makes up exactly the rest.
            size_t got = feed(&streams[c], in + c * n, n, out + c * n, nullptr);
            got += flush_into(&streams[c], out + c * n + got, n - got);
            complete = complete && got == n;
        }
    }
    if (!complete) throw std::runtime_error("stream returned fewer samples than it was given");
    return std::move(y);
}

py::array denoise(const py::array &x, uint32_t rate, int mode, float limit_db, float adaptation,
                  float smoothing) {
    if (x.ndim() != 2) throw py::value_error("samples must be a (channels, n) array");
    check_layout(x, checked_channels(static_cast<size_t>(x.shape(0))));
    const Params p{mode, limit_db, adaptation, smoothing};
    return is_float(x) ? denoise_typed<float>(x, rate, p) : denoise_typed<int16_t>(x, rate, p);
}

// One stream per channel. A call on a stream that another thread is
// running is refused: two threads inside one record would corrupt it.
class Stream {
public:
    Stream(uint32_t rate, size_t channels, int mode, float limit_db, float adaptation,
           float smoothing)
        : streams_(checked_channels(channels)) {
        for (auto &s : streams_) init_stream(&s, rate, Params{mode, limit_db, adaptation, smoothing});
    }

    py::array process(const py::array &x) {
        check_layout(x, streams_.size());
        Busy busy(busy_);
        if (streams_[0].flushing) throw std::runtime_error("the stream was ended by flush()");
        return is_float(x) ? process_typed<float>(x) : process_typed<int16_t>(x);
    }

    py::array flush(bool as_float) {
        Busy busy(busy_);
        return as_float ? flush_typed<float>() : flush_typed<int16_t>();
    }

    void reset(int mode, float limit_db, float adaptation, float smoothing) {
        Busy busy(busy_);
        // The adapter refuses by the values alone, so a refusal comes at the
        // first channel, before any has changed.
        for (auto &s : streams_)
            if (!SpectStream_Reset(&s, mode_of(mode), limit_db, adaptation, smoothing))
                throw py::value_error("parameters out of range");
    }

    uint32_t block() const { return SpectStream_Block(&streams_[0]); }
    uint32_t latency() const { return SpectStream_Latency(&streams_[0]); }
    bool finished() const { return streams_[0].flushing != 0; }

    // (channels, blocks) flags of the blocks the last process() completed.
    py::array_t<bool> speech() const {
        const size_t channels = streams_.size(), k = speech_.size() / channels;
        py::array_t<bool> flags({channels, k});
        bool *f = flags.mutable_data();
        for (size_t i = 0; i < speech_.size(); ++i) f[i] = speech_[i] != 0;
        return flags;
    }

private:
    struct Busy {
        std::atomic<bool> &flag;
        explicit Busy(std::atomic<bool> &f) : flag(f) {
            if (flag.exchange(true))
                throw std::runtime_error("this Suppressor is in use by another thread");
        }
        ~Busy() { flag.store(false); }
    };

    template <class T>
    py::array process_typed(const py::array &x) {
        const size_t channels = streams_.size(), n = static_cast<size_t>(x.shape(1));
        // Aligned delivery returns at most n + block - 1 samples per call.
        const size_t room = n + block() - 1;
        std::vector<T> scratch(channels * room);
        std::vector<size_t> got(channels);
        std::vector<std::vector<uint8_t>> flags(channels);
        const T *in = static_cast<const T *>(x.data());
        {
            py::gil_scoped_release unlocked;
            CoreTimer timer;
            for (size_t c = 0; c < channels; ++c) {
                flags[c].reserve(n / block() + 1);
                got[c] = feed(&streams_[c], in + c * n, n, scratch.data() + c * room, &flags[c]);
            }
        }
        // The records see the same number of samples, so they return alike.
        for (size_t c = 1; c < channels; ++c)
            if (got[c] != got[0] || flags[c].size() != flags[0].size())
                throw std::runtime_error("channels went out of step");
        speech_.clear();
        for (auto &f : flags) speech_.insert(speech_.end(), f.begin(), f.end());
        py::array_t<T> y({channels, got[0]});
        for (size_t c = 0; c < channels; ++c)
            std::memcpy(y.mutable_data() + c * got[0], scratch.data() + c * room,
                        got[0] * sizeof(T));
        return std::move(y);
    }

    template <class T>
    py::array flush_typed() {
        const size_t channels = streams_.size(), room = 2 * SPSTREAM_MAX_BLOCK;
        std::vector<T> scratch(channels * room);
        std::vector<size_t> got(channels);
        {
            py::gil_scoped_release unlocked;
            CoreTimer timer;
            for (size_t c = 0; c < channels; ++c)
                got[c] = flush_into(&streams_[c], scratch.data() + c * room, room);
        }
        for (size_t c = 1; c < channels; ++c)
            if (got[c] != got[0]) throw std::runtime_error("channels went out of step");
        speech_.clear();
        py::array_t<T> y({channels, got[0]});
        for (size_t c = 0; c < channels; ++c)
            std::memcpy(y.mutable_data() + c * got[0], scratch.data() + c * room,
                        got[0] * sizeof(T));
        return std::move(y);
    }

    std::vector<TSpectStream> streams_;
    std::vector<uint8_t> speech_;  // channel by channel, one flag per block
    std::atomic<bool> busy_{false};
};

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Binding of the TarnwelNC stream adapter; use the tarnwelnc package.";
    m.attr("MIN_RATE") = SPSTREAM_MIN_RATE;
    m.attr("MAX_RATE") = SPSTREAM_MAX_RATE;
    m.attr("MAX_CHANNELS") = kMaxChannels;
    m.def("denoise", &denoise, py::arg("samples"), py::arg("rate"), py::arg("mode"),
          py::arg("limit_db"), py::arg("adaptation"), py::arg("smoothing"));
    m.def("core_seconds", [] { return t_core_seconds; },
          "Seconds the calling thread has spent inside the core.");
    py::class_<Stream>(m, "Stream")
        .def(py::init<uint32_t, size_t, int, float, float, float>(), py::arg("rate"),
             py::arg("channels"), py::arg("mode"), py::arg("limit_db"), py::arg("adaptation"),
             py::arg("smoothing"))
        .def("process", &Stream::process, py::arg("samples"))
        .def("flush", &Stream::flush, py::arg("as_float"))
        .def("reset", &Stream::reset, py::arg("mode"), py::arg("limit_db"),
             py::arg("adaptation"), py::arg("smoothing"))
        .def_property_readonly("block", &Stream::block)
        .def_property_readonly("latency", &Stream::latency)
        .def_property_readonly("finished", &Stream::finished)
        .def_property_readonly("speech", &Stream::speech);
}
