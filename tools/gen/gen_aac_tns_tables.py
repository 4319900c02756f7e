#!/usr/bin/env python3
"""Generates src/aac/aac_tns_tables.cpp: the dequantised TNS reflection coefficients of
ISO/IEC 13818-7 8.8 (tns_decode_coef), Q31, and the TNS band limits.

Row coef_res - 3, column t + 8 for the index t = -8..7. Inside the range of the resolution the
entry is sin(t / iqfac) (t >= 0) or sin(t / iqfac_m) (t < 0) with iqfac = (2^(res-1) - 1/2) /
(pi/2) and iqfac_m = (2^(res-1) + 1/2) / (pi/2). The 3-bit row also answers the indices
outside -4..3, which a 3-bit field cannot code but the decoder accepts: they mirror the valid
ones (t = 4..7 reads 7 - t, t = -8..-5 reads -9 - t).

usage: gen_aac_tns_tables.py [src/aac/aac_tns_tables.cpp]
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import PI, sin, rint


# Standard data, not a formula.
MAX_BANDS = [(31, 9), (31, 9), (34, 10), (40, 14), (42, 14), (51, 14), (46, 14), (46, 14),
             (42, 14), (42, 14), (42, 14), (39, 14)]


def coef(t, res):
    half = 1 << (res - 1)
    den = (half - 0.5) if t >= 0 else (half + 0.5)
    return rint(sin(Decimal(t) * (PI / 2) / Decimal(den)) * (1 << 31))


def render():
    rows = []
    for res in (3, 4):
        lo, hi = -(1 << (res - 1)), (1 << (res - 1)) - 1
        row = []
        for t in range(-8, 8):
            if t > hi:
                t = 2 * hi + 1 - t
            elif t < lo:
                t = 2 * lo - 1 - t
            row.append(coef(t, res))
        rows.append(row)
    assert rows[0][0] == -734482665 and rows[0][9] == 931758235 and rows[1][0] == -2138322861
    assert rows[1][15] == 2135719508

    out = E.stamp("gen_aac_tns_tables.py", [
        "Dequantised TNS reflection coefficients (ISO/IEC 13818-7 8.8) and the TNS band limits."])
    out += ['#include "aac/aac_tns_tables.h"', ""]
    body = ["// Row coef_res - 3, column t + 8: dequantised reflection coefficient of index t, Q31",
            "// (3-bit row: indices outside -4..3 mirror the coded range)."]
    body += E.array("const Zuf32s pIQTns[2][16]", rows, per_line=8)
    body += ["", "// TNS_MAX_BANDS of the LC profile (ISO/IEC 13818-7 8.8), per",
             "// sampling_frequency_index: (long windows, short windows)."]
    body += E.array("const Zuf32s _pAACTnsMaxBandTable[12][2]", [f"{{{a}, {b}}}" for a, b in MAX_BANDS], per_line=6)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
