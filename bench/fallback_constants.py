#!/usr/bin/env python3
"""Prints the constants of Src/kernels/fallback.cpp, computed with mpmath at
600 bits: python3 bench/fallback_constants.py. A double-double constant is
(hi, lo) with hi = the value rounded to double and lo = the rest rounded."""
from fractions import Fraction

import mpmath

mpmath.mp.prec = 600


def exact(value):
    if isinstance(value, Fraction):
        return value
    sign, man, exp, _ = mpmath.mpf(value)._mpf_
    return (-1) ** sign * Fraction(int(man)) * Fraction(2) ** int(exp)


def dd(value):
    exact_value = exact(value)
    hi = float(exact_value)             # Python rounds a Fraction to nearest
    lo = float(exact_value - Fraction(hi))
    return f"{{{hi.hex()}, {lo.hex()}}}"


def split_bits(value, bits):
    """value rounded to `bits` significant bits, as a double, and the rest."""
    exact_value = exact(value)
    e = mpmath.floor(mpmath.log(abs(mpmath.mpf(exact_value.numerator) / exact_value.denominator), 2))
    scale = Fraction(2) ** (bits - 1 - int(e))
    head = Fraction(round(exact_value * scale)) / scale
    return head, exact_value - head


print("// 2/pi, 32 bits a word, after a word of zeros")
two_over_pi = mpmath.mpf(2) / mpmath.pi
words = ["0x00000000u"]
frac = exact(two_over_pi)
for _ in range(13):
    frac *= 2 ** 32
    w = int(frac)
    frac -= w
    words.append(f"0x{w:08x}u")
print("const uint32_t kTwoOverPi[14] = {" + ", ".join(words) + "};")
print("const DD kHalfPi = " + dd(mpmath.pi / 2) + ";")
print("const DD kAtanSixtyFourths[65] = {")
for j in range(65):
    print("    " + dd(mpmath.atan(mpmath.mpf(j) / 64)) + ",")
print("};")
print("// (-1)^k / (2k + 1), k = 1 .. 8")
print("const DD kAtanSeries[8] = {" + ", ".join(dd(mpmath.mpf((-1) ** k) / (2 * k + 1)) for k in range(1, 9)) + "};")
print("// (-1)^k / (2k + 1)!, k = 1 .. 14")
print("const DD kSinSeries[14] = {" + ", ".join(dd(mpmath.mpf((-1) ** k) / mpmath.factorial(2 * k + 1)) for k in range(1, 15)) + "};")
print("// (-1)^k / (2k)!, k = 1 .. 15")
print("const DD kCosSeries[15] = {" + ", ".join(dd(mpmath.mpf((-1) ** k) / mpmath.factorial(2 * k)) for k in range(1, 16)) + "};")
print("// 1 / n!, n = 2 .. 23")
print("const DD kExpSeries[22] = {" + ", ".join(dd(1 / mpmath.factorial(n)) for n in range(2, 24)) + "};")
l1, rest = split_bits(mpmath.log(2), 44)
l2, rest = split_bits(rest, 44)
print("// ln 2 = kLn2[0] + kLn2[1] + kLn2[2], the first two of 44 bits")
print(f"const double kLn2[3] = {{{float(l1).hex()}, {float(l2).hex()}, {float(rest).hex()}}};")
print(f"const double kInvLn2 = {float(1 / mpmath.log(2)).hex()};")
