#!/usr/bin/env python3
"""Generates src/vq/spread_tables.cpp: the tables of the integer spreading function.

The spreading function of the ISO/IEC 13818-7 psychoacoustic model ends in 10^(v/10) for a
negative Q23 value v (dB). The power is taken from three bytes of v:
  own_ac_sprdngfPowTable0[j], 64 entries, Q31: 10^((j - 64) / 5), j = (v >> 24) & 63 (2 dB
      steps from -128 dB; the smallest entries round to 0);
  own_ac_sprdngfPowTable1[m], 256 entries, Q30: 10^(m / 1280), m = (v >> 16) & 255 (1/128 dB);
  own_ac_sprdngfPowTable2[m], 256 entries, Q30: 10^(m / 327680), m = (v >> 8) & 255 (1/32768 dB).
The square root of the Q23 argument (at least 1.0, below 2^31) is normalised into [2^30, 2^31)
by a left shift looked up from its top byte t = x >> 24:
  own_ac_sprdngfNorm[t], 128 entries: 6 - floor(log2 t) for t >= 1, and 7 for t = 0 (an argument
      of at least 2^23 has its leading one at bit 23 then).
Every power is rounded to nearest from 60-digit decimal arithmetic (hpmath). Standard library only.

usage: gen_spread_tables.py [src/vq/spread_tables.cpp]
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import q


def pow10(num, den):
    """10^(num/den) as a 60-digit Decimal."""
    return Decimal(10) ** (Decimal(num) / Decimal(den))


def render():
    pow0 = [q(pow10(j - 64, 5), 31) for j in range(64)]
    pow1 = [q(pow10(m, 1280), 30) for m in range(256)]
    pow2 = [q(pow10(m, 327680), 30) for m in range(256)]
    norm = [7] + [6 - (t.bit_length() - 1) for t in range(1, 128)]
    out = E.stamp("gen_spread_tables.py", [
        "10^(v/10) by bytes of a Q23 dB value v, and the normalisation shifts of the square root of the",
        "ISO/IEC 13818-7 spreading function (Q31 and Q30 powers of ten, rounded to nearest)."])
    out += ['#include "vq/spread_tables.h"', ""]
    body = E.comment("10^((j - 64) / 5), Q31.")
    body += E.array("const Zuf32s own_ac_sprdngfPowTable0[64]", pow0, per_line=8)
    body += [""] + E.comment("10^(m / 1280), Q30.")
    body += E.array("const Zuf32s own_ac_sprdngfPowTable1[256]", pow1, per_line=8)
    body += [""] + E.comment("10^(m / 327680), Q30.")
    body += E.array("const Zuf32s own_ac_sprdngfPowTable2[256]", pow2, per_line=8)
    body += [""] + E.comment("Left shift that brings an argument with top byte t (and at least 2^23) to [2^30, 2^31).")
    body += E.array("const Zuf8u own_ac_sprdngfNorm[128]", norm, per_line=32)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
