#!/usr/bin/env python3
"""Generates src/transforms/fft_tables.cpp: fft_fix_twiddle_table_32f, the twiddles of the
1024-point transform that every float FFT up to 1024 points steps through.

Entry k (0..1023) is the pair cos(2 pi k / 1024), sin(2 pi k / 1024), each rounded to nearest
single precision. Only the first octant is evaluated (in exact rational arithmetic through
Python's correctly rounded float conversion of a high-precision Taylor sum); the rest follows
from the exact symmetries of sine and cosine, so the table is exactly symmetric.

usage: gen_fft_tables.py [src/transforms/fft_tables.cpp]
"""
from fractions import Fraction

import cpp_emit as E

N = 1024
PREC = 200  # bits of the fixed-point evaluation; far beyond what float rounding needs


def pi_fixed(bits):
    """pi * 2^bits, truncated, from Machin's formula in integer arithmetic."""
    one = 1 << (bits + 20)

    def atan_inv(x):
        total, term, k, sign = 0, one // x, 1, 1
        while term:
            total += sign * (term // k)
            term //= x * x
            k += 2
            sign = -sign
        return total

    return (16 * atan_inv(5) - 4 * atan_inv(239)) >> 20


PI = pi_fixed(PREC)


def cos_sin_fixed(k):
    """cos and sin of 2 pi k / N as integers scaled by 2^PREC (Taylor series, |angle| <= pi/4)."""
    one = 1 << PREC
    x = (2 * PI * k) // N  # angle * 2^PREC
    c, s = one, x
    term_c, term_s = one, x
    n = 1
    while term_c or term_s:
        term_c = -(term_c * x * x >> (2 * PREC)) // ((2 * n - 1) * (2 * n))
        term_s = -(term_s * x * x >> (2 * PREC)) // ((2 * n) * (2 * n + 1))
        c += term_c
        s += term_s
        n += 1
    return c, s


def to_single(v_fixed):
    """Round v / 2^PREC to nearest binary32 (the double in between is exact enough: it holds
    53 bits, and the pack to 'f' rounds once more only when the 53-bit value is itself rounded,
    so round from the exact rational directly)."""
    q = Fraction(v_fixed, 1 << PREC)
    if q == 0:
        return 0.0
    # Exponent of q, then round the 24-bit significand half to even.
    sign = -1 if q < 0 else 1
    q = abs(q)
    e = 0
    while q >= 2:
        q /= 2
        e += 1
    while q < 1:
        q *= 2
        e -= 1
    m = q * (1 << 23)
    mi = int(m)
    frac = m - mi
    if frac > Fraction(1, 2) or (frac == Fraction(1, 2) and mi % 2 == 1):
        mi += 1
    return sign * float(mi) * 2.0 ** (e - 23)


def octant():
    """cos, sin of 2 pi k / N for k = 0..N/8 as binary32 values."""
    return [tuple(to_single(v) for v in cos_sin_fixed(k)) for k in range(N // 8 + 1)]


def table():
    oc = octant()
    q = N // 4
    out = []
    for k in range(N):
        j = k % q                  # position within the quadrant
        if j <= N // 8:
            c, s = oc[j]
        else:
            s, c = oc[q - j]       # cos(pi/2 - a) = sin(a)
        quadrant = k // q          # rotate by multiples of pi/2
        for _ in range(quadrant):
            c, s = -s, c
        out.append((c + 0.0, s + 0.0))  # no negative zeros
    return out


def render():
    out = E.stamp("gen_fft_tables.py", [
        "fft_fix_twiddle_table_32f[2k], [2k + 1] = cos(2 pi k / 1024), sin(2 pi k / 1024) rounded",
        "to single precision, k = 0..1023: every float FFT of up to 1024 points takes its twiddles",
        "from here, stepping by 1024 / N."])
    out += ['#include "transforms/fft_internal.h"', ""]
    pairs = [v for cs in table() for v in cs]
    body = E.array("alignas(32) const float fft_fix_twiddle_table_32f[2 * 1024]", pairs, E.hex_float, per_line=4)
    out += E.namespace("zuf::xf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
