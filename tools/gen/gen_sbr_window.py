#!/usr/bin/env python3
"""Generates src/sbr/sbr_window_tables.cpp: the SBR QMF prototype window in every exported format.

Input: data/sbr_qmf_window_640.txt, the 640 coefficients c[0..639] of ISO/IEC 14496-3
Table 4.A.87 with the 10 decimal places the standard prints. Outputs (exported, read-only):
  SBR_TAB_QMF_WINDOW_640_FP          c[n] as binary32, rounded to nearest from the decimal value;
  SBR_TABLE_QMF_WINDOW_640_INT_Q30   c[n] * 2^30, rounded to nearest (ties away from zero);
  SBR_TABLE_QMF_WINDOW_640_INT_Q31   c[n] * 2^31, likewise (|c| < 1, so it fits);
  SBR_TABLE_QMF_WINDOW_320_INT_Q30   c[2n] * 2^30, n = 0..319 (the 32-band banks' window);
  SBR_TABLE_QMF_WINDOW_320_INT_Q31   c[2n] * 2^31.
The decimal value is converted exactly (Fraction), so no double rounding enters.

usage: gen_sbr_window.py [src/sbr/sbr_window_tables.cpp]
"""
from fractions import Fraction

import cpp_emit as E
from hpmath import f32


def window():
    vals = [Fraction(r[0]) for r in E.read_records("sbr_qmf_window_640.txt")]
    assert len(vals) == 640 and vals[0] == 0 and max(vals) == Fraction("0.8537385600")
    for n in range(1, 320):
        sign = -1 if n in (128, 256) else 1
        assert vals[640 - n] == sign * vals[n], n
    return vals


def q(x, bits):
    v = x * (1 << bits)
    r = int(abs(v) + Fraction(1, 2))
    r = -r if v < 0 else r
    assert -2**31 <= r < 2**31
    return r


def render():
    c = window()
    out = E.stamp("gen_sbr_window.py", [
        "The 640-tap SBR QMF prototype window of ISO/IEC 14496-3 (Table 4.A.87) as float, Q30 and Q31,",
        "and its even-indexed half c[2n] for the 32-band banks."])
    out += ['#include "zufack9/zuf_sbr.h"', ""]
    body = E.comment("c[n], binary32.")
    body += E.array("extern \"C\" ZUF_API const Zuf32f SBR_TAB_QMF_WINDOW_640_FP[640]", [f32(v) for v in c], E.hex_float)
    for bits in (30, 31):
        body += [""] + E.comment(f"c[n] * 2^{bits}, rounded.")
        body += E.array(f"extern \"C\" ZUF_API const Zuf32s SBR_TABLE_QMF_WINDOW_640_INT_Q{bits}[640]", [q(v, bits) for v in c])
    for bits in (30, 31):
        body += [""] + E.comment(f"c[2n] * 2^{bits}, n = 0..319, rounded.")
        body += E.array(f"extern \"C\" ZUF_API const Zuf32s SBR_TABLE_QMF_WINDOW_320_INT_Q{bits}[320]", [q(v, bits) for v in c[::2]])
    out += body
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
