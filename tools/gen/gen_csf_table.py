#!/usr/bin/env python3
"""Generates src/frame/csf_tables.cpp: t_csf, the quarter-power-of-two gain table of CalcSF.

Entry k (0..1023) is 2^((k - 512) / 4) rounded to nearest single precision, then +infinity and
three zeros pad the table to 1028 entries (the 1023 index mask never reaches them). AAC scale
factors (ISO/IEC 13818-7, 9.2/9.4) step the gain by 2^(1/4), which is why quarter powers.

The rounding is done in exact integer arithmetic (an integer fourth root), not through double
precision, so there is no double rounding: each value is m * 2^q with m the correctly rounded
24-bit (or, below 2^-126, subnormal) significand. Standard library only.

usage: gen_csf_table.py [src/frame/csf_tables.cpp]
"""
import cpp_emit as E
from hpmath import iroot

FLT_MANT = 24          # significand bits of binary32, hidden bit included
FLT_MIN_EXP = -126     # exponent of the smallest normal binary32
FLT_QUANTUM_MIN = -149 # exponent of the smallest subnormal: the spacing below 2^-126


def quarter_pow2_single(p):
    """2^(p/4) correctly rounded to binary32, as an exact Python float (p an integer)."""
    whole = p // 4                     # floor: 2^(p/4) lies in [2^whole, 2^(whole+1))
    q = max(whole - (FLT_MANT - 1), FLT_QUANTUM_MIN)  # spacing exponent of that binade
    # m = round(2^(p/4 - q)) = round((2^(p - 4q))^(1/4)); the root is irrational unless p is a
    # multiple of 4, so it is never a tie.
    n = 1 << (p - 4 * q)
    m = iroot(n, 4)
    if (2 * m + 1) ** 4 <= 16 * n:     # (m + 1/2)^4 <= n: round up
        m += 1
    return float(m) * 2.0 ** q


def render():
    vals = [quarter_pow2_single(k - 512) for k in range(1024)]
    out = E.stamp("gen_csf_table.py", [
        "t_csf[k] = 2^((k - 512) / 4) rounded to single precision, for k = 0..1023, followed by",
        "+infinity and three zeros. CalcSF indexes it with (scale factor - offset - 512) & 1023:",
        "the quarter-power steps of the AAC scale factors (ISO/IEC 13818-7, 9.4)."])
    out += ['#include "frame/csf_tables.h"', ""]
    body = E.array("alignas(16) const float t_csf[kCsfTableLen]",
                   [E.hex_float(v) for v in vals] + ["__builtin_huge_valf()", "0.0f", "0.0f", "0.0f"], per_line=4)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
