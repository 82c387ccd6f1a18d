// tarnwelnc._core: numpy arrays in and out of the host layer: the any-length
// stream (aligned delivery, one stream per channel) and, for long arrays and
// files, the two-thread cleaner with the same output. The Python layer
// prepares the arrays and checks the parameters with the layer's checks and
// messages; everything is checked again here so that a direct caller gets an
// exception, never a stray pointer. The core runs with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cleaner.h"
#include "spstream.h"

namespace py = pybind11;

namespace {

// The adapter counts in 32 bits; longer arrays go in pieces.
constexpr size_t kPiece = size_t(1) << 24;
// Arrays of at least this many seconds go to the two-thread cleaner: two
// of its batches, so that reading, cleaning and writing overlap.
constexpr size_t kParallelSeconds = 8;

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
    int mode;  // as the layer takes it: an int, never wrapped into range
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

[[noreturn]] void refuse(int status) { throw py::value_error(SpectStream_Message(status)); }

// A Python int as the layer's int mode; one outside int's range is no mode.
int mode_of(const py::int_ &mode) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(mode.ptr(), &overflow);
    return overflow || v < INT_MIN || v > INT_MAX ? -1 : static_cast<int>(v);
}

void init_stream(TSpectStream *s, uint32_t rate, const Params &p) {
    const int status =
        SpectStream_Open(s, rate, p.mode, p.limit_db, p.adaptation, p.smoothing, SPSTREAM_ALIGNED);
    if (status != SPSTREAM_OK) refuse(status);
}

