// The CLAP module driven by a small host of our own, as a CLAP host drives
// it: loaded through clap_entry, activated, fed buffers of random length
// with parameter events inside them. The reference is the plain block loop
// (what test_wav writes), delayed by the latency the plugin reports.
#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <gtest/gtest.h>

#include "spstream.h"
#include "test_support.h"

namespace {

using testsupport::block_loop;
using testsupport::golden_channel;
using Signal = std::vector<float>;

enum { kMode, kLimit, kAdaptation, kSmoothing, kSpeech };

const clap_plugin_entry_t *entry() {
    static const clap_plugin_entry_t *e = [] {
        void *h = dlopen(TNC_CLAP_PATH, RTLD_NOW | RTLD_LOCAL);
        auto *found = h ? static_cast<const clap_plugin_entry_t *>(dlsym(h, "clap_entry")) : nullptr;
        return found && found->init(TNC_CLAP_PATH) ? found : nullptr;
    }();
    return e;
}

const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr, "tests", "", "", "1",
                           [](const clap_host_t *, const char *) -> const void * { return nullptr; },
                           [](const clap_host_t *) {}, [](const clap_host_t *) {}, [](const clap_host_t *) {}};

struct Events {
    std::vector<clap_event_param_value_t> list;
    clap_input_events_t in{this, [](const clap_input_events_t *l) {
                               return static_cast<uint32_t>(static_cast<Events *>(l->ctx)->list.size());
                           },
                           [](const clap_input_events_t *l, uint32_t i) -> const clap_event_header_t * {
                               return &static_cast<Events *>(l->ctx)->list[i].header;
                           }};
    void add(uint32_t time, clap_id id, double value) {
        clap_event_param_value_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = id;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = value;
        list.push_back(e);
    }
};

const clap_output_events_t kDiscard = {nullptr, [](const clap_output_events_t *, const clap_event_header_t *) {
                                           return true;
                                       }};

class Instance {
public:
    explicit Instance(unsigned channels) : channels_(channels) {
        if (entry() == nullptr) return;
        auto *f = static_cast<const clap_plugin_factory_t *>(entry()->get_factory(CLAP_PLUGIN_FACTORY_ID));
        p_ = f->create_plugin(f, &kHost, channels == 1 ? "org.example.tarnwelnc.mono" : "org.example.tarnwelnc.stereo");
        if (p_ && !p_->init(p_)) p_ = nullptr;
    }
    ~Instance() {
        if (p_) p_->destroy(p_);
    }
    bool ok() const { return p_ != nullptr; }
    template <class T> const T *ext(const char *id) const { return static_cast<const T *>(p_->get_extension(p_, id)); }
    bool activate(double rate) { return p_->activate(p_, rate, 1, 4096) && p_->start_processing(p_); }
    uint32_t latency() const { return ext<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(p_); }
    double value(clap_id id) const {
        double v = -1;
        ext<clap_plugin_params_t>(CLAP_EXT_PARAMS)->get_value(p_, id, &v);
        return v;
    }
    // Parameter changes outside processing, as hosts send them.
    void flush(Events &e) { ext<clap_plugin_params_t>(CLAP_EXT_PARAMS)->flush(p_, &e.in, &kDiscard); }

    // Whole signals in buffers of random length up to `longest` (0
    // included); `events` gives each buffer's events from its start and
    // length; every other buffer is processed in place.
    std::vector<Signal> stream(const std::vector<Signal> &in, uint32_t seed, uint32_t longest,
                               const std::function<void(Events &, size_t, uint32_t)> &events = nullptr) {
        std::mt19937 rng(seed);
        std::vector<Signal> out(channels_, Signal(in[0].size(), 99.0f));
        std::vector<Signal> work = in;
        for (size_t at = 0, k = 0; at < in[0].size(); ++k) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(rng() % (longest + 1), in[0].size() - at));
            std::vector<float *> ip, op;
            for (unsigned c = 0; c < channels_; ++c) {
                ip.push_back(work[c].data() + at);
                op.push_back(k % 2 ? work[c].data() + at : out[c].data() + at);
            }
            clap_audio_buffer_t ib{ip.data(), nullptr, channels_, 0, 0}, ob{op.data(), nullptr, channels_, 0, 0};
            Events e;
            if (events) events(e, at, n);
            const clap_process_t pr{-1, n, nullptr, &ib, &ob, 1, 1, &e.in, &kDiscard};
            EXPECT_EQ(p_->process(p_, &pr), CLAP_PROCESS_CONTINUE);
            if (k % 2)
                for (unsigned c = 0; c < channels_; ++c)
                    std::copy(work[c].begin() + at, work[c].begin() + at + n, out[c].begin() + at);
            at += n;
        }
        return out;
    }

    const clap_plugin_t *p_ = nullptr;

