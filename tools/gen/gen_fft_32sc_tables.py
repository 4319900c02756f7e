#!/usr/bin/env python3
"""Generates src/transforms/fft_32sc_tables.cpp: the twiddle and bit-reversal tables of the
fixed-point split-radix FFT of the AAC filter bank, for 64 points (order 6) and 512 points
(order 9).

pFFTtables: for theta = 2 pi / M and k = 1 .. M/8 - 1, four blocks of M/8 - 1 values:
cos(k theta), cos(3k theta), sin(k theta), sin(3k theta), Q30 rounded.

pRevTable: bit-reversal swap lists for M points, as bytes. First, pairs (a, b) of even indices
below M/2 with b = bitrev(a) > a, closed by one 0 byte; each pair stands for four complex swaps
a <-> b, a+1 <-> b+M/2, a+M/2 <-> b+1, a+M/2+1 <-> b+M/2+1. Then the even indices a below M/2
with bitrev(a) = a, in decreasing order so that the list ends with a = 0 (a value <= 0 is the
last entry); each stands for the swap a+1 <-> a+M/2.

usage: gen_fft_32sc_tables.py [src/transforms/fft_32sc_tables.cpp]
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import PI, sin, cos, rint


def fft_table(m):
    theta = 2 * PI / m
    ks = range(1, m // 8)
    q30 = lambda x: rint(x * (1 << 30))
    return ([q30(cos(k * theta)) for k in ks] + [q30(cos(3 * k * theta)) for k in ks] +
            [q30(sin(k * theta)) for k in ks] + [q30(sin(3 * k * theta)) for k in ks])


def bitrev(i, bits):
    return int(format(i, f"0{bits}b")[::-1], 2)


def rev_table(m):
    bits = m.bit_length() - 1
    pairs, fixed = [], []
    for a in range(0, m // 2, 2):
        b = bitrev(a, bits)
        if b > a:
            pairs += [a, b]
        elif b == a:
            fixed.append(a)
    out = pairs + [0] + sorted(fixed, reverse=True)
    assert out[-1] == 0 and max(out) < 256
    # The lists must describe the full permutation.
    perm = list(range(m))
    it = iter(pairs)
    for a, b in zip(it, it):
        for x, y in ((a, b), (a + 1, b + m // 2), (a + m // 2, b + 1), (a + m // 2 + 1, b + m // 2 + 1)):
            perm[x], perm[y] = perm[y], perm[x]
    for a in fixed:
        perm[a + 1], perm[a + m // 2] = perm[a + m // 2], perm[a + 1]
    assert perm == [bitrev(i, bits) for i in range(m)]
    return out


def render():
    out = E.stamp("gen_fft_32sc_tables.py", [
        "Twiddles and bit-reversal swap lists of the fixed-point split-radix FFT, 64 and 512 points."])
    out += ['#include "transforms/fft_32sc.h"', ""]
    body = []
    for name, m in (("1", 64), ("2", 512)):
        t = fft_table(m)
        body += [f"// {m} points, theta = 2 pi / {m}, k = 1..{m // 8 - 1}: cos(k theta), cos(3k theta),"
                 f" sin(k theta), sin(3k theta), Q30."]
        body += E.array(f"const Zuf32s pFFTtables{name}[{len(t)}]", t) + [""]
    for name, m in (("1", 64), ("2", 512)):
        r = rev_table(m)
        body += [f"// Bit reversal of {m} points: swap pairs closed by 0, then the self-reversed indices down to 0."]
        body += E.array(f"const Zuf8u pRevTable{name}[{len(r)}]", r) + [""]
    out += E.namespace("zuf", body[:-1])
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
