#!/usr/bin/env python3
"""Generates src/mp3/mp3_psy_tables.cpp: the tables of the Layer III psychoacoustic model two
(ISO/IEC 11172-3 Annex D, model 2 as used for Layer III).

  gen_mp3_psy_tables.py [--data DIR] [src/mp3/mp3_psy_tables.cpp]

Inputs: data/mp3_psy2_<rate>_long.txt and data/mp3_psy2_<rate>_short.txt (rate 44100, 48000,
32000): per partition numlines, minval, qthr, norm, SNR, bval, first_line; per scale-factor band
bu, bo, w1, w2. Formulas are evaluated in 60-digit decimal arithmetic (hpmath.py) and rounded
once, to nearest.

Energy scale. The model's FFTs take the Hann-windowed 16-bit samples times 16 (see
mp3_psy.cpp), so its energies |X|^2 are 256 times those of the standard's unnormalised FFT of
16-bit samples, the scale in which the tables give qthr. Hence:

  partition boundaries          first_line of each partition, then the end line (Zuf16s)
  quiet threshold (Zuf64u)      round(256 qthr)
  spreading (Q31)               s(b, j) norm_b for target partition b and source partition j, with
                                the spreading function of model 2 on the Bark values:
                                  dz = (bval_b - bval_j) (3 if j >= b else 1.5),
                                  x = 8 ((dz - 0.5)^2 - 2 (dz - 0.5)) for 0.5 <= dz <= 2.5, else 0,
                                  y = 15.811389 + 7.5 (dz + 0.474) - 17.5 sqrt(1 + (dz + 0.474)^2),
                                  s = 10^((x + y) / 10), 0 where y <= -60;
                                norm_b folds the normalisation into the factors, so the spread
                                energy is already normalised. Bound: first and end (exclusive)
                                source partition with a non-zero rounded factor; packed: those
                                factors, target after target.
  BMLD ratio (Q31)              binaural masking level difference of the mid/side coupling,
                                10^(mld / 10), mld = 1.25 (1 - cos(pi min(bval, 15.5) / 15.5)) - 2.5 dB
  short SMR factor (Q31)        10^(SNR / 10) (the short-block threshold = spread energy 10^(SNR/10))
  band map                      Buo[s] = bu of band s, Buo[n] = bo of the last band; Weight[s] = w1
                                of band s (Q31), Weight[n] = 1 - w2 of the last band: band s weighs
                                partition Buo[s] by Weight[s] and partition Buo[s + 1] by
                                1 - Weight[s + 1] (= w2 of band s within the tables' 0.01). Short
                                band 0 therefore ends on partition 3, the first partition of band 1.
  Hann windows (Q15)            0.5 (1 - cos(2 pi (i + 1/2) / N)), N = 1024 and 256, saturated to 32767
  real-FFT twiddles (Q30)       cos and sin of 2 pi k / 1024, k = 0..255 (the 256-point split reads
                                every fourth)
  intensity bounds              the stereo bound band at bitrate_index 6, 7, 8 (rows) and
                                sampling_frequency 0, 1, 2 (columns), long and short blocks

Standard library only.
"""
from decimal import Decimal

import cpp_emit as E
from hpmath import PI, cos as dcos, sin as dsin, sqrt as dsqrt, q, rint

RATES = (44100, 48000, 32000)  # sampling_frequency 0, 1, 2
SUFFIX = {44100: "44100", 48000: "48000", 32000: "32000"}
TEN = Decimal(10)
ENERGY_SCALE = 256


def db_to_ratio(db):
    return (Decimal(db) / 10 * TEN.ln()).exp()


