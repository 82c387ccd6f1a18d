// The last resort of the transcendental kernels, and the exponential of the
// parameter mapping: the double-precision function of a float argument,
// rounded to double and then to float, as a correctly rounding C library
// gives it. C libraries differ in the last bit of some double results, and
// a few of those differences survive the rounding to float, so these are
// computed here with double-double arithmetic and integers alone: every
// IEEE platform gives the same bits, with any C library or none.
//
// Each function evaluates f(x) as a pair hi + lo with a relative error below
// 2^-100 and returns (float) hi, hi being hi + lo rounded to double. That is
// RN_float(RN_double(f(x))) unless f(x) lies within the error of a point
// where the double rounding flips; bench/exhaustive_trig.cpp checks on every
// float input that none does, and compares the results with the C library.
#include "../exact.h"

#include <stdint.h>
#include <string.h>

#include "kernels.h"

namespace {

struct DD {
    double hi, lo;
};

// Printed by bench/fallback_constants.py.
// 2/pi, 32 bits a word, after a word of zeros
const uint32_t kTwoOverPi[14] = {0x00000000u, 0xa2f9836eu, 0x4e441529u, 0xfc2757d1u, 0xf534ddc0u, 0xdb629599u, 0x3c439041u, 0xfe5163abu, 0xdebbc561u, 0xb7246e3au, 0x424dd2e0u, 0x06492eeau, 0x09d1921cu, 0xfe1deb1cu};
const DD kHalfPi = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
// atan(j / 64), j = 0 .. 64
const DD kAtanSixtyFourths[65] = {
    {0x0.0p+0, 0x0.0p+0},
    {0x1.fff555bbb729bp-7, -0x1.220c39d4dff50p-61},
    {0x1.ffd55bba97625p-6, -0x1.5ec431444912cp-60},
    {0x1.7fb818430da2ap-5, -0x1.86ef8f794f105p-63},
    {0x1.ff55bb72cfdeap-5, -0x1.c934d86d23f1dp-60},
    {0x1.3f59f0e7c559dp-4, 0x1.ac4ce285df847p-58},
    {0x1.7ee182602f10fp-4, -0x1.cfb654c0c3d98p-58},
    {0x1.be39ebe6f07c3p-4, 0x1.f7b8f29a05987p-58},
    {0x1.fd5ba9aac2f6ep-4, -0x1.cd37686760c17p-59},
    {0x1.1e1fafb043727p-3, -0x1.b485914dacf8cp-59},
    {0x1.3d6eee8c6626cp-3, 0x1.61a3b0ce9281bp-57},
    {0x1.5c9811e3ec26ap-3, -0x1.054ab2c010f3dp-58},
    {0x1.7b97b4bce5b02p-3, 0x1.347b0b4f881cap-58},
    {0x1.9a6a8e96c8626p-3, 0x1.cf601e7b4348ep-59},
    {0x1.b90d7529260a2p-3, 0x1.17b10d2e0e5abp-61},
    {0x1.d77d5df205736p-3, 0x1.c648d1534597ep-57},
    {0x1.f5b75f92c80ddp-3, 0x1.8ab6e3cf7afbdp-57},
    {0x1.09dc597d86362p-2, 0x1.62e47390cb865p-56},
    {0x1.18bf5a30bf178p-2, 0x1.30ca4748b1bf9p-57},
    {0x1.278372057ef46p-2, -0x1.077cdd36dfc81p-56},
    {0x1.362773707ebccp-2, -0x1.963a544b672d8p-57},
    {0x1.44aa436c2af0ap-2, -0x1.5d5e43c55b3bap-56},
    {0x1.530ad9951cd4ap-2, -0x1.2566480884082p-57},
    {0x1.614840309cfe2p-2, -0x1.a725715711f00p-56},
    {0x1.6f61941e4def1p-2, -0x1.c63aae6f6e918p-56},
    {0x1.7d5604b63b3f7p-2, 0x1.69c885c2b249ap-56},
    {0x1.8b24d394a1b25p-2, 0x1.b6d0ba3748fa8p-56},
    {0x1.98cd5454d6b18p-2, 0x1.9e6c988fd0a77p-56},
    {0x1.a64eec3cc23fdp-2, -0x1.24dec1b50b7ffp-56},
    {0x1.b3a911da65c6cp-2, 0x1.ae187b1ca5040p-56},
    {0x1.c0db4c94ec9f0p-2, -0x1.cc1ce70934c34p-56},
    {0x1.cde53432c1351p-2, -0x1.a2cfa4418f1adp-56},
    {0x1.dac670561bb4fp-2, 0x1.a2b7f222f65e2p-56},
    {0x1.e77eb7f175a34p-2, 0x1.0e53dc1bf3435p-56},
    {0x1.f40dd0b541418p-2, -0x1.a3992dc382a23p-57},
    {0x1.0039c73c1a40cp-1, -0x1.b32c949c9d593p-55},
    {0x1.0657e94db30d0p-1, -0x1.d5b495f6349e6p-56},
    {0x1.0c6145b5b43dap-1, 0x1.974fa13b5404fp-58},
    {0x1.1255d9bfbd2a9p-1, -0x1.2bdaee1c0ee35p-58},
    {0x1.1835a88be7c13p-1, 0x1.c621cec00c301p-55},
    {0x1.1e00babdefeb4p-1, -0x1.928df287a668fp-58},
    {0x1.23b71e2cc9e6ap-1, 0x1.c421c9f38224ep-57},
    {0x1.2958e59308e31p-1, -0x1.09e73b0c6c087p-56},
    {0x1.2ee628406cbcap-1, 0x1.c5d5e9ff0cf8dp-55},
    {0x1.345f01cce37bbp-1, 0x1.1021137c71102p-55},
    {0x1.39c391cd4171ap-1, -0x1.2304331d8bf46p-55},
    {0x1.3f13fb89e96f4p-1, 0x1.ecf8b492644f0p-56},
    {0x1.445065b795b56p-1, -0x1.f76d0163f79c8p-56},
    {0x1.4978fa3269ee1p-1, 0x1.2419a87f2a458p-56},
    {0x1.4e8de5bb6ec04p-1, 0x1.4a33dbeb3796cp-55},
    {0x1.538f57b89061fp-1, -0x1.1bb74abda520cp-55},
    {0x1.587d81f732fbbp-1, -0x1.5e5c9d8c5a950p-56},
    {0x1.5d58987169b18p-1, 0x1.0028e4bc5e7cap-57},
    {0x1.6220d115d7b8ep-1, -0x1.2b785350ee8c1p-57},
    {0x1.66d663923e087p-1, -0x1.6ea6febe8bbbap-56},
    {0x1.6b798920b3d99p-1, -0x1.a80386188c50ep-55},
    {0x1.700a7c5784634p-1, -0x1.8c34d25aadef6p-56},
    {0x1.748978fba8e0fp-1, 0x1.7b2a6165884a1p-59},
    {0x1.78f6bbd5d315ep-1, 0x1.406a089803740p-55},
    {0x1.7d528289fa093p-1, 0x1.560821e2f3aa9p-55},
    {0x1.819d0b7158a4dp-1, -0x1.bf76229d3b917p-56},
    {0x1.85d69576cc2c5p-1, 0x1.6b66e7fc8b8c3p-57},
    {0x1.89ff5ff57f1f8p-1, -0x1.55b9a5e177a1bp-55},
    {0x1.8e17aa99cc05ep-1, -0x1.ec182ab042f61p-56},
    {0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55},
};
// (-1)^k / (2k + 1), k = 1 .. 8
const DD kAtanSeries[8] = {
    {-0x1.5555555555555p-2, -0x1.5555555555555p-56},
    {0x1.999999999999ap-3, -0x1.999999999999ap-57},
    {-0x1.2492492492492p-3, -0x1.2492492492492p-57},
    {0x1.c71c71c71c71cp-4, 0x1.c71c71c71c71cp-58},
    {-0x1.745d1745d1746p-4, 0x1.745d1745d1746p-59},
    {0x1.3b13b13b13b14p-4, -0x1.3b13b13b13b14p-58},
    {-0x1.1111111111111p-4, -0x1.1111111111111p-60},
    {0x1.e1e1e1e1e1e1ep-5, 0x1.e1e1e1e1e1e1ep-61},
};
// (-1)^k / (2k + 1)!, k = 1 .. 14
const DD kSinSeries[14] = {
    {-0x1.5555555555555p-3, -0x1.5555555555555p-57},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {-0x1.a01a01a01a01ap-13, -0x1.a01a01a01a01ap-73},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {-0x1.ae64567f544e4p-26, 0x1.c062e06d1f209p-80},
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {-0x1.ae7f3e733b81fp-41, -0x1.1d8656b0ee8cbp-97},
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {-0x1.2f49b46814157p-57, -0x1.2650f61dbdcb4p-112},
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {-0x1.761b41316381ap-75, 0x1.3423c7d91404fp-130},
    {0x1.3f3ccdd165fa9p-84, -0x1.58ddadf344487p-139},
    {-0x1.d1ab1c2dccea3p-94, -0x1.054d0c78aea14p-149},
    {0x1.259f98b4358adp-103, 0x1.eaf8c39dd9bc5p-157},
};
// (-1)^k / (2k)!, k = 1 .. 15
const DD kCosSeries[15] = {
    {-0x1.0000000000000p-1, 0x0.0p+0},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {-0x1.6c16c16c16c17p-10, 0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {-0x1.27e4fb7789f5cp-22, -0x1.cbbc05b4fa99ap-76},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
    {-0x1.93974a8c07c9dp-37, -0x1.05d6f8a2efd1fp-92},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},
    {-0x1.6827863b97d97p-53, -0x1.eec01221a8b0bp-107},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},
    {-0x1.0ce396db7f853p-70, 0x1.aebcdbd20331cp-124},
    {0x1.f2cf01972f578p-80, -0x1.9ada5fcc1ab14p-135},
    {-0x1.88e85fc6a4e5ap-89, 0x1.71c37ebd16540p-143},
    {0x1.0a18a2635085dp-98, 0x1.b9e2e28e1aa54p-153},
    {-0x1.3932c5047d60ep-108, -0x1.832b7b530a627p-162},
};
// 1 / n!, n = 2 .. 23
const DD kExpSeries[22] = {
    {0x1.0000000000000p-1, 0x0.0p+0},
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},
    {0x1.ae7f3e733b81fp-41, 0x1.1d8656b0ee8cbp-97},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {0x1.6827863b97d97p-53, 0x1.eec01221a8b0bp-107},
    {0x1.2f49b46814157p-57, 0x1.2650f61dbdcb4p-112},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {0x1.0ce396db7f853p-70, -0x1.aebcdbd20331cp-124},
    {0x1.761b41316381ap-75, -0x1.3423c7d91404fp-130},
};
// ln 2 = kLn2[0] + kLn2[1] + kLn2[2], the first two of 44 bits
const double kLn2[3] = {0x1.62e42fefa3a00p-1, -0x1.0ca86c3898c00p-49, -0x1.ff0342542fc33p-94};
const double kInvLn2 = 0x1.71547652b82fep+0;

