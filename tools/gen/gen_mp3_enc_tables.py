#!/usr/bin/env python3
"""Generates src/mp3/mp3_enc_tables.cpp: the constant tables of the Layer III encoder front
(analysis filter bank, forward MDCT, joint stereo) and the coefficients of the encoder's
fixed-point math routines.

  gen_mp3_enc_tables.py [--data DIR] [src/mp3/mp3_enc_tables.cpp]

Input: data/mp3_analysis_window_C.txt (ISO/IEC 11172-3 Table 3-C.1, the analysis window C[i]).
Everything else is a formula, evaluated with 60-digit decimal arithmetic (hpmath.py and Python's
decimal ln/exp/sqrt), then rounded once:

  _pEncWinC_MP3[512]            round(C[i] 2^30), natural order i (C[256] = 38419456)
  _pEncWinPairs_MP3[16][2][4][8] the same window split for the SSE2 windowing (pmaddwd):
                                C = hi 2^14 + lo, lo in -8191..8192; [block b][hi, lo][tap pair p]
                                holds, for lanes e = 0..3 (output i = 4b + 3 - e, address order),
                                the 16-bit pairs (part of C[i + 128p], part of C[i + 128p + 64])
  _pAnaDctQ30[341]              the analysis matrixing's 32-point DCT-III by even/odd splitting:
                                for N = 32, 16, 8, 4, 2 the (N/2)^2 odd-part factors
                                round(cos((2k + 1)(2j + 1) pi / 2N) 2^30), row k, column j
  _pAnaDctRowSumQ30[28]         sums of the rows of the N = 32, 16 and 8 factors (16, 8, 4 rows)
  mp3enc_Ccoef[18][18]          forward 36-point MDCT as an 18-point DCT-IV after folding:
                                (4/9) cos(pi (2n + 1)(2k + 1) / 72), row k, column n
  mp3enc_CcoefShort[6][6]       forward 12-point MDCT: (4/3) cos(pi (2n + 1)(2k + 1) / 24)
  mp3enc_WinLong[3][36]         windows of block types 0, 1, 3 (ISO/IEC 11172-3 2.4.3.4.10.3)
  mp3enc_WinShort[12]           sin(pi (i + 1/2) / 12)
  pIsRatioSqrTable[7]           0, round(tan^2((2k - 1) pi / 24) 2^15), k = 1..6
  _TAB_Log2, _TAB_Pow2, _TAB_Reciprocal, _TAB_Sqrt
                                Q30 monomial coefficients (constant term first) in u (-1 <= u < 1)
                                of polynomials fitted at the Chebyshev nodes to log2(1.5 + u / 2),
                                2^((1 + u) / 2), 1 / (0.75 + u / 4) and sqrt(0.75 + u / 4)
  _TAB_Pow                      the exponent 1.18813 in Q30 (ownsPow118813_Audio_32s)

The gains 4/9 and 4/3 make the forward transform the inverse of the decoder's (subband samples
with 24 fractional bits in, lines with 26 out): the standard's unnormalised IMDCT of an MDCT
with the 2 / (n/2) normalisation reconstructs after windowed overlap-add, and 2^26 / 2^24 = 4.
The generator checks each polynomial by running the library's integer Horner scheme over the
whole input range. Standard library only.
"""
from decimal import Decimal, ROUND_HALF_EVEN, ROUND_FLOOR

import cpp_emit as E
from hpmath import PI, cos as dcos, sin as dsin, sqrt as dsqrt

HALF = Decimal("0.5")


def rnd(x):
    return int(Decimal(x).to_integral_value(rounding=ROUND_HALF_EVEN))


def c_double(x):
    return E.double(float(x) if abs(x) > Decimal(10) ** -40 else 0.0)


# ---------------------------------------------------------------- polynomial fits

def cheb_fit(f, deg):
    """Monomial coefficients (constant first) of the Chebyshev interpolant of f on [-1, 1]."""
    n = deg + 1
    nodes = [dcos(PI * (i + HALF) / n) for i in range(n)]
    vals = [f(u) for u in nodes]
    cheb = []
    for k in range(n):
        s = sum(v * dcos(PI * k * (i + HALF) / n) for i, v in enumerate(vals))
        cheb.append(2 * s / n)
    cheb[0] /= 2
    # T_0 = 1, T_1 = u, T_(k+1) = 2u T_k - T_(k-1), as monomial coefficient lists.
    ts = [[Decimal(1)], [Decimal(0), Decimal(1)]]
    while len(ts) < n:
        nxt = [Decimal(0)] + [2 * c for c in ts[-1]]
        for i, c in enumerate(ts[-2]):
            nxt[i] -= c
        ts.append(nxt)
    mono = [Decimal(0)] * n
    for k in range(n):
        for i, c in enumerate(ts[k]):
            mono[i] += cheb[k] * c
    return [rnd(c * (1 << 30)) for c in mono]


