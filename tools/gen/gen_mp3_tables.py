#!/usr/bin/env python3
"""Generates src/mp3/mp3_tables.cpp: the constant tables of the Layer III decoder
(ISO/IEC 11172-3 and ISO/IEC 13818-3) apart from the Huffman tables (gen_mp3_huffman.py).

  gen_mp3_tables.py [--data DIR] [src/mp3/mp3_tables.cpp]

The inputs in data/ are plain-text tables of the standards: mp3_sfb_bands.txt (band boundaries),
mp3_misc.txt (pretab, slen1/slen2, nr_of_sfb_block) and mp3_synthesis_window_D.txt (Table 3-B.3).
Everything else is a formula, evaluated here exactly: integer tables with integer roots and
60-digit decimal trigonometry (hpmath.py), double tables correctly rounded from those digits. The
tables.regenerate test reruns this script and compares its output with the committed file; the
decoding tests check the tables' use against the compliance streams. Standard library only.
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import PI, cos as dcos, sin as dsin, sqrt as dsqrt, iroot


def pow43_q14(n):
    """round(n^(4/3) * 2^14) = round((n^4 * 2^42)^(1/3)), exactly."""
    big = n ** 4 << 42
    c = iroot(big, 3)
    # round half up: c + 1 when (c + 1/2)^3 <= big, i.e. (2c + 1)^3 <= 8 big
    return c + 1 if (2 * c + 1) ** 3 <= 8 * big else c


def qround(x, bits):
    """round(x * 2^bits) for a Decimal x, saturated to the signed 32-bit range."""
    v = int((x * (1 << bits)).to_integral_value(rounding="ROUND_HALF_EVEN"))
    return max(-(1 << 31), min((1 << 31) - 1, v))


def c_double(x):
    # Exact zeros of the formulas (cos(pi / 2) and the like) come out of the series as tiny residues.
    return E.double(float(x) if abs(x) > Decimal(10) ** -40 else 0.0)


def render():
    # ---------------------------------------------------------------- band tables
    long_rows, short_rows = {}, {}
    for rec in E.read_records("mp3_sfb_bands.txt"):
        kind, rate, vals = rec[0], int(rec[1]), [int(v) for v in rec[2:]]
        (long_rows if kind == "long" else short_rows)[rate] = vals
    order = [22050, 24000, 16000, 44100, 48000, 32000]  # row = ID * 3 + sampling_frequency
    sfb_long = [long_rows[r] for r in order]
    sfb_short = [short_rows[r] for r in order]
    assert all(len(r) == 23 and r[0] == 0 and r[-1] == 576 for r in sfb_long)
    assert all(len(r) == 14 and r[0] == 0 and r[-1] == 192 for r in sfb_short)
    assert sfb_long[1][18] == 332  # 24 kHz: the value of ISO/IEC 13818-3 Table B.2, not 330
    # Mixed blocks: the long part ends at line 36 for every rate (8 MPEG-1 bands, 6 MPEG-2 bands)
    # and the short part starts with short band 3 at 3 * 12 = 36.
    assert all(r[8] == 36 for r in sfb_long[3:]) and all(r[6] == 36 for r in sfb_long[:3])
    assert all(r[3] == 12 for r in sfb_short)

    misc = {}
    nr_of_sfb = [[None] * 3 for _ in range(6)]
    for rec in E.read_records("mp3_misc.txt"):
        if rec[0] == "nr_of_sfb_block":
            t, kind = int(rec[1]), ["long", "short", "mixed"].index(rec[2])
            nr_of_sfb[t][kind] = [int(v) for v in rec[3:7]]
        else:
            misc[rec[0]] = [int(v) for v in rec[1:]]
    pretab, slen1, slen2 = misc["pretab"], misc["slen1"], misc["slen2"]
    assert len(pretab) == 22 and len(slen1) == 16 and len(slen2) == 16

    # ---------------------------------------------------------------- formula tables
    # Bytes per MPEG-1 Layer III frame without padding: 144 * bitrate / fs, truncated.
    bitrates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    slots = [[144000 * b // fs for b in bitrates] for fs in (44100, 48000, 32000)]
    assert slots[0] == [0, 104, 130, 156, 182, 208, 261, 313, 365, 417, 522, 626, 731, 835, 1044]

    req = [pow43_q14(n) for n in range(8207)]
    assert req[1] == 16384 and req[8] == 16 * 16384 and req[-1] < (1 << 32)

    # Intensity stereo, MPEG-1: is_ratio / (1 + is_ratio), is_ratio = tan(k pi / 12), Q31;
    # k = 6 is 1 (saturated), entry 7 (illegal position) is never used for scaling.
    is_left = []
    for k in range(6):
        angle = PI * k / 12
        s, c = dsin(angle), dcos(angle)
        is_left.append(qround(s / (s + c), 31))
    is_left += [(1 << 31) - 1, (1 << 31) - 1]
    # MPEG-2 intensity and the requantiser: 2^(-k/4) in Q31 (rounded) and 2^(k/4) in Q30
    # (truncated), k = 0..3.
    sqrt14 = [qround(Decimal(2) ** (Decimal(-k) / 4), 31) for k in range(4)]
    pow2q30 = [int((Decimal(2) ** (Decimal(k) / 4) * (1 << 30)).to_integral_value(rounding="ROUND_FLOOR"))
               for k in range(4)]
    assert sqrt14 == [0x7FFFFFFF, 0x6BA27E65, 0x5A82799A, 0x4C1BF829]
    assert pow2q30 == [0x40000000, 1276901416, 1518500249, 1805811301]

    # Alias reduction butterflies, ISO/IEC 11172-3 Table 3-B.9.
    ci = [Decimal(v) for v in ("-0.6", "-0.535", "-0.33", "-0.185", "-0.095", "-0.041", "-0.0142", "-0.0037")]
    cs = [1 / dsqrt(1 + c * c) for c in ci]
    ca = [c / dsqrt(1 + c * c) for c in ci]

    # Inverse MDCT, 36 points (see mp3_imdct.cpp for the factorisation): 9-point cosine kernel,
    # the post-factors of the odd half, and the windows combined with the final post-factor,
    # the output sign and the gain of one quarter.
    # 9-point DCT-III by halves: outputs m and 8 - m share the sums over even and odd j, so per
    # m = 0..4 the even factors (j = 2, 4, 6, 8) and the odd ones (j = 1, 3, 5, 7).
    k9 = [dcos(PI * j * (2 * m + 1) / 18) for m in range(5) for j in (2, 4, 6, 8, 1, 3, 5, 7)]
    post9 = [1 / (2 * dcos(PI * (2 * m + 1) / 36)) for m in range(9)]

    def long_window(block_type, i):
        def sin36(n):
            return dsin(PI / 36 * (Decimal(n) + Decimal("0.5")))

        def sin12(n):
            return dsin(PI / 12 * (Decimal(n) + Decimal("0.5")))
        if block_type == 0:
            return sin36(i)
        if block_type == 1:
            return sin36(i) if i < 18 else Decimal(1) if i < 24 else sin12(i - 18) if i < 30 else Decimal(0)
        return Decimal(0) if i < 6 else sin12(i - 6) if i < 12 else Decimal(1) if i < 18 else sin36(i)

    def long_map(i):
        # x_i = sign * y_m of the 18-point DCT-IV y
        return (i + 9, 1) if i < 9 else (26 - i, -1) if i < 27 else (i - 27, -1)

    win_long = []
    for bt in (0, 1, 3):
        for i in range(36):
            m, sign = long_map(i)
            win_long.append(sign * long_window(bt, i) / (4 * 2 * dcos(PI * (2 * m + 1) / 72)))

    k6 = [dcos(PI * (2 * m + 1) * (2 * k + 1) / 24) for m in range(6) for k in range(6)]

    def short_map(i):
        return (i + 3, 1) if i < 3 else (8 - i, -1) if i < 9 else (i - 9, -1)

    win_short = []
    for i in range(12):
        m, sign = short_map(i)
        win_short.append(sign * dsin(PI / 12 * (Decimal(i) + Decimal("0.5"))) / 4)

    # Synthesis matrixing by the fast cosine transform: 1 / (2 cos((2k + 1) pi / 2N)) for the
    # stages N = 32, 16, 8, 4, 2.
    dct_h = {n: [1 / (2 * dcos(PI * (2 * k + 1) / (2 * n))) for k in range(n // 2)] for n in (32, 16, 8, 4, 2)}

    # ---------------------------------------------------------------- synthesis window stage
    dvals = [Decimal(r[0]) for r in E.read_records("mp3_synthesis_window_D.txt")]
    assert len(dvals) == 512
    dk = [int((d * 65536).to_integral_value()) for d in dvals]  # every D[i] is k / 65536
    assert all(abs(Decimal(k) / 65536 - d) <= Decimal("0.0000000006") for k, d in zip(dk, dvals))
    assert dk[256] == 75038 and dk[240] == -64019 and dk[48] == -104
    dq30 = [k << 14 for k in dk]

    # The window stage reads, for each history row, 16 coefficients starting at entry
    # 16 - pos of a 32-entry run c(t mod 16), t = 0..31, where c(m) belongs to the matrixed
    # block m calls old. With X the 32-point cosine transform of the subband samples, the
    # 64 matrixed values of ISO/IEC 11172-3 are V[j] = X[16 + j] (j < 16), V[16] = 0,
    # V[j] = -X[48 - j] (16 < j < 48), V[j] = -X[j - 48] (j >= 48); output j takes V[j] from
    # the even-aged blocks and V[32 + j] from the odd-aged ones (the U vector of Figure A.2),
    # times D[j + 32 m]. The signs of V are folded into the coefficients, so each product is
    # exactly hi(V * D).
    # One entry more than the 32 the rows need: the vector window stage loads each run once
    # more shifted by one entry for the odd lanes.
    def run(coef):
        return [coef(t % 16) for t in range(33)]

    # Row j belongs to output j.
    rows = [None] * 32
    rows[0] = run(lambda m: dq30[32 * m] if m % 2 == 0 else -dq30[32 * m])
    for j in range(1, 16):
        rows[j] = run(lambda m, j=j: dq30[j + 32 * m] if m % 2 == 0 else -dq30[j + 32 * m])
        rows[32 - j] = run(lambda m, j=j: -dq30[32 - j + 32 * m])
    rows[16] = run(lambda m: 0 if m % 2 == 0 else -dq30[16 + 32 * m])

    # ---------------------------------------------------------------- output
    out = E.stamp("gen_mp3_tables.py", ["Constant tables of the Layer III decoder from ISO/IEC 11172-3 and 13818-3."])
    out += ['#include "mp3/mp3_tables.h"', ""]
    out += E.comment("Scale-factor band boundaries, row = ID * 3 + sampling_frequency (22.05, 24, 16, 44.1, 48,",
                     "32 kHz): ISO/IEC 13818-3 Table B.2 and ISO/IEC 11172-3 Table 3-B.8.")
    out += E.array('extern "C" ZUF_API const Zuf16s _zuf_pMP3SfbTableLong[6 * 23]', sum(sfb_long, []), per_line=23)
    out += E.array('extern "C" ZUF_API const Zuf16s _zuf_pMP3SfbTableShort[6 * 14]', sum(sfb_short, []), per_line=14)
    out.append("")
    b = ["// ISO/IEC 11172-3 Table 3-B.6."]
    b += E.array("const Zuf8u _pPretab[22]", pretab)
    b += ["", "// slen1 then slen2 by scalefac_compress, ISO/IEC 11172-3 2.4.2.7."]
    b += E.array("const Zuf8u _pMP3TableSlen[2][16]", [slen1, slen2])
    b += ["", "// nr_of_sfb_block of ISO/IEC 13818-3 2.4.3.2: [table][long, short, mixed][part]."]
    b += E.array("const Zuf8u _pNumberOfSfbBlock[6][3][4]",
                 [["{" + ", ".join(map(str, nr_of_sfb[t][k])) + "}" for k in range(3)] for t in range(6)])
    b += [""]
    b += E.comment("Bytes per MPEG-1 Layer III frame without padding, 144 * bitrate / fs truncated; rows 44.1,",
                   "48, 32 kHz, columns bitrate_index 0..14 (0 = free format).")
    b += E.array("const Zuf32s _pMPEG1_nSlotTable[3][15]", slots)
    b += ["", "// round(n^(4/3) * 2^14), n = 0..8206 (15 plus the largest 13-bit linbits escape)."]
    b += E.array("const Zuf32u pReqTable[8207]", req, E.unsigned)
    b += [""]
    b += E.comment("MPEG-1 intensity stereo: tan(k pi / 12) / (1 + tan(k pi / 12)), Q31, k = 0..6; entry 7",
                   "(the illegal position) is never used for scaling.")
    b += E.array("const Zuf32s _pIsLeft[8]", is_left, inline=False)
    b += ["", "// 2^(-k/4) in Q31, k = 0..3 (entry 0 saturated to 2^31 - 1)."]
    b += E.array("const Zuf32s _pMP3Sqrt14_32s[4]", sqrt14)
    b += ["", "// 2^(k/4) in Q30, k = 0..3, truncated: the fractional quarter steps of the requantiser."]
    b += E.array("const Zuf32u _pMP3Pow2Q30[4]", pow2q30, E.unsigned)
    b += [""]
    b += E.comment("Alias-reduction butterflies cs_i = 1 / sqrt(1 + c_i^2), ca_i = c_i / sqrt(1 + c_i^2),",
                   "ISO/IEC 11172-3 Table 3-B.9.")
    b += E.array("const double cCs[8]", cs, c_double, per_line=4, inline=False)
    b += E.array("const double cCa[8]", ca, c_double, per_line=4, inline=False)
    b += [""]
    b += E.comment("36-point inverse MDCT, the 9-point cosine kernel cos(pi j (2m + 1) / 18) for m = 0..4:",
                   "row m holds j = 2, 4, 6, 8, then j = 1, 3, 5, 7.")
    b += E.array("const double DCT36Coeff[40]", k9, c_double, per_line=4)
    b += ["// 1 / (2 cos((2m + 1) pi / 36)), m = 0..8: post-factors of the odd half."]
    b += E.array("const double DCT36Post[9]", post9, c_double, per_line=3)
    b += E.comment("Windows of block types 0, 1 and 3 (ISO/IEC 11172-3 2.4.3.4.10.3) times the sign of the",
                   "DCT-IV output they take, 1 / (2 cos((2m + 1) pi / 72)) and the gain 1/4.")
    b += E.array("const double DCTWinLong[3][36]", [win_long[36 * bt:36 * bt + 36] for bt in range(3)], c_double,
                 per_line=3)
    b += ["// 12-point inverse MDCT: [m][k] = cos(pi (2m + 1)(2k + 1) / 24), the 6-point DCT-IV."]
    b += E.array("const double DCT12x3Coef[36]", k6, c_double, per_line=3)
    b += ["// sin(pi (i + 1/2) / 12) times the sign of the DCT-IV output and the gain 1/4."]
    b += E.array("const double DCTWinShort[12]", win_short, c_double, per_line=3)
    b += [""]
    b += E.comment("Fast 32-point cosine transform of the synthesis matrixing: 1 / (2 cos((2k + 1) pi / 2N))",
                   "for the stages N = 32 (H16), 16 (H8), 8 (H4), 4 and 2.")
    names = {32: "H16", 16: "H8", 8: "H4", 4: "H2", 2: "H1"}
    for n in (32, 16, 8, 4, 2):
        b += E.array(f"const double {names[n]}[{n // 2}]", dct_h[n], c_double, per_line=4, inline=False)
    b += [""]
    b += E.comment("Synthesis window D[i] of ISO/IEC 11172-3 Table 3-B.3 in Q30 (exact: every D[i] is a",
                   "multiple of 2^-16), with the signs of the matrixing symmetry folded in, in the order the",
                   "window stage reads it: row j for output j; each row holds c(t mod 16) for t = 0..32, c(m)",
                   "being the coefficient of the block m calls old.")
    b += E.array("const Zuf32s _pDiQ30[32][33]", rows)
    b += [""]
    b += E.comment("Per row of _pDiQ30: the sum of c(m) / 2 over the sixteen ages, modulo 2^32 (the vector",
                   "window stage's correction for its sign-flipped history values).")
    half = []
    for r in rows:
        t = sum(c // 2 for c in r[:16]) % (1 << 32)
        half.append(t - (1 << 32) if t >= (1 << 31) else t)
    b += E.array("const Zuf32s _pDiHalfSum[32]", half)
    b += [""]
    b += E.comment("_pDiQ30 in Q16 plus 2^18 (every entry positive, below 2^19): the multipliers of the vector",
                   "window stage's unsigned products.")
    b += E.array("const Zuf32s _pDiQ16Biased[32][33]", [[c // (1 << 14) + (1 << 18) for c in r] for r in rows])
    out += E.namespace("zuf", b)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