// ---------------------------------------------------- double-double
// Exact transformations (Knuth, Dekker); -ffp-contract=off keeps the
// compiler from fusing their products.

inline DD two_sum(double a, double b) {
    const double s = a + b, bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// |a| >= |b| or a == 0
inline DD fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

inline DD two_prod(double a, double b) {
    const double split = 134217729.0;  // 2^27 + 1
    const double p = a * b;
    const double ca = split * a, ah = ca - (ca - a), al = a - ah;
    const double cb = split * b, bh = cb - (cb - b), bl = b - bh;
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

inline DD add(DD a, DD b) {
    DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    s = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(s.hi, s.lo + t.lo);
}

inline DD mul(DD a, DD b) {
    const DD p = two_prod(a.hi, b.hi);
    return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DD neg(DD a) { return {-a.hi, -a.lo}; }

inline DD div(DD a, DD b) {
    const double q1 = a.hi / b.hi;
    DD r = add(a, neg(mul(b, {q1, 0.0})));
    const double q2 = r.hi / b.hi;
    r = add(r, neg(mul(b, {q2, 0.0})));
    const double q3 = r.hi / b.hi;
    return add(fast_two_sum(q1, q2), {q3, 0.0});
}

// c[0] + s (c[1] + s (c[2] + ...)) for n coefficients, the first `exact` of
// them in double-double and the rest, too small to need it, in double.
DD series(DD s, const DD *c, int n, int exact) {
    double tail = 0.0;
    for (int k = n - 1; k >= exact; --k) tail = c[k].hi + s.hi * tail;
    DD p = {tail, 0.0};
    for (int k = exact - 1; k >= 0; --k) p = add(c[k], mul(s, p));
    return p;
}

// 2^k for -1022 <= k <= 1023, without the C library.
double pow2(int k) {
    const uint64_t bits = static_cast<uint64_t>(k + 1023) << 52;
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

uint32_t bits_of(float x) {
    uint32_t b;
    memcpy(&b, &x, sizeof b);
    return b;
}

// --------------------------------------------------------- arctangent

// atan(x) for finite x != 0: with a = |x| and z = a, or 1/a where a > 1
// (atan a = pi/2 - atan z), c = j/64 next to z and u = (z - c) / (1 + z c),
// atan z = atan c + atan u with |u| <= 1/128, where the series to u^17
// leaves less than 2^-110.
DD atan_dd(float x) {
    const double a = x < 0.0f ? -static_cast<double>(x) : static_cast<double>(x);
    const bool inverted = a > 1.0;
    const DD z = inverted ? div({1.0, 0.0}, {a, 0.0}) : DD{a, 0.0};
    const int j = static_cast<int>(z.hi * 64.0 + 0.5);
    const double c = j * 0.015625;
    // z c is exact: c has at most 7 significant bits.
    const DD num = add(z, {-c, 0.0});
    const DD den = add({1.0, 0.0}, {z.hi * c, z.lo * c});
    const DD u = div(num, den);
    const DD u2 = mul(u, u);
    // atan u = u + u u^2 (-1/3 + u^2 (1/5 - ...))
    const DD atan_u = add(u, mul(u, mul(u2, series(u2, kAtanSeries, 8, 4))));
    DD r = add(kAtanSixtyFourths[j], atan_u);
    if (inverted) r = add(kHalfPi, neg(r));
    return x < 0.0f ? neg(r) : r;
}

// ------------------------------------------------------- cosine, sine

// For |x| > pi/4: x 2/pi = q + f (mod 4) with |f| <= 1/2, from the bits of
// 2/pi that matter at x's exponent, in integers (x = m 2^e, m < 2^24: bits
// of 2/pi above 2^-(e - 1) only add multiples of 4, and 256 bits from there
// leave an error below 2^-230). Returns r = f pi/2 and q.
DD reduce(float ax, int *q) {
    const uint32_t b = bits_of(ax);
    const uint32_t m = (b & 0x7fffffu) | 0x800000u;
    const int e = static_cast<int>(b >> 23) - 150;  // ax = m 2^e, e >= -24
    // Window of 256 bits starting at bit e - 1 of 2/pi (bit i is worth
    // 2^-i; kTwoOverPi's bit g is bit g - 31).
    const int g = e - 1 + 31;
    const int first = g / 32, shift = g % 32;
    uint32_t w[8];
    for (int t = 0; t < 8; ++t) {
        const uint32_t hi = kTwoOverPi[first + t], lo = kTwoOverPi[first + t + 1];
        w[t] = shift == 0 ? hi : (hi << shift) | (lo >> (32 - shift));
    }
    // p = m w (288 bits, most significant word first) = x 2/pi 2^254, mod 4 2^254.
    uint32_t p[9];
    uint64_t carry = 0;
    for (int t = 7; t >= 0; --t) {
        const uint64_t v = static_cast<uint64_t>(m) * w[t] + carry;
        p[t + 1] = static_cast<uint32_t>(v);
        carry = v >> 32;
    }
    p[0] = static_cast<uint32_t>(carry);
    *q = static_cast<int>(p[1] >> 30);
    p[1] &= 0x3fffffffu;  // f 2^254 in p[1 .. 8]
    bool negative = false;
    if (p[1] & 0x20000000u) {  // f >= 1/2: take f - 1
        negative = true;
        *q = (*q + 1) & 3;
        uint64_t borrow = 1;  // 2^254 - f 2^254, as the complement plus one
        for (int t = 8; t >= 1; --t) {
            const uint64_t v = static_cast<uint64_t>(static_cast<uint32_t>(~p[t])) + borrow;
            p[t] = static_cast<uint32_t>(v);
            borrow = v >> 32;
        }
        p[1] &= 0x3fffffffu;
    }
    // |f| from its five leading words: at least 129 bits of it.
    int lead = 1;
    while (lead < 8 && p[lead] == 0) ++lead;
    DD f = {0.0, 0.0};
    for (int t = (lead + 4 < 8 ? lead + 4 : 8); t >= lead; --t) {
        const DD s = two_sum(p[t] * pow2(32 * (8 - t) - 254), f.hi);
        f = fast_two_sum(s.hi, s.lo + f.lo);
    }
    const DD r = mul(f, kHalfPi);
    return negative ? neg(r) : r;
}

// sin r and cos r for |r| <= pi/4: series to r^29 and r^30, whose omitted
// terms are below 2^-106 of the result.
void sincos_reduced(DD r, DD *s, DD *c) {
    const DD r2 = mul(r, r);
    *s = add(r, mul(r, mul(r2, series(r2, kSinSeries, 14, 8))));
    *c = add({1.0, 0.0}, mul(r2, series(r2, kCosSeries, 15, 8)));
}

// cos x and sin x for finite x != 0.
void sincos_dd(float x, DD *c, DD *s) {
    const float ax = x < 0.0f ? -x : x;
    int q = 0;
    // 0x3f490fda is the largest float below pi/4.
    const DD r = bits_of(ax) <= 0x3f490fdau ? DD{ax, 0.0} : reduce(ax, &q);
    DD sr, cr;
    sincos_reduced(r, &sr, &cr);
    switch (q) {
        case 0: *s = sr; *c = cr; break;
        case 1: *s = cr; *c = neg(sr); break;
        case 2: *s = neg(sr); *c = neg(cr); break;
        default: *s = neg(cr); *c = sr; break;
    }
    if (x < 0.0f) *s = neg(*s);
}

// -------------------------------------------------------- exponential

// exp(x) for -104 <= x <= 100: x = k ln 2 + r with |r| <= 0.35, r taken with
// ln 2 in three parts (k times either of the first two is exact, and so is
// x - k kLn2[0]); the series to r^23 leaves less than 2^-110.
DD exp_dd(float x) {
    const double xd = x;
    const double shifter = 0x1.8p52;  // adding and removing it rounds to an integer
    const double k = (xd * kInvLn2 + shifter) - shifter;
    const DD r = add(two_sum(xd - k * kLn2[0], -(k * kLn2[1])), {-(k * kLn2[2]), 0.0});
    // e^r = 1 + r + r^2 (1/2 + r (1/6 + ...))
    const DD e = add({1.0, 0.0}, add(r, mul(mul(r, r), series(r, kExpSeries, 22, 12))));
    const double scale = pow2(static_cast<int>(k));
    return {e.hi * scale, e.lo * scale};
}

}  // namespace

extern "C" {

float Nr_AtanFallback(float x) {
    if (x != x) return x + x;
    if (x - x != 0.0f) return x > 0.0f ? 1.5707964f : -1.5707964f;  // pi/2 rounded twice
    if (x == 0.0f) return x;
    return static_cast<float>(atan_dd(x).hi);
}

void Nr_SinCosFallback(float x, float *c, float *s) {
    if (x - x != 0.0f) {  // NaN or infinite
        *c = *s = x - x;
        return;
    }
    if (x == 0.0f) {
        *c = 1.0f;
        *s = x;
        return;
    }
    DD cd, sd;
    sincos_dd(x, &cd, &sd);
    *c = static_cast<float>(cd.hi);
    *s = static_cast<float>(sd.hi);
}

float Nr_Exp(float x) {
    if (x != x) return x + x;
    if (x > 100.0f) return __builtin_inff();
    if (x < -104.0f) return 0.0f;  // below 2^-150, half the least subnormal
    return static_cast<float>(exp_dd(x).hi);
}

void Nr_FallbackParts(float x, double *parts) {
    DD r[4] = {{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
    if (x - x == 0.0f && x != 0.0f) {
        r[0] = atan_dd(x);
        sincos_dd(x, &r[1], &r[2]);
        if (x >= -104.0f && x <= 100.0f) r[3] = exp_dd(x);
    }
    for (int i = 0; i < 4; ++i) {
        parts[2 * i] = r[i].hi;
        parts[2 * i + 1] = r[i].lo;
    }
}

}  // extern "C"
