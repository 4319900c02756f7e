#!/usr/bin/env python3
"""Generates src/aac/aac_filterbank_tables.cpp: the windows and the pre/post-rotation twiddles
of the AAC synthesis filter bank (ISO/IEC 13818-7 15.3, ISO/IEC 14496-3 4.6.11).

Windows, Q31, the rising half of a window of length L (entry n, n = 0 .. L/2 - 1):
  sine:  sin(pi (n + 1/2) / L)
  KBD:   sqrt( sum_{p=0}^{n} W'(p) / sum_{p=0}^{L/2} W'(p) ),
         W'(p) = I0(pi alpha sqrt(1 - ((p - L/4) / (L/4))^2)), alpha 4 for L = 2048, 6 for L = 256
Twiddles, Q30 pairs (cos, sin) of e^(j 2 pi (i + 1/8) / N') for N' = 2048 (512 pairs) and
N' = 256 (64 pairs).
All values are the exact real values (60-digit decimal arithmetic) rounded to the nearest integer.

usage: gen_aac_filterbank_tables.py [src/aac/aac_filterbank_tables.cpp]
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import PI, sin, cos, sqrt, bessel_i0, rint


def q(x, bits):
    return min(rint(x * (1 << bits)), 0x7FFFFFFF)


def sine_window(length):
    return [q(sin(PI * (n + Decimal("0.5")) / length), 31) for n in range(length // 2)]


def kbd_window(length, alpha):
    quarter = Decimal(length // 4)
    kernel = []
    for p in range(length // 2 + 1):
        r = (Decimal(p) - quarter) / quarter
        kernel.append(bessel_i0(PI * alpha * sqrt(max(Decimal(0), 1 - r * r))))
    total = sum(kernel)
    out, acc = [], Decimal(0)
    for n in range(length // 2):
        acc += kernel[n]
        out.append(q(sqrt(acc / total), 31))
    return out


def twiddles(nprime):
    out = []
    for i in range(nprime // 4):
        a = 2 * PI * (i + Decimal(1) / 8) / nprime
        out += [q(cos(a), 30), q(sin(a), 30)]
    return out


def render():
    tables = [
        ("pWinSINLong", sine_window(2048), "sine window, length 2048"),
        ("pWinSINShort", sine_window(256), "sine window, length 256"),
        ("pWinKBDLong", kbd_window(2048, 4), "KBD window, alpha 4, length 2048"),
        ("pWinKBDShort", kbd_window(256, 6), "KBD window, alpha 6, length 256"),
    ]
    out = E.stamp("gen_aac_filterbank_tables.py", [
        "Windows and pre/post-rotation twiddles of the AAC filter bank (ISO/IEC 13818-7 15.3)."])
    out += ['#include "aac/aac_filterbank_tables.h"', ""]
    body = []
    for name, vals, what in tables:
        body += [f"// Rising half of the {what}, Q31."]
        body += E.array(f"alignas(16) const Zuf32s {name}[{len(vals)}]", vals) + [""]
    for name, nprime in (("pTwidlTables2", 2048), ("pTwidlTables1", 256)):
        t = twiddles(nprime)
        body += [f"// (cos, sin) of 2 pi (i + 1/8) / {nprime}, i = 0..{nprime // 4 - 1}, Q30."]
        body += E.array(f"alignas(16) const Zuf32s {name}[{len(t)}]", t, per_line=8) + [""]
    out += E.namespace("zuf", body[:-1])
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