private:
    unsigned channels_;
};

Signal to_float(const std::vector<int16_t> &x) {
    Signal f;
    for (int16_t v : x) f.push_back(v / 32768.0f);
    return f;
}

// Silence for the latency, then the block loop's samples.
void expect_block_loop_delayed(const Signal &out, const std::vector<int16_t> &loop, uint32_t latency) {
    const uint32_t block = (latency + 1) / 2;
    for (size_t t = 0; t < latency; ++t) ASSERT_EQ(out[t], 0.0f) << "sample " << t;
    for (size_t t = latency; t < out.size() && t - block + 1 < loop.size(); ++t)
        ASSERT_EQ(out[t] * 32768.0f, loop[t - block + 1]) << "sample " << t;
}

TEST(Clap, EveryRateAndLayoutGivesTheBlockLoopDelayedByTheReportedLatency) {
    ASSERT_NE(entry(), nullptr) << TNC_CLAP_PATH;
    const uint32_t blocks[] = {120, 190, 1024, 1024};
    const uint32_t rates[] = {8000, 16000, 44100, 48000};
    for (unsigned channels = 1; channels <= 2; ++channels)
        for (unsigned r = 0; r < 4; ++r) {
            SCOPED_TRACE(std::to_string(channels) + " ch, " + std::to_string(rates[r]) + " Hz");
            const int mode = static_cast<int>((r + channels) % 4);
            Instance plugin(channels);
            ASSERT_TRUE(plugin.ok());
            ASSERT_TRUE(plugin.activate(rates[r]));
            EXPECT_EQ(plugin.latency(), 2 * blocks[r] - 1);
            std::vector<std::vector<int16_t>> pcm;
            std::vector<Signal> in;
            for (unsigned c = 0; c < channels; ++c) {
                pcm.push_back(golden_channel(rates[r], 1 + c));
                in.push_back(to_float(pcm.back()));
            }
            // The command line's settings, sent as events at the first
            // sample; later events repeat the values they already have.
            const std::vector<Signal> out = plugin.stream(in, rates[r], 2500, [&](Events &e, size_t at, uint32_t n) {
                if (at == 0) {
                    e.add(0, kMode, mode);
                    e.add(0, kLimit, -20.0);
                    e.add(0, kAdaptation, 0.95);
                    e.add(0, kSmoothing, 0.98);
                } else if (n > 0) {
                    e.add(n / 2, kLimit, -20.0);
                }
            });
            for (unsigned c = 0; c < channels; ++c)
                expect_block_loop_delayed(out[c], block_loop(pcm[c], rates[r], mode), plugin.latency());
        }
}

// An event inside a buffer takes effect at its own sample: the output is
// the stream's when Reset is called exactly there.
TEST(Clap, ParameterEventTakesEffectAtItsSample) {
    const uint32_t rate = 16000, change = 11477;
    const std::vector<int16_t> pcm = golden_channel(rate, 5);
    const Signal in = to_float(pcm);
    Instance plugin(1);
    ASSERT_TRUE(plugin.ok() && plugin.activate(rate));
    const Signal out = plugin.stream({in}, 3, 700, [&](Events &e, size_t at, uint32_t n) {
        if (at <= change && change < at + n) {
            e.add(static_cast<uint32_t>(change - at), kMode, 3);
            e.add(static_cast<uint32_t>(change - at), kSmoothing, 0.9);
        }
    })[0];

    TSpectStream s;
    ASSERT_TRUE(SpectStream_Init(&s, rate, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_FIXED_DELAY));
    Signal ref(in.size());
    SpectStream_ProcessFloat(&s, in.data(), change, ref.data());
    SpectStream_Reset(&s, 3, -20.0f, 0.95f, 0.9f);
    SpectStream_ProcessFloat(&s, in.data() + change, static_cast<uint32>(in.size() - change), ref.data() + change);
    EXPECT_EQ(out, ref);
    EXPECT_EQ(plugin.value(kMode), 3.0);
}

