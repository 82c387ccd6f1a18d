// The two-thread cleaner: batches of whole blocks in a ring, read and
// written by the calling thread, cleaned by both.
//
// One channel is split over records, exactly: Restore takes nothing from
// Frame but psdX and phasa (bins 0 .. wmax - 1), so a record initialised
// for the same rate that is given them carries the output on; Estimate
// takes nothing from Analyse but psdX and nearSilence; and a block's psdX,
// phasa and nearSilence after Analyse are the same on any record whose
// previous Analyse call took the block before it (for the first block, a
// fresh record, which acts as if it had taken a block of zeros). So blocks
// are analysed in chunks on the stages' own records, each primed with the
// block before the chunk, their spectra travel with the batch, and the
// estimator and the synthesis take them in order.
#include "cleaner.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int kSlots = 3;
constexpr size_t kMaxBlocks = 512;  // what a rate far above the usual ones would ask
constexpr size_t kChunk = 32;       // blocks of analysis; one more primes the record
// Records start on a cache line, as the widest vector loads like, and
// zeroed, as static records would be. Threads write the last fields of one
// record while others read the first of the next, so a gap of two lines
// keeps them off each other's cache lines (and the prefetcher's pairs).
constexpr size_t kLine = 64;
constexpr size_t kStride = (sizeof(TSpectSubtract) + kLine - 1) / kLine * kLine + 2 * kLine;

class Records {
public:
    explicit Records(size_t n)
        : base_(static_cast<char *>(::operator new[](n * kStride, std::align_val_t(kLine)))) {
        std::memset(base_, 0, n * kStride);
    }
    ~Records() { ::operator delete[](base_, std::align_val_t(kLine)); }
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
    TSpectSubtract &operator[](size_t i) const { return *reinterpret_cast<TSpectSubtract *>(base_ + i * kStride); }

private:
    char *base_;
};

struct Batch {
    // Left uninitialised: every value is written before it is read.
    std::unique_ptr<int16[]> in, out;  // interleaved sample frames
    std::unique_ptr<int16[]> lead;     // one channel: the block before in[0]
    std::unique_ptr<float[]> spectra;  // one channel: magnitudes and phases of each block
    std::unique_ptr<int8[]> quiet;     // one channel: nearSilence of each block
    size_t blocks = 0;
    size_t chunks = 0, chunks_done = 0;  // analysis, under Flow::m
};

// Batch bookkeeping shared by the two threads: how many batches are read,
// how far the analysis chunks are handed out, how many batches each stage
// has finished, how many are written.
struct Flow {
    std::mutex m;
    std::condition_variable changed;
    uint64_t read = 0, written = 0, staged[2] = {0, 0};
    uint64_t claim_batch = 0;
    size_t claim_chunk = 0;
    bool input_done = false, abort = false;
};

}  // namespace

struct TCleaner {
    TCleaner(uint32 rate, unsigned channels, int mode, mfloat pSdb, mfloat pNn, mfloat pMn,
             int delivery, bool two_threads)
        : rate_(rate), channels_(channels), mode_(static_cast<int8>(mode)), pSdb_(pSdb), pNn_(pNn),
          pMn_(pMn), aligned_(delivery == SPSTREAM_ALIGNED), two_threads_(two_threads),
          records_(channels == 1 ? 4 : channels) {
        start();
        len_ = records_[0].lenHalf;
        bins_ = records_[0].wmax;
        // About four seconds of two channels a batch.
        const size_t blocks = std::max<size_t>(1, 4 * size_t(rate) / len_) / ((channels + 1) / 2);
        per_batch_ = std::max<size_t>(1, std::min(kMaxBlocks, blocks));
        for (Batch &b : ring_) {
            b.in.reset(new int16[per_batch_ * len_ * channels_]);
            b.out.reset(new int16[per_batch_ * len_ * channels_]);
            if (channels_ == 1) {
                b.lead.reset(new int16[len_]);
                b.spectra.reset(new float[per_batch_ * 2 * bins_]);
                b.quiet.reset(new int8[per_batch_]);
            }
        }
    }
    ~TCleaner() {
        for (unsigned r = 0; r < record_count(); ++r) SpectSubtract_Destroyed(&records_[r]);
    }

