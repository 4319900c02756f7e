#!/usr/bin/env python3
"""Generates src/sbr/sbr_qmf_float_tables.cpp: the rotation factors of the float SBR QMF banks.

Every value is computed in double precision and rounded once to binary32 (ties to even).
Exported (read-only, extern "C"):
  cos4sin4tab64_HQ_SQMF_32f   64: for i = 0..15 the group cos a + sin a, sin a, cos b + sin b, cos b,
                              a = (4i+1) pi/256, b = (4i+3) pi/256 (three-multiplication rotations);
  cos1sin1tab34_HQ_SQMF_32f   34: for j = 0..16 the pair cos(j pi/64) + sin(j pi/64), sin(j pi/64).
Internal (namespace zuf), laid out for the four-lane kernels: "blocks of four" means four
consecutive indices of the first factor, then the same four of the second, and so on.
  tblPreProcCosSinDCT4_64_SIMD        64: -cos t_n, sin t_n, t_n = (4n+1) pi/256, n = 0..31, blocks of four;
  tblPostProcCosSinDCT4_32_SIMD       32: 2 cos(m pi/64), -2 sin(m pi/64), m = 0..15, blocks of four
                                      (even analysis bands 2m);
  tblPostProcCosSinDCT4_32_SIMD_Odd   32: the same for m + 1 (odd analysis bands 2m + 1);
  pScaleCoefs                          4: 8.0 (the fold of the real analysis);
  pScaleCoefsFirst                     4: 4 sqrt 2, 8, 8, 8 (its first group, where u[48] is added to itself);
  pTableSynthesisSinCos_32f           64: cos(k pi/64), -sin(k pi/64), k = 0..31, blocks of four
                                      (pre-rotation of the 64-band complex synthesis's two DCT-IVs);
  pTableCosSin_HQ_SQMF_32f            64: cos(t_n)/64, -sin(t_n)/64, t_n as above, blocks of four
                                      (their post-rotation, with the bank's scale 1/64);
  _tInSynthesisDown_HQ_32             64: exp(i pi k/128), k = 0..31, as re, im pairs;
  _tExSynthesisDown_HQ_64            128: -(1/64) exp(i pi (4n+1)/256), n = 0..63, as re, im pairs.

usage: gen_sbr_qmf_float_tables.py [src/sbr/sbr_qmf_float_tables.cpp]
"""
import math
import struct

import cpp_emit as E


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def blocks4(first, second):
    out = []
    for g in range(0, len(first), 4):
        out += first[g:g + 4] + second[g:g + 4]
    return out


def pairs(values):
    out = []
    for z in values:
        out += [z.real, z.imag]
    return out


def tables():
    pi = math.pi
    t = {}
    c4 = []
    for i in range(16):
        a, b = (4 * i + 1) * pi / 256, (4 * i + 3) * pi / 256
        c4 += [math.cos(a) + math.sin(a), math.sin(a), math.cos(b) + math.sin(b), math.cos(b)]
    t["c4"] = c4
    c1 = []
    for j in range(17):
        c1 += [math.cos(j * pi / 64) + math.sin(j * pi / 64), math.sin(j * pi / 64)]
    t["c1"] = c1
    th = [(4 * n + 1) * pi / 256 for n in range(32)]
    t["pre"] = blocks4([-math.cos(x) for x in th], [math.sin(x) for x in th])
    t["post"] = blocks4([2 * math.cos(m * pi / 64) for m in range(16)], [-2 * math.sin(m * pi / 64) for m in range(16)])
    t["post1"] = blocks4([2 * math.cos((m + 1) * pi / 64) for m in range(16)],
                         [-2 * math.sin((m + 1) * pi / 64) for m in range(16)])
    t["syn"] = blocks4([math.cos(k * pi / 64) for k in range(32)], [-math.sin(k * pi / 64) for k in range(32)])
    t["synpost"] = blocks4([math.cos(x) / 64 for x in th], [-math.sin(x) / 64 for x in th])
    t["in"] = pairs([complex(math.cos(pi * k / 128), math.sin(pi * k / 128)) for k in range(32)])
    t["ex"] = pairs([-complex(math.cos(pi * (4 * n + 1) / 256), math.sin(pi * (4 * n + 1) / 256)) / 64
                     for n in range(64)])
    return t


def render():
    t = tables()
    out = E.stamp("gen_sbr_qmf_float_tables.py", [
        "Rotation factors of the float SBR QMF banks (ISO/IEC 14496-3 4.6.18.4), binary32 rounded from double."])
    out += ['#include "sbr/sbr_qmf_float.h"', ""]

    def arr(decl, vals, per_line=None):
        return E.array(decl, [f32(v) for v in vals], E.hex_float, per_line=per_line, inline=False)

    body = E.comment("cos a + sin a, sin a, cos b + sin b, cos b; a = (4i+1) pi/256, b = (4i+3) pi/256.")
    body += arr('extern "C" ZUF_API const Zuf32f cos4sin4tab64_HQ_SQMF_32f[64]', t["c4"], 4)
    body += [""] + E.comment("cos(j pi/64) + sin(j pi/64), sin(j pi/64), j = 0..16.")
    body += arr('extern "C" ZUF_API const Zuf32f cos1sin1tab34_HQ_SQMF_32f[34]', t["c1"], 2)
    inner = E.comment("-cos t_n, sin t_n; t_n = (4n+1) pi/256; blocks of four.")
    inner += arr("alignas(16) const Zuf32f tblPreProcCosSinDCT4_64_SIMD[64]", t["pre"], 8)
    inner += [""] + E.comment("2 cos(m pi/64), -2 sin(m pi/64), m = 0..15; blocks of four.")
    inner += arr("alignas(16) const Zuf32f tblPostProcCosSinDCT4_32_SIMD[32]", t["post"], 8)
    inner += [""] + E.comment("2 cos((m+1) pi/64), -2 sin((m+1) pi/64), m = 0..15; blocks of four.")
    inner += arr("alignas(16) const Zuf32f tblPostProcCosSinDCT4_32_SIMD_Odd[32]", t["post1"], 8)
    inner += [""] + E.comment("8.0: the fold of the real analysis; its first group doubles u[48], hence 4 sqrt 2.")
    inner += arr("alignas(16) const Zuf32f pScaleCoefs[4]", [8.0] * 4)
    inner += arr("alignas(16) const Zuf32f pScaleCoefsFirst[4]", [4 * math.sqrt(2), 8.0, 8.0, 8.0])
    inner += [""] + E.comment("cos(k pi/64), -sin(k pi/64); blocks of four.")
    inner += arr("alignas(16) const Zuf32f pTableSynthesisSinCos_32f[64]", t["syn"], 8)
    inner += [""] + E.comment("cos(t_n)/64, -sin(t_n)/64; blocks of four.")
    inner += arr("alignas(16) const Zuf32f pTableCosSin_HQ_SQMF_32f[64]", t["synpost"], 8)
    inner += [""] + E.comment("exp(i pi k/128), k = 0..31, re, im.")
    inner += arr("alignas(16) const Zuf32f _tInSynthesisDown_HQ_32[64]", t["in"], 8)
    inner += [""] + E.comment("-(1/64) exp(i pi (4n+1)/256), n = 0..63, re, im.")
    inner += arr("alignas(16) const Zuf32f _tExSynthesisDown_HQ_64[128]", t["ex"], 8)
    out += body + [""] + E.namespace("zuf", inner)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
