/*
 * Stream input: reading, tag stripping, MPEG audio and ADTS header fields, format detection.
 */
#include "stream.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mp4.h"

int input_read(const char *path, Input *in, const char *prog) {
    FILE *f = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb"); /* "-": standard input */
    size_t cap = 1 << 16, n = 0;
    Zuf8u *buf;
    memset(in, 0, sizeof *in);
    if (!f) {
        fprintf(stderr, "%s: cannot open %s: %s\n", prog, path, strerror(errno));
        return 1;
    }
    buf = malloc(cap + INPUT_PADDING);
    for (;;) {
        size_t got;
        if (!buf) {
            if (f != stdin) fclose(f);
            fprintf(stderr, "%s: out of memory reading '%s'\n", prog, path);
            return 1;
        }
        got = fread(buf + n, 1, cap - n, f);
        n += got;
        if (n < cap) break;
        {
            Zuf8u *bigger = cap <= ((size_t)-1 - INPUT_PADDING) / 2 ? realloc(buf, 2 * cap + INPUT_PADDING) : NULL;
            if (!bigger) free(buf);
            buf = bigger;
            cap *= 2;
        }
    }
    if (ferror(f)) {
        const int err = errno;
        if (f != stdin) fclose(f);
        free(buf);
        fprintf(stderr, "%s: error reading %s: %s\n", prog, path, strerror(err));
        return 1;
    }
    if (f != stdin) fclose(f);
    memset(buf + n, 0, INPUT_PADDING);
    in->data = buf;
    in->size = n;
    in->begin = 0;
    in->end = n;
    return 0;
}

int input_copy(const Zuf8u *data, size_t size, Input *in) {
    memset(in, 0, sizeof *in);
    in->data = malloc(size + INPUT_PADDING);
    if (!in->data) return 1;
    if (size) memcpy(in->data, data, size);
    memset(in->data + size, 0, INPUT_PADDING);
    in->size = in->end = size;
    return 0;
}

void input_free(Input *in) {
    free(in->data);
    memset(in, 0, sizeof *in);
}

size_t id3v2_tag_len(const Zuf8u *p, size_t avail) {
    if (avail < 10 || memcmp(p, "ID3", 3) != 0) return 0;
    return 10 +
           (((size_t)(p[6] & 0x7F) << 21) | ((size_t)(p[7] & 0x7F) << 14) | ((size_t)(p[8] & 0x7F) << 7) |
            (p[9] & 0x7F)) +
           ((p[5] & 0x10) ? 10 : 0);
}

/* A tag's 32-bit size, bounded by what is left of the input: in 64 bits, so that adding the
 * header or footer cannot wrap a 32-bit size_t to a small (or zero) step. */
static size_t tag_size(const Zuf8u *p, unsigned long long extra, size_t avail) {
    const unsigned long long v = ((unsigned long long)p[0] | ((unsigned long long)p[1] << 8) |
                                  ((unsigned long long)p[2] << 16) | ((unsigned long long)p[3] << 24)) +
                                 extra;
    return v < avail ? (size_t)v : avail;
}

static void append_note(char *note, size_t note_len, const char *what) {
    size_t used = strlen(note);
    if (used + strlen(what) + 3 < note_len) {
        if (used) strcat(note, ", ");
        strcat(note, what);
    }
}

