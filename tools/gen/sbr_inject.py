#!/usr/bin/env python3
"""Turns an AAC-LC ADTS stream into an HE-AAC v1 one: every raw_data_block gets an SBR payload
(ISO/IEC 14496-3 4.4.2.8: a fill element with EXT_SBR_DATA before the END element) that codes
known envelopes, noise floors and sinusoids, chosen by the schedule below. FFmpeg's native
encoder writes no SBR, so this is how the project's own HE-AAC vectors are made.

Usage: sbr_inject.py IN.aac OUT.aac

Input: ADTS, protection_absent 1, one raw_data_block per frame holding one single_channel_element
or one channel_pair_element, at 24 kHz (SBR at 48 kHz).

Header (in every frame): bs_start_freq 5, bs_stop_freq 9, bs_xover_band 0, bs_freq_scale 0,
bs_alter_scale 0, bs_noise_bands 2, bs_limiter_bands 2, bs_limiter_gains 3 (no limiting),
bs_interpol_freq 1, bs_smoothing_mode 1 (no smoothing). At 48 kHz: k0 13, k2 45, 32 high-resolution
bands (one QMF channel each, 13..44), 16 low-resolution bands, 4 noise bands. Without limiting
and smoothing the adjusted high band of every envelope carries its envelope's energy in each QMF
channel (but 43 and 44, past the last patch and the last limiter band: silent), whatever the noise
floor or sinusoid, so the levels below are measurable.

Schedule, frame k, class slot s = k % 8, cycle c = k // 8:
  bs_amp_res (header)  c % 2 (the FIXFIX frame with one envelope codes 1.5 dB steps regardless)
  coupling (stereo)    (c // 2 + k // 4) % 2, so every slot meets both with both resolutions
  frame grid, s:       borders in SBR time slots (frame 0..16), freq_res per envelope
    0 FIXFIX 1 env  0,16                  1
    1 FIXFIX 2 env  0,8,16                0,0
    2 FIXVAR        0,14,18               1,0      (ends 2 slots into the next frame)
    3 VARFIX        2,6,10,16             0,1,1
    4 FIXFIX 4 env  0,4,8,12,16           1,1,1,1
    5 FIXVAR        0,7,13,17             0,1,0
    6 VARVAR        1,5,11,15,19          1,0,1,0
    7 VARVAR        3,5,7,12,14,16        0,1,0,1,0
  bs_pointer 0 in every frame.
  Envelope level of envelope e, in 1.5 dB steps: L = LEVELS[(k + e) % 3] (6 dB apart), the same
  on every band; 3.0 dB frames code L / 2. Stereo: the second channel is 6 dB below the first.
  Uncoupled it codes L - 4. Coupled, the balance is the pan offset + 6 dB (coded in the halved
  units: 14 at 1.5 dB, 7 at 3.0 dB), and the level channel codes L - 1 (1.5 dB) or L / 2 - 1
  (3.0 dB), whole steps near the exact L - 2 + 2 log2(1.25); the first channel then gets
  2^(E a + 1) / 1.25 and the second 2^(E a + 1) / 5 (a = 1/2 or 1: 1.5 or 3.0 dB steps).
  Delta coding of envelope e: time (bs_df_env 1) when (k + e) is odd, else frequency; noise
  envelope n: time when (k + n) is even. Across frames, time deltas are used only when the
  previous frame had the same amplitude resolution and coupling (else the units differ).
  Noise floor of frame k: NOISE[k % 4] on every noise band (coupled: balance centred).
  bs_invf_mode of noise band i: (k + i) % 4.
  Sinusoids: in slots 3 and 4, bs_add_harmonic on high band SINE_BAND 20 (QMF channel 33, 12.375
  to 12.75 kHz), with the noise floor at 30 (no noise) in those frames.
The test (tests/test_sbr_vectors.cpp) recomputes the same schedule.
"""
import os
import sys

LEVELS = (32, 36, 40)  # 1.5 dB steps
NOISE = (4, 10, 16, 22)
SINE_BAND = 20
N_HIGH, N_LOW, N_Q = 32, 16, 4
GRIDS = [  # class, borders, freq_res; class: 0 FIXFIX, 1 FIXVAR, 2 VARFIX, 3 VARVAR
    (0, (0, 16), (1,)),
    (0, (0, 8, 16), (0, 0)),
    (1, (0, 14, 18), (1, 0)),
    (2, (2, 6, 10, 16), (0, 1, 1)),
    (0, (0, 4, 8, 12, 16), (1, 1, 1, 1)),
    (1, (0, 7, 13, 17), (0, 1, 0)),
    (3, (1, 5, 11, 15, 19), (1, 0, 1, 0)),
    (3, (3, 5, 7, 12, 14, 16), (0, 1, 0, 1, 0)),
]
LAV = {"env_1_5dB": 60, "env_bal_1_5dB": 24, "env_3_0dB": 31, "env_bal_3_0dB": 12, "noise_3_0dB": 31,
       "noise_bal_3_0dB": 12}