def horner_q30(coef, u_q31):
    """The library's evaluation: acc = c_n; acc = ((acc u + 2^30) >> 31) + c_k (Python >> floors)."""
    acc = coef[-1]
    for c in reversed(coef[:-1]):
        acc = ((acc * u_q31 + (1 << 30)) >> 31) + c
    return acc


def check_fit(name, coef, f, tol_q30):
    worst = 0
    for i in range(4097):
        u_q31 = min(-(1 << 31) + i * (1 << 20), (1 << 31) - 1)
        exact = f(Decimal(u_q31) / (1 << 31)) * (1 << 30)
        worst = max(worst, abs(horner_q30(coef, u_q31) - exact))
    assert worst <= tol_q30, (name, float(worst))
    return worst


def render():
    # ---------------------------------------------------------------- analysis window
    cvals = [Decimal(r[0]) for r in E.read_records("mp3_analysis_window_C.txt")]
    assert len(cvals) == 512
    win = [rnd(c * (1 << 30)) for c in cvals]
    assert win[256] == 38419456 and max(abs(w) for w in win) == win[256]

    def split(c):
        lo = (c + 8191) % 16384 - 8191
        hi = (c - lo) >> 14
        assert -8191 <= lo <= 8192 and -32768 <= hi <= 32767 and hi * 16384 + lo == c
        return hi, lo

    pairs = []
    for b in range(16):
        parts = []
        for part in range(2):
            rows = []
            for p in range(4):
                row = []
                for e in range(4):
                    i = 4 * b + 3 - e
                    row += [split(win[i + 128 * p])[part], split(win[i + 128 * p + 64])[part]]
                rows.append(row)
            parts.append(rows)
        pairs.append(parts)

    # ---------------------------------------------------------------- analysis matrixing
    dct = []
    for n in (32, 16, 8, 4, 2):
        for k in range(n // 2):
            for j in range(n // 2):
                dct.append(rnd(dcos(PI * (2 * k + 1) * (2 * j + 1) / (2 * n)) * (1 << 30)))
    assert len(dct) == 341 and dct[-1] == 759250125  # cos(pi / 4) 2^30
    row_sums, at = [], 0
    for n in (32, 16, 8):
        for k in range(n // 2):
            row_sums.append(sum(dct[at + k * (n // 2):at + (k + 1) * (n // 2)]))
        at += (n // 2) ** 2

    # ---------------------------------------------------------------- forward MDCT
    ccoef = [[Decimal(4) / 9 * dcos(PI * (2 * n + 1) * (2 * k + 1) / 72) for n in range(18)] for k in range(18)]
    ccoef_s = [[Decimal(4) / 3 * dcos(PI * (2 * n + 1) * (2 * k + 1) / 24) for n in range(6)] for k in range(6)]

    def sin36(n):
        return dsin(PI / 36 * (Decimal(n) + HALF))

    def sin12(n):
        return dsin(PI / 12 * (Decimal(n) + HALF))

    def long_window(bt, i):
        if bt == 0:
            return sin36(i)
        if bt == 1:
            return sin36(i) if i < 18 else Decimal(1) if i < 24 else sin12(i - 18) if i < 30 else Decimal(0)
        return Decimal(0) if i < 6 else sin12(i - 6) if i < 12 else Decimal(1) if i < 18 else sin36(i)

    win_long = [[long_window(bt, i) for i in range(36)] for bt in (0, 1, 3)]
    win_short = [sin12(i) for i in range(12)]

    # ---------------------------------------------------------------- joint stereo
    is_ratio = [0]
    for k in range(1, 7):
        t = dsin(PI * (2 * k - 1) / 24) / dcos(PI * (2 * k - 1) / 24)
        is_ratio.append(rnd(t * t * (1 << 15)))
    assert is_ratio == [0, 568, 5622, 19293, 55653, 190986, 1890566]

    # ---------------------------------------------------------------- math routines
    ln2 = Decimal(2).ln()

    def f_log2(u):
        return (Decimal("1.5") + u / 2).ln() / ln2

    def f_pow2(u):
        return ((1 + u) / 2 * ln2).exp()

    def f_recip(u):
        return 1 / (Decimal("0.75") + u / 4)

    def f_sqrt(u):
        return dsqrt(Decimal("0.75") + u / 4)

    fits = {}
    for name, f, deg in (("_TAB_Log2", f_log2, 11), ("_TAB_Pow2", f_pow2, 7), ("_TAB_Reciprocal", f_recip, 13),
                         ("_TAB_Sqrt", f_sqrt, 10)):
        coef = cheb_fit(f, deg)
        check_fit(name, coef, f, 3)  # within 3 units of 2^-30 over the whole range
        fits[name] = coef
    pow_exp = rnd(Decimal("1.18813") * (1 << 30))

    # ---------------------------------------------------------------- output
    out = E.stamp("gen_mp3_enc_tables.py", ["Constant tables of the Layer III encoder front (ISO/IEC 11172-3 Annex C)",
                                            "and the coefficients of the encoder's fixed-point math routines."])
    out += ['#include "mp3/mp3_enc_tables.h"', ""]
    b = E.comment("Analysis window C[i] of ISO/IEC 11172-3 Table 3-C.1 times 2^30, rounded; i = 0..511.")
    b += E.array("const Zuf32s _pEncWinC_MP3[512]", win)
    b += [""]
    b += E.comment("The window split as C = hi 2^14 + lo (lo in -8191..8192) for the SSE2 windowing:",
                   "[block b][0 hi, 1 lo][tap pair p][lane e: C[i + 128p], C[i + 128p + 64]], i = 4b + 3 - e.")
    b += E.array("alignas(16) const Zuf16s _pEncWinPairs_MP3[16][2][4][8]",
                 [[v for part in blk for row in part for v in row] for blk in pairs], per_line=16)
    b += [""]
    b += E.comment("Matrixing of the analysis bank, 32-point DCT-III by even/odd splitting: for N = 32, 16,",
                   "8, 4, 2 in turn, (N/2)^2 factors cos((2k + 1)(2j + 1) pi / 2N) in Q30, row k, column j.")
    b += E.array("const Zuf32s _pAnaDctQ30[341]", dct)
    b += ["// Row sums of the factors for N = 32, 16 and 8 (16, 8 and 4 rows): the SSE2 matrixing's offsets."]
    b += E.array("const Zuf64s _pAnaDctRowSumQ30[28]", row_sums)
    b += [""]
    b += E.comment("Forward 36-point MDCT after folding: the 18-point DCT-IV (4/9) cos(pi (2n + 1)(2k + 1) / 72),",
                   "row k, column n; the gain 4/9 = 2 / 18 times 2^26 / 2^24 (subband samples to lines).")
    b += E.array("const double mp3enc_Ccoef[18][18]", ccoef, c_double, per_line=3)
    b += ["// Forward 12-point MDCT: (4/3) cos(pi (2n + 1)(2k + 1) / 24), row k, column n."]
    b += E.array("const double mp3enc_CcoefShort[6][6]", ccoef_s, c_double, per_line=3)
    b += ["// Windows of block types 0 (normal), 1 (start) and 3 (stop), ISO/IEC 11172-3 2.4.3.4.10.3."]
    b += E.array("const double mp3enc_WinLong[3][36]", win_long, c_double, per_line=4)
    b += ["// Short window sin(pi (i + 1/2) / 12)."]
    b += E.array("const double mp3enc_WinShort[12]", win_short, c_double, per_line=4)
    b += [""]
    b += E.comment("Intensity-stereo decision thresholds: (El / Er) in Q15 between positions k - 1 and k,",
                   "tan^2((2k - 1) pi / 24), k = 1..6 (entry 0 unused).")
    b += E.array("const Zuf32s pIsRatioSqrTable[7]", is_ratio)
    b += [""]
    b += E.comment("Math routines: Q30 monomial coefficients in u, -1 <= u < 1, constant term first, of the",
                   "Chebyshev interpolants of log2(1.5 + u/2), 2^((1 + u)/2), 1 / (0.75 + u/4) and",
                   "sqrt(0.75 + u/4); each evaluated by Horner's scheme in Q30 within 3 units of 2^-30.")
    for name, coef in fits.items():
        b += E.array(f"const Zuf32s {name}[{len(coef)}]", coef)
    b += ["// The exponent of ownsPow118813_Audio_32s, 1.18813 in Q30."]
    b += E.array("const Zuf32s _TAB_Pow[1]", [pow_exp])
    out += E.namespace("zuf", b)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