    uint32 block() const { return len_; }
    int run(TCleanerRead read, TCleanerWrite write, void *context);

private:
    unsigned record_count() const { return channels_ == 1 ? 4 : channels_; }
    // One channel: records 0 estimates, 1 synthesises, 2 and 3 analyse (one
    // for each stage's thread). More: record n cleans channel n.
    void start() {
        for (unsigned r = 0; r < record_count(); ++r)
            SpectSubtract_Init(&records_[r], rate_, mode_, pSdb_, pNn_, pMn_);
    }
    Batch &slot(uint64_t batch) { return ring_[batch % kSlots]; }

    // ------------------------------------------------------------ input
    // Fills batch n with whole blocks; false once the input is used up. The
    // aligned delivery follows the input with silence: its last partial
    // block completed, and one block more that brings the last one out.
    bool fill(uint64_t n) {
        Batch &b = slot(n);
        if (channels_ == 1) {
            if (n == 0)
                std::fill(b.lead.get(), b.lead.get() + len_, int16(0));  // as a fresh record
            else
                std::memcpy(b.lead.get(), slot(n - 1).in.get() + (slot(n - 1).blocks - 1) * len_,
                            len_ * sizeof(int16));
        }
        const size_t want = per_batch_ * len_;
        size_t got = 0;
        if (!source_ended_) {
            got = std::min(want, read_(context_, b.in.get(), want));
            source_frames_ += got;
            if (got < want) {
                source_ended_ = true;
                padded_end_ = ((source_frames_ + len_ - 1) / len_ + 1) * len_;
            }
        }
        if (aligned_ && source_ended_) {
            const size_t pad = static_cast<size_t>(std::min<uint64_t>(want - got, padded_end_ - fed_ - got));
            std::fill(b.in.get() + got * channels_, b.in.get() + (got + pad) * channels_, int16(0));
            got += pad;
        }
        fed_ += got;
        b.blocks = got / len_;
        b.chunks = channels_ == 1 ? (b.blocks + kChunk - 1) / kChunk : 0;
        b.chunks_done = 0;
        return source_ended_ ? aligned_ && fed_ < padded_end_ : true;
    }

    // ----------------------------------------------------------- output
    // Writes batch b's cleaned frames, leaving out, in aligned delivery,
    // the first block (the silence before the input) and what follows the
    // input's length.
    bool emit(const Batch &b) {
        const uint64_t start = produced_, end = start + b.blocks * len_;
        produced_ = end;
        uint64_t from = start, to = end;
        if (aligned_) {
            from = std::max<uint64_t>(from, len_);
            if (source_ended_) to = std::min<uint64_t>(to, len_ + source_frames_);
        }
        if (to <= from) return true;
        return write_(context_, b.out.get() + (from - start) * channels_, static_cast<size_t>(to - from)) != 0;
    }

