/*
 * zufdec MP3 path: MPEG-1 and MPEG-2 Layer III (ISO/IEC 11172-3, ISO/IEC 13818-3) to PCM with
 * libzufack9's primitives.
 *
 * Per frame: the header and side information are unpacked, the CRC word (when present) is
 * checked, the frame's main data is appended to the bit reservoir, and decoding starts
 * main_data_begin bytes back from it. Per granule and channel the scale factors and Huffman
 * data are read, per granule both channels are requantised (with joint stereo), and per channel
 * the hybrid transform and the polyphase synthesis make 576 samples.
 *
 * Damage: a frame whose reservoir bytes are missing (stream start, after a cut or junk) is
 * concealed by muting it: the spectrum is taken as zero, so the filter bank's overlap rings
 * out and the next good frame starts cleanly. A frame that the library refuses, or whose CRC
 * fails, is reported and concealed the same way. Nothing here trusts a length from the stream
 * before checking it against the buffer.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "decoder.h"

#define MAX_FRAME 8192      /* longest frame accepted (free format included) */
#define RESERVOIR_BYTES 511 /* the furthest a 9-bit main_data_begin reaches back */
#define MAIN_PAD 64         /* zero bytes after the main data for the readers' look-ahead */
#define MAX_REPORTS 10      /* damage reports before they are only counted */

typedef struct {
    Zuf32s overlap[576]; /* second halves of the last inverse transforms, subband-major */
    Zuf32s history[512]; /* polyphase synthesis history */
    int prev_imdct;      /* subbands the last inverse transform produced */
    int hist_pos;
} Mp3Channel;

typedef struct {
    Mp3Channel ch[2];
    Zuf8u main[RESERVOIR_BYTES + MAX_FRAME + MAIN_PAD];
    size_t main_len;    /* main-data bytes held, the current frame's last */
    Zuf32s is[2 * 576]; /* Huffman output, then xr, channel 0 then 1 */
    Zuf32s work[576];
    Zuf32s y[576];
    Zuf8s sf[2 * 40]; /* scale factors, channel 1 at 40; granule 1 reads over granule 0 */
    Zuf16s pcm[2 * 1152];
    Zuf16s out[2 * 1152];
    int out_channels;
    int sample_rate;
} Mp3State;

typedef struct {
    const DecodeOptions *opt;
    DecodeStats *st;
    unsigned long reports;
} Reporter;

static void report(Reporter *r, unsigned long frame, size_t offset, const char *what) {
    if (r->opt->quiet) return;
    if (r->reports < MAX_REPORTS)
        fprintf(stderr, "zufdec: frame %lu at offset %lu: %s\n", frame, (unsigned long)offset, what);
    else if (r->reports == MAX_REPORTS)
        fprintf(stderr, "zufdec: further damage is counted, not reported\n");
    ++r->reports;
}

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

/* Writes one granule of the frame's PCM (nch channels) in the output's channel count. */
static void emit(Mp3State *s, WavWriter *w, DecodeStats *st, int nch, int gr) {
    const Zuf16s *src = s->pcm + 576 * nch * gr;
    int i;
    if (nch == s->out_channels) {
        wav_write(w, src, 576);
    } else {
        for (i = 0; i < 576; ++i) {
            if (s->out_channels == 2) { /* a mono frame in a stereo stream: both sides */
                s->out[2 * i] = s->out[2 * i + 1] = src[i];
            } else { /* a stereo frame in a mono stream: the mean */
                s->out[i] = (Zuf16s)((src[2 * i] + src[2 * i + 1]) / 2);
            }
        }
        wav_write(w, s->out, 576);
    }
    st->samples += 576;
}

/* Hybrid transform and synthesis of one granule and channel, from s->is. */
static void synthesize(Mp3State *s, int ch, int nch, int gr, int nonzero, int block_type, int mixed) {
    Mp3Channel *c = &s->ch[ch];
    Zuf16s *pcm = s->pcm + 576 * nch * gr + ch;
    int t;
    zufsMDCTInv_MP3_32s(s->is + 576 * ch, s->y, c->overlap, nonzero, &c->prev_imdct, block_type, mixed);
    for (t = 0; t < 18; ++t) zufsSynthPQMF_MP3_32s16s(s->y + 32 * t, pcm + 32 * nch * t, c->history, &c->hist_pos, nch);
}

/* A granule without usable data: zero spectrum, so only the previous overlap comes out. */
static void conceal_granule(Mp3State *s, int nch, int gr) {
    int ch;
    memset(s->is, 0, sizeof s->is);
    for (ch = 0; ch < nch; ++ch) synthesize(s, ch, nch, gr, 0, 0, 0);
}

