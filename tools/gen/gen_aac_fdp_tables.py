#!/usr/bin/env python3
"""Generates src/aac/aac_fdp_tables.cpp: the reciprocal tables of the backward-adaptive
predictor of the AAC Main profile (ISO/IEC 13818-7 prediction), with which b / var is formed
from the upper 16 bits of a positive float var = (1 + m/128) 2^(e - 127):

  ao_mnt_table[m] = b / (1 + m/128), b = 0.953125, rounded to 8 significant bits (to nearest,
                    ties away from zero: the rounding of the predictor's 16-bit floats)
  ao_exp_table[e] = 2^(127 - e) for 128 <= e <= 254; 0 for e <= 127 (var below 2.0) and e = 255

Both are exact binary32 values, written as hex-float literals.

usage: gen_aac_fdp_tables.py [src/aac/aac_fdp_tables.cpp]
"""
from fractions import Fraction

import cpp_emit as E

B = Fraction(61, 64)  # 0.953125


def round_sig(v, bits):
    """v > 0 rounded to `bits` significant bits, ties away from zero (exact rational)."""
    e = 0
    while v >= 2:
        v, e = v / 2, e + 1
    while v < 1:
        v, e = v * 2, e - 1
    q = v * (1 << (bits - 1))
    n = int(q)
    if q - n >= Fraction(1, 2):
        n += 1
    return Fraction(n, 1 << (bits - 1)) * Fraction(2) ** e


def render():
    mnt = [round_sig(B / (1 + Fraction(m, 128)), 8) for m in range(128)]
    assert mnt[0] == B and mnt[1] == Fraction(121, 128) and mnt[127] == Fraction(245, 512)
    exp = [Fraction(2) ** (127 - e) if 128 <= e <= 254 else Fraction(0) for e in range(256)]
    out = E.stamp("gen_aac_fdp_tables.py", ["Reciprocal tables of the AAC Main-profile predictor."])
    out += ['#include "aac/aac_fdp_tables.h"', ""]
    body = ["// Entry m: 0.953125 / (1 + m / 128) rounded to 8 significant bits."]
    body += E.array("const Zuf32f ao_mnt_table[128]", [float(v) for v in mnt], E.hex_float)
    body += ["", "// Entry e: 2^(127 - e) for 128 <= e <= 254, else 0."]
    body += E.array("const Zuf32f ao_exp_table[256]", [float(v) for v in exp], E.hex_float)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