    // ------------------------------------------------------------ stages
    // Whether stage `stage` of batch n may run: its analysis is done, and
    // the synthesis of one channel follows the estimator.
    bool stage_ready(int stage, const Batch &b, uint64_t n) const {
        return b.chunks_done == b.chunks && (stage == 0 || channels_ != 1 || flow_.staged[0] > n);
    }
    void analyse_chunk(int stage, Batch &b, size_t chunk) {
        TSpectSubtract &a = records_[2 + stage];
        const size_t first = chunk * kChunk, end = std::min(b.blocks, first + kChunk);
        SpectSubtract_Analyse(&a, first == 0 ? b.lead.get() : b.in.get() + (first - 1) * len_);
        for (size_t k = first; k < end; ++k) {
            SpectSubtract_Analyse(&a, b.in.get() + k * len_);
            float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(spectrum, a.psdX, bins_ * sizeof(float));
            std::memcpy(spectrum + bins_, a.phasa, bins_ * sizeof(float));
            b.quiet[k] = a.nearSilence;
        }
    }
    // Stage 0 cleans the even channels (one channel: estimates), stage 1
    // the odd ones (one channel: synthesises).
    void run_stage(int stage, Batch &b) {
        if (channels_ == 1) {
            if (stage == 0)
                estimate(b);
            else
                synthesise(b);
            return;
        }
        for (unsigned c = stage; c < channels_; c += 2) clean_channel(c, b);
    }
    void clean_channel(unsigned n, Batch &b) {
        int16 block[SPSTREAM_MAX_BLOCK];
        for (size_t k = 0; k < b.blocks; ++k) {
            const int16 *in = b.in.get() + k * len_ * channels_;
            int16 *out = b.out.get() + k * len_ * channels_;
            for (uint32 j = 0; j < len_; ++j) block[j] = in[j * channels_ + n];
            SpectSubtract_Frame(&records_[n], 1, block);
            SpectSubtract_Restore(&records_[n], block);
            for (uint32 j = 0; j < len_; ++j) out[j * channels_ + n] = block[j];
        }
    }
    void estimate(Batch &b) {
        TSpectSubtract &e = records_[0];
        for (size_t k = 0; k < b.blocks; ++k) {
            float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(e.psdX, spectrum, bins_ * sizeof(float));
            e.nearSilence = b.quiet[k];
            SpectSubtract_Estimate(&e, 1);
            std::memcpy(spectrum, e.psdX, bins_ * sizeof(float));
        }
    }
    void synthesise(Batch &b) {
        TSpectSubtract &s = records_[1];
        for (size_t k = 0; k < b.blocks; ++k) {
            const float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(s.psdX, spectrum, bins_ * sizeof(float));
            std::memcpy(s.phasa, spectrum + bins_, bins_ * sizeof(float));
            SpectSubtract_Restore(&s, b.out.get() + k * len_);
        }
    }

    bool work_once(int stage, std::unique_lock<std::mutex> &lock);
    void worker();

    const uint32 rate_;
    const unsigned channels_;
    const int8 mode_;
    const mfloat pSdb_, pNn_, pMn_;
    const bool aligned_, two_threads_;
    Records records_;
    uint32 len_ = 0, bins_ = 0;
    size_t per_batch_ = 0;
    Batch ring_[kSlots];

    // One run's state.
    Flow flow_;
    TCleanerRead read_ = nullptr;
    TCleanerWrite write_ = nullptr;
    void *context_ = nullptr;
    bool source_ended_ = false;
    uint64_t source_frames_ = 0, fed_ = 0, padded_end_ = 0, produced_ = 0;
};

// Does one piece of work for `stage` if one is ready: the stage's next
// batch first (its chain is serial), else a chunk of analysis. Called and
// returns with the lock held; false when nothing was ready.
bool TCleaner::work_once(int stage, std::unique_lock<std::mutex> &lock) {
    Flow &f = flow_;
    const uint64_t b = f.staged[stage];
    if (b < f.read && stage_ready(stage, slot(b), b)) {
        lock.unlock();
        run_stage(stage, slot(b));
        lock.lock();
        f.staged[stage] = b + 1;
        f.changed.notify_all();
        return true;
    }
    while (f.claim_batch < f.read && f.claim_chunk >= slot(f.claim_batch).chunks) {
        ++f.claim_batch;
        f.claim_chunk = 0;
    }
    if (f.claim_batch >= f.read) return false;
    Batch &cb = slot(f.claim_batch);
    const size_t chunk = f.claim_chunk++;
    lock.unlock();
    analyse_chunk(stage, cb, chunk);
    lock.lock();
    if (++cb.chunks_done == cb.chunks) f.changed.notify_all();
    return true;
}