/* Decodes the granules of a frame from main data starting at `md`. Returns the number of
 * granules decoded, or -(granule + 1) with *why set when one was refused. */
static int decode_granules(Mp3State *s, const Mp3FrameHeader *h, Mp3SideInfo *si, int *scfsi, Zuf8u *md,
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
            int used;
            if (zufsUnpackScaleFactors_MP3_1u8s(&md, &off, s->sf + 40 * ch, g, scfsi + 4 * ch, h, gr, ch) != zufOk) {
                *why = "bad scale factors";
                return -(gr + 1);
            }
            used = (int)(8 * (md - start)) + off - start_off;
            if (used > g->part2_3_length) {
                *why = "scale factors longer than part2_3_length";
                return -(gr + 1);
            }
            /* The Huffman decoder leaves the position exactly at the end of part 3. */
            if (zufsHuffmanDecode_MP3_1u32s(&md, &off, s->is + 576 * ch, &nz[ch], g, h, g->part2_3_length - used) !=
                zufOk) {
                *why = "bad Huffman data";
                return -(gr + 1);
            }
        }
        pair[0] = si[gr * nch];
        pair[1] = si[gr * nch + nch - 1];
        if (zufsReQuantize_MP3_32s_I(s->is, nz, s->sf, pair, h, s->work) != zufOk) {
            *why = "bad side information or spectrum for requantisation";
            return -(gr + 1);
        }
        for (ch = 0; ch < nch; ++ch) {
            const Mp3SideInfo *g = &si[gr * nch + ch];
            synthesize(s, ch, nch, gr, nz[ch], g->block_type, g->mixed_block_flag & 1);
        }
    }
    return ngr;
}