void input_strip_tags(Input *in, char *note, size_t note_len) {
    const Zuf8u *d = in->data;
    int again = 1;
    note[0] = '\0';
    /* Leading tags: ID3v2 (header, then a syncsafe size, plus a footer when flag bit 4 is set),
     * possibly several, and an APEv2 tag with its header. */
    while (again) {
        again = 0;
        /* A version byte of 0xFF or a size byte with its top bit set is not a tag. */
        if (id3v2_tag_len(d + in->begin, in->end - in->begin) && d[in->begin + 3] < 0xFF &&
            !(d[in->begin + 6] & 0x80)) {
            size_t len = id3v2_tag_len(d + in->begin, in->end - in->begin);
            if (len > in->end - in->begin) len = in->end - in->begin;
            in->begin += len;
            append_note(note, note_len, "ID3v2 tag");
            again = 1;
        } else if (in->end - in->begin >= 32 && memcmp(d + in->begin, "APETAGEX", 8) == 0) {
            /* items and footer, plus this header: at least the 32 bytes of the header itself */
            in->begin += tag_size(d + in->begin + 12, 32, in->end - in->begin);
            append_note(note, note_len, "APE tag");
            again = 1;
        }
    }
    /* Trailing tags: ID3v1 (128 bytes, "TAG"), then APEv2 (footer "APETAGEX", the size counts
     * the items and the footer; a header of 32 bytes precedes when flag bit 31 is set). */
    again = 1;
    while (again) {
        again = 0;
        if (in->end - in->begin >= 128 && memcmp(d + in->end - 128, "TAG", 3) == 0) {
            in->end -= 128;
            append_note(note, note_len, "ID3v1 tag");
            again = 1;
        } else if (in->end - in->begin >= 32 && memcmp(d + in->end - 32, "APETAGEX", 8) == 0) {
            const Zuf8u *footer = d + in->end - 32;
            size_t len = tag_size(footer + 12, (footer[23] & 0x80) ? 32 : 0, in->end - in->begin);
            /* A size below the footer's own 32 bytes is damage: the footer alone goes (a size of 0
             * would otherwise strip nothing and find the same footer forever). */
            if (len < 32) len = 32;
            in->end -= len;
            append_note(note, note_len, "APE tag");
            again = 1;
        }
    }
}

