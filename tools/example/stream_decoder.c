/*
 * Frames of a stream, one after the other. Frames are found by their headers: within a chain of
 * frames a header that repeats the stream's fixed fields is enough; after junk, a header must be
 * confirmed by the next one (or by the end of the data), so that sync-like bytes inside junk are
 * not taken for a frame. A frame that runs past the end of the input ends the stream.
 */
#include "stream_decoder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ------------------------------------------------------------------ MP3 */

/* Length of a usable Layer III frame of the stream at pos, or 0. */
static size_t mp3_frame_at(StreamDecoder *d, size_t pos) {
    const Zuf8u *p = d->in->data + pos;
    MpegHeader h;
    size_t len;
    if (!mpeg_header_parse(p, &h) || !mpeg_same_stream(p, d->ref)) return 0;
    if (h.frame_bytes) {
        len = (size_t)h.frame_bytes;
    } else {
        /* Free format (11172-3 2.4.2.3, bitrate_index 0): the frame length without padding is
         * the same in the whole stream, found once from the distance between two headers. */
        if (!d->free_len) {
            d->free_len = mpeg_frame_len(d->in, pos, &h);
            if (d->free_len) d->free_len -= (size_t)h.padding;
        }
        len = d->free_len ? d->free_len + (size_t)h.padding : 0;
    }
    return len >= 4 && len <= MP3_MAX_FRAME ? len : 0;
}

/* A header of the stream at p (4 bytes readable), whatever its length. */
static int mp3_header_at(const StreamDecoder *d, const Zuf8u *p) {
    MpegHeader h;
    return mpeg_header_parse(p, &h) && mpeg_same_stream(p, d->ref);
}

/* ------------------------------------------------------------------ ADTS */

/* Length of a plausible ADTS frame of the stream `ref` at p (7 bytes readable), or 0: the
 * syncword, the fixed header of the stream, and room for the header and its CRC. */
static size_t adts_frame_at(const Zuf8u *p, const Zuf8u *ref) {
    size_t len;
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || !aac_same_stream(p, ref)) return 0;
    len = adts_frame_len(p);
    return len >= (size_t)((p[1] & 1) ? 8 : 10) ? len : 0;
}

/* The stream's fixed header: the first one that the next frame repeats, so that a damaged first
 * header does not decide the format (searched within 64 KB; else the first header). */
static const Zuf8u *adts_reference_header(const Input *in, size_t first) {
    size_t pos;
    for (pos = first; pos + 7 <= in->end && pos < first + 65536; ++pos) {
        const Zuf8u *p = in->data + pos;
        const size_t len = adts_frame_at(p, p);
        if (len && (pos + len == in->end || (pos + len + 7 <= in->end && adts_frame_at(p + len, p)))) return p;
    }
    return in->data + first;
}

/* ------------------------------------------------------------------ MP4 */

/* An ADTS header (ISO/IEC 13818-7 6.2) for one raw_data_block of `len` bytes of the track: AAC-LC,
 * no CRC, buffer fullness 0x7FF (variable rate), one block. */
static void mp4_adts_header(const StreamDecoder *d, size_t len, Zuf8u *h) {
    const Mp4Track *t = &d->track;
    const size_t n = len + 7;
    h[0] = 0xFF;
    h[1] = t->mpeg2 ? 0xF9 : 0xF1; /* ID 1: MPEG-2, 0: MPEG-4 (noise substitution allowed) */
    h[2] = (Zuf8u)((1 << 6) | (t->sfi << 2) | ((t->channels >> 2) & 1));
    h[3] = (Zuf8u)(((t->channels & 3) << 6) | ((n >> 11) & 3));
    h[4] = (Zuf8u)(n >> 3);
    h[5] = (Zuf8u)(((n & 7) << 5) | 0x1F);
    h[6] = 0xFC;
}

/* SBR from the first frame on: output at twice the core rate, or at the core rate (down). */
static int sbr_on(StreamDecoder *d, int down, char *why, size_t why_len) {
    if (aac_sbr_enable(d->aac, down)) {
        snprintf(why, why_len, "out of memory");
        return 2;
    }
    d->stats.sample_rate = aac_sample_rate(d->aac->sfi) * (down ? 1 : 2);
    d->stats.sbr = down ? 2 : 1;
    return 0;
}