// The second thread: stage 1 and analysis, until every batch read has
// passed stage 1.
void TCleaner::worker() {
    std::unique_lock<std::mutex> lock(flow_.m);
    while (!flow_.abort) {
        if (work_once(1, lock)) continue;
        if (flow_.staged[1] >= flow_.read && flow_.input_done) return;
        flow_.changed.wait(lock);
    }
}

// The calling thread reads and writes the batches in order and, between
// those, runs stage 0 and analysis; the second thread runs stage 1 and
// analysis. (Two threads, not three: a third would keep taking a core from
// a stage.) With one thread the calling thread runs both stages.
int TCleaner::run(TCleanerRead read, TCleanerWrite write, void *context) {
    start();
    flow_.read = flow_.written = flow_.staged[0] = flow_.staged[1] = flow_.claim_batch = 0;
    flow_.claim_chunk = 0;
    flow_.input_done = flow_.abort = false;
    read_ = read;
    write_ = write;
    context_ = context;
    source_ended_ = false;
    source_frames_ = fed_ = padded_end_ = produced_ = 0;

    std::thread second;
    if (two_threads_) {
        try {
            second = std::thread(&TCleaner::worker, this);
        } catch (const std::system_error &) {
            // No second thread: this one runs both stages.
        }
    }
    const bool alone = !second.joinable();
    int status = SPSTREAM_OK;
    bool more = true;
    std::unique_lock<std::mutex> lock(flow_.m);
    for (;;) {
        if (more && flow_.read < flow_.written + kSlots) {
            const uint64_t n = flow_.read;
            lock.unlock();
            more = fill(n);
            lock.lock();
            if (slot(n).blocks > 0) ++flow_.read;
            flow_.input_done = !more;
            flow_.changed.notify_all();
            continue;
        }
        const uint64_t w = flow_.written;
        if (w < flow_.read && flow_.staged[0] > w && flow_.staged[1] > w) {
            lock.unlock();
            const bool ok = emit(slot(w));
            lock.lock();
            if (!ok) {
                status = CLEANER_WRITE_FAILED;
                flow_.abort = true;
                flow_.changed.notify_all();
                break;
            }
            flow_.written = w + 1;
            continue;
        }
        if (w >= flow_.read && flow_.input_done) break;
        if (work_once(0, lock)) continue;
        if (alone && work_once(1, lock)) continue;
        flow_.changed.wait(lock);
    }
    lock.unlock();
    if (second.joinable()) second.join();
    return status;
}

extern "C" {

TCleaner *Cleaner_New(uint32 SampleRate, uint32 channels, int kind_subst, mfloat pSdb, mfloat pNn,
                      mfloat pMn, int delivery, unsigned threads, int *status) {
    int s = SpectStream_CheckParameters(kind_subst, pSdb, pNn, pMn);
    if (channels < 1 || channels > SPSTREAM_MAX_CHANNELS) s = SPSTREAM_BAD_CHANNELS;
    if (delivery != SPSTREAM_BLOCKS && delivery != SPSTREAM_ALIGNED) s = SPSTREAM_BAD_DELIVERY;
    TCleaner *c = nullptr;
    if (s == SPSTREAM_OK) {
        const bool two = threads == 2 || (threads == 0 && std::thread::hardware_concurrency() >= 2);
        try {
            c = new TCleaner(SampleRate, channels, kind_subst, pSdb, pNn, pMn, delivery, two);
        } catch (const std::bad_alloc &) {
            s = CLEANER_NO_MEMORY;
        }
    }
    if (status) *status = s;
    return c;
}

uint32 Cleaner_Block(const TCleaner *c) { return c->block(); }

int Cleaner_Run(TCleaner *c, TCleanerRead read, TCleanerWrite write, void *context) {
    return c->run(read, write, context);
}

void Cleaner_Free(TCleaner *c) { delete c; }

}  // extern "C"
