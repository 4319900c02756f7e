#!/usr/bin/env python3
"""Re-packs ADTS streams and writes ADIF streams for the test vectors (see make-vectors.sh).

  aacpack.py repack IN.aac OUT.aac BLOCKS   ADTS with BLOCKS raw_data_block()s per frame
  aacpack.py adif IN.aac OUT.adif           ADIF: one program_config_element, then IN's blocks
  aacpack.py adif-two-pce OUT.adif          hand-made ADIF header with two PCEs and comments
  aacpack.py pce IN.aac OUT.aac             ADTS with channel_configuration 0 and a PCE that
                                            describes IN's configuration opening every frame

Only unprotected single-block input (protection_absent 1, one block per frame) is accepted,
which is what ffmpeg's ADTS muxer writes. Without adts_error_check() a frame with several
blocks is just the blocks back to back (ISO/IEC 13818-7 6.2, adts_frame()), so re-packing
needs no CRC and no raw_data_block_position.
"""
import sys


class BitWriter:
    """Most significant bit first, as in the AAC syntax."""

    def __init__(self):
        self.bits = []

    def put(self, value, width):
        assert 0 <= value < (1 << width), (value, width)
        self.bits.extend((value >> (width - 1 - i)) & 1 for i in range(width))

    def align(self):
        while len(self.bits) % 8:
            self.bits.append(0)

    def data(self):
        assert len(self.bits) % 8 == 0
        return bytes(int("".join(map(str, self.bits[i:i + 8])), 2) for i in range(0, len(self.bits), 8))


def adts_frames(data):
    """Yields (fields, payload) for each frame; fails on anything but a clean frame chain."""
    pos = 0
    while pos < len(data):
        h = data[pos:pos + 7]
        if len(h) < 7 or h[0] != 0xFF or (h[1] & 0xF6) != 0xF0:
            sys.exit(f"no ADTS header at byte {pos}")
        fields = {
            "id": (h[1] >> 3) & 1,
            "protection_absent": h[1] & 1,
            "profile": h[2] >> 6,
            "sampling_frequency_index": (h[2] >> 2) & 15,
            "channel_configuration": ((h[2] & 1) << 2) | (h[3] >> 6),
            "frame_length": ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5),
            "buffer_fullness": ((h[5] & 31) << 6) | (h[6] >> 2),
            "blocks": (h[6] & 3) + 1,
        }
        if fields["protection_absent"] != 1 or fields["blocks"] != 1:
            sys.exit(f"frame at byte {pos}: only unprotected single-block frames can be re-packed")
        end = pos + fields["frame_length"]
        if fields["frame_length"] < 7 or end > len(data):
            sys.exit(f"frame at byte {pos}: bad length {fields['frame_length']}")
        yield fields, data[pos + 7:end]
        pos = end


def adts_header(f, payload_len, blocks):
    w = BitWriter()
    w.put(0xFFF, 12)
    w.put(f["id"], 1)
    w.put(0, 2)  # layer
    w.put(1, 1)  # protection_absent
    w.put(f["profile"], 2)
    w.put(f["sampling_frequency_index"], 4)
    w.put(0, 1)  # private_bit
    w.put(f["channel_configuration"], 3)
    w.put(0, 1)  # original_copy
    w.put(0, 1)  # home
    w.put(0, 1)  # copyright_identification_bit
    w.put(0, 1)  # copyright_identification_start
    w.put(7 + payload_len, 13)
    w.put(f["buffer_fullness"], 11)
    w.put(blocks - 1, 2)
    return w.data()


def repack(src, dst, blocks):
    frames = list(adts_frames(open(src, "rb").read()))
    out = bytearray()
    for i in range(0, len(frames), blocks):
        group = frames[i:i + blocks]  # the last frame takes what is left
        payload = b"".join(p for _, p in group)
        if 7 + len(payload) >= 1 << 13:
            sys.exit("frame too long for aac_frame_length")
        out += adts_header(group[0][0], len(payload), len(group)) + payload
    open(dst, "wb").write(out)


def put_pce(w, pce):
    """program_config_element() without its element id, ISO/IEC 13818-7 8.5."""
    w.put(pce["tag"], 4)
    w.put(pce["object_type"], 2)
    w.put(pce["sfi"], 4)
    for key in ("front", "side", "back"):
        w.put(len(pce[key]), 4)
    w.put(len(pce["lfe"]), 2)
    w.put(len(pce["assoc"]), 3)
    w.put(len(pce["cc"]), 4)
    for key in ("mono_mixdown", "stereo_mixdown"):
        w.put(0 if pce.get(key) is None else 1, 1)
        if pce.get(key) is not None:
            w.put(pce[key], 4)
    mm = pce.get("matrix_mixdown")  # (matrix_mixdown_idx, pseudo_surround_enable)
    w.put(0 if mm is None else 1, 1)
    if mm is not None:
        w.put(mm[0], 2)
        w.put(mm[1], 1)
    for key in ("front", "side", "back"):
        for is_cpe, tag in pce[key]:
            w.put(is_cpe, 1)
            w.put(tag, 4)
    for tag in pce["lfe"] + pce["assoc"]:
        w.put(tag, 4)
    for ind_sw, tag in pce["cc"]:
        w.put(ind_sw, 1)
        w.put(tag, 4)
    w.align()
    comment = pce.get("comment", b"")
    w.put(len(comment), 8)
    for b in comment:
        w.put(b, 8)


