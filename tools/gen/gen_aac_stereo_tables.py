#!/usr/bin/env python3
"""Generates src/aac/aac_stereo_tables.cpp: the tables of intensity stereo and perceptual noise
substitution (ISO/IEC 13818-7 12.2, ISO/IEC 14496-3 4.6.13).

usage: gen_aac_stereo_tables.py [src/aac/aac_stereo_tables.cpp]
"""
import cpp_emit as E
from hpmath import round_root


def render():
    # Noise normalisation for a band of width w: 2^64 / 10^10 / sqrt(w) = sqrt(2^128 / (10^20 w)).
    norm = [round_root(1 << 128, 10 ** 20 * w, 2) for w in range(1, 97)]
    assert norm[0] == 1844674407
    # Intensity factors 2^(-(i+1)/4), Q31 = (2^(124 - (i+1)))^(1/4).
    is_sqrt = [round_root(1 << (124 - (i + 1)), 1, 4) for i in range(11)]
    assert is_sqrt == [1805811301, 1518500250, 1276901417, 1073741824, 902905651, 759250125,
                       638450708, 536870912, 451452825, 379625062, 319225354]
    # Quarter powers 2^(i/4), Q30. Entry 1 is stored as 1276901416, one below the rounded value
    # (exact 1276901416.78): the noise scale is defined with that word.
    pow_quarter = [round_root(1 << (120 + i), 1, 4) for i in range(4)]
    pow_quarter[1] -= 1
    assert pow_quarter == [1073741824, 1276901416, 1518500250, 1805811301]

    out = E.stamp("gen_aac_stereo_tables.py", ["Tables of intensity stereo and perceptual noise substitution."])
    out += ['#include "aac/aac_stereo_tables.h"', ""]
    body = ["// Entry w - 1: 2^64 / 10^10 / sqrt(w), rounded; noise of a band w values wide."]
    body += E.array("const Zuf32s _Tab_NormEnergy[96]", norm)
    body += ["", "// Entry i: 2^(-(i + 1) / 4), Q31, rounded."]
    body += E.array("const Zuf32s _pAacIsSqrt14_32s[11]", is_sqrt)
    body += ["", "// Entry i: 2^(i / 4), Q30 (entry 1 one below the rounded value, see the generator)."]
    body += E.array("const Zuf32s _TAB_PowQuater[4]", pow_quarter)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
