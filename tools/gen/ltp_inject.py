#!/usr/bin/env python3
"""Writes ltp_data into an AAC LTP ADTS stream (ISO/IEC 14496-3 4.4.2.1 ics_info, 4.4.2.1
ltp_data) whose encoder set none, so that the decoder tests see long-term prediction at work:
FFmpeg's native encoder accepts -profile:a aac_ltp but never sends ltp_data_present 1.

Usage: ltp_inject.py IN.aac OUT.aac

Input: ADTS, protection_absent 1, one raw_data_block per frame starting with a
single_channel_element or a channel_pair_element with common_window (as FFmpeg writes mono and
stereo). In every third long-window frame (k % 3 == 1) predictor_data_present and every
channel's ltp_data_present are set and ltp_data is inserted: ltp_lag 1002,
ltp_coef index 0 (0.570), ltp_long_used on the even bands below min(max_sfb, 40). The spectral
data is left as it was, so the decoded signal is the encoder's plus the prediction: any
decoder that implements LTP must agree with another one on it. aac_frame_length is updated and
the byte alignment after the END element redone.
"""
import sys


def frames(data):
    i = 0
    while i + 7 <= len(data):
        n = ((data[i + 3] & 3) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5)
        yield bytearray(data[i:i + n])
        i += n


def inject(frame, k):
    assert frame[1] & 1, "CRC-protected frames are not handled"
    bits = "".join(format(b, "08b") for b in frame[7:])
    # SCE: id 3, tag 4, global_gain 8, then ics_info; CPE with common_window: id 3, tag 4,
    # common_window 1, then ics_info (reserved 1, window_sequence 2, shape 1, max_sfb 6,
    # predictor_data_present 1, and for AAC LTP one ltp_data_present per channel).
    if bits[0:3] == "000":
        at, nch = 15, 1
    elif bits[0:3] == "001" and bits[7] == "1":
        at, nch = 8, 2
    else:
        return frame
    if int(bits[at + 1:at + 3], 2) == 2 or k % 3 != 1:
        return frame
    max_sfb = int(bits[at + 4:at + 10], 2)
    # The block ends with the END element's 111 and zero bits up to the byte: drop those, so that
    # the new frame is aligned again after the insertion.
    bits = bits[:bits.rindex("1") + 1]
    pdp = at + 10
    ltp = "1" + format(1002, "011b") + "000" + "".join("1" if b % 2 == 0 else "0" for b in range(min(max_sfb, 40)))
    if bits[pdp] == "1":  # predictor_data_present already set: ltp_data_present flags follow
        assert bits[pdp + 1:pdp + 1 + nch] == "0" * nch
        bits = bits[:pdp + 1] + ltp * nch + bits[pdp + 1 + nch:]
    else:
        bits = bits[:pdp] + "1" + ltp * nch + bits[pdp + 1:]
    bits += "0" * (-len(bits) % 8)
    body = bytes(int(bits[j:j + 8], 2) for j in range(0, len(bits), 8))
    out = bytearray(frame[:7]) + body
    n = len(out)
    out[3] = (out[3] & 0xFC) | (n >> 11)
    out[4] = (n >> 3) & 0xFF
    out[5] = (out[5] & 0x1F) | ((n & 7) << 5)
    return out


def main():
    data = open(sys.argv[1], "rb").read()
    out = b"".join(bytes(inject(f, k)) for k, f in enumerate(frames(data)))
    open(sys.argv[2], "wb").write(out)


if __name__ == "__main__":
    main()
