#!/usr/bin/env python3
"""Generates the constant tables of the Layer III quantiser (src/mp3/mp3_quant_tables.cpp) and
the n^(4/3) table of the vector power functions (src/frame/pow_tables.cpp).

  gen_mp3_quant_tables.py [src/mp3/mp3_quant_tables.cpp src/frame/pow_tables.cpp]

Tables, all in exact integer arithmetic (no double rounding anywhere):

  ppBitResvAvailbitCoef[5][3]         Q15 share of the reservoir a granule may draw, by the number
                                      of short-block granule-channels in the frame (row) and of
                                      channels whose next granule is short (column)
  _p16kHzLines_MPEG1_MP3[3]           first MDCT line at or above 16 kHz, 44.1 / 48 / 32 kHz
                                      (long band 21 starts there at 44.1 and 48 kHz)
  _pScalefactorSubdivideTable_MP3[23][2]  (region0_count, region1_count) by the first long band
                                      whose start reaches the end of the big values
  _pPsyRatio2IxStatistics_MP3[20]     Q31 ratio thresholds of the noise-shaping step estimate,
                                      geometric from 0.1744 (374521148) down to 0.001 (2147484)
  _pQStepMid_MP3[20]                  the step offsets (1/64 octave) that go with them
  _Power2_1_Div_4_Q29_MP3[3]          round(2^(k/4) 2^29), k = 1..3
  _BaseValue_MP3[256]                 floor(y^(3/4) + 0.4054) for y = 0..255
  _pQuantThreshold_MP3[8192]          entry n (1..8191): the smallest integer y with
                                      floor(y^(3/4) + 0.4054) >= n, i.e. ceil((n - 0.4054)^(4/3));
                                      entry 0 is 0. The quantiser evaluates the rounding of
                                      ISO/IEC 11172-3 Annex C exactly for every y from them.
  pTablePow43[8207]                   n^(4/3) rounded to nearest single precision, n = 0..8206

Standard library only.
"""
import cpp_emit as E
from hpmath import iroot, round_root

C_NUM, C_DEN = 4054, 10000  # the rounding offset 0.4054 of the quantiser

AVAIL_COEF = [[13107, 6554, 3277], [26214, 13107, 9830], [29491, 22938, 13107], [29491, 26214, 19661],
              [31130, 26214, 22938]]
LINES_16K = [418, 384, 576]
SUBDIVIDE = [(0, 0)] * 5 + [(0, 1), (1, 1), (1, 1), (1, 2), (2, 2), (2, 3), (2, 3), (3, 4), (3, 4), (3, 4), (4, 5),
                            (4, 5), (4, 6), (5, 6), (5, 6), (5, 7), (6, 7), (6, 7)]
RATIO_FIRST, RATIO_LAST = 374521148, 2147484
QSTEP_MID = [11, 91, 139, 174, 200, 223, 241, 257, 272, 285, 296, 307, 317, 326, 334, 342, 349, 356, 363, 369]
MAX_Q = 8191


def quant(y):
    """floor(y^(3/4) + 0.4054) exactly: n <= y^(3/4) + c  <=>  (n - c)^4 <= y^3 (n > c)."""
    n = iroot(y ** 3, 4)
    if (C_DEN * (n + 1) - C_NUM) ** 4 <= y ** 3 * C_DEN ** 4:
        n += 1
    return n


