// The rules of the core's constant tables, evaluated by the compiler: the
// tables are data in the library, computed while it is built, for any
// target (a cross or WebAssembly build needs no program run at build time).
// Internal to the core.
#ifndef NR_TABLE_RULES_H
#define NR_TABLE_RULES_H

namespace nr_rules {

constexpr double kPi = 3.141592653589793116;  // pi rounded to double, as M_PI

// cos(x) in double for 0 <= x <= 2 pi, within an ulp: x = k pi/2 + r with
// |r| <= pi/4 (pi/2 in three parts, so r is exact to far below an ulp),
// then Taylor series to r^22 and r^23, whose omitted terms are below 2^-70.
constexpr double cos_of(double x) {
    const double pio2_1 = 1.57079632673412561417e+00;  // first 33 bits of pi/2
    const double pio2_2 = 6.07710050650619224932e-11;  // next 33 bits
    const double pio2_3 = 2.02226624879595063154e-21;  // the rest
    int k = static_cast<int>(x / (kPi / 2) + 0.5);
    const double r = ((x - k * pio2_1) - k * pio2_2) - k * pio2_3;
    const double r2 = r * r;
    double c = 0.0, s = 0.0, term_c = 1.0, term_s = r;
    for (int i = 0; i <= 11; ++i) {
        c += term_c;
        s += term_s;
        term_c *= -r2 / ((2 * i + 1) * (2 * i + 2));
        term_s *= -r2 / ((2 * i + 2) * (2 * i + 3));
    }
    switch (k & 3) {
        case 0: return c;
        case 1: return -s;
        case 2: return -c;
        default: return s;
    }
}

// Entry k of the FFT's quarter-wave cosine segment of size n: cos(2 pi k /
// n) rounded to float, the quarter turn exactly 0.
constexpr float quarter_cos(unsigned n, unsigned k) {
    return k == n / 4 ? 0.0f : static_cast<float>(cos_of(2.0 * kPi * k / n));
}

// The twiddle e^{-j 2 pi index / n} as (wr, wi), wi the sine, read from the
// quarter-wave segment: sin(x) is the segment read backwards.
constexpr void twiddle(unsigned n, unsigned index, float *wr, float *wi) {
    if (index <= n / 4) {
        *wr = quarter_cos(n, index);
        *wi = quarter_cos(n, n / 4 - index);
    } else {
        *wr = -quarter_cos(n, n / 2 - index);
        *wi = quarter_cos(n, index - n / 4);
    }
}

// Entry i of the periodic Hann window of length n: 0.5 - 0.5 cos(2 pi i / n)
// in double, rounded once.
constexpr float hann(unsigned n, unsigned i) {
    return static_cast<float>(0.5 - 0.5 * cos_of(2.0 * kPi * i / n));
}

}  // namespace nr_rules

#endif
