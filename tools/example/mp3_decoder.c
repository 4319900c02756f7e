/*
 * Layer III frame decoder with libzufack9's primitives, in the order of the decoding process of
 * ISO/IEC 11172-3 2.4.3.4 (and ISO/IEC 13818-3 for the lower sampling frequencies):
 *
 *   1. header and side information (audio_data()) are unpacked, and the CRC word, when present,
 *      is checked over them (2.4.3.1);
 *   2. the frame's main data goes into the bit reservoir, and decoding starts main_data_begin
 *      bytes back from it;
 *   3. per granule and channel: the scale factors (part 2; scalefac_compress and scfsi in
 *      MPEG-1, the MPEG-2 scale factor partitions in 13818-3), then the Huffman-coded spectrum
 *      (part 3), which ends exactly part2_3_length bits after part 2 started;
 *   4. per granule: requantisation of both channels, with MS and intensity stereo and the
 *      reordering of short blocks;
 *   5. per granule and channel: alias reduction and the inverse MDCT with overlap-add (the
 *      hybrid filter bank, 2.4.3.4.10), then the polyphase synthesis filter bank into 576
 *      samples.
 *
 * Damage: a frame whose reservoir bytes are missing (stream start, after a cut or junk) is
 * concealed by muting it: the spectrum is taken as zero, so the filter bank's overlap rings
 * out and the next good frame starts cleanly. A frame that the library refuses, or whose CRC
 * fails, is concealed the same way. Nothing here trusts a length from the stream before
 * checking it against the buffer.
 */
#include "mp3_decoder.h"

#include <string.h>

void mp3_decoder_init(Mp3Decoder *d, const Zuf8u *p) {
    static const int k_rates[3] = {44100, 48000, 32000};
    const int mpeg1 = (p[1] >> 3) & 1;
    memset(d, 0, sizeof *d);
    /* mode 3 (single_channel) is mono; every other mode carries two channels. */
    d->channels = (p[3] >> 6) == 3 ? 1 : 2;
    d->sample_rate = k_rates[((p[2] >> 2) & 3) % 3] >> (mpeg1 ? 0 : 1);
}

void mp3_decoder_discontinuity(Mp3Decoder *d) { d->main_len = 0; }

/* CRC-16 of ISO/IEC 11172-3 2.4.3.1: G(X) = X^16 + X^15 + X^2 + 1, initial value all ones, over
 * the last two header bytes and the side information. */
static unsigned crc16_update(unsigned crc, const Zuf8u *p, size_t n) {
    size_t i;
    int b;
    for (i = 0; i < n; ++i)
        for (b = 7; b >= 0; --b) {
            const unsigned bit = ((p[i] >> b) & 1u) ^ ((crc >> 15) & 1u);
            crc = ((crc << 1) & 0xFFFFu) ^ (bit ? 0x8005u : 0u);
        }
    return crc;
}

/* Hybrid filter bank and polyphase synthesis of one granule and channel, from d->is, into pcm
 * (the granule's first sample of this channel, nch channels interleaved). */
static void synthesize(Mp3Decoder *d, int ch, int nch, Zuf16s *pcm, int nonzero, int block_type, int mixed) {
    Mp3Channel *c = &d->ch[ch];
    int t;
    zufsMDCTInv_MP3_32s(d->is + 576 * ch, d->y, c->overlap, nonzero, &c->prev_imdct, block_type, mixed);
    /* 18 time slots of 32 subband samples each. */
    for (t = 0; t < 18; ++t) zufsSynthPQMF_MP3_32s16s(d->y + 32 * t, pcm + 32 * nch * t, c->history, &c->hist_pos, nch);
}

/* A granule without usable data: zero spectrum, so only the previous overlap comes out. */
static void conceal_granule(Mp3Decoder *d, int nch, Zuf16s *pcm) {
    int ch;
    memset(d->is, 0, sizeof d->is);
    for (ch = 0; ch < nch; ++ch) synthesize(d, ch, nch, pcm + ch, 0, 0, 0);
}

/* Steps 3 to 5 for every granule, from main data starting at `md`, into pcm (nch channels).
 * Returns the number of granules decoded, or -(granule + 1) with *why set when one was
 * refused. */
static int decode_granules(Mp3Decoder *d, const Mp3FrameHeader *h, Mp3SideInfo *si, int *scfsi, Zuf8u *md, Zuf16s *pcm,
                           const char **why) {
    const int nch = h->mode == 3 ? 1 : 2, ngr = h->ID ? 2 : 1;
    int gr, ch, off = 0;
    for (gr = 0; gr < ngr; ++gr) {
        int nz[2] = {0, 0};
        Mp3SideInfo pair[2];
        for (ch = 0; ch < nch; ++ch) {
            Mp3SideInfo *g = &si[gr * nch + ch];
            Zuf8u *start = md;
            const int start_off = off;
            int used, huffman_bits;
            zufResult r;
            /* part2: the scale factors. */
            if (zufsUnpackScaleFactors_MP3_1u8s(&md, &off, d->sf + 40 * ch, g, scfsi + 4 * ch, h, gr, ch) != zufOk) {
                *why = "bad scale factors";
                return -(gr + 1);
            }
            used = (int)(8 * (md - start)) + off - start_off;
            if (used > g->part2_3_length) {
                *why = "scale factors longer than part2_3_length";
                return -(gr + 1);
            }
            /* part3: the Huffman data. The decoder leaves the position exactly at its end. */
            huffman_bits = g->part2_3_length - used;
            r = d->sfb_long ? zufsHuffmanDecodeSfb_MP3_1u32s(&md, &off, d->is + 576 * ch, &nz[ch], g, h, huffman_bits,
                                                             d->sfb_long)
                            : zufsHuffmanDecode_MP3_1u32s(&md, &off, d->is + 576 * ch, &nz[ch], g, h, huffman_bits);
            if (r != zufOk) {
                *why = "bad Huffman data";
                return -(gr + 1);
            }
        }
        /* Both channels at once: the stereo processing needs them together. */
        pair[0] = si[gr * nch];
        pair[1] = si[gr * nch + nch - 1];
        if ((d->sfb_long
                 ? zufsReQuantizeSfb_MP3_32s_I(d->is, nz, d->sf, pair, h, d->work, d->sfb_long, _zuf_pMP3SfbTableShort)
                 : zufsReQuantize_MP3_32s_I(d->is, nz, d->sf, pair, h, d->work)) != zufOk) {
            *why = "bad side information or spectrum for requantisation";
            return -(gr + 1);
        }
        for (ch = 0; ch < nch; ++ch) {
            const Mp3SideInfo *g = &si[gr * nch + ch];
            synthesize(d, ch, nch, pcm + 576 * nch * gr + ch, nz[ch], g->block_type, g->mixed_block_flag & 1);
        }
    }
    return ngr;
}

