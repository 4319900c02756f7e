#!/usr/bin/env python3
"""Writes and checks the CRC words of ADTS streams (AAC-LC, channel_configuration 1 or 2).

  adts_protect.py IN.aac OUT.aac [BLOCKS]   OUT: IN's raw_data_block()s, BLOCKS per frame (1..4),
                                            with protection_absent 0 and every CRC word computed
  adts_protect.py check IN.aac              recomputes the CRC words of a protected stream; prints
                                            the frames that do not match, exits 1 if any

IN of the first form is what ffmpeg's ADTS muxer writes: unprotected frames of one block each.
This is a second implementation of the rule, independent of tools/example/aac_decoder.c: it finds
the element boundaries with its own parse of the syntax (ISO/IEC 14496-3 4.4.2, the Huffman codes
read from tools/gen/data).

The rule (ISO/IEC 13818-7 6.2 and 8.2, ISO/IEC 14496-3 1.A.2 and 1.A.3.2.1, crc_check): CRC-16
with generator x^16 + x^15 + x^2 + 1 and initial value 0xFFFF (ISO/IEC 11172-3 2.4.3.1) over, in
the order of their appearance,
  - the header: the 56 bits of adts_fixed_header() and adts_variable_header(), and with several
    blocks the raw_data_block_position words (adts_header_error_check()),
  - of each single_channel_element(), lfe_channel_element() and coupling_channel_element() the
    first 192 bits, of each channel_pair_element() the first 192 bits and then the first 128 bits
    of its second individual_channel_stream(), each counted from after the 3-bit id_syn_ele and
    filled up with zero bits where the element (for the 128 bits: the pair) ends sooner,
  - all of each program_config_element() and data_stream_element() after its id_syn_ele;
fill elements and the END element are not protected. A frame of one block has one CRC over the
header and the block; a frame of several blocks has one over the header (and positions) and one
after each block, each starting again from 0xFFFF.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from aacpack import adts_frames, adts_header  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
ID_SCE, ID_CPE, ID_CCE, ID_LFE, ID_DSE, ID_PCE, ID_FIL, ID_END = range(8)
EIGHT_SHORT = 2


def crc16(bits, crc=0xFFFF):
    for b in bits:
        crc = ((crc << 1) & 0xFFFF) ^ (0x8005 if b ^ (crc >> 15) else 0)
    return crc


def read_codes(name):
    """{codebook: {codeword string: index}} from a data file (scale factors: codebook 0)."""
    books = {}
    for line in open(os.path.join(DATA, name)):
        if line.startswith("#") or not line.strip():
            continue
        f = line.split()
        if len(f) == 3:
            f = ["0"] + f
        books.setdefault(int(f[0]), {})[f[3]] = int(f[1])
    return books


CODES = {**read_codes("aac_spectral_huffman.txt"), 0: read_codes("aac_scalefactor_huffman.txt")[0]}
# codebook: (dimension, signed, modulus, offset), Table 4.A.1 of ISO/IEC 14496-3
BOOKS = {1: (4, 1, 3, 1), 2: (4, 1, 3, 1), 3: (4, 0, 3, 0), 4: (4, 0, 3, 0), 5: (2, 1, 9, 4),
         6: (2, 1, 9, 4), 7: (2, 0, 8, 0), 8: (2, 0, 8, 0), 9: (2, 0, 13, 0), 10: (2, 0, 13, 0),
         11: (2, 0, 17, 0)}
SWB = {}
for line in open(os.path.join(DATA, "aac_swb_offsets.txt")):
    if not line.startswith("#") and line.strip():
        f = line.split()
        SWB[(f[0], int(f[1]))] = [int(v) for v in f[4:]]


class Bits:
    def __init__(self, data, pos=0):
        self.bits = [(byte >> (7 - i)) & 1 for byte in data for i in range(8)]
        self.pos = pos

    def get(self, n):
        if self.pos + n > len(self.bits):
            raise ValueError("element runs past the end of the frame")
        v = 0
        for b in self.bits[self.pos:self.pos + n]:
            v = (v << 1) | b
        self.pos += n
        return v

    def huff(self, book):
        code = ""
        while code not in CODES[book]:
            if len(code) > 19:
                raise ValueError(f"no codeword of codebook {book}")
            code += str(self.get(1))
        return CODES[book][code]

    def span(self, start, n, end):
        """n bits from `start`, zero bits at and after `end`."""
        return [self.bits[i] if i < end else 0 for i in range(start, start + n)]


def ics_info(bs, sfi):
    bs.get(1)  # ics_reserved_bit
    seq = bs.get(2)
    bs.get(1)  # window_shape
    if seq == EIGHT_SHORT:
        max_sfb, grouping = bs.get(4), bs.get(7)
        groups = [1]
        for i in range(7):
            if grouping >> (6 - i) & 1:
                groups[-1] += 1
            else:
                groups.append(1)
        return {"short": True, "max_sfb": max_sfb, "groups": groups, "swb": SWB[("short", sfi)]}
    max_sfb = bs.get(6)
    if bs.get(1):
        raise ValueError("predictor_data_present in an LC stream")
    return {"short": False, "max_sfb": max_sfb, "groups": [1], "swb": SWB[("long", sfi)]}


def ics(bs, sfi, common):
    """individual_channel_stream(), only to find where it ends."""
    bs.get(8)  # global_gain
    info = common if common else ics_info(bs, sfi)
    short, max_sfb, groups = info["short"], info["max_sfb"], info["groups"]
    sections = []  # (group, codebook, first band, end band)
    for g in range(len(groups)):
        k, bits, esc = 0, (3 if short else 5), (7 if short else 31)
        while k < max_sfb:
            cb, n = bs.get(4), 0
            while True:
                inc = bs.get(bits)
                n += inc
                if inc != esc:
                    break
            sections.append((g, cb, k, k + n))
            k += n
    noise_first = True
    for g, cb, a, b in sections:  # scale_factor_data()
        for _ in range(a, b):
            if cb == 13 and noise_first:
                bs.get(9)
                noise_first = False
            elif cb:
                bs.huff(0)
    if bs.get(1):  # pulse_data_present
        n = bs.get(2)
        bs.get(6)
        bs.get(9 * (n + 1))
    if bs.get(1):  # tns_data_present
        for _ in range(8 if short else 1):
            n_filt = bs.get(1 if short else 2)
            res = bs.get(1) if n_filt else 0
            for _ in range(n_filt):
                bs.get(4 if short else 6)
                order = bs.get(3 if short else 5)
                if order:
                    bs.get(1)
                    compress = bs.get(1)
                    bs.get(order * (res + 3 - compress))
    if bs.get(1):
        raise ValueError("gain control data in an LC stream")
    swb = info["swb"]
    for g, cb, a, b in sections:  # spectral_data()
        if cb in (0, 13, 14, 15):
            continue
        dim, signed, mod, off = BOOKS[cb]
        for _ in range(0, groups[g] * (swb[b] - swb[a]), dim):
            idx = bs.huff(cb)
            vals = []
            for _ in range(dim):
                vals.insert(0, idx % mod - off)
                idx //= mod
            if not signed:
                bs.get(sum(1 for v in vals if v))
            for v in vals:
                if cb == 11 and v == 16:  # escape: N ones, a zero, N + 4 bits
                    n = 0
                    while bs.get(1):
                        n += 1
                    bs.get(n + 4)


def block_crc_bits(bs, sfi):
    """Parses one raw_data_block() from bs.pos; returns the protected bits, in order."""
    out = []
    while True:
        elem = bs.get(3)
        start = bs.pos
        if elem == ID_END:
            bs.pos += -bs.pos % 8  # byte_alignment()
            return out
        if elem in (ID_SCE, ID_LFE):
            bs.get(4)
            ics(bs, sfi, None)
            out += bs.span(start, 192, bs.pos)
        elif elem == ID_CPE:
            bs.get(4)
            common = None
            if bs.get(1):
                common = ics_info(bs, sfi)
                if bs.get(2) == 1:
                    bs.get(len(common["groups"]) * common["max_sfb"])
            ics(bs, sfi, common)
            second = bs.pos
            ics(bs, sfi, common)
            out += bs.span(start, 192, bs.pos) + bs.span(second, 128, bs.pos)
        elif elem == ID_DSE:
            bs.get(4)
            align, cnt = bs.get(1), bs.get(8)
            if cnt == 255:
                cnt += bs.get(8)
            if align:
                bs.pos += -bs.pos % 8
            bs.get(8 * cnt)
            out += bs.span(start, bs.pos - start, bs.pos)
        elif elem == ID_FIL:
            cnt = bs.get(4)
            if cnt == 15:
                cnt += bs.get(8) - 1
            bs.get(8 * cnt)
        else:
            raise ValueError(f"element {elem} is not handled here")


def header_bits(h):
    return Bits(h).span(0, 8 * len(h), 8 * len(h))


def protect(src, dst, blocks):
    frames = list(adts_frames(open(src, "rb").read()))
    out = bytearray()
    for i in range(0, len(frames), blocks):
        group = frames[i:i + blocks]
        f, n = group[0][0], len(group)
        prot = []
        for _, p in group:
            bs = Bits(p)
            prot.append(block_crc_bits(bs, f["sampling_frequency_index"]))
            if bs.pos != 8 * len(p):  # the parse must end exactly where the block ends
                sys.exit(f"frame {i}: the block's elements end at bit {bs.pos} of {8 * len(p)}")
        payload = bytearray()
        positions = []  # raw_data_block_position: bytes from the start of the first block
        head = 7 + 2 * n  # the header, n - 1 positions and the header's CRC
        for j, (_, p) in enumerate(group):
            if j:
                positions.append(len(payload))
            payload += p
            if n > 1:
                payload += crc16(prot[j]).to_bytes(2, "big")
        if head + len(payload) >= 1 << 13:
            sys.exit("frame too long for aac_frame_length")
        h = bytearray(adts_header_protected(f, head - 7 + len(payload), n))
        for pos in positions:
            h += pos.to_bytes(2, "big")
        crc = crc16(header_bits(h))
        if n == 1:
            crc = crc16(prot[0], crc)
        out += h + crc.to_bytes(2, "big") + payload
    open(dst, "wb").write(out)


def adts_header_protected(f, payload_len, blocks):
    h = bytearray(adts_header(f, payload_len, blocks))
    h[1] &= 0xFE  # protection_absent 0
    return h


def check(src):
    data, pos, bad, frame = open(src, "rb").read(), 0, 0, 0
    while pos + 9 <= len(data):
        h = data[pos:pos + 7]
        if h[0] != 0xFF or (h[1] & 0xF7) != 0xF0:
            sys.exit(f"no protected ADTS header at byte {pos}")
        length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5)
        n, sfi = (h[6] & 3) + 1, (h[2] >> 2) & 15
        fr = data[pos:pos + length]
        head = 7 + 2 * (n - 1)
        got = int.from_bytes(fr[head:head + 2], "big")
        bs = Bits(fr, 8 * (head + 2))
        ok = True
        try:
            crc = crc16(header_bits(fr[:head]))
            if n == 1:
                ok = crc16(block_crc_bits(bs, sfi), crc) == got
            else:
                ok = crc == got
                for _ in range(n):
                    prot = block_crc_bits(bs, sfi)
                    word = int.from_bytes(fr[bs.pos // 8:bs.pos // 8 + 2], "big")
                    ok = ok and crc16(prot) == word
                    bs.pos += 16
        except ValueError as e:
            print(f"frame {frame} at {pos}: {e}")
            ok = False
        if not ok:
            print(f"frame {frame} at {pos}: CRC mismatch")
            bad += 1
        pos += length
        frame += 1
    print(f"{frame} frames, {bad} with a CRC mismatch")
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2]))
    if len(sys.argv) in (3, 4):
        protect(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 1)
    else:
        sys.exit(__doc__)