size_t checked_channels(size_t channels) {
    if (channels < 1 || channels > SPSTREAM_MAX_CHANNELS) refuse(SPSTREAM_BAD_CHANNELS);
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
        if (speech) m = std::min<size_t>(m, SpectStream_ToBlockEnd(s));
        written += process(s, in + at, static_cast<uint32>(m), out + written);
        at += m;
        if (speech && SpectStream_ToBlockEnd(s) == SpectStream_Block(s))
            speech->push_back(SpectStream_Speech(s) ? 1 : 0);
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

int16 to16(int16_t v) { return v; }
int16 to16(float v) { return SpectStream_FromFloat(v); }
void from16(int16 v, int16_t *to) { *to = v; }
void from16(int16 v, float *to) { *to = SpectStream_ToFloat(v); }

// A (channels, n) array through the cleaner, frames interleaved on the way.
template <class T>
struct ArrayRun {
    const T *in;
    T *out;
    size_t channels, n, read = 0, written = 0;

    static size_t take(void *context, int16 *frames, size_t count) {
        ArrayRun &r = *static_cast<ArrayRun *>(context);
        const size_t k = std::min(count, r.n - r.read);
        for (size_t i = 0; i < k; ++i)
            for (size_t c = 0; c < r.channels; ++c)
                frames[i * r.channels + c] = to16(r.in[c * r.n + r.read + i]);
        r.read += k;
        return k;
    }
    static int give(void *context, const int16 *frames, size_t count) {
        ArrayRun &r = *static_cast<ArrayRun *>(context);
        if (count > r.n - r.written) return 0;
        for (size_t i = 0; i < count; ++i)
            for (size_t c = 0; c < r.channels; ++c)
                from16(frames[i * r.channels + c], r.out + c * r.n + r.written + i);
        r.written += count;
        return 1;
    }
};

struct CleanerHandle {
    TCleaner *c;
    ~CleanerHandle() { Cleaner_Free(c); }
};

TCleaner *new_cleaner(uint32_t rate, size_t channels, const Params &p) {
    int status = SpectStream_CheckFormat(rate, static_cast<uint32>(channels));
    TCleaner *c = nullptr;
    if (status == SPSTREAM_OK)
        c = Cleaner_New(rate, static_cast<uint32>(channels), p.mode, p.limit_db, p.adaptation,
                        p.smoothing, SPSTREAM_ALIGNED, 0, &status);
    if (status == CLEANER_NO_MEMORY) throw std::bad_alloc();
    if (!c) refuse(status);
    return c;
}

template <class T>
py::array denoise_typed(const py::array &x, uint32_t rate, const Params &p) {
    const size_t channels = static_cast<size_t>(x.shape(0)), n = static_cast<size_t>(x.shape(1));
    const T *in = static_cast<const T *>(x.data());
    if (n >= kParallelSeconds * rate) {
        CleanerHandle cleaner{new_cleaner(rate, channels, p)};
        py::array_t<T> y({channels, n});
        ArrayRun<T> run{in, y.mutable_data(), channels, n};
        {
            py::gil_scoped_release unlocked;
            CoreTimer timer;
            Cleaner_Run(cleaner.c, ArrayRun<T>::take, ArrayRun<T>::give, &run);
        }
        if (run.written != n) throw std::runtime_error("cleaner returned fewer samples than it was given");
        return std::move(y);
    }
    std::vector<TSpectStream> streams(channels);
    for (auto &s : streams) init_stream(&s, rate, p);
    py::array_t<T> y({channels, n});
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

py::array denoise(const py::array &x, uint32_t rate, const py::int_ &mode, float limit_db,
                  float adaptation, float smoothing) {
    if (x.ndim() != 2) throw py::value_error("samples must be a (channels, n) array");
    check_layout(x, checked_channels(static_cast<size_t>(x.shape(0))));
    const Params p{mode_of(mode), limit_db, adaptation, smoothing};
    return is_float(x) ? denoise_typed<float>(x, rate, p) : denoise_typed<int16_t>(x, rate, p);
}

// A file through the cleaner: read(count) returns a (frames, channels)
// array of at most count frames, fewer at the end, and write(array) takes
// one; both are called on this thread, with the GIL. An exception in them
// ends the run and is raised here.
struct FileRun {
    py::object read, write;
    size_t channels;
    bool as_float;
    size_t frames = 0;
    std::exception_ptr error = nullptr;

    template <class T>
    void copy_in(const py::array &a, int16 *frames, size_t k) {
        const T *v = static_cast<const T *>(a.data());
        for (size_t i = 0; i < k * channels; ++i) frames[i] = to16(v[i]);
    }
    static size_t take(void *context, int16 *frames, size_t count) {
        FileRun &r = *static_cast<FileRun *>(context);
        py::gil_scoped_acquire locked;
        try {
            py::array a = r.read(count);
            const py::dtype want = r.as_float ? py::dtype::of<float>() : py::dtype::of<int16_t>();
            a = py::array::ensure(a, py::array::c_style);
            if (!a || !a.dtype().is(want) || a.ndim() != 2 || size_t(a.shape(1)) != r.channels ||
                size_t(a.shape(0)) > count)
                throw py::value_error("read() must return at most count frames of (frames, channels)");
            const size_t k = static_cast<size_t>(a.shape(0));
            if (r.as_float)
                r.copy_in<float>(a, frames, k);
            else
                r.copy_in<int16_t>(a, frames, k);
            r.frames += k;
            return k;
        } catch (...) {
            r.error = std::current_exception();
            return 0;
        }
    }
    template <class T>
    static py::array frames_out(const int16 *frames, size_t count, size_t channels) {
        py::array_t<T> a({count, channels});
        T *v = a.mutable_data();
        for (size_t i = 0; i < count * channels; ++i) from16(frames[i], v + i);
        return std::move(a);
    }
    static int give(void *context, const int16 *frames, size_t count) {
        FileRun &r = *static_cast<FileRun *>(context);
        py::gil_scoped_acquire locked;
        try {
            r.write(r.as_float ? frames_out<float>(frames, count, r.channels)
                               : frames_out<int16_t>(frames, count, r.channels));
            return 1;
        } catch (...) {
            r.error = std::current_exception();
            return 0;
        }
    }
};

size_t clean(py::object read, py::object write, uint32_t rate, size_t channels, const py::int_ &mode,
             float limit_db, float adaptation, float smoothing, bool as_float) {
    const Params p{mode_of(mode), limit_db, adaptation, smoothing};
    CleanerHandle cleaner{new_cleaner(rate, checked_channels(channels), p)};
    FileRun run{std::move(read), std::move(write), channels, as_float};
    int status;
    {
        py::gil_scoped_release unlocked;
        CoreTimer timer;
        status = Cleaner_Run(cleaner.c, FileRun::take, FileRun::give, &run);
    }
    if (run.error) std::rethrow_exception(run.error);
    if (status != SPSTREAM_OK) throw std::runtime_error("write() refused the samples");
    return run.frames;
}

// One stream per channel. A call on a stream that another thread is
// running is refused: two threads inside one record would corrupt it.
class Stream {
public:
    Stream(uint32_t rate, size_t channels, const py::int_ &mode, float limit_db, float adaptation,
           float smoothing)
        : streams_(checked_channels(channels)) {
        for (auto &s : streams_)
            init_stream(&s, rate, Params{mode_of(mode), limit_db, adaptation, smoothing});
    }

    py::array process(const py::array &x) {
        check_layout(x, streams_.size());
        Busy busy(busy_);
        if (finished()) throw std::runtime_error("the stream was ended by flush()");
        return is_float(x) ? process_typed<float>(x) : process_typed<int16_t>(x);
    }

    py::array flush(bool as_float) {
        Busy busy(busy_);
        return as_float ? flush_typed<float>() : flush_typed<int16_t>();
    }

    void reset(const py::int_ &mode, float limit_db, float adaptation, float smoothing) {
        Busy busy(busy_);
        // The layer refuses by the values alone, so a refusal comes at the
        // first channel, before any has changed.
        for (auto &s : streams_) {
            const int status = SpectStream_Retune(&s, mode_of(mode), limit_db, adaptation, smoothing);
            if (status != SPSTREAM_OK) refuse(status);
        }
    }

    uint32_t block() const { return SpectStream_Block(&streams_[0]); }
    uint32_t latency() const { return SpectStream_Latency(&streams_[0]); }
    bool finished() const { return SpectStream_ToBlockEnd(&streams_[0]) == 0; }

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

py::dict ranges() {
    py::dict all;
    TSpectRange r;
    for (int p = 0; const char *name = SpectStream_Range(p, &r); ++p) {
        py::dict d;
        d["minimum"] = r.minimum;
        d["maximum"] = r.maximum;
        d["maximum_excluded"] = r.maximum_excluded != 0;
        d["low"] = r.low;
        d["high"] = r.high;
        d["default"] = r.fallback;
        all[name] = d;
    }
    return all;
}

PYBIND11_MODULE(_core, m) {
    m.doc() = "Binding of the TarnwelNC host layer; use the tarnwelnc package.";
    m.attr("MIN_RATE") = SPSTREAM_MIN_RATE;
    m.attr("MAX_RATE") = SPSTREAM_MAX_RATE;
    m.attr("MAX_CHANNELS") = SPSTREAM_MAX_CHANNELS;
    m.attr("BAD_MODE") = SPSTREAM_BAD_MODE;
    m.def("ranges", &ranges, "Accepted values of every parameter, by name.");
    m.def("check_parameters",
          [](const py::int_ &mode, float limit_db, float adaptation, float smoothing) {
              return SpectStream_CheckParameters(mode_of(mode), limit_db, adaptation, smoothing);
          },
          py::arg("mode"), py::arg("limit_db"), py::arg("adaptation"), py::arg("smoothing"),
          "0, or the status of the first parameter out of range.");
    m.def("message", &SpectStream_Message, py::arg("status"), "What a status means.");
    m.def("denoise", &denoise, py::arg("samples"), py::arg("rate"), py::arg("mode"),
          py::arg("limit_db"), py::arg("adaptation"), py::arg("smoothing"));
    m.def("clean", &clean, py::arg("read"), py::arg("write"), py::arg("rate"), py::arg("channels"),
          py::arg("mode"), py::arg("limit_db"), py::arg("adaptation"), py::arg("smoothing"),
          py::arg("as_float"),
          "Cleans frames from read(count) to write(frames) on two threads; returns the frames read.");
    m.def("core_seconds", [] { return t_core_seconds; },
          "Seconds the calling thread has spent inside the core.");
    py::class_<Stream>(m, "Stream")
        .def(py::init<uint32_t, size_t, const py::int_ &, float, float, float>(), py::arg("rate"),
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
