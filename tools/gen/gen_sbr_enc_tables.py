#!/usr/bin/env python3
"""Generates src/sbr/sbr_enc_tables.cpp: the twiddles of the SBR encoder's 64-band analysis bank.

The bank computes X[k] = sum_{n<128} u[n] e^(i pi (2k+1)(2n+1) / 256), k < 64, through one
64-point forward FFT (V[j] = sum_m v_m e^(-2 pi i j m / 64)). Derivation of the angles:

  Pairing n with n + 64 (the kernel gains e^(i pi (2k+1)/2) = i (-1)^k) gives, with
  c_n = u[n] + i u[n+64], n < 64, and G[j] = sum_n c_n e^(i pi (4j+1)(2n+1) / 256):
      X[2j] = G[j] (j < 32),   conj(X[127 - 2j]) = -G[j] (j >= 32).
  G[j] = e^(i pi j / 64) sum_n c_n e^(i pi (2n+1) / 256) e^(2 pi i j n / 64); with m = -n mod 64
  this is e^(i pi j / 64) times the forward DFT of v_m = c_n e^(i pi (2n+1) / 256).
  The bank's fold z_m = Re t[m] + i Im t[63-m] is z_0 = u[0] + i u[64] = c_0 and
  z_m = -u[128-m] + i u[64-m] = i c_(64-m) (m >= 1), so v_m = z_m e^(i a_m) with
  a_m = pi (1 - 2m) / 256 for every m                                    -> SBR_TAB2_QMF_ENC_FP.
  After the FFT, Y[j] = V[j] e^(i pi j / 64) = G[j]                       -> SBR_TAB3_QMF_ENC_FP,
  stored as w[2j] = Re Y[j], w[127-2j] = -Im Y[j]. The output out[m] = (w[m] - i w[127-m]) e^(i g_m)
  is Y[m/2] e^(i g_m) for even m and -i conj(Y[(127-m)/2]) e^(i g_m) for odd m, so g_m = 0 for
  even m and g_m = -pi/2 for odd m (conj(-G) rotated by -i times -i)         -> SBR_TAB4_QMF_ENC_FP.
  Multiplying by the quadrant table is exact (its entries are 0 and +-1).

Each table: 64 pairs (cos, sin) as binary32, nearest to the exact value (the angles are pi p / 256,
evaluated at 60 digits; multiples of pi/2 are exact).

usage: gen_sbr_enc_tables.py [src/sbr/sbr_enc_tables.cpp]
"""
from fractions import Fraction

import cpp_emit as E
import hpmath as H


def cos_sin(p):
    """(cos, sin)(pi p / 256) as binary32, exact at multiples of pi / 2."""
    p %= 512
    if p % 128 == 0:
        return [(1.0, 0.0), (0.0, 1.0), (-1.0, 0.0), (0.0, -1.0)][p // 128]
    a = H.PI * p / 256
    return H.f32(Fraction(H.cos(a))), H.f32(Fraction(H.sin(a)))


def pairs(angles):
    out = []
    for p in angles:
        out += list(cos_sin(p))
    return out


def render():
    tab2 = pairs([1 - 2 * m for m in range(64)])
    tab3 = pairs([4 * j for j in range(64)])
    tab4 = pairs([0 if m % 2 == 0 else -128 for m in range(64)])
    out = E.stamp("gen_sbr_enc_tables.py", [
        "Twiddles (cos, sin) of the SBR encoder's 64-band analysis bank: pre-twiddle, post-twiddle of the",
        "64-point FFT, and the output quadrant."])
    out += ['#include "zufack9/zuf_sbr.h"', ""]
    out += E.comment("(cos, sin)(pi (1 - 2m) / 256), m < 64.")
    out += E.array('extern "C" ZUF_API const Zuf32f SBR_TAB2_QMF_ENC_FP[128]', tab2, E.hex_float)
    out += [""] + E.comment("(cos, sin)(pi j / 64), j < 64.")
    out += E.array('extern "C" ZUF_API const Zuf32f SBR_TAB3_QMF_ENC_FP[128]', tab3, E.hex_float)
    out += [""] + E.comment("(cos, sin)(0) for even m, (cos, sin)(-pi / 2) for odd m.")
    out += E.array('extern "C" ZUF_API const Zuf32f SBR_TAB4_QMF_ENC_FP[128]', tab4, E.hex_float)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
