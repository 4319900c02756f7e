#!/usr/bin/python3
"""MP3 quality of zufenc beside LAME, measured on deterministic synthetic signals.

    bench/mp3_quality.py [--zufenc PATH] [--rates 64,128,192,320] [--signals speech,music,...]
                         [--seconds 5] [--keep DIR]

For each signal and bit rate it encodes with zufenc and with lame -q 7, -q 2 and -q 0 (constant
bit rate, joint stereo, LAME's own low-pass, 44.1 kHz kept at every rate), decodes every stream with ffmpeg (gapless trimming
on), aligns the output with the input and reports:
--encoders also takes zufenc-library: zufenc with --rate-loop library.
(By default both LAME and zufenc let main_data_begin reach back 511 bytes, past the 7680-bit
buffer that ISO/IEC 11172-3 gives a decoder; at 320 kbit/s, where that buffer leaves a frame no
reservoir, the table also has both held to it: "lame-q7-iso" and "zufenc-iso", each with
--strictly-enforce-ISO.)

  SNR      10 log10(signal energy / error energy) over the whole signal, dB
  segSNR   the mean over 576-sample segments with signal of their SNR limited to -10..80 dB
  BW       the coded bandwidth: the highest frequency where the decoded long-term spectrum still
           holds at least a tenth of the input's energy (8-line smoothing; lines 60 dB below the
           input's strongest are not counted), kHz
  NMR      the noise-to-mask ratio of the coding error against the masking threshold of the
           input, computed with psychoacoustic model 1 of ISO/IEC 11172-3 Annex D (below), per
           granule of 576 samples with a 1024-point FFT: per 16-line subband the error's power
           over the subband's lowest masking threshold (LTmin, the level the model allows the
           noise of a subband, as the standard compares it with the subband's signal level),
           averaged over the subbands up to 20 kHz (linear), in dB.
           Reported: the mean over granules with signal and the share of granules above 0 dB.

The masking model is independent of the encoder's own (zufenc uses psychoacoustic model two):
model 1 finds tonal components (local maxima 7 dB above their neighbourhood) and non-tonal
components (the rest of each critical band's power at its geometric-mean line), drops maskers
below the threshold in quiet and the weaker of two tones within 0.5 Bark, spreads each with the
standard's masking index and piecewise spreading function over the Bark scale, and adds the
threshold in quiet. The Bark scale and the threshold in quiet are derived by formula (Zwicker's
critical-band rate, Terhardt's threshold in quiet) instead of the standard's tables.

Needs numpy, ffmpeg and lame (missing LAME columns are left out).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import wave

import numpy as np

FS = 44100
N_FFT = 1024
HOP = 576

# ---------------------------------------------------------------------------------- signals


def _tone_stack(t, f0, harmonics, decay):
    out = np.zeros_like(t)
    for h in range(1, harmonics + 1):
        if f0 * h > FS / 2 - 500:
            break
        out += np.sin(2 * np.pi * f0 * h * t + 0.3 * h) / h**decay
    return out


def _resonate(x, freq, bw):
    """Two-pole resonator (a formant), by direct recursion in blocks of numpy."""
    r = np.exp(-np.pi * bw / FS)
    a1, a2 = 2 * r * np.cos(2 * np.pi * freq / FS), -r * r
    y = np.zeros_like(x)
    y1 = y2 = 0.0
    for i in range(len(x)):
        v = x[i] + a1 * y1 + a2 * y2
        y[i] = v
        y2, y1 = y1, v
    return y * (1 - r)


def sig_speech(n, rng):
    t = np.arange(n) / FS
    f0 = 140 + 50 * np.sin(2 * np.pi * 0.7 * t) + 20 * np.sin(2 * np.pi * 3.1 * t)
    phase = np.cumsum(f0) / FS
    pulses = (np.diff(np.floor(phase), prepend=0) > 0).astype(float)
    pulses = np.convolve(pulses, np.hanning(24), mode="same")
    out = np.zeros(n)
    syl = int(0.22 * FS)
    formants = [(700, 1220, 2600), (300, 2300, 3000), (500, 900, 2400), (400, 1900, 2550), (650, 1700, 2450)]
    for s0 in range(0, n, syl):
        seg = slice(s0, min(n, s0 + syl))
        f1, f2, f3 = formants[(s0 // syl) % len(formants)]
        x = pulses[seg]
        v = _resonate(x, f1, 90) + 0.6 * _resonate(x, f2, 110) + 0.3 * _resonate(x, f3, 160)
        env = np.hanning(len(x))
        if (s0 // syl) % 4 == 3:  # a fricative and a pause
            hiss = np.convolve(rng.standard_normal(len(x)), [1, -1], mode="same")
            v = hiss * 0.05 * (np.arange(len(x)) < len(x) // 2)
        out[seg] = v * env
    out /= np.max(np.abs(out)) + 1e-12
    return np.stack([0.5 * out, 0.48 * out], axis=1)


def _music(n, rng, pan_seed):
    t = np.arange(n) / FS
    left, right = np.zeros(n), np.zeros(n)
    notes = [196, 220, 247, 262, 294, 330, 349, 392, 440, 494, 523]
    step = int(0.5 * FS)
    prng = np.random.default_rng(pan_seed)
    for s0 in range(0, n, step):
        for voice in range(3):
            f = notes[prng.integers(len(notes))] * (1, 2, 0.5)[voice]
            m = min(n, s0 + 2 * step) - s0
            tt = t[:m]
            env = np.exp(-tt * (2 + voice)) * np.minimum(1, tt * 200)
            v = _tone_stack(tt, f, 24, 1.2 + 0.3 * voice) * env
            p = prng.uniform(0.2, 0.8)
            left[s0 : s0 + m] += v * (1 - p)
            right[s0 : s0 + m] += v * p
        hat = rng.standard_normal(min(n, s0 + 4000) - s0) * np.exp(-np.arange(min(n, s0 + 4000) - s0) / 600)
        hat = np.diff(hat, prepend=0)
        left[s0 : s0 + len(hat)] += 0.1 * hat
        right[s0 : s0 + len(hat)] += 0.08 * hat
    peak = max(np.max(np.abs(left)), np.max(np.abs(right))) + 1e-12
    return np.stack([left, right], axis=1) * (0.5 / peak)


def sig_music(n, rng):
    return _music(n, rng, 11)


def sig_sweep(n, rng):
    t = np.arange(n) / FS
    dur = n / FS
    k = np.log(20000 / 20)
    ph = 2 * np.pi * 20 * dur / k * (np.exp(t / dur * k) - 1)
    return np.stack([0.5 * np.sin(ph), 0.5 * np.sin(ph + 0.4)], axis=1)


def sig_transients(n, rng):
    t = np.arange(n) / FS
    out = 0.05 * np.sin(2 * np.pi * 110 * t)
    for s0 in range(2000, n - 3000, int(0.25 * FS)):
        m = 3000
        burst = rng.standard_normal(m) * np.exp(-np.arange(m) / 250)
        burst = np.convolve(burst, [0.5, 0.5], mode="same")  # castanet-like: most energy below 11 kHz
        out[s0 : s0 + m] += 0.6 * burst / np.max(np.abs(burst))
    out = np.clip(out, -0.9, 0.9)
    return np.stack([out, 0.9 * out], axis=1)


def sig_near_mono(n, rng):
    m = _music(n, rng, 23)
    mono = m.sum(axis=1) * 0.5
    return np.stack([mono, 0.97 * mono + 0.005 * rng.standard_normal(n)], axis=1)


def sig_wide(n, rng):
    a = _music(n, rng, 31)[:, 0]
    b = _music(n, rng, 47)[:, 1]
    noise = np.convolve(rng.standard_normal(n), np.ones(4) / 4, mode="same") * 0.03
    return np.stack([a + noise, b - noise], axis=1) * 0.9


def sig_bursts(n, rng):
    out = np.zeros((n, 2))
    t = np.arange(int(0.05 * FS)) / FS
    for i, s0 in enumerate(range(int(0.3 * FS), n - len(t), int(0.7 * FS))):
        b = 0.4 * np.sin(2 * np.pi * (500 + 300 * i) * t) + 0.1 * rng.standard_normal(len(t))
        b *= np.hanning(len(t)) ** 0.3
        out[s0 : s0 + len(t), 0] = b
        out[s0 : s0 + len(t), 1] = 0.8 * b
    return out


SIGNALS = {
    "speech": sig_speech,
    "music": sig_music,
    "sweep": sig_sweep,
    "transients": sig_transients,
    "near-mono": sig_near_mono,
    "wide": sig_wide,
    "bursts": sig_bursts,
}


def make_signal(name, seconds):
    rng = np.random.default_rng(sum(map(ord, name)))
    x = SIGNALS[name](int(seconds * FS), rng)
    return np.clip(np.round(x * 32767), -32768, 32767).astype(np.int16)


def write_wav(path, pcm):
    with wave.open(path, "wb") as w:
        w.setnchannels(pcm.shape[1])
        w.setsampwidth(2)
        w.setframerate(FS)
        w.writeframes(pcm.astype("<i2").tobytes())


# ---------------------------------------------------------------------------------- model 1


def bark(f):
    return 13 * np.arctan(0.00076 * f) + 3.5 * np.arctan((f / 7500.0) ** 2)


def quiet_db(f):
    """Terhardt's threshold in quiet in dB SPL, with 96 dB at full scale and the 12 dB lower
    level that ISO/IEC 11172-3 uses for bit rates of 96 kbit/s and more per channel."""
    k = np.maximum(f, 20.0) / 1000.0
    return 3.64 * k**-0.8 - 6.5 * np.exp(-0.6 * (k - 3.3) ** 2) + 1e-3 * k**4 - 12.0


LINES = N_FFT // 2
FREQ = np.arange(LINES + 1) * FS / N_FFT
Z = bark(FREQ)
LTQ = quiet_db(FREQ)
WIN = np.sqrt(8.0 / 3.0) * 0.5 * (1 - np.cos(2 * np.pi * np.arange(N_FFT) / N_FFT))
# 96 dB for a full-scale sine (the standard's normalisation)
_ref = np.abs(np.fft.rfft(WIN * np.sin(2 * np.pi * 64 * np.arange(N_FFT) / N_FFT)))
DB_OFFSET = 96.0 - 10 * np.log10(np.max(_ref) ** 2)
# tonal neighbourhoods by line (Annex D, 1024-point FFT)
NEIGH = [np.array(j) for j in ([2], [2, 3], list(range(2, 7)), list(range(2, 13)))]
CB_EDGES = np.searchsorted(Z, np.arange(0, 26))  # integer-Bark critical bands


def spectrum_db(frame):
    p = np.abs(np.fft.rfft(WIN * frame)) ** 2
    return DB_OFFSET + 10 * np.log10(p + 1e-20), p


def neighbourhood(k):
    return NEIGH[0] if k < 63 else NEIGH[1] if k < 127 else NEIGH[2] if k < 255 else NEIGH[3]


def spread(dz, x):
    """Spreading function vf(dz, X) of Annex D, -3 <= dz < 8 (else -inf)."""
    v = np.full(dz.shape, -np.inf)
    a = (dz >= -3) & (dz < -1)
    v[a] = (17 * (dz + 1) - (0.4 * x + 6))[a]
    a = (dz >= -1) & (dz < 0)
    v[a] = ((0.4 * x + 6) * dz)[a]
    a = (dz >= 0) & (dz < 1)
    v[a] = (-17 * dz)[a]
    a = (dz >= 1) & (dz < 8)
    v[a] = (-(dz - 1) * (17 - 0.15 * x) - 17)[a]
    return v


def masking_threshold(frame):
    """Global masking threshold (linear power per line, lines 0..512) of one 1024-sample frame."""
    X, _ = spectrum_db(frame)
    Xr = X.copy()
    tonal = []
    for k in range(3, 501):
        if not (X[k] > X[k - 1] and X[k] >= X[k + 1]):
            continue
        js = neighbourhood(k)
        js = js[(k + js <= LINES) & (k - js >= 0)]
        if np.all(X[k] - X[k + js] >= 7) and np.all(X[k] - X[k - js] >= 7):
            tonal.append((k, 10 * np.log10(np.sum(10 ** (X[k - 1 : k + 2] / 10)))))
    for k, _ in tonal:
        js = neighbourhood(k)
        lo, hi = max(0, k - js[-1]), min(LINES, k + js[-1])
        Xr[lo : hi + 1] = -np.inf
    nontonal = []
    for b in range(len(CB_EDGES) - 1):
        lo, hi = CB_EDGES[b], CB_EDGES[b + 1]
        if hi <= lo:
            continue
        p = np.sum(10 ** (Xr[lo:hi] / 10))
        if p > 0:
            geo = int(np.round(np.exp(np.mean(np.log(np.arange(max(lo, 1), max(hi, 2)))))))
            nontonal.append((min(geo, LINES), 10 * np.log10(p)))
    # decimation: below the threshold in quiet; the weaker of two tones within 0.5 Bark
    tonal = [(k, x) for k, x in tonal if x >= LTQ[k]]
    nontonal = [(k, x) for k, x in nontonal if x >= LTQ[k]]
    tonal.sort()
    kept = []
    for k, x in tonal:
        if kept and Z[k] - Z[kept[-1][0]] < 0.5:
            if x > kept[-1][1]:
                kept[-1] = (k, x)
        else:
            kept.append((k, x))
    total = 10 ** (LTQ / 10)
    for group, av in ((kept, lambda z: -1.525 - 0.275 * z - 4.5), (nontonal, lambda z: -1.525 - 0.175 * z - 0.5)):
        if not group:
            continue
        ks = np.array([k for k, _ in group])
        xs = np.array([x for _, x in group])
        dz = Z[None, :] - Z[ks][:, None]
        lt = xs[:, None] + av(Z[ks])[:, None] + spread(dz, xs[:, None])
        total = total + np.sum(10 ** (lt / 10), axis=0)
    return total


def granule_frames(x):
    """1024-sample frames centred on each 576-sample granule (zero beyond the ends)."""
    n = len(x)
    pad = np.concatenate([np.zeros(N_FFT), x, np.zeros(N_FFT)])
    starts = np.arange(0, n, HOP) + N_FFT + HOP // 2 - N_FFT // 2
    return [pad[s : s + N_FFT] for s in starts]


def thresholds(x):
    """Per channel and granule: (threshold power per line, signal present)."""
    out = []
    for frame in granule_frames(x):
        out.append((masking_threshold(frame), np.sum(frame**2) > 1e-9 * N_FFT))
    return out


def nmr(thr, err):
    """Per-granule NMR in dB of the error signal against precomputed thresholds."""
    top = int(20000 * N_FFT / FS)
    vals = []
    for (t, active), frame in zip(thr, granule_frames(err)):
        if not active:
            continue
        _, p = spectrum_db(frame)
        pn = 10 ** ((DB_OFFSET + 10 * np.log10(p + 1e-20)) / 10)
        ratios = []
        for sb in range(32):
            lo, hi = sb * 16, min(sb * 16 + 16, top)
            if hi <= lo:
                break
            ratios.append(np.sum(pn[lo:hi]) / np.min(t[lo:hi]))
        vals.append(10 * np.log10(np.mean(ratios) + 1e-20))
    return np.array(vals)


# ---------------------------------------------------------------------------------- codecs


def run(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise RuntimeError(" ".join(cmd) + ": " + r.stderr.decode(errors="replace")[-400:])
    return r.stdout


def decode(path, channels):
    raw = run(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", str(channels), "-"])
    return np.frombuffer(raw, dtype="<i2").reshape(-1, channels)


def align(ref, out):
    """out shifted to match ref (cross-correlation of the channel sums), cut to ref's length."""
    a = ref.sum(axis=1).astype(float)
    b = out.sum(axis=1).astype(float)
    n = 1 << int(np.ceil(np.log2(len(a) + len(b))))
    c = np.fft.irfft(np.fft.rfft(b, n) * np.conj(np.fft.rfft(a, n)), n)
    lags = np.concatenate([np.arange(0, 3000), np.arange(n - 3000, n)])
    lag = int(lags[np.argmax(c[lags])])
    lag = lag - n if lag > n // 2 else lag
    y = np.zeros_like(ref, dtype=float)
    src = out[max(lag, 0) :]
    dst0 = max(-lag, 0)
    m = min(len(ref) - dst0, len(src))
    y[dst0 : dst0 + m] = src[:m]
    return y, lag


