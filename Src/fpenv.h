// The floating-point environment the core's arithmetic is defined in: IEEE
// defaults, that is round to nearest (ties to even), subnormal operands and
// results kept as they are (no flush-to-zero, no denormals-are-zero), and
// every exception masked. Hosts often run with other modes: audio hosts and
// media frameworks switch on flush-to-zero to avoid slow subnormals, and code
// built with fast math does so for the whole process. The suppressor meets
// subnormals on ordinary input, so its output would change with them.
//
// Each public function that computes therefore runs its work under an
// FpDefaults scope: it reads the caller's control register once, sets the
// defaults only if they differ, and puts the caller's register back (status
// flags included) when the work returns. Calls nested inside find the
// defaults in place and write nothing. The work itself is a separate,
// never-inlined function, so no arithmetic can be moved across the switch.
//
// x86-64 (and 32-bit x86 with SSE2 arithmetic): MXCSR. aarch64: FPCR.
// WebAssembly has a single environment, the IEEE default, and nothing to
// switch. Elsewhere only the rounding direction is set, through <fenv.h>.
// Internal to the core.
#ifndef NR_FPENV_H
#define NR_FPENV_H

#include "exact.h"

#if defined(__x86_64__) || defined(_M_X64) || (defined(__i386__) && defined(__SSE2_MATH__))
#include <xmmintrin.h>
#define NR_FPENV_MXCSR 1
#elif defined(__aarch64__)
#define NR_FPENV_FPCR 1
#elif !defined(__wasm__)
#include <fenv.h>
#define NR_FPENV_ROUNDING 1
#endif

#if defined(__GNUC__)
#define NR_NOINLINE __attribute__((noinline))
#else
#define NR_NOINLINE
#endif

namespace nr {

#if NR_FPENV_MXCSR
// Round to nearest, no FTZ/DAZ, all exceptions masked. Bits 0-5 are the
// sticky status flags, which say nothing about how to compute.
using FpControl = unsigned;
constexpr FpControl kFpDefault = 0x1F80u;
inline FpControl fp_read() { return _mm_getcsr(); }
inline void fp_write(FpControl v) { _mm_setcsr(v); }
inline bool fp_is_default(FpControl v) { return (v & ~0x3Fu) == kFpDefault; }
#elif NR_FPENV_FPCR
// Every FPCR field at zero is the IEEE default: round to nearest, FZ and
// FZ16 off, default NaN off, no traps. FPCR holds no status flags.
using FpControl = unsigned long;
constexpr FpControl kFpDefault = 0;
inline FpControl fp_read() {
    FpControl v;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(v)::"memory");
    return v;
}
inline void fp_write(FpControl v) { __asm__ __volatile__("msr fpcr, %0" ::"r"(v) : "memory"); }
inline bool fp_is_default(FpControl v) { return v == kFpDefault; }
#elif NR_FPENV_ROUNDING
using FpControl = int;
constexpr FpControl kFpDefault = FE_TONEAREST;
inline FpControl fp_read() { return fegetround(); }
inline void fp_write(FpControl v) { fesetround(v); }
inline bool fp_is_default(FpControl v) { return v == kFpDefault; }
#else
using FpControl = int;  // WebAssembly: always the defaults
constexpr FpControl kFpDefault = 0;
inline FpControl fp_read() { return kFpDefault; }
inline void fp_write(FpControl) {}
inline bool fp_is_default(FpControl) { return true; }
#endif

class FpDefaults {
public:
    FpDefaults() : saved_(fp_read()), set_(!fp_is_default(saved_)) {
        if (set_) fp_write(kFpDefault);
    }
    ~FpDefaults() {
        if (set_) fp_write(saved_);
    }
    FpDefaults(const FpDefaults &) = delete;
    FpDefaults &operator=(const FpDefaults &) = delete;

private:
    FpControl saved_;
    bool set_;
};

// Runs work(args...) in the default environment; work must be NR_NOINLINE.
template <class R, class... P, class... A>
inline R exact(R (*work)(P...), A... args) {
    FpDefaults scope;
    return work(args...);
}

}  // namespace nr

#endif