def load(rate, kind):
    parts, sfbs = [], []
    for rec in E.read_records(f"mp3_psy2_{rate}_{kind}.txt"):
        if rec[0] == "partition":
            v = rec[1:]
            if kind == "long":  # index numlines minval qthr norm bval first_line
                parts.append(dict(n=int(v[1]), qthr=Decimal(v[3]), norm=Decimal(v[4]), bval=Decimal(v[5]),
                                  first=int(v[6])))
            else:  # index numlines qthr norm SNR bval first_line
                parts.append(dict(n=int(v[1]), qthr=Decimal(v[2]), norm=Decimal(v[3]), snr=Decimal(v[4]),
                                  bval=Decimal(v[5]), first=int(v[6])))
        elif rec[0] == "sfb":
            sfbs.append(dict(bu=int(rec[3]), bo=int(rec[4]), w1=Decimal(rec[5]), w2=Decimal(rec[6])))
    for i, p in enumerate(parts):
        assert i == 0 or p["first"] == parts[i - 1]["first"] + parts[i - 1]["n"]
    return parts, sfbs


def spreading(parts):
    """Per target partition: (first, end) source range and the packed Q31 factors."""
    bounds, packed = [], []
    for b, tp in enumerate(parts):
        row = []
        for j, sp in enumerate(parts):
            dz = (tp["bval"] - sp["bval"]) * (Decimal(3) if j >= b else Decimal("1.5"))
            x = Decimal(0)
            if Decimal("0.5") <= dz <= Decimal("2.5"):
                t = dz - Decimal("0.5")
                x = 8 * (t * t - 2 * t)
            t = dz + Decimal("0.474")
            y = Decimal("15.811389") + Decimal("7.5") * t - Decimal("17.5") * dsqrt(1 + t * t)
            row.append(0 if y <= -60 else q(db_to_ratio(x + y) * tp["norm"], 31))
        nz = [j for j, v in enumerate(row) if v != 0]
        first, end = nz[0], nz[-1] + 1
        bounds += [first, end]
        packed += row[first:end]
    return bounds, packed


def band_map(parts, sfbs):
    buo = [s["bu"] for s in sfbs] + [sfbs[-1]["bo"]]
    weight = [q(s["w1"], 31) for s in sfbs] + [q(1 - sfbs[-1]["w2"], 31)]
    assert all(buo[i] <= buo[i + 1] for i in range(len(sfbs))) and buo[-1] < len(parts)
    return buo, weight


def hann(n):
    return [min(32767, rint((1 - dcos(2 * PI * (i + Decimal("0.5")) / n)) / 2 * 32768)) for i in range(n)]