static int mp4_open_track(StreamDecoder *d, char *why, size_t why_len) {
    d->pos = d->in->end; /* no junk search: the sample table says where the samples are */
    d->header_bytes = 7;
    if (mp4_open(d->in->data, d->in->size, &d->track, why, why_len)) return 1;
    if (d->track.channels < 1 || d->track.channels > 7) {
        snprintf(why, why_len, "channelConfiguration %d (%s) is not decoded in MP4, only 1 to 7", d->track.channels,
                 d->track.channels ? "reserved" : "a PCE in the AudioSpecificConfig");
        return 1;
    }
    mp4_adts_header(d, 0, d->frame);
    if (aac_stream_supported(d->frame, why, why_len)) return 1;
    d->aac = malloc(sizeof *d->aac);
    if (!d->aac) {
        snprintf(why, why_len, "out of memory");
        return 2;
    }
    d->mp4 = 1;
    d->ref = d->frame;
    aac_decoder_init(d->aac, d->frame);
    mp4_cursor_init(&d->cursor);
    d->stats.channels = d->aac->channels;
    d->stats.sample_rate = d->track.sample_rate;
    if (d->track.sbr) { /* explicit signalling; an SBR rate equal to the core rate: down-sampled */
        const int r = sbr_on(d, d->track.sbr_rate == d->track.sample_rate, why, why_len);
        if (r) return r;
    } else {
        Mp4Cursor c;
        unsigned long long offset;
        unsigned long size;
        int r = 0;
        mp4_cursor_init(&c);
        if (mp4_next_sample(&d->track, d->in->data, &c, &offset, &size) && offset <= d->in->size &&
            size <= d->in->size - offset && size <= AAC_MAX_FRAME - 7) {
            Zuf8u *f = malloc(AAC_MAX_FRAME + AAC_FRAME_PADDING);
            if (f) {
                mp4_adts_header(d, size, f);
                memcpy(f + 7, d->in->data + offset, size);
                memset(f + 7 + size, 0, AAC_FRAME_PADDING);
                if (aac_sbr_probe(d->aac, f, size + 7)) r = sbr_on(d, 0, why, why_len);
                free(f);
            }
        }
        if (r) return r;
    }
    d->track.sample_rate = d->stats.sample_rate; /* the edit list counts output samples */
    stream_decoder_set_gapless(d, 1);
    return 0;
}

/* ------------------------------------------------------------------ the stream */

int stream_decoder_open(StreamDecoder *d, const Input *in, size_t first, StreamFormat format, const Zuf16s *sfb_long,
                        char *why, size_t why_len) {
    memset(d, 0, sizeof *d);
    d->in = in;
    d->format = format;
    d->pos = first;
    d->chain = (size_t)-1;
    d->gapless = 1;
    d->keep_to = (unsigned long)-1;
    if (format == FORMAT_MP3) {
        d->ref = in->data + first;
        d->header_bytes = 4;
        d->mp3 = malloc(sizeof *d->mp3);
        if (!d->mp3) {
            snprintf(why, why_len, "out of memory");
            return 2;
        }
        mp3_decoder_init(d->mp3, d->ref);
        d->mp3->sfb_long = sfb_long;
        d->stats.channels = d->mp3->channels;
        d->stats.sample_rate = d->mp3->sample_rate;
        return 0;
    }
    if (format == FORMAT_ADTS) {
        d->ref = adts_reference_header(in, first);
        d->header_bytes = 7;
        if (aac_stream_supported(d->ref, why, why_len)) return 1;
        d->aac = malloc(sizeof *d->aac);
        if (!d->aac) {
            snprintf(why, why_len, "out of memory");
            return 2;
        }
        aac_decoder_init(d->aac, d->ref);
        /* channel_configuration 0: the layout of the first frame's program configuration element. */
        if (!d->aac->channels && aac_layout_from_frame(d->aac, d->ref, adts_frame_len(d->ref), why, why_len)) return 1;
        d->stats.channels = d->aac->channels;
        d->stats.sample_rate = aac_sample_rate(d->aac->sfi);
        /* Implicit SBR signalling: decided from the first frame's payload, so that a stream with
         * SBR plays at twice the core rate from its first sample on (any core rate). */
        if (aac_sbr_probe(d->aac, d->ref, adts_frame_len(d->ref))) return sbr_on(d, 0, why, why_len);
        return 0;
    }
    if (format == FORMAT_ADIF) {
        size_t head;
        d->aac = malloc(sizeof *d->aac);
        if (!d->aac) {
            snprintf(why, why_len, "out of memory");
            return 2;
        }
        head = aac_decoder_init_adif(d->aac, in->data + first, in->end - first, why, why_len);
        if (!head) return 1;
        d->adif = 1;
        d->pos = first + head;
        d->stats.channels = d->aac->channels;
        d->stats.sample_rate = aac_sample_rate(d->aac->sfi);
        return 0;
    }
    if (format == FORMAT_MP4) return mp4_open_track(d, why, why_len);
    stream_refused(in, first, format, why, why_len);
    return 1;
}

