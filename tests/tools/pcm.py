#!/usr/bin/env python3
"""Reads what zufdec writes, independently of its code, and compares outputs sample by sample.

WAV (format 1 at 16 or 24 bits, format 3 at 32-bit float) is parsed chunk by chunk; a data size
of 0xFFFFFFFF (a stream written to a pipe) or one past the end of the file means "to the end".
Raw PCM is read as s16le, s24le or f32le. Every sample is returned in 16-bit units.

  pcm.py info FILE                    prints "format channels rate frames"
  pcm.py same WAV1 WAV2               the two hold the same samples (whatever their headers)
  pcm.py compare REF FILE [RAWFMT] [--exact | --finer]
      REF is a 16-bit WAV; FILE has the same samples within 1 LSB of 16 bits (after clipping to
      16 bits: a float output may go past full scale). --exact: FILE holds REF's 16-bit values
      exactly (MP3, whose synthesis gives 16 bits). --finer: most samples of FILE carry bits
      below 16 (AAC, whose filter bank gives about 24).
"""
import struct
import sys


def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a RIFF WAVE file")
    pos, fmt = 12, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = pos + 8
        if cid == b"fmt ":
            tag, ch, rate, _, _, bits = struct.unpack_from("<HHIIHH", data, body)
            if tag == 0xFFFE:  # WAVE_FORMAT_EXTENSIBLE: the format is the subformat GUID's first word
                tag = struct.unpack_from("<H", data, body + 24)[0]
            fmt = (tag, bits, ch, rate)
        elif cid == b"data":
            if fmt is None:
                sys.exit(f"{path}: data before fmt")
            end = len(data) if size == 0xFFFFFFFF or body + size > len(data) else body + size
            tag, bits, ch, rate = fmt
            kind = {(1, 16): "s16le", (1, 24): "s24le", (3, 32): "f32le"}.get((tag, bits))
            if kind is None:
                sys.exit(f"{path}: format {tag} with {bits} bits")
            return kind, ch, rate, decode(data[body:end], kind)
        pos = body + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def decode(raw, kind):
    if kind == "s16le":
        return list(struct.unpack(f"<{len(raw) // 2}h", raw[: len(raw) // 2 * 2]))
    if kind == "f32le":
        return [v * 32768.0 for v in struct.unpack(f"<{len(raw) // 4}f", raw[: len(raw) // 4 * 4])]
    out = []
    for i in range(0, len(raw) - 2, 3):
        v = raw[i] | raw[i + 1] << 8 | raw[i + 2] << 16
        out.append((v - (1 << 24) if v & 0x800000 else v) / 256.0)
    return out


def main():
    if sys.argv[1] == "info":
        kind, ch, rate, s = read_wav(sys.argv[2])
        print(kind, ch, rate, len(s) // ch)
        return
    if sys.argv[1] == "same":
        a, b = read_wav(sys.argv[2]), read_wav(sys.argv[3])
        if a[1:] != b[1:]:
            sys.exit(f"{sys.argv[2]} and {sys.argv[3]} differ")
        return
    ref = read_wav(sys.argv[2])[3]
    args = sys.argv[4:]
    raw = next((a for a in args if not a.startswith("--")), None)
    got = decode(open(sys.argv[3], "rb").read(), raw) if raw else read_wav(sys.argv[3])[3]
    if len(got) != len(ref):
        sys.exit(f"{sys.argv[3]}: {len(got)} samples, the 16-bit output has {len(ref)}")
    worst = max((abs(min(max(g, -32768.0), 32767.0) - r) for g, r in zip(got, ref)), default=0.0)
    finer = sum(1 for g in got if g != int(g)) / max(len(got), 1)
    print(f"{sys.argv[3]}: {len(got)} samples, max |diff| {worst:.4f} LSB of 16 bits, {finer:.0%} finer than 16 bits")
    if worst > (0 if "--exact" in args else 1):
        sys.exit("too far from the 16-bit output")
    if "--finer" in args and finer < 0.5:
        sys.exit("no more precision than 16 bits")
    if "--exact" in args and finer:
        sys.exit("bits below 16 in an output made from 16-bit samples")


main()