def measures(ref, out, thr):
    x = ref.astype(float)
    y, lag = align(ref, out)
    e = y - x
    snr = 10 * np.log10(np.sum(x**2) / max(np.sum(e**2), 1e-9))
    seg = []
    for s in range(0, len(x) - HOP, HOP):
        px, pe = np.sum(x[s : s + HOP] ** 2), np.sum(e[s : s + HOP] ** 2)
        if px > HOP * 2 * 10.0**2:  # segments above about -70 dBFS
            seg.append(np.clip(10 * np.log10(px / max(pe, 1e-9)), -10, 80))
    # bandwidth from the long-term spectra
    def ltpsd(v):
        frames = [v[s : s + N_FFT] * WIN for s in range(0, len(v) - N_FFT, N_FFT // 2)]
        return np.mean(np.abs(np.fft.rfft(np.array(frames), axis=1)) ** 2, axis=0)

    px_s = np.convolve(sum(ltpsd(x[:, c]) for c in range(x.shape[1])), np.ones(8) / 8, mode="same")
    py_s = np.convolve(sum(ltpsd(y[:, c]) for c in range(y.shape[1])), np.ones(8) / 8, mode="same")
    ok = np.nonzero((py_s >= 0.1 * px_s) & (px_s > 1e-6 * np.max(px_s)))[0]
    bw = ok[-1] * FS / N_FFT / 1000 if len(ok) else 0.0
    vals = np.concatenate([nmr(thr[c], e[:, c] / 32768.0) for c in range(x.shape[1])])
    return {
        "snr": snr,
        "seg": float(np.mean(seg)) if seg else float("nan"),
        "bw": bw,
        "nmr": float(np.mean(vals)) if len(vals) else float("nan"),
        "over": 100.0 * float(np.mean(vals > 0)) if len(vals) else float("nan"),
        "lag": lag,
        "len_ok": len(out) == len(ref),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    default_enc = os.path.join(here, "..", "build", "release", "tools", "zufenc")
    ap.add_argument("--zufenc", default=os.environ.get("ZUFENC", default_enc))
    ap.add_argument("--rates", default="64,128,192,320")
    ap.add_argument("--signals", default=",".join(SIGNALS))
    ap.add_argument("--seconds", type=float, default=5.0)
    ap.add_argument("--encoders", default="zufenc,zufenc-iso,lame-q7,lame-q2,lame-q0,lame-q7-iso")
    ap.add_argument("--keep", help="keep the WAV and MP3 files in this directory")
    a = ap.parse_args()
    if not shutil.which("ffmpeg"):
        sys.exit("mp3_quality: ffmpeg is needed to decode")
    encs = [e for e in a.encoders.split(",") if e.startswith("zufenc") or shutil.which("lame")]
    work = a.keep or tempfile.mkdtemp(prefix="mp3_quality_")
    os.makedirs(work, exist_ok=True)
    rates = [int(r) for r in a.rates.split(",")]
    rows, worse = [], []
    print(f"{'signal':<11}{'kbit/s':>7}  {'encoder':<12}{'SNR':>7}{'segSNR':>8}{'BW kHz':>8}{'NMR dB':>8}{'>0 dB %':>9}")
    for name in a.signals.split(","):
        pcm = make_signal(name, a.seconds)
        wav = os.path.join(work, name + ".wav")
        write_wav(wav, pcm)
        thr = [thresholds(pcm[:, c].astype(float) / 32768.0) for c in range(pcm.shape[1])]
        for rate in rates:
            res = {}
            for enc in encs:
                mp3 = os.path.join(work, f"{name}-{rate}-{enc}.mp3")
                lame = ["lame", "--quiet", "--cbr", "-b", str(rate), "--resample", "44.1"]
                if enc == "zufenc":
                    run([a.zufenc, "-q", "-y", "-b", str(rate), wav, mp3])
                elif enc == "zufenc-library":  # the library's rate loop where frames have a reservoir
                    run([a.zufenc, "-q", "-y", "-b", str(rate), "--rate-loop", "library", wav, mp3])
                elif enc.endswith("-iso"):
                    # Only where the standard's 7680-bit buffer leaves a frame no reservoir.
                    if 8 * (144000 * rate // FS) < 7680:
                        continue
                    if enc == "zufenc-iso":
                        run([a.zufenc, "-q", "-y", "-b", str(rate), "--strictly-enforce-ISO", wav, mp3])
                    else:
                        run(lame + ["-q", enc[6], "--strictly-enforce-ISO", wav, mp3])
                else:
                    run(lame + ["-q", enc[-1], wav, mp3])
                res[enc] = m = measures(pcm, decode(mp3, pcm.shape[1]), thr)
                flag = "" if m["len_ok"] else "  (length differs)"
                print(f"{name:<11}{rate:>7}  {enc:<12}{m['snr']:7.2f}{m['seg']:8.2f}{m['bw']:8.1f}{m['nmr']:8.2f}"
                      f"{m['over']:9.1f}{flag}", flush=True)
                rows.append((name, rate, enc, m))
            if "zufenc" in res and "lame-q7" in res and rate >= 128 and res["zufenc"]["nmr"] > res["lame-q7"]["nmr"]:
                ours, q7 = res["zufenc"]["nmr"], res["lame-q7"]["nmr"]
                line = f"{name} {rate}: {ours:.2f} dB against lame -q 7 {q7:.2f}"
                if "lame-q7-iso" in res:
                    line += f" (held to the 7680-bit buffer: {res['lame-q7-iso']['nmr']:.2f})"
                worse.append(line)
    print()
    if worse:
        print("zufenc's mean NMR is worse than lame -q 7's at 128 kbit/s and above on:")
        for w in worse:
            print("  " + w)
    else:
        print("zufenc's mean NMR is at least as good as lame -q 7's on every signal at 128 kbit/s and above")
    if not a.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