def threshold(n):
    """The smallest integer y with quant(y) >= n: (n - c)^4 <= y^3, so y >= ((n - c)^4)^(1/3)."""
    a, b = (C_DEN * n - C_NUM) ** 4, C_DEN ** 4
    y = iroot(a // b, 3)
    while y ** 3 * b < a:
        y += 1
    return y


def ratio_thresholds():
    """Geometric between the two ends, in Q31 (the ends exact)."""
    from decimal import Decimal, getcontext
    getcontext().prec = 50
    first, last = Decimal(RATIO_FIRST), Decimal(RATIO_LAST)
    step = (last / first) ** (Decimal(1) / 19)
    vals = [int((first * step ** i).to_integral_value()) for i in range(20)]
    vals[0], vals[19] = RATIO_FIRST, RATIO_LAST
    return vals


def pow43_single(n):
    """n^(4/3) rounded to binary32: m 2^q with m the rounded 24-bit significand."""
    if n == 0:
        return 0.0
    e = ((n ** 4).bit_length() - 1) // 3  # floor(log2 n^(4/3))
    q = e - 23
    num, den = (n ** 4, 1 << (3 * q)) if q >= 0 else (n ** 4 << (-3 * q), 1)
    return float(round_root(num, den, 3)) * 2.0 ** q


def render():
    thr = [0] + [threshold(n) for n in range(1, MAX_Q + 1)]
    # Every threshold brackets the rounding exactly: quant() steps to n at thr[n], not before.
    for n in range(1, MAX_Q + 1, 97):
        assert quant(thr[n]) >= n and quant(thr[n] - 1) < n, n
    base = [quant(y) for y in range(256)]
    assert all(thr[base[y]] <= y < (thr[base[y] + 1] if base[y] < MAX_Q else 1 << 30) for y in range(1, 256))
    p2 = [round_root(1 << (29 * 4 + k), 1, 4) for k in (1, 2, 3)]  # round(2^(k/4) 2^29)

    out = E.stamp("gen_mp3_quant_tables.py", [
        "Constant tables of the Layer III quantiser and rate control (ISO/IEC 11172-3 Annex C.1.5.4)."])
    out += ['#include "mp3/mp3_quant.h"', ""]
    b = E.comment("Q15 share of the reservoir: row = short-block granule-channels of the frame (0..4),",
                  "column = channels whose next granule is short (0..2).")
    b += E.array("const Zuf16s ppBitResvAvailbitCoef[5][3]", AVAIL_COEF)
    b += [""] + E.comment("First line at or above 16 kHz (44.1, 48, 32 kHz).")
    b += E.array("const Zuf16s _p16kHzLines_MPEG1_MP3[3]", LINES_16K)
    b += [""] + E.comment("(region0_count, region1_count) by the first long band reaching 2 big_values (22: none).")
    b += E.array("const Zuf8u _pScalefactorSubdivideTable_MP3[23][2]", [list(p) for p in SUBDIVIDE], per_line=None)
    b += [""] + E.comment("Noise shaping: ratio thresholds (Q31, geometric from 0.1744 to 0.001) and the step",
                          "offsets (1/64 octave) of the ratios above them.")
    b += E.array("const Zuf32s _pPsyRatio2IxStatistics_MP3[20]", ratio_thresholds())
    b += E.array("const Zuf16s _pQStepMid_MP3[20]", QSTEP_MID)
    b += [""] + E.comment("round(2^(k/4) 2^29), k = 1, 2, 3.")
    b += E.array("const Zuf32s _Power2_1_Div_4_Q29_MP3[3]", p2)
    b += [""] + E.comment("floor(y^(3/4) + 0.4054), y = 0..255.")
    b += E.array("const Zuf16s _BaseValue_MP3[256]", base)
    b += [""] + E.comment("Entry n (1..8191): ceil((n - 0.4054)^(4/3)), the smallest y that quantises to n or more.")
    b += E.array("const Zuf32s _pQuantThreshold_MP3[8192]", thr)
    quant_cpp = E.text(out + E.namespace("zuf", b))

    out = E.stamp("gen_mp3_quant_tables.py", ["n^(4/3) rounded to nearest single precision, n = 0..8206."])
    out += ['#include "frame/pow_tables.h"', ""]
    body = E.array("alignas(16) const float pTablePow43[8207]", [E.hex_float(pow43_single(n)) for n in range(8207)])
    pow_cpp = E.text(out + E.namespace("zuf", body))
    return [quant_cpp, pow_cpp]


if __name__ == "__main__":
    E.run(render, __doc__)