def render():
    out = E.stamp("gen_mp3_psy_tables.py", ["Tables of the Layer III psychoacoustic model two (ISO/IEC 11172-3 Annex D,",
                                            "model 2), per sampling rate 44.1, 48 and 32 kHz; formats in the generator."])
    out += ['#include "mp3/mp3_psy_tables.h"', ""]
    b = []
    rows = []
    for rate in RATES:
        sfx = SUFFIX[rate]
        pl, sl = load(rate, "long")
        ps, ss = load(rate, "short")
        assert len(sl) == 21 and len(ss) == 12
        bl, kl = spreading(pl)
        bs, ks = spreading(ps)
        buol, wl = band_map(pl, sl)
        buos, ws = band_map(ps, ss)
        bmld = [[q(db_to_ratio(Decimal("1.25") * (1 - dcos(PI * min(p["bval"], Decimal("15.5")) / Decimal("15.5")))
                               - Decimal("2.5")), 31) for p in parts] for parts in (pl, ps)]
        names = dict(partL=f"pPsyPartitionTableLong{sfx}", partS=f"pPsyPartitionTableShort{sfx}",
                     sbL=f"pSprdngBoundLong{sfx}", spL=f"pSprdngPackedLong{sfx}", sbS=f"pSprdngBoundShort{sfx}",
                     spS=f"pSprdngPackedShort{sfx}", bmL=f"pBMLDRatioLong{sfx}", bmS=f"pBMLDRatioShort{sfx}",
                     qL=f"pQuietThresholdLong{sfx}", qS=f"pQuietThresholdShort{sfx}", buoL=f"pPartToSfbBuoLong{sfx}",
                     wL=f"pPartToSfbWeightLong{sfx}", buoS=f"pPartToSfbBuoShort{sfx}",
                     wS=f"pPartToSfbWeightShort{sfx}", smr=f"pSMRShort{sfx}")
        b += E.comment(f"---------------------------------------------------------------- {rate} Hz")
        b += E.array(f"const Zuf16s {names['partL']}[{len(pl) + 1}]", [p["first"] for p in pl] + [pl[-1]["first"] +
                                                                                                 pl[-1]["n"]])
        b += E.array(f"const Zuf16s {names['partS']}[{len(ps) + 1}]", [p["first"] for p in ps] + [ps[-1]["first"] +
                                                                                                 ps[-1]["n"]])
        b += E.array(f"const Zuf16s {names['sbL']}[{len(bl)}]", bl)
        b += E.array(f"const Zuf32s {names['spL']}[{len(kl)}]", kl)
        b += E.array(f"const Zuf16s {names['sbS']}[{len(bs)}]", bs)
        b += E.array(f"const Zuf32s {names['spS']}[{len(ks)}]", ks)
        b += E.array(f"const Zuf32s {names['bmL']}[{len(pl)}]", bmld[0])
        b += E.array(f"const Zuf32s {names['bmS']}[{len(ps)}]", bmld[1])
        b += E.array(f"const Zuf64u {names['qL']}[{len(pl)}]", [rint(p["qthr"] * ENERGY_SCALE) for p in pl], E.unsigned)
        b += E.array(f"const Zuf64u {names['qS']}[{len(ps)}]", [rint(p["qthr"] * ENERGY_SCALE) for p in ps], E.unsigned)
        b += E.array(f"const Zuf8u {names['buoL']}[22]", buol)
        b += E.array(f"const Zuf32s {names['wL']}[22]", wl)
        b += E.array(f"const Zuf8u {names['buoS']}[13]", buos)
        b += E.array(f"const Zuf32s {names['wS']}[13]", ws)
        b += E.array(f"const Zuf32s {names['smr']}[{len(ps)}]", [q(db_to_ratio(p["snr"]), 31) for p in ps])
        b += [""]
        rows.append((names, len(pl), len(ps)))
    b += E.comment("Rows: sampling_frequency 0 (44.1 kHz), 1 (48 kHz), 2 (32 kHz).")
    b += ["const PsyTables_MP3 _zuf_pPsyTables_MP3[3] = {"]
    for names, npl, nps in rows:
        n = names
        b += [f"    {{{n['partL']}, {n['partS']}, {npl}, {nps}, {n['sbL']}, {n['spL']}, {n['sbS']},",
              f"     {n['spS']}, {n['bmL']}, {n['bmS']}, {n['qL']}, {n['qS']},",
              f"     {n['buoL']}, {n['wL']}, {n['buoS']}, {n['wS']}, {n['smr']}}},"]
    b += ["};", ""]
    b += E.comment("Hann windows in Q15, 0.5 (1 - cos(2 pi (i + 1/2) / N)), saturated to 32767.")
    b += E.array("const Zuf16s pHannWinLong_MP3[1024]", hann(1024))
    b += E.array("const Zuf16s pHannWinShort_MP3[256]", hann(256))
    b += [""]
    b += E.comment("Real-FFT split factors: cos and sin of 2 pi k / 1024 in Q30, k = 0..255, pairs (cos, sin).")
    tw = []
    for k in range(256):
        tw += [q(dcos(2 * PI * k / 1024), 30), q(dsin(2 * PI * k / 1024), 30)]
    b += E.array("const Zuf32s pPsyFftTwiddle_MP3[512]", tw, per_line=16)
    b += [""]
    b += E.comment("Intensity-stereo bound band, [bitrate_index - 6][sampling_frequency].")
    b += E.array("const Zuf32s pIsSfbBoundTableLong[3][3]", [[13, 12, 13], [15, 15, 16], [18, 18, 18]])
    b += E.array("const Zuf32s pIsSfbBoundTableShort[3][3]", [[6, 6, 7], [8, 8, 8], [10, 10, 10]])
    out += E.namespace("zuf", b)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