TEST(Clap, UnsupportedRatesAreRefusedAtActivation) {
    Instance plugin(2);
    ASSERT_TRUE(plugin.ok());
    for (double rate : {0.0, 4000.0, 44100.5, 384000.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(plugin.p_->activate(plugin.p_, rate, 1, 512)) << rate;
    EXPECT_TRUE(plugin.activate(48000));
}

// NaN and infinite input samples are silence, and do not spoil the
// samples after them.
TEST(Clap, NonFiniteSamplesAreSilence) {
    const uint32_t rate = 8000;
    Signal in = to_float(golden_channel(rate, 2)), zeros = in;
    for (size_t i = 100; i < in.size(); i += 997) {
        in[i] = i % 3 ? std::numeric_limits<float>::quiet_NaN() : -std::numeric_limits<float>::infinity();
        zeros[i] = 0.0f;
    }
    Instance a(1), b(1);
    ASSERT_TRUE(a.ok() && b.ok() && a.activate(rate) && b.activate(rate));
    EXPECT_EQ(a.stream({in}, 1, 300), b.stream({zeros}, 2, 900));
}

struct Bytes {
    std::vector<uint8_t> data;
    size_t read_at = 0;
};

TEST(Clap, StateRoundTripsAndForeignStateChangesNothing) {
    Instance a(1), b(1);
    ASSERT_TRUE(a.ok() && b.ok());
    Events e;
    e.add(0, kMode, 0);
    e.add(0, kLimit, -33.5);
    e.add(0, kAdaptation, 0.9);
    e.add(0, kSmoothing, 2.0);  // held at the maximum
    a.flush(e);

    Bytes saved;
    clap_ostream_t os{&saved, [](const clap_ostream_t *s, const void *buf, uint64_t n) -> int64_t {
                          auto *b = static_cast<Bytes *>(s->ctx);
                          const uint64_t k = std::min<uint64_t>(n, 3);  // a host may take a few bytes at a time
                          b->data.insert(b->data.end(), static_cast<const uint8_t *>(buf),
                                         static_cast<const uint8_t *>(buf) + k);
                          return static_cast<int64_t>(k);
                      }};
    clap_istream_t is{&saved, [](const clap_istream_t *s, void *buf, uint64_t n) -> int64_t {
                          auto *b = static_cast<Bytes *>(s->ctx);
                          const uint64_t k = std::min<uint64_t>({n, 5, b->data.size() - b->read_at});
                          std::copy_n(b->data.begin() + b->read_at, k, static_cast<uint8_t *>(buf));
                          b->read_at += k;
                          return static_cast<int64_t>(k);
                      }};
    auto *state_a = a.ext<clap_plugin_state_t>(CLAP_EXT_STATE), *state_b = b.ext<clap_plugin_state_t>(CLAP_EXT_STATE);
    ASSERT_TRUE(state_a->save(a.p_, &os));
    ASSERT_TRUE(state_b->load(b.p_, &is));
    for (clap_id id : {kMode, kLimit, kAdaptation, kSmoothing}) EXPECT_EQ(b.value(id), a.value(id)) << id;
    EXPECT_EQ(b.value(kLimit), -33.5);
    EXPECT_EQ(b.value(kSmoothing), static_cast<double>(0.999f));

    // Cut short, or of another format: refused, and the values stay.
    Instance c(1);
    ASSERT_TRUE(c.ok());
    saved.read_at = 0;
    saved.data.pop_back();
    EXPECT_FALSE(c.ext<clap_plugin_state_t>(CLAP_EXT_STATE)->load(c.p_, &is));
    saved = Bytes{std::vector<uint8_t>(20, 'x')};
    EXPECT_FALSE(c.ext<clap_plugin_state_t>(CLAP_EXT_STATE)->load(c.p_, &is));
    EXPECT_EQ(c.value(kMode), 2.0);
    EXPECT_EQ(c.value(kLimit), -20.0);
}

}  // namespace
