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


def table(comment, name, values):
    print(f"// {comment}")
    print(f"const DD {name}[{len(values)}] = {{")
    for v in values:
        print(f"    {dd(v)},")
    print("};")


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
table("atan(j / 64), j = 0 .. 64", "kAtanSixtyFourths", [mpmath.atan(mpmath.mpf(j) / 64) for j in range(65)])


table("(-1)^k / (2k + 1), k = 1 .. 8", "kAtanSeries",
      [mpmath.mpf((-1) ** k) / (2 * k + 1) for k in range(1, 9)])
table("(-1)^k / (2k + 1)!, k = 1 .. 14", "kSinSeries",
      [mpmath.mpf((-1) ** k) / mpmath.factorial(2 * k + 1) for k in range(1, 15)])
table("(-1)^k / (2k)!, k = 1 .. 15", "kCosSeries",
      [mpmath.mpf((-1) ** k) / mpmath.factorial(2 * k) for k in range(1, 16)])
table("1 / n!, n = 2 .. 23", "kExpSeries", [1 / mpmath.factorial(n) for n in range(2, 24)])
l1, rest = split_bits(mpmath.log(2), 44)
l2, rest = split_bits(rest, 44)
print("// ln 2 = kLn2[0] + kLn2[1] + kLn2[2], the first two of 44 bits")
print(f"const double kLn2[3] = {{{float(l1).hex()}, {float(l2).hex()}, {float(rest).hex()}}};")
print(f"const double kInvLn2 = {float(1 / mpmath.log(2)).hex()};")