/* Length of a frame of the stream at pos, or 0. */
static size_t frame_at(StreamDecoder *d, size_t pos) {
    return d->mp3 ? mp3_frame_at(d, pos) : adts_frame_at(d->in->data + pos, d->ref);
}

/* A header of the stream at pos, enough to confirm the frame before it. */
static int header_at(const StreamDecoder *d, size_t pos) {
    return d->mp3 ? mp3_header_at(d, d->in->data + pos) : adts_frame_at(d->in->data + pos, d->ref) != 0;
}

void stream_decoder_set_gapless(StreamDecoder *d, int on) {
    d->gapless = on;
    d->keep_from = 0;
    d->keep_to = (unsigned long)-1;
    /* MP4: the edit list's start, from media time to sample frames (an MP3's tag frame is read
     * with the first frame). */
    if (on && d->mp4)
        d->keep_from = (unsigned long)(d->track.skip * (unsigned long long)d->track.sample_rate / d->track.timescale);
}

/* The sample frames of the stream to output, from a tag frame's encoder delay and padding (in
 * the decoder's timeline, which runs MP3_DECODER_DELAY behind the encoder's). Without a frame
 * count the end is not known and only the start is trimmed. */
static void mp3_gapless(StreamDecoder *d, const MpegTagFrame *t, const Zuf8u *header) {
    MpegHeader h;
    unsigned long frame_samples;
    if (!d->gapless || !t->gapless || !mpeg_header_parse(header, &h)) return;
    frame_samples = (unsigned long)h.samples;
    d->keep_from = (unsigned long)t->delay + MP3_DECODER_DELAY;
    if (t->frames && t->frames <= ((unsigned long)-1 - MP3_DECODER_DELAY) / frame_samples) {
        const unsigned long end = t->frames * frame_samples + MP3_DECODER_DELAY;
        d->keep_to = end > (unsigned long)t->padding ? end - (unsigned long)t->padding : 0;
    }
}

/* Cuts f's PCM to the part inside [keep_from, keep_to). */
static void keep_window(StreamDecoder *d, DecodedFrame *f) {
    const unsigned long start = d->audio_pos, end = start + f->samples;
    const unsigned long lo = start > d->keep_from ? start : d->keep_from;
    const unsigned long hi = end < d->keep_to ? end : d->keep_to;
    d->audio_pos = end;
    if (hi <= lo) {
        d->stats.trimmed += f->samples;
        f->samples = 0;
        return;
    }
    d->stats.trimmed += f->samples - (hi - lo);
    f->pcm += (lo - start) * (unsigned long)d->stats.channels;
    f->samples = hi - lo;
}

/* Decodes the frame at p (len bytes) into f. */
static void decode_frame(StreamDecoder *d, DecodedFrame *f, const Zuf8u *p, size_t len) {
    f->pcm = d->pcm;
    if (d->mp3) {
        int samples = 0;
        switch (mp3_frame_decode(d->mp3, p, len, d->pcm, &samples, &f->damage)) {
            case MP3_FRAME_TAG:
                f->tag = 1;
                ++d->stats.tag_frames;
                mp3_gapless(d, &d->mp3->tag, d->ref);
                return;
            case MP3_FRAME_CONCEALED:
                ++d->stats.concealed;
                break;
            case MP3_FRAME_DAMAGED:
                ++d->stats.damaged;
                break;
            case MP3_FRAME_DECODED:
                break;
        }
        f->samples = (unsigned long)samples;
    } else {
        int blocks = 0;
        const int r = aac_frame_decode(d->aac, p, len, d->pcm, &blocks, &f->damage);
        d->stats.damaged += r != 0;
        d->stats.crc_errors += r == -2;
        f->samples = (unsigned long)aac_block_samples(d->aac) * (unsigned long)blocks;
    }
    keep_window(d, f);
    ++d->stats.frames;
    d->stats.samples += f->samples;
}

/* The next sample of an MP4 track. One that lies outside the file ends the stream as a cut frame;
 * one too long for an ADTS frame is decoded as an empty one: damaged, concealed. */