/* Decodes the frame at p (len bytes, header confirmed). */
static void decode_frame(Mp3State *s, const Zuf8u *p, size_t len, size_t offset, int first, WavWriter *w, Reporter *r) {
    DecodeStats *st = r->st;
    Zuf8u *bs = (Zuf8u *)p;
    Mp3FrameHeader h;
    Mp3SideInfo si[4];
    int mdb = 0, priv = 0, scfsi[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int nch, ngr, side_len, head_len, gr, done;
    size_t main_bytes, start = 0;
    int missing = 0;
    const char *why = NULL;

    zufsUnpackFrameHeader_MP3(&bs, &h);
    nch = h.mode == 3 ? 1 : 2;
    ngr = h.ID ? 2 : 1;
    head_len = h.protection_bit ? 4 : 6;
    side_len = h.ID ? (nch == 1 ? 17 : 32) : (nch == 1 ? 9 : 17);
    if ((size_t)(head_len + side_len) > len) {
        ++st->damaged;
        report(r, st->frames, offset, "frame shorter than its side information, concealed");
        ++st->frames;
        for (gr = 0; gr < ngr; ++gr) conceal_granule(s, nch, gr), emit(s, w, st, nch, gr);
        s->main_len = 0;
        return;
    }
    /* A Xing/Info (LAME) or VBRI tag frame carries stream information, not audio. */
    if (first && (memcmp(p + head_len + side_len, "Xing", 4) == 0 || memcmp(p + head_len + side_len, "Info", 4) == 0 ||
                  (len >= 40 && memcmp(p + 36, "VBRI", 4) == 0))) {
        ++st->tag_frames;
        return;
    }
    ++st->frames;
    main_bytes = len - (size_t)head_len - (size_t)side_len;

    if (!h.protection_bit) {
        unsigned crc = crc16_update(0xFFFFu, p + 2, 2);
        crc = crc16_update(crc, p + head_len, (size_t)side_len);
        if (crc != (unsigned)h.crc_check) why = "CRC mismatch";
    }
    if (!why && zufsUnpackSideInfo_MP3(&bs, si, &mdb, &priv, scfsi, &h) != zufOk) why = "bad side information";

    /* Bit reservoir: at most 511 bytes of earlier main data, then this frame's. */
    if (s->main_len > RESERVOIR_BYTES) {
        memmove(s->main, s->main + s->main_len - RESERVOIR_BYTES, RESERVOIR_BYTES);
        s->main_len = RESERVOIR_BYTES;
    }
    if (!why) {
        if ((size_t)mdb > s->main_len)
            missing = 1;
        else
            start = s->main_len - (size_t)mdb;
    }
    memcpy(s->main + s->main_len, p + head_len + side_len, main_bytes);
    s->main_len += main_bytes;
    memset(s->main + s->main_len, 0, MAIN_PAD);

    if (!why && !missing) {
        long bits = 0;
        int i;
        for (i = 0; i < ngr * nch; ++i) bits += si[i].part2_3_length;
        if ((size_t)bits > 8 * (s->main_len - start)) why = "part2_3_length beyond the main data";
    }
    done = 0;
    if (missing) {
        ++st->concealed;
    } else if (!why) {
        done = decode_granules(s, &h, si, scfsi, s->main + start, &why);
        if (done < 0) done = -done - 1;
    }
    if (why) {
        char msg[128];
        ++st->damaged;
        snprintf(msg, sizeof msg, "%s, concealed", why);
        report(r, st->frames - 1, offset, msg);
    }
    for (gr = done; gr < ngr; ++gr) conceal_granule(s, nch, gr);
    for (gr = 0; gr < ngr; ++gr) emit(s, w, st, nch, gr);
}

int mp3_decode(const Input *in, size_t first, WavWriter *w, const DecodeOptions *opt, DecodeStats *st) {
    Mp3State *s = calloc(1, sizeof *s);
    Reporter r;
    MpegHeader h0;
    Zuf8u ref[4];
    size_t pos = first, junk = 0, junk_at = 0, chain = (size_t)-1, free_len = 0;
    size_t next_progress = 0, step = (in->end - in->begin) / 50 + 1;
    int first_frame = 1;

    if (!s) {
        fprintf(stderr, "zufdec: out of memory\n");
        return 1;
    }
    r.opt = opt;
    r.st = st;
    r.reports = 0;
    memcpy(ref, in->data + first, 4);
    mpeg_header_parse(ref, &h0);
    s->out_channels = st->channels = h0.channels;
    s->sample_rate = st->sample_rate = h0.sample_rate;
    if (wav_set_format(w, h0.channels, h0.sample_rate)) {
        free(s);
        return 1;
    }
    while (pos + 4 <= in->end && !w->failed) {
        const Zuf8u *p = in->data + pos;
        MpegHeader h, n;
        size_t len = 0;
        int ok = mpeg_header_parse(p, &h) && mpeg_same_stream(p, ref);
        if (ok) {
            if (h.frame_bytes) {
                len = (size_t)h.frame_bytes;
            } else {
                /* Free format: the frame length (without padding) is found once. */
                if (!free_len) {
                    free_len = mpeg_frame_len(in, pos, &h);
                    if (free_len) free_len -= (size_t)h.padding;
                }
                len = free_len ? free_len + (size_t)h.padding : 0;
            }
            ok = len >= 4 && len <= MAX_FRAME;
        }
        if (ok && pos + len > in->end) {
            if (!opt->quiet)
                fprintf(stderr, "zufdec: frame at offset %lu is cut off by the end of the file\n", (unsigned long)pos);
            ++st->damaged;
            break;
        }
        /* Within a chain of frames a matching header is enough; after junk the next header
         * must confirm this one (or the data must end right after it). */
        if (ok && pos != chain) {
            const size_t after = pos + len;
            ok = in->end - after < 4 ||
                 (mpeg_header_parse(in->data + after, &n) && mpeg_same_stream(in->data + after, ref));
        }
        if (!ok) {
            if (!junk) junk_at = pos;
            ++junk;
            ++pos;
            continue;
        }
        if (junk) {
            if (!opt->quiet && r.reports < MAX_REPORTS)
                fprintf(stderr, "zufdec: skipped %lu bytes of junk at offset %lu\n", (unsigned long)junk,
                        (unsigned long)junk_at);
            st->junk_bytes += junk;
            junk = 0;
            s->main_len = 0; /* the reservoir does not continue across the gap */
        }
        decode_frame(s, p, len, pos, first_frame, w, &r);
        first_frame = 0;
        pos += len;
        chain = pos;
        if (opt->progress && pos - in->begin >= next_progress) {
            fprintf(stderr, "\rzufdec: %3d%%",
                    (int)(100.0 * (double)(pos - in->begin) / (double)(in->end - in->begin)));
            next_progress = pos - in->begin + step;
        }
    }
    if (opt->progress) fprintf(stderr, "\rzufdec: 100%%\n");
    junk += in->end - pos < 4 ? in->end - pos : 0;
    if (junk) {
        if (!opt->quiet) fprintf(stderr, "zufdec: %lu bytes of junk at the end\n", (unsigned long)junk);
        st->junk_bytes += junk;
    }
    free(s);
    return w->failed || st->frames == 0;
}