/* Copies ngr granules of nch-channel PCM into the output's channel count. */
static void to_output(const Mp3Decoder *d, const Zuf16s *src, int ngr, Zuf16s *pcm) {
    int i;
    for (i = 0; i < 576 * ngr; ++i) {
        if (d->channels == 2) { /* a mono frame in a stereo stream: both sides */
            pcm[2 * i] = pcm[2 * i + 1] = src[i];
        } else { /* a stereo frame in a mono stream: the mean */
            pcm[i] = (Zuf16s)((src[2 * i] + src[2 * i + 1]) / 2);
        }
    }
}

Mp3FrameResult mp3_frame_decode(Mp3Decoder *d, const Zuf8u *p, size_t len, Zuf16s *pcm, int *samples,
                                const char **why) {
    Zuf8u *bs = (Zuf8u *)p;
    Mp3FrameHeader h;
    Mp3SideInfo si[4];
    int mdb = 0, priv = 0, scfsi[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int nch, ngr, side_len, head_len, gr, done, missing = 0;
    size_t main_bytes, start = 0;
    const int first = !d->started;
    Zuf16s *out;

    *why = NULL;
    *samples = 0;
    d->started = 1;
    zufsUnpackFrameHeader_MP3(&bs, &h);
    nch = h.mode == 3 ? 1 : 2;
    ngr = h.ID ? 2 : 1;
    /* Granules are made in the frame's channel count; a frame whose count differs from the
     * stream's goes through d->pcm and is converted. */
    out = nch == d->channels ? pcm : d->pcm;
    head_len = h.protection_bit ? 4 : 6; /* protection_bit 0: a 16-bit CRC follows the header */
    side_len = h.ID ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17);
    if ((size_t)(head_len + side_len) > len) {
        for (gr = 0; gr < ngr; ++gr) conceal_granule(d, nch, out + 576 * nch * gr);
        if (out != pcm) to_output(d, out, ngr, pcm);
        *samples = 576 * ngr;
        d->main_len = 0;
        *why = "frame shorter than its side information";
        return MP3_FRAME_DAMAGED;
    }
    /* A Xing/Info (LAME) or VBRI tag frame carries stream information, not audio. */
    if (first && mpeg_tag_frame(p, len, &d->tag)) return MP3_FRAME_TAG;
    main_bytes = len - (size_t)head_len - (size_t)side_len;

    /* Step 1. */
    if (!h.protection_bit) {
        unsigned crc = crc16_update(0xFFFFu, p + 2, 2);
        crc = crc16_update(crc, p + head_len, (size_t)side_len);
        if (crc != (unsigned)h.crc_check) *why = "CRC mismatch";
    }
    if (!*why && zufsUnpackSideInfo_MP3(&bs, si, &mdb, &priv, scfsi, &h) != zufOk) *why = "bad side information";

    /* Step 2, the bit reservoir: at most 511 bytes of earlier main data, then this frame's. */
    if (d->main_len > MP3_RESERVOIR_BYTES) {
        memmove(d->main, d->main + d->main_len - MP3_RESERVOIR_BYTES, MP3_RESERVOIR_BYTES);
        d->main_len = MP3_RESERVOIR_BYTES;
    }
    if (!*why) {
        if ((size_t)mdb > d->main_len)
            missing = 1;
        else
            start = d->main_len - (size_t)mdb;
    }
    memcpy(d->main + d->main_len, p + head_len + side_len, main_bytes);
    d->main_len += main_bytes;
    memset(d->main + d->main_len, 0, MP3_MAIN_PADDING);

    if (!*why && !missing) {
        long bits = 0;
        int i;
        for (i = 0; i < ngr * nch; ++i) bits += si[i].part2_3_length;
        if ((size_t)bits > 8 * (d->main_len - start)) *why = "part2_3_length beyond the main data";
    }

    /* Steps 3 to 5; what was not decoded is muted. */
    done = 0;
    if (!*why && !missing) {
        done = decode_granules(d, &h, si, scfsi, d->main + start, out, why);
        if (done < 0) done = -done - 1;
    }
    for (gr = done; gr < ngr; ++gr) conceal_granule(d, nch, out + 576 * nch * gr);
    if (out != pcm) to_output(d, out, ngr, pcm);
    *samples = 576 * ngr;
    return *why ? MP3_FRAME_DAMAGED : missing ? MP3_FRAME_CONCEALED : MP3_FRAME_DECODED;
}