static int mp4_next(StreamDecoder *d, DecodedFrame *f) {
    unsigned long long offset;
    unsigned long size;
    size_t n;
    if (d->cut || !mp4_next_sample(&d->track, d->in->data, &d->cursor, &offset, &size)) return 0;
    if (offset > d->in->size || size > d->in->size - offset) {
        d->cut = 1;
        d->cut_at = offset < d->in->size ? (size_t)offset : d->in->size;
        d->stats.cut = 1;
        ++d->stats.damaged;
        return 0;
    }
    f->offset = (size_t)offset;
    f->len = size;
    f->index = d->stats.frames;
    n = size <= AAC_MAX_FRAME - 7 ? size : 0;
    mp4_adts_header(d, n, d->frame);
    if (n) memcpy(d->frame + 7, d->in->data + f->offset, n);
    decode_frame(d, f, d->frame, n + 7);
    if (n < size) f->damage = "sample longer than an AAC frame can be";
    return 1;
}

/* The next raw data block of an ADIF stream. Blocks have no sync word or length: a damaged one
 * ends the stream (reported as damage, with its silence). */
static int adif_next(StreamDecoder *d, DecodedFrame *f) {
    size_t len;
    if (d->cut || d->pos >= d->in->end) return 0;
    f->offset = d->pos;
    f->index = d->stats.frames;
    f->pcm = d->pcm;
    len = aac_block_decode(d->aac, d->in->data + d->pos, d->in->end - d->pos, d->pcm, &f->damage);
    if (!len || len > d->in->end - d->pos) {
        d->cut = 1;
        d->cut_at = d->pos;
        ++d->stats.damaged;
        len = d->in->end - d->pos;
    }
    f->len = len;
    d->pos += len;
    f->samples = 1024;
    keep_window(d, f);
    ++d->stats.frames;
    d->stats.samples += f->samples;
    return 1;
}

/* ------------------------------------------------------------------ a destroyed header */

/* Whether an MPEG audio frame of the stream can be `gap` bytes long: some bitrate_index (or the
 * free-format length) and padding bit. On success h (4 bytes, the last header) is rewritten to
 * that bitrate and padding. */
static int mp3_fits(const StreamDecoder *d, Zuf8u *h, size_t gap) {
    const Zuf8u last2 = h[2];
    int b, pad;
    for (b = 0; b < 15; ++b)
        for (pad = 0; pad < 2; ++pad) {
            MpegHeader m;
            h[2] = (Zuf8u)((last2 & 0x0D) | (b << 4) | (pad << 1));
            if (!mpeg_header_parse(h, &m)) continue;
            if (m.frame_bytes ? (size_t)m.frame_bytes == gap : d->free_len && d->free_len + (size_t)pad == gap)
                return 1;
        }
    h[2] = last2;
    return 0;
}

/* A frame whose header was destroyed leaves a gap that starts where the last frame ended and
 * ends at a header that the next one confirms. When the gap has the length of one frame of the
 * stream (MP3: a length that some bitrate gives; ADTS, whose frames have any length: between
 * half the shortest and twice the longest frame so far), it is taken for that frame and decoded
 * behind the last frame's header with the gap's length. Its payload usually is intact: the
 * output is then the clean one (or, where the rebuilt header is wrong, e.g. another MP3
 * mode_extension, just this frame differs); a payload the decoder refuses is concealed as
 * usual. Either way the stream keeps its length, and an MP3's reservoir keeps the frame's main
 * data for the frames that reach back into it. Returns 1 with f filled. */
static int lost_frame(StreamDecoder *d, DecodedFrame *f) {
    const size_t gap = d->junk, hb = d->header_bytes;
    Zuf8u *p = d->frame;
    if (!d->stats.frames || gap <= hb + 2 || gap > MP3_MAX_FRAME || gap > AAC_MAX_FRAME) return 0;
    memcpy(p, d->last, hb);
    if (d->mp3) {
        if (!mp3_fits(d, p, gap)) return 0;
    } else {
        if (2 * gap < d->min_len || gap > 2 * d->max_len) return 0;
        p[3] = (Zuf8u)((p[3] & 0xFC) | (gap >> 11)); /* aac_frame_length: 13 bits from bit 30 */
        p[4] = (Zuf8u)(gap >> 3);
        p[5] = (Zuf8u)((p[5] & 0x1F) | ((gap & 7) << 5));
    }
    memcpy(p + hb, d->in->data + d->junk_at + hb, gap - hb);
    memset(p + gap, 0, MP3_MAIN_PADDING);
    f->offset = d->junk_at;
    f->len = gap;
    f->index = d->stats.frames;
    decode_frame(d, f, p, gap);
    ++d->stats.rebuilt;
    if (!f->damage) {
        f->damage = "header destroyed: decoded behind one rebuilt from the last frame's";
        ++d->stats.damaged;
    }
    return 1;
}

