#!/usr/bin/env python3
"""Generates src/sbr/sbr_qmf_fixed_tables.cpp: the Q30 rotation factors of the fixed-point SBR QMF
banks (ISO/IEC 14496-3, 4.6.18.4), every value round(x * 2^30).

Layout: complex tables hold (re, im) pairs, entry n at [2n], [2n + 1]. With w = pi / 256:
  pTabPreProc_CosSin_DCT4_64_32s   n = 0..31: cos((4n+1) w), -sin((4n+1) w)   HQ analysis, before the FFT
  pTabPostProc_CosSin_DCT4_64_32s  m = 0..31: cos(4m w), -sin(4m w)           HQ analysis, after the FFT
  pTabPreProc_QMFA_LPmode          n = 0..63: exp(i (3 pi/4 - 4n w))           LP analysis
  cos4sin4tab64                    i = 0..15, a = (4i+1) w, b = (4i+3) w: cos a + sin a, sin a,
                                   cos b + sin b, cos b                        HQ synthesis, three-multiply
  cos1sin1tab64                    j = 0..31: cos(4j w) + sin(4j w), sin(4j w) HQ synthesis, three-multiply
  pTabPreProc_QMFS_LPmode          k = 0..63: exp(i k pi/2)                    LP synthesis
  pTabPostProc_QMFS_LPmode         n = 0..127: exp(i (pi/4 - 2n w))           LP synthesis
  pTabPreProc_QMFSD_HQmode         k = 0..31: cos(2k w), -sin(2k w)            HQ down-sampled synthesis
  pTabPostProc_QMFSD_HQmode        n = 0..63: -exp(-i (4n+1) w)               HQ down-sampled synthesis
  pTabPreProc_QMFSD_LPmode         k = 0..31: exp(i k pi/2)                    LP down-sampled synthesis
  pTabPostProc_QMFSD_LPmode        n = 0..63: exp(i (pi/4 - 4n w))            LP down-sampled synthesis

usage: gen_sbr_qmf_fixed_tables.py [src/sbr/sbr_qmf_fixed_tables.cpp]
"""
import cpp_emit as E
from hpmath import PI, sin, cos, q

W = PI / 256


def q30(x):
    return q(x, 30)


def cexp(phi, scale=1):
    return [q30(scale * cos(phi)), q30(scale * sin(phi))]


def flat(rows):
    return [v for r in rows for v in r]


def tables():
    t = {}
    t["pTabPreProc_CosSin_DCT4_64_32s"] = flat([[q30(cos((4 * n + 1) * W)), q30(-sin((4 * n + 1) * W))]
                                                 for n in range(32)])
    t["pTabPostProc_CosSin_DCT4_64_32s"] = flat([[q30(cos(4 * m * W)), q30(-sin(4 * m * W))] for m in range(32)])
    t["pTabPreProc_QMFA_LPmode"] = flat([cexp(3 * PI / 4 - 4 * n * W) for n in range(64)])
    rows = []
    for i in range(16):
        a, b = (4 * i + 1) * W, (4 * i + 3) * W
        rows.append([q30(cos(a) + sin(a)), q30(sin(a)), q30(cos(b) + sin(b)), q30(cos(b))])
    t["cos4sin4tab64"] = flat(rows)
    t["cos1sin1tab64"] = flat([[q30(cos(4 * j * W) + sin(4 * j * W)), q30(sin(4 * j * W))] for j in range(32)])
    t["pTabPreProc_QMFS_LPmode"] = flat([cexp(k * PI / 2) for k in range(64)])
    t["pTabPostProc_QMFS_LPmode"] = flat([cexp(PI / 4 - 2 * n * W) for n in range(128)])
    t["pTabPreProc_QMFSD_HQmode"] = flat([[q30(cos(2 * k * W)), q30(-sin(2 * k * W))] for k in range(32)])
    t["pTabPostProc_QMFSD_HQmode"] = flat([cexp(-(4 * n + 1) * W, -1) for n in range(64)])
    t["pTabPreProc_QMFSD_LPmode"] = flat([cexp(k * PI / 2) for k in range(32)])
    t["pTabPostProc_QMFSD_LPmode"] = flat([cexp(PI / 4 - 4 * n * W) for n in range(64)])
    # The HQ analysis rotates its first value by the immediates 1073660973 (cos(pi/256), rounded, as
    # entry 0) and -13176463 (-sin(pi/256) truncated towards zero, one above entry 1).
    assert t["pTabPreProc_CosSin_DCT4_64_32s"][:2] == [1073660973, -13176464]
    for v in t.values():
        assert all(-2**31 <= x < 2**31 for x in v)
    return t


def render():
    out = E.stamp("gen_sbr_qmf_fixed_tables.py", [
        "Q30 rotation factors of the fixed-point SBR QMF banks: (re, im) pairs, or the (cos + sin, sin)",
        "forms of the three-multiplication rotations (see the generator's docstring for every angle)."])
    out += ['#include "sbr/sbr_qmf_fixed.h"', ""]
    body = []
    for name, vals in tables().items():
        body += E.array(f"const Zuf32s {name}[{len(vals)}]", vals, per_line=None) + [""]
    out += E.namespace("zuf", body[:-1])
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