int mpeg_header_parse(const Zuf8u *p, MpegHeader *h) {
    /* Bit rates in kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]. */
    static const short kBitrate[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                              {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                              {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                             {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    int vbits, lbits, bi, si, lsf;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    vbits = (p[1] >> 3) & 3; /* 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved */
    lbits = (p[1] >> 1) & 3; /* 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved */
    bi = p[2] >> 4;
    si = (p[2] >> 2) & 3;
    if (vbits == 1 || lbits == 0 || bi == 15 || si == 3) return 0;
    h->version = vbits == 3 ? 10 : vbits == 2 ? 20 : 25;
    h->layer = 4 - lbits;
    h->protection = !(p[1] & 1);
    lsf = vbits != 3;
    h->bitrate_kbps = kBitrate[lsf][h->layer - 1][bi];
    h->sample_rate = kRates[si] >> (vbits == 3 ? 0 : vbits == 2 ? 1 : 2);
    h->padding = (p[2] >> 1) & 1;
    h->channels = (p[3] >> 6) == 3 ? 1 : 2;
    h->samples = h->layer == 1 ? 384 : (h->layer == 3 && lsf) ? 576 : 1152;
    if (h->bitrate_kbps == 0)
        h->frame_bytes = 0;
    else if (h->layer == 1)
        h->frame_bytes = (12000 * h->bitrate_kbps / h->sample_rate + h->padding) * 4;
    else
        h->frame_bytes = (h->samples / 8) * 1000 * h->bitrate_kbps / h->sample_rate + h->padding;
    return 1;
}

int mpeg_same_stream(const Zuf8u *a, const Zuf8u *b) {
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}

static size_t mpeg_min_free_frame(const MpegHeader *h) {
    const long kbps = h->version == 10 ? 32 : 8;
    const long slot = h->layer == 1 ? 4 : 1;
    return (size_t)((long)h->samples / 8 * kbps * 1000 / (h->sample_rate * slot) * slot);
}

size_t mpeg_frame_len(const Input *in, size_t pos, const MpegHeader *h) {
    size_t q;
    if (h->frame_bytes) return (size_t)h->frame_bytes;
    /* A free-format frame is never shorter than one at the lowest bit rate of the table (32
     * kbit/s in MPEG-1, 8 kbit/s in MPEG-2 and 2.5, 11172-3 2.4.2.3): shorter "frames" cannot
     * carry their own side information, and accepting them would let a few bytes of input turn
     * into a whole frame of output each. */
    for (q = pos + mpeg_min_free_frame(h); q + 4 <= in->end && q < pos + 8192; ++q) {
        MpegHeader n;
        if (mpeg_header_parse(in->data + q, &n) && mpeg_same_stream(in->data + pos, in->data + q) &&
            n.bitrate_kbps == 0)
            return q - pos;
    }
    return 0;
}

static unsigned long be32(const Zuf8u *p) {
    return ((unsigned long)p[0] << 24) | ((unsigned long)p[1] << 16) | ((unsigned long)p[2] << 8) | p[3];
}

int mpeg_tag_frame(const Zuf8u *p, size_t len, MpegTagFrame *t) {
    MpegTagFrame dummy;
    MpegHeader h;
    size_t side, at, k;
    if (!t) t = &dummy;
    memset(t, 0, sizeof *t);
    if (len < 4 || !mpeg_header_parse(p, &h)) return 0;
    /* Side information: 32 or 17 bytes in MPEG-1, 17 or 9 in MPEG-2 (stereo or mono). */
    side = h.version == 10 ? (h.channels == 2 ? 32 : 17) : (h.channels == 2 ? 17 : 9);
    for (k = 0; k < 2; ++k) {
        unsigned long flags;
        at = 4 + side + 2 * k;
        if (k && !h.protection) break;
        if (at + 8 > len || (memcmp(p + at, "Xing", 4) != 0 && memcmp(p + at, "Info", 4) != 0)) continue;
        memcpy(t->name, p + at, 4);
        /* Flags, then the fields they announce: frames (1), bytes (2), 100-byte seek table (4),
         * quality (8). The LAME extension follows: a 9-byte encoder string, and 21 bytes after
         * its start the 12-bit delay and 12-bit padding. */
        flags = be32(p + at + 4);
        at += 8;
        if ((flags & 1) && at + 4 <= len) t->frames = be32(p + at);
        at += ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        if (at + 24 <= len &&
            (memcmp(p + at, "LAME", 4) == 0 || memcmp(p + at, "Lavf", 4) == 0 || memcmp(p + at, "Lavc", 4) == 0)) {
            t->gapless = 1;
            t->delay = (p[at + 21] << 4) | (p[at + 22] >> 4);
            t->padding = ((p[at + 22] & 15) << 8) | p[at + 23];
        }
        return 1;
    }
    /* VBRI: always 32 bytes after the header; frames at offset 14. */
    if (len >= 36 + 18 && memcmp(p + 36, "VBRI", 4) == 0) {
        memcpy(t->name, "VBRI", 4);
        t->frames = be32(p + 36 + 14);
        return 1;
    }
    return 0;
}

size_t adts_frame_len(const Zuf8u *p) { return ((size_t)(p[3] & 3) << 11) | ((size_t)p[4] << 3) | (p[5] >> 5); }

int aac_sample_rate(int index) {
    static const int k_rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};
    return index >= 0 && index < 13 ? k_rates[index] : 0;
}

/* A plausible ADTS header at pos: syncword, layer 0, a sampling index with a rate. */
static int adts_at(const Input *in, size_t pos, size_t *len) {
    const Zuf8u *p = in->data + pos;
    if (in->end - pos < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 15) > 12) return 0;
    *len = adts_frame_len(p);
    return *len >= 7;
}

/* A format is decided by a run of DETECT_RUN frames whose headers agree (or fewer that end
 * exactly at the end of the input), so that a sync-like pattern in junk or in a damaged frame of
 * one format does not make the file the other format. */
#define DETECT_RUN 3

static int adts_run(const Input *in, size_t pos) {
    const Zuf8u *first = in->data + pos;
    size_t len;
    int n;
    for (n = 0; n < DETECT_RUN; ++n) {
        if (pos == in->end) return 1;
        if (!adts_at(in, pos, &len) || memcmp(in->data + pos + 1, first + 1, 2) != 0 ||
            ((in->data[pos + 3] ^ first[3]) & 0xF0) != 0 || len > in->end - pos)
            return 0;
        pos += len;
    }
    return 1;
}

static int mpeg_run(const Input *in, size_t pos) {
    const Zuf8u *first = in->data + pos;
    int n;
    for (n = 0; n < DETECT_RUN; ++n) {
        MpegHeader h;
        size_t len;
        if (pos == in->end) return 1;
        if (in->end - pos < 4 || !mpeg_header_parse(in->data + pos, &h) || !mpeg_same_stream(first, in->data + pos))
            return 0;
        len = mpeg_frame_len(in, pos, &h);
        if (len < 4 || len > in->end - pos) return 0;
        pos += len;
    }
    return 1;
}

StreamFormat detect_format(const Input *in, size_t *first, char *what, size_t what_len) {
    size_t pos;
    if (mp4_is_file(in->data + in->begin, in->end - in->begin)) {
        char brand[5] = "????";
        int i;
        for (i = 0; i < 4 && in->end - in->begin >= 12; ++i) {
            const Zuf8u c = in->data[in->begin + 8 + i];
            if (c >= 32 && c < 127) brand[i] = (char)c;
        }
        *first = in->begin;
        snprintf(what, what_len, "MP4 (brand '%s')", brand);
        return FORMAT_MP4;
    }
    if (in->end - in->begin >= 4 && memcmp(in->data + in->begin, "ADIF", 4) == 0) {
        *first = in->begin;
        snprintf(what, what_len, "AAC (ADIF)");
        return FORMAT_ADIF;
    }
    for (pos = in->begin; pos + 4 <= in->end; ++pos) {
        MpegHeader h;
        size_t len;
        const Zuf8u *p = in->data + pos;
        if (p[0] != 0xFF) continue;
        if (adts_at(in, pos, &len)) {
            if (adts_run(in, pos)) {
                *first = pos;
                snprintf(what, what_len, "AAC (ADTS)");
                return FORMAT_ADTS;
            }
            continue;
        }
        if (!mpeg_header_parse(p, &h)) continue;
        if (!mpeg_run(in, pos)) continue;
        *first = pos;
        snprintf(what, what_len, "%s Layer %s",
                 h.version == 10   ? "MPEG-1"
                 : h.version == 20 ? "MPEG-2"
                                   : "MPEG-2.5",
                 h.layer == 1   ? "I"
                 : h.layer == 2 ? "II"
                                : "III");
        return (h.layer == 3 && h.version != 25) ? FORMAT_MP3 : FORMAT_MPEG_OTHER;
    }
    *first = in->end;
    what[0] = '\0';
    return FORMAT_UNKNOWN;
}

int stream_refused(const Input *in, size_t first, StreamFormat format, char *why, size_t why_len) {
    MpegHeader h;
    static const char *const layers[4] = {"", "I", "II", "III"};
    switch (format) {
        case FORMAT_MP3:
        case FORMAT_ADTS:
        case FORMAT_MP4:
        case FORMAT_ADIF:
            return 0;
        case FORMAT_MPEG_OTHER:
            if (first + 4 <= in->end && mpeg_header_parse(in->data + first, &h)) {
                if (h.version == 25)
                    snprintf(why, why_len, "MPEG-2.5 is not decoded (only MPEG-1 and MPEG-2 Layer III)");
                else
                    snprintf(why, why_len, "MPEG-%d Layer %s is not decoded (only Layer III)", h.version / 10,
                             layers[h.layer]);
                return 1;
            }
            break;
        default:
            break;
    }
    snprintf(why, why_len, "no MP3 or AAC stream found");
    return 1;
}
