#!/usr/bin/env python3
"""Generates src/sbr/mp3_pqmf_tables.cpp: the tables of the float polyphase banks of ISO/IEC 11172-3.

Inputs: data/mp3_analysis_window_C.txt (Table 3-C.1, C[0..511]) and data/mp3_synthesis_window_D.txt
(Table 3-B.3, D[0..511]), nine decimals each, converted to the nearest binary32. Outputs (internal,
namespace zuf::sbr, all binary32):

  mp3enc_Ccoef[512]      the analysis window, grouped for four outputs per step: entry
                         32 g + 4 j + l holds C[4 g + l + 64 j] (g = 0..15 a group of four
                         window outputs Y[4g .. 4g+3], j = 0..7 the tap, l the lane).
  pMp3MatrixCos[1024]    entry 32 m + i = cos((2i + 1) m pi / 64), m, i = 0..31: the 32-point
                         inverse DCT of the analysis matrixing (rows m, four outputs i per step).
  pMp3SynthCos[1024]     entry 32 k + m = cos(m (2k + 1) pi / 64), k, m = 0..31: the 32-point DCT of
                         the synthesis matrixing (rows k, four outputs m per step).
  pMp3SynthWinFold[512]  the synthesis window folded onto the stored half-blocks: entry
                         64 (j / 4) + 4 a + j % 4 is the factor of output j for the block of age a
                         (a = 0 the newest; four outputs side by side):
                         even a = 2i: s(j) D[64 i + j] with s = +1 (j < 16), 0 (j = 16), -1 (j > 16);
                         odd a = 2i + 1: -D[64 i + 32 + j].
The cosines are evaluated at 60 digits (hpmath) and rounded once.

usage: gen_mp3_pqmf_tables.py [src/sbr/mp3_pqmf_tables.cpp]
"""
from decimal import Decimal
from fractions import Fraction
import struct

import cpp_emit as E
import hpmath as H


def to_f32(x):
    """Nearest binary32 of the exact value x (ties to even), via its neighbours."""
    x = Fraction(x)
    f = struct.unpack("<f", struct.pack("<f", float(x)))[0]
    bits = struct.unpack("<I", struct.pack("<f", f))[0]
    best = f
    for nb in (bits - 1, bits + 1):
        if 0 <= nb < 2**32 and (nb & 0x7F800000) != 0x7F800000:
            g = struct.unpack("<f", struct.pack("<I", nb))[0]
            if abs(Fraction(g) - x) < abs(Fraction(best) - x):
                best = g
    return best


def window(name):
    vals = [Decimal(r[0]) for r in E.read_records(name)]
    assert len(vals) == 512
    return vals


def cos64(p):
    """cos(p pi / 64) as binary32; exact zeros and ones at multiples of pi / 2."""
    p %= 128
    if p % 32 == 0:
        return [1.0, 0.0, -1.0, 0.0][p // 32]
    return to_f32(H.cos(H.PI * p / 64))


def render():
    c = window("mp3_analysis_window_C.txt")
    d = window("mp3_synthesis_window_D.txt")
    assert abs(c[1] - Decimal("-0.000000477")) < Decimal("1e-12") and d[256] == Decimal("1.144989014")
    ccoef = [0.0] * 512
    for g in range(16):
        for j in range(8):
            for l in range(4):
                ccoef[32 * g + 4 * j + l] = to_f32(c[4 * g + l + 64 * j])
    mcos = [cos64((2 * i + 1) * m) for m in range(32) for i in range(32)]
    scos = [cos64(m * (2 * k + 1)) for k in range(32) for m in range(32)]
    fold = [0.0] * 512
    for j in range(32):
        s = 1 if j < 16 else (0 if j == 16 else -1)
        for a in range(16):
            i = a // 2
            v = to_f32(s * d[64 * i + j]) if a % 2 == 0 else to_f32(-d[64 * i + 32 + j])
            fold[64 * (j // 4) + 4 * a + j % 4] = v
    out = E.stamp("gen_mp3_pqmf_tables.py", [
        "Windows and matrixing cosines of the float polyphase filter banks of ISO/IEC 11172-3",
        "(Tables 3-C.1 and 3-B.3), arranged for four outputs per step."])
    out += ['#include "sbr/mp3_pqmf_float.h"', ""]
    body = E.comment("C[4g + l + 64j] at 32g + 4j + l.")
    body += E.array("const Zuf32f mp3enc_Ccoef[512]", ccoef, E.hex_float)
    body += [""] + E.comment("cos((2i + 1) m pi / 64) at 32m + i.")
    body += E.array("const Zuf32f pMp3MatrixCos[1024]", mcos, E.hex_float)
    body += [""] + E.comment("cos(m (2k + 1) pi / 64) at 32k + m.")
    body += E.array("const Zuf32f pMp3SynthCos[1024]", scos, E.hex_float)
    body += [""] + E.comment("At 64(j/4) + 4a + j%4: s(j) D[64(a/2) + j] (even a), -D[64(a/2) + 32 + j] (odd a).")
    body += E.array("const Zuf32f pMp3SynthWinFold[512]", fold, E.hex_float)
    out += E.namespace("zuf::sbr", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