def load_codes():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "sbr_huffman.txt")
    books = {}
    for line in open(path):
        if line.startswith("#") or not line.strip():
            continue
        name, index, length, code = line.split()
        assert len(code) == int(length)
        books.setdefault(name, {})[int(index) - LAV[name.split("_huffman_")[1]]] = code
    return books


CODES = load_codes()


def schedule(k):
    """The frame's parameters: amp_res, coupling, grid, levels (1.5 dB steps) per envelope."""
    c, s = k // 8, k % 8
    amp = c % 2  # the header's; a FIXFIX frame with one envelope uses 1.5 dB whatever it says
    coupling = (c // 2 + k // 4) % 2
    cls, borders, res = GRIDS[s]
    levels = [LEVELS[(k + e) % 3] for e in range(len(res))]
    sine = s in (3, 4)
    noise = 30 if sine else NOISE[k % 4]
    return amp, coupling, cls, borders, res, levels, sine, noise


class Bits:
    def __init__(self):
        self.s = []

    def put(self, v, n):
        assert 0 <= v < (1 << n) or n == 0, (v, n)
        if n:
            self.s.append(format(v, "0%db" % n))

    def huff(self, book, d):
        self.s.append(CODES[book][d])

    def text(self):
        return "".join(self.s)


def grid(w, cls, borders, res):
    ne = len(res)
    w.put(cls, 2)
    ptr_bits = (ne).bit_length()  # ceil(log2(ne + 1))
    if cls == 0:
        w.put(ne.bit_length() - 1, 2)
        w.put(res[0], 1)
        return
    if cls == 1:  # FIXVAR: bs_var_bord_1, bs_num_rel_1, rel borders from the end, pointer, res reversed
        w.put(borders[-1] - 16, 2)
        w.put(ne - 1, 2)
        for i in range(ne - 1):
            w.put((borders[ne - i] - borders[ne - 1 - i] - 2) // 2, 2)
        w.put(0, ptr_bits)
        for e in range(ne):
            w.put(res[ne - 1 - e], 1)
        return
    lead = ne - 1 if cls == 2 else None
    if cls == 2:  # VARFIX: bs_var_bord_0, bs_num_rel_0, rel borders from the start
        w.put(borders[0], 2)
        w.put(lead, 2)
        for i in range(lead):
            w.put((borders[i + 1] - borders[i] - 2) // 2, 2)
    else:  # VARVAR: as many leading as trailing relative borders (the rest)
        n0 = (ne - 1 + 1) // 2
        n1 = ne - 1 - n0
        w.put(borders[0], 2)
        w.put(borders[-1] - 16, 2)
        w.put(n0, 2)
        w.put(n1, 2)
        for i in range(n0):
            w.put((borders[i + 1] - borders[i] - 2) // 2, 2)
        for i in range(n1):
            w.put((borders[ne - i] - borders[ne - 1 - i] - 2) // 2, 2)
    w.put(0, ptr_bits)
    for e in range(ne):
        w.put(res[e], 1)


def envelope(w, values, res, amp, bal, df, prev):
    """values: raw (coded) value per envelope, flat across bands; prev: the last one before."""
    tb = ("t_huffman_env_bal_" if bal else "t_huffman_env_") + ("3_0dB" if amp else "1_5dB")
    fb = "f" + tb[1:]
    bits = (5 if amp else 6) if bal else (6 if amp else 7)
    for e, v in enumerate(values):
        n = N_HIGH if res[e] else N_LOW
        if df[e]:
            for _ in range(n):
                w.huff(tb, v - prev)
        else:
            w.put(v, bits)
            for _ in range(n - 1):
                w.huff(fb, 0)
        prev = v


def noise(w, values, bal, df, prev):
    tb = "t_huffman_noise_bal_3_0dB" if bal else "t_huffman_noise_3_0dB"
    fb = "f_huffman_env_bal_3_0dB" if bal else "f_huffman_env_3_0dB"
    for n, v in enumerate(values):
        if df[n]:
            for _ in range(N_Q):
                w.huff(tb, v - prev)
        else:
            w.put(v, 5)
            for _ in range(N_Q - 1):
                w.huff(fb, 0)
        prev = v


def stereo_levels(levels, amp, coupling):
    """Coded values (first or level channel, second or balance channel) per envelope: see the
    schedule above."""
    step = 2 if amp else 1
    if not coupling:
        return [v // step for v in levels], [(v - 4) // step for v in levels]
    pan = 12 if amp else 24
    # 2^(x/2 + 1) / 1.25 = 2^(L/2) -> x = L - 2 + 2 log2(1.25) = L - 1.36 -> L - 1 (1.5 dB steps)
    lvl = [(v - 1) // step if not amp else (v - 2) // 2 for v in levels]
    bal = [(pan + 4) // 2 if not amp else (pan + 2) // 2 for _ in levels]
    return lvl, bal


def payload(k, nch, prev):
    """sbr_extension_data() bits of frame k; prev: per channel (amp, coupling, last env, last noise)."""
    amp, coupling, cls, borders, res, levels, sine, nlevel = schedule(k)
    if nch == 1:
        coupling = 0
    w = Bits()
    w.put(1, 1)  # bs_header_flag
    w.put(amp, 1)
    for v, n in ((5, 4), (9, 4), (0, 3), (0, 2), (1, 1), (1, 1), (0, 2), (0, 1), (2, 2), (2, 2), (3, 2), (1, 1),
                 (1, 1)):
        w.put(v, n)
    ne = len(res)
    nn = 2 if ne > 1 else 1
    frame_amp = 0 if (cls == 0 and ne == 1) else amp
    if nch == 1:
        envs = [[v // (2 if frame_amp else 1) for v in levels]]
        noises = [[nlevel] * nn]
    else:
        envs = list(stereo_levels(levels, frame_amp, coupling))
        noises = [[nlevel] * nn, [6 if coupling else nlevel] * nn]
    same = [p is not None and p[0] == frame_amp and p[1] == coupling for p in prev]
    dfe = [[(k + e) % 2 == 1 and (e > 0 or same[c]) for e in range(ne)] for c in range(nch)]
    dfn = [[(k + n) % 2 == 0 and (n > 0 or same[c]) for n in range(nn)] for c in range(nch)]
    w.put(0, 1)  # bs_data_extra
    ahm = [1 if (sine and b == SINE_BAND) else 0 for b in range(N_HIGH)]
    invf = [(k + i) % 4 for i in range(N_Q)]

    def last(c, which):
        return prev[c][2 + which] if prev[c] is not None else 0

    if nch == 1:
        grid(w, cls, borders, res)
        for d in dfe[0] + dfn[0]:
            w.put(int(d), 1)
        for m in invf:
            w.put(m, 2)
        envelope(w, envs[0], res, frame_amp, 0, dfe[0], last(0, 0))
        noise(w, noises[0], 0, dfn[0], last(0, 1))
    else:
        w.put(coupling, 1)
        grid(w, cls, borders, res)
        if not coupling:
            grid(w, cls, borders, res)
        for c in range(2):
            for d in dfe[c] + dfn[c]:
                w.put(int(d), 1)
        for _ in range(1 if coupling else 2):
            for m in invf:
                w.put(m, 2)
        if coupling:
            envelope(w, envs[0], res, frame_amp, 0, dfe[0], last(0, 0))
            noise(w, noises[0], 0, dfn[0], last(0, 1))
            envelope(w, envs[1], res, frame_amp, 1, dfe[1], last(1, 0))
            noise(w, noises[1], 1, dfn[1], last(1, 1))
        else:
            envelope(w, envs[0], res, frame_amp, 0, dfe[0], last(0, 0))
            envelope(w, envs[1], res, frame_amp, 0, dfe[1], last(1, 0))
            noise(w, noises[0], 0, dfn[0], last(0, 1))
            noise(w, noises[1], 0, dfn[1], last(1, 1))
    for c in range(nch):
        w.put(1 if sine else 0, 1)  # bs_add_harmonic_flag
        if sine:
            for a in ahm:
                w.put(a, 1)
    w.put(0, 1)  # bs_extended_data
    new_prev = [(frame_amp, coupling, envs[c][-1], noises[c][-1]) for c in range(nch)]
    return w.text(), new_prev


def fill_element(sbr_bits):
    """ID_FIL with extension_payload(EXT_SBR_DATA), padded to whole bytes."""
    body = "1101" + sbr_bits
    body += "0" * (-len(body) % 8)
    cnt = len(body) // 8
    assert cnt <= 15 + 255 - 1
    head = "110" + (format(cnt, "04b") if cnt < 15 else "1111" + format(cnt - 14, "08b"))
    return head + body


def frames(data):
    i = 0
    while i + 7 <= len(data):
        n = ((data[i + 3] & 3) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5)
        yield bytearray(data[i:i + n])
        i += n


def inject(frame, k, prev):
    assert frame[1] & 1, "CRC-protected frames are not handled"
    assert frame[6] & 3 == 0, "one raw data block per frame"
    assert (frame[2] >> 2) & 15 == 6, "24 kHz core"
    bits = "".join(format(b, "08b") for b in frame[7:])
    nch = 1 if bits[0:3] == "000" else 2
    assert bits[0:3] in ("000", "001")
    end = bits.rindex("1") + 1 - 3  # the END element's 111, then the byte alignment
    assert bits[end:end + 3] == "111"
    sbr, prev = payload(k, nch, prev)
    bits = bits[:end] + fill_element(sbr) + "111"
    bits += "0" * (-len(bits) % 8)
    out = bytearray(frame[:7]) + bytes(int(bits[j:j + 8], 2) for j in range(0, len(bits), 8))
    n = len(out)
    assert n < 8192 and (n - 7) * 8 <= 6144 * nch
    out[3] = (out[3] & 0xFC) | (n >> 11)
    out[4] = (n >> 3) & 0xFF
    out[5] = (out[5] & 0x1F) | ((n & 7) << 5)
    return out, prev


def main():
    data = open(sys.argv[1], "rb").read()
    out, prev = [], [None, None]
    for k, f in enumerate(frames(data)):
        frame, prev = inject(f, k, prev)
        out.append(bytes(frame))
    open(sys.argv[2], "wb").write(b"".join(out))


if __name__ == "__main__":
    main()