int stream_decoder_next(StreamDecoder *d, DecodedFrame *f) {
    const Input *in = d->in;
    memset(f, 0, sizeof *f);
    if (d->aac && d->aac->refused) return 0; /* an element that cannot be decoded ends the stream */
    if (d->mp4) return mp4_next(d, f);
    if (d->adif) return adif_next(d, f);
    while (d->pos + d->header_bytes <= in->end && !d->cut) {
        const size_t pos = d->pos;
        size_t len = frame_at(d, pos);
        if (len && pos + len > in->end) {
            d->cut = 1;
            d->cut_at = pos;
            d->stats.cut = 1;
            ++d->stats.damaged;
            break;
        }
        /* After junk, the next header must confirm this one. */
        if (len && pos != d->chain && in->end - (pos + len) >= d->header_bytes && !header_at(d, pos + len)) len = 0;
        if (!len) {
            if (!d->junk) d->junk_at = pos;
            ++d->junk;
            ++d->pos;
            continue;
        }
        if (d->junk && d->junk_at == d->chain && lost_frame(d, f)) {
            d->junk = 0;
            d->pos = d->chain = pos;
            return 1;
        }
        if (d->junk) {
            f->junk = d->junk;
            f->junk_at = d->junk_at;
            d->stats.junk_bytes += d->junk;
            d->junk = 0;
            /* The bit reservoir does not continue across the gap. */
            if (d->mp3) mp3_decoder_discontinuity(d->mp3);
        }
        f->offset = pos;
        f->len = len;
        f->index = d->stats.frames;
        decode_frame(d, f, in->data + pos, len);
        memcpy(d->last, in->data + pos, d->header_bytes);
        if (!d->min_len || len < d->min_len) d->min_len = len;
        if (len > d->max_len) d->max_len = len;
        d->pos = d->chain = pos + len;
        return 1;
    }
    return 0;
}

size_t stream_decoder_finish(StreamDecoder *d) {
    const size_t rest = d->in->end - d->pos;
    const size_t junk = d->junk + (rest < d->header_bytes ? rest : 0);
    d->junk = 0;
    d->stats.junk_bytes += junk;
    return junk;
}

void stream_decoder_close(StreamDecoder *d) {
    free(d->mp3);
    if (d->aac) aac_sbr_free(d->aac);
    free(d->aac);
    d->mp3 = NULL;
    d->aac = NULL;
}

int stream_decode_memory(const Zuf8u *data, size_t size, const Zuf16s *sfb_long, int gapless, Zuf16s **pcm,
                         DecodeStats *stats, AacToolCounts *tools) {
    Input in;
    StreamDecoder *d = NULL;
    DecodedFrame f;
    char note[128], what[200];
    size_t first, used = 0, cap = 0;
    StreamFormat format;
    int rc = 2;

    *pcm = NULL;
    memset(stats, 0, sizeof *stats);
    if (tools) memset(tools, 0, sizeof *tools);
    if (input_copy(data, size, &in)) return 2;
    input_strip_tags(&in, note, sizeof note);
    format = detect_format(&in, &first, what, sizeof what);
    d = calloc(1, sizeof *d);
    if (d) rc = stream_decoder_open(d, &in, first, format, sfb_long, what, sizeof what);
    if (rc == 0) stream_decoder_set_gapless(d, gapless);
    while (rc == 0 && stream_decoder_next(d, &f)) {
        const size_t n = f.samples * (size_t)d->stats.channels;
        if (used + n > cap) {
            Zuf16s *bigger;
            while (used + n > cap) cap = cap ? 2 * cap : 1u << 16;
            bigger = realloc(*pcm, cap * sizeof **pcm);
            if (!bigger) {
                rc = 2;
                break;
            }
            *pcm = bigger;
        }
        if (n) memcpy(*pcm + used, f.pcm, n * sizeof **pcm);
        used += n;
    }
    if (d && (d->mp3 || d->aac)) {
        stream_decoder_finish(d);
        *stats = d->stats;
        if (tools && d->aac) *tools = d->aac->tools;
        stream_decoder_close(d);
    }
    free(d);
    input_free(&in);
    return rc;
}