def adif_header(w, copyright_id, bitstream_type, bitrate, pces, fullness):
    """adif_header(), ISO/IEC 13818-7 6.1."""
    for ch in b"ADIF":
        w.put(ch, 8)
    w.put(0 if copyright_id is None else 1, 1)
    if copyright_id is not None:
        assert len(copyright_id) == 9
        for b in copyright_id:
            w.put(b, 8)
    w.put(0, 1)  # original_copy
    w.put(0, 1)  # home
    w.put(bitstream_type, 1)
    w.put(bitrate, 23)
    w.put(len(pces) - 1, 4)
    for i, pce in enumerate(pces):
        if bitstream_type == 0:
            w.put(fullness[i], 20)
        put_pce(w, pce)


def config_pce(f):
    """A PCE for channel_configuration 1..7 (ISO/IEC 14496-3 Table 1.19), with the tags FFmpeg's
    encoder gives the elements (each element type counts from 0 in stream order)."""
    cfg = f["channel_configuration"]
    front = {1: [(0, 0)], 2: [(1, 0)]}.get(cfg, [(0, 0), (1, 0)] + ([(1, 1)] if cfg == 7 else []))
    back = {4: [(0, 1)], 5: [(1, 1)], 6: [(1, 1)], 7: [(1, 2)]}.get(cfg, [])
    if not 1 <= cfg <= 7:
        sys.exit("only channel configurations 1 to 7")
    return {"tag": 0, "object_type": f["profile"], "sfi": f["sampling_frequency_index"],
            "front": front, "side": [], "back": back, "lfe": [0] if cfg >= 6 else [], "assoc": [], "cc": []}


def adif(src, dst):
    frames = list(adts_frames(open(src, "rb").read()))
    pce = config_pce(frames[0][0])
    w = BitWriter()
    # Variable rate: no adif_buffer_fullness; bitrate is the peak rate for bitstream_type 1.
    peak = max(len(p) for _, p in frames) * 8 * (96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                 22050, 16000, 12000, 11025, 8000)[pce["sfi"]] // 1024
    adif_header(w, None, 1, peak, [pce], [])
    # raw_data_block()s follow each other directly; each ends byte-aligned after ID_END.
    open(dst, "wb").write(w.data() + b"".join(p for _, p in frames))


def pce_stream(src, dst):
    """A PCE starts on the block's first byte and ends byte-aligned (its comment field is
    aligned), so prepending it keeps every later element's alignment."""
    frames = list(adts_frames(open(src, "rb").read()))
    w = BitWriter()
    w.put(5, 3)  # ID_PCE
    put_pce(w, config_pce(frames[0][0]))
    pce = w.data()
    out = bytearray()
    for f, payload in frames:
        out += adts_header(dict(f, channel_configuration=0), len(pce) + len(payload), 1) + pce + payload
    open(dst, "wb").write(out)


def adif_two_pce(dst):
    pce0 = {"tag": 1, "object_type": 1, "sfi": 3,
            "front": [(0, 0), (1, 0)], "side": [(1, 1)], "back": [(0, 2)],
            "lfe": [0], "assoc": [3], "cc": [(1, 5)],
            "mono_mixdown": 2, "stereo_mixdown": None, "matrix_mixdown": (2, 1),
            "comment": b"6.1 programme: front C+L/R, side Ls/Rs, back Cs, LFE"}
    pce1 = {"tag": 2, "object_type": 1, "sfi": 3,
            "front": [(1, 3)], "side": [], "back": [], "lfe": [], "assoc": [], "cc": [],
            "mono_mixdown": None, "stereo_mixdown": 3, "matrix_mixdown": None,
            "comment": b"stereo \"commentary\"\n\x01"}
    w = BitWriter()
    adif_header(w, b"ZUFACK9TV", 0, 384000, [pce0, pce1], [0x12345, 0xABCDE])
    open(dst, "wb").write(w.data())


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "repack":
        repack(args[0], args[1], int(args[2]))
    elif cmd == "adif":
        adif(args[0], args[1])
    elif cmd == "pce":
        pce_stream(args[0], args[1])
    elif cmd == "adif-two-pce":
        adif_two_pce(args[0])
    else:
        sys.exit(__doc__)
