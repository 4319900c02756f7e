/*
 * ISO base media file reader for one AAC track. Boxes (ISO/IEC 14496-12 4.2): a 32-bit size
 * (1: a 64-bit size follows the type; 0: to the end of the enclosing box) and a four-character
 * type. The path to the sample table is fixed, so the walk is a handful of searches among the
 * children of one box, never deeper than moov/trak/mdia/minf/stbl/stsd/mp4a/wave/esds. A box is
 * used only when it lies whole inside its parent, and a table only when its entry count fits in
 * its box; sample offsets and sizes are returned for the caller to check against the file.
 */
#include "mp4.h"

#include <stdio.h>
#include <string.h>

#include "stream.h"

static unsigned long rd16(const Zuf8u *p) { return ((unsigned long)p[0] << 8) | p[1]; }

static unsigned long rd32(const Zuf8u *p) {
    return ((unsigned long)p[0] << 24) | ((unsigned long)p[1] << 16) | ((unsigned long)p[2] << 8) | p[3];
}

static unsigned long long rd64(const Zuf8u *p) { return ((unsigned long long)rd32(p) << 32) | rd32(p + 4); }

int mp4_is_file(const Zuf8u *p, size_t avail) { return avail >= 8 && memcmp(p + 4, "ftyp", 4) == 0 && rd32(p) >= 8; }

/* The box at pos, which must lie whole inside [pos, end): its type and its payload [*body, *next).
 * Returns 0 when no whole box fits. */
static int box_at(const Zuf8u *d, size_t pos, size_t end, char *type, size_t *body, size_t *next) {
    unsigned long long size;
    size_t head = 8;
    if (pos > end || end - pos < 8) return 0;
    size = rd32(d + pos);
    memcpy(type, d + pos + 4, 4);
    if (size == 1) {
        if (end - pos < 16) return 0;
        size = rd64(d + pos + 8);
        head = 16;
    } else if (size == 0) {
        size = end - pos;
    }
    if (size < head || size > end - pos) return 0;
    *body = pos + head;
    *next = pos + (size_t)size;
    return 1;
}

/* The first box of `type` among the boxes in [pos, end): 1 with its payload [*body, *body_end). */
static int child(const Zuf8u *d, size_t pos, size_t end, const char *type, size_t *body, size_t *body_end) {
    char t[4];
    size_t b, n;
    while (box_at(d, pos, end, t, &b, &n)) {
        if (memcmp(t, type, 4) == 0) {
            *body = b;
            *body_end = n;
            return 1;
        }
        pos = n;
    }
    return 0;
}

/* An object descriptor header (ISO/IEC 14496-1 8.3.3) at *pos: the tag, then the size in 7-bit
 * groups, at most four bytes. 1 with *pos at the body and *len its size, inside end. */
static int descriptor(const Zuf8u *d, size_t *pos, size_t end, int *tag, size_t *len) {
    size_t p = *pos, n = 0;
    int i;
    if (p >= end) return 0;
    *tag = d[p++];
    for (i = 0;; ++i) {
        if (i == 4 || p >= end) return 0;
        n = (n << 7) | (d[p] & 0x7Fu);
        if (!(d[p++] & 0x80)) break;
    }
    if (n > end - p) return 0;
    *pos = p;
    *len = n;
    return 1;
}

/* The descriptor with `tag` among those in [pos, end): 1 with its body. */
static int find_descriptor(const Zuf8u *d, size_t pos, size_t end, int want, size_t *body, size_t *len) {
    int tag;
    while (descriptor(d, &pos, end, &tag, len)) {
        if (tag == want) {
            *body = pos;
            return 1;
        }
        pos += *len;
    }
    return 0;
}

/* MSB-first bits of the AudioSpecificConfig; reads past its end count but give zeros. */
typedef struct {
    const Zuf8u *p;
    size_t bits, pos;
} Bits;

static unsigned get(Bits *b, int n) {
    unsigned v = 0;
    while (n-- > 0) {
        v <<= 1;
        if (b->pos < b->bits) v |= (b->p[b->pos >> 3] >> (7 - (b->pos & 7))) & 1u;
        ++b->pos;
    }
    return v;
}

static const char *object_name(int aot) {
    switch (aot) {
        case 1:
            return "AAC Main";
        case 3:
            return "AAC SSR";
        case 4:
            return "AAC LTP";
        case 5:
            return "SBR, HE-AAC";
        case 29:
            return "PS, HE-AAC v2";
        case 6:
            return "AAC scalable";
        case 17:
            return "ER AAC LC";
        case 23:
            return "ER AAC LD";
        case 39:
            return "ER AAC ELD";
        case 42:
            return "USAC";
        default:
            return "not AAC-LC";
    }
}

static int object_type(Bits *b) {
    const int t = (int)get(b, 5);
    return t == 31 ? 32 + (int)get(b, 6) : t;
}

/* samplingFrequencyIndex, or the explicit 24-bit rate after index 15: the rate in Hz. */
static int rate_field(Bits *b) {
    const int i = (int)get(b, 4);
    return i == 15 ? (int)get(b, 24) : aac_sample_rate(i);
}

/* AudioSpecificConfig (ISO/IEC 14496-3 1.6.2.1) and GASpecificConfig (4.4.1): object type,
 * sampling frequency, channel configuration; only AAC-LC with 1024-sample frames passes. */
static int audio_specific_config(const Zuf8u *p, size_t len, Mp4Track *t, char *why, size_t why_len) {
    Bits b;
    int i;
    b.p = p;
    b.bits = 8 * len;
    b.pos = 0;
    int ext;
    t->object_type = object_type(&b);
    t->sfi = (int)get(&b, 4);
    if (t->sfi == 15) {
        /* An explicit rate is decoded when it is one of the table's (the scale-factor bands
         * follow the index). */
        const int rate = (int)get(&b, 24);
        t->sfi = -1;
        for (i = 0; i < 12; ++i)
            if (aac_sample_rate(i) == rate) t->sfi = i;
        if (t->sfi < 0) {
            snprintf(why, why_len, "explicit sampling frequency %d Hz is not decoded", rate);
            return 1;
        }
    }
    t->channels = (int)get(&b, 4);
    /* HE-AAC (object type 5, or 29 with parametric stereo): the SBR rate, then the core's type */
    t->sbr = t->object_type == 5 || t->object_type == 29;
    if (t->sbr) {
        t->sbr_rate = rate_field(&b);
        t->object_type = object_type(&b);
    }
    if (t->object_type != 2) {
        snprintf(why, why_len, "audio object type %d (%s) is not decoded, only AAC-LC (2)", t->object_type,
                 object_name(t->object_type));
        return 1;
    }
    if (get(&b, 1)) {
        snprintf(why, why_len, "960-sample frames (frameLengthFlag 1) are not decoded");
        return 1;
    }
    if (get(&b, 1)) {
        snprintf(why, why_len, "a core coder (dependsOnCoreCoder 1) is not decoded");
        return 1;
    }
    ext = (int)get(&b, 1); /* extensionFlag: 0 for AAC-LC */
    /* Backward-compatible explicit signalling: syncExtensionType 0x2B7, SBR, sbrPresentFlag. */
    if (!ext && !t->sbr && b.pos + 16 <= b.bits && get(&b, 11) == 0x2B7 && object_type(&b) == 5 && get(&b, 1)) {
        t->sbr = 1;
        t->sbr_rate = rate_field(&b);
    }
    if (b.pos > b.bits) {
        snprintf(why, why_len, "AudioSpecificConfig shorter than its fields");
        return 1;
    }
    t->sample_rate = aac_sample_rate(t->sfi);
    if (!t->sample_rate) {
        snprintf(why, why_len, "reserved sampling_frequency_index %d", t->sfi);
        return 1;
    }
    return 0;
}

/* The 'esds' box (ISO/IEC 14496-14 5.6): ES_Descriptor, DecoderConfigDescriptor (object type
 * indication, 12 more bytes), DecoderSpecificInfo (the AudioSpecificConfig). */
static int esds(const Zuf8u *d, size_t pos, size_t end, Mp4Track *t, char *why, size_t why_len) {
    size_t es, es_len, dc, dc_len, dsi, dsi_len, p;
    int oti, flags;
    /* After the box's version and flags. */
    if (end - pos < 4 || !find_descriptor(d, pos + 4, end, 3, &es, &es_len) || es_len < 3) {
        snprintf(why, why_len, "damaged 'esds' box (no ES_Descriptor)");
        return 1;
    }
    /* ES_ID, then flags: stream dependence (2 more bytes), URL (a counted string), OCR stream
     * (2 more bytes). */
    flags = d[es + 2];
    p = es + 3 + ((flags & 0x80) ? 2 : 0);
    if ((flags & 0x40) && p < es + es_len) p += 1 + (size_t)d[p];
    p += (flags & 0x20) ? 2 : 0;
    if (p > es + es_len || !find_descriptor(d, p, es + es_len, 4, &dc, &dc_len) || dc_len < 13) {
        snprintf(why, why_len, "damaged 'esds' box (no DecoderConfigDescriptor)");
        return 1;
    }
    oti = d[dc];
    if (oti == 0x66 || oti == 0x68) {
        snprintf(why, why_len, "MPEG-2 AAC %s profile is not decoded (only AAC-LC)", oti == 0x66 ? "Main" : "SSR");
        return 1;
    }
    if (oti == 0x69 || oti == 0x6B) {
        snprintf(why, why_len, "MPEG audio in an MP4 file is not decoded (only AAC-LC)");
        return 1;
    }
    if (oti != 0x40 && oti != 0x67) {
        snprintf(why, why_len, "object type indication 0x%02X is not AAC", oti);
        return 1;
    }
    t->mpeg2 = oti == 0x67;
    if (!find_descriptor(d, dc + 13, dc + dc_len, 5, &dsi, &dsi_len) || dsi_len < 2) {
        snprintf(why, why_len, "'esds' box without an AudioSpecificConfig");
        return 1;
    }
    return audio_specific_config(d + dsi, dsi_len, t, why, why_len);
}

/* A table box's entry count at pos, and its entries of `entry` bytes from pos + 4 within end:
 * 1 when they fit. */
static int table(const Zuf8u *d, size_t pos, size_t end, size_t entry, unsigned long *count, size_t *first) {
    if (end - pos < 8) return 0;
    *count = rd32(d + pos + 4);
    *first = pos + 8;
    return *count <= (end - *first) / entry;
}

/* stsd: the first sample entry must be 'mp4a'; its 'esds' follows the AudioSampleEntry fields
 * (28 bytes, 16 or 36 more in QuickTime's version 1 and 2), possibly inside a 'wave' box. */
static int sample_entry(const Zuf8u *d, size_t pos, size_t end, Mp4Track *t, char *why, size_t why_len) {
    char type[5] = {0, 0, 0, 0, 0};
    size_t body, next, kids, e, e_end;
    int i, version;
    if (end - pos < 8 || rd32(d + pos + 4) < 1 || !box_at(d, pos + 8, end, type, &body, &next)) {
        snprintf(why, why_len, "damaged 'stsd' box");
        return 1;
    }
    if (memcmp(type, "mp4a", 4) != 0) {
        for (i = 0; i < 4; ++i)
            if (type[i] < 32 || type[i] > 126) type[i] = '?';
        snprintf(why, why_len, "audio coded as '%s' is not decoded (only AAC, 'mp4a')", type);
        return 1;
    }
    if (next - body < 28) {
        snprintf(why, why_len, "damaged 'mp4a' sample entry");
        return 1;
    }
    version = (int)rd16(d + body + 8);
    kids = body + 28 + (version == 1 ? 16 : version == 2 ? 36 : 0);
    if (kids <= next && (child(d, kids, next, "esds", &e, &e_end) ||
                         (child(d, kids, next, "wave", &e, &e_end) && child(d, e, e_end, "esds", &e, &e_end))))
        return esds(d, e, e_end, t, why, why_len);
    snprintf(why, why_len, "'mp4a' sample entry without an 'esds' box");
    return 1;
}

/* The first non-empty edit's media time (ISO/IEC 14496-12 8.6.6): the media before it, the
 * encoder's priming samples, is not presented. */
static void edit_list(const Zuf8u *d, size_t trak, size_t trak_end, Mp4Track *t) {
    size_t edts, edts_end, e, e_end, first, entry;
    unsigned long n, i;
    if (!child(d, trak, trak_end, "edts", &edts, &edts_end) || !child(d, edts, edts_end, "elst", &e, &e_end) ||
        e_end - e < 4)
        return;
    /* Version 1: 64-bit segment_duration and media_time; version 0: 32-bit. Then media_rate. */
    entry = d[e] == 1 ? 20 : 12;
    if (!table(d, e, e_end, entry, &n, &first)) return;
    for (i = 0; i < n; ++i) {
        const Zuf8u *p = d + first + entry * i;
        const unsigned long long media_time = entry == 20 ? rd64(p + 8) : rd32(p + 4);
        if (media_time == (entry == 20 ? ~0ull : 0xFFFFFFFFull)) continue; /* -1: an empty edit */
        if (!(media_time >> (entry == 20 ? 63 : 31))) t->skip = media_time;
        return;
    }
}

static int track(const Zuf8u *d, size_t size, size_t trak, size_t trak_end, size_t mdia, size_t mdia_end, Mp4Track *t,
                 char *why, size_t why_len) {
    size_t b, e, minf, minf_end, stbl, stbl_end;
    /* mdhd: version and flags, two times (32-bit, or 64-bit in version 1), then the timescale. */
    if (!child(d, mdia, mdia_end, "mdhd", &b, &e) || e - b < 16 || (d[b] == 1 && e - b < 24) ||
        !(t->timescale = rd32(d + b + (d[b] == 1 ? 20 : 12)))) {
        snprintf(why, why_len, "damaged 'mdhd' box");
        return 1;
    }
    if (!child(d, mdia, mdia_end, "minf", &minf, &minf_end) || !child(d, minf, minf_end, "stbl", &stbl, &stbl_end) ||
        !child(d, stbl, stbl_end, "stsd", &b, &e)) {
        snprintf(why, why_len, "audio track without a sample table");
        return 1;
    }
    if (sample_entry(d, b, e, t, why, why_len)) return 1;
    if (!child(d, stbl, stbl_end, "stsz", &b, &e) || e - b < 12) {
        snprintf(why, why_len, "damaged or missing 'stsz' box");
        return 1;
    }
    t->fixed_size = rd32(d + b + 4);
    t->samples = rd32(d + b + 8);
    t->stsz = b + 12;
    if (!t->fixed_size && t->samples > (e - t->stsz) / 4) {
        snprintf(why, why_len, "'stsz' box shorter than its %lu entries", t->samples);
        return 1;
    }
    /* Samples of one size must fit in the file: a handful of bytes cannot claim billions. */
    if (t->fixed_size && t->samples > size / t->fixed_size) {
        snprintf(why, why_len, "%lu samples of %lu bytes do not fit in the file", t->samples, t->fixed_size);
        return 1;
    }
    if (!child(d, stbl, stbl_end, "stsc", &b, &e) || !table(d, b, e, 12, &t->stsc_n, &t->stsc)) {
        snprintf(why, why_len, "damaged or missing 'stsc' box");
        return 1;
    }
    t->co64 = !child(d, stbl, stbl_end, "stco", &b, &e);
    if ((t->co64 && !child(d, stbl, stbl_end, "co64", &b, &e)) ||
        !table(d, b, e, t->co64 ? 8 : 4, &t->stco_n, &t->stco)) {
        snprintf(why, why_len, "damaged or missing 'stco' box");
        return 1;
    }
    edit_list(d, trak, trak_end, t);
    return 0;
}

int mp4_open(const Zuf8u *d, size_t size, Mp4Track *t, char *why, size_t why_len) {
    size_t moov, moov_end, pos, trak, trak_end, mdia, mdia_end, h, h_end;
    char type[4];
    int tracks = 0;
    memset(t, 0, sizeof *t);
    if (!child(d, 0, size, "moov", &moov, &moov_end)) {
        snprintf(why, why_len, "no whole 'moov' box (a damaged, cut or fragmented file)");
        return 1;
    }
    for (pos = moov; box_at(d, pos, moov_end, type, &trak, &trak_end); pos = trak_end) {
        if (memcmp(type, "trak", 4) != 0) continue;
        ++tracks;
        /* hdlr: version and flags, pre_defined, then handler_type. */
        if (child(d, trak, trak_end, "mdia", &mdia, &mdia_end) && child(d, mdia, mdia_end, "hdlr", &h, &h_end) &&
            h_end - h >= 12 && memcmp(d + h + 8, "soun", 4) == 0)
            return track(d, size, trak, trak_end, mdia, mdia_end, t, why, why_len);
    }
    snprintf(why, why_len, "no audio track (%d other track%s)", tracks, tracks == 1 ? "" : "s");
    return 1;
}

void mp4_cursor_init(Mp4Cursor *c) {
    memset(c, 0, sizeof *c);
    c->chunk = (unsigned long)-1; /* the first step goes to chunk 0 */
}

int mp4_next_sample(const Mp4Track *t, const Zuf8u *d, Mp4Cursor *c, unsigned long long *offset, unsigned long *size) {
    if (c->sample >= t->samples || !t->stsc_n) return 0;
    while (c->left == 0) {
        /* The next chunk, and the stsc entry whose first_chunk (1-based) it has reached. */
        if (++c->chunk >= t->stco_n) return 0;
        while (c->stsc_i + 1 < t->stsc_n && c->chunk + 1 >= rd32(d + t->stsc + 12 * (c->stsc_i + 1))) ++c->stsc_i;
        c->left = rd32(d + t->stsc + 12 * c->stsc_i + 4);
        c->pos = t->co64 ? rd64(d + t->stco + 8 * c->chunk) : rd32(d + t->stco + 4 * c->chunk);
    }
    *size = t->fixed_size ? t->fixed_size : rd32(d + t->stsz + 4 * c->sample);
    *offset = c->pos;
    c->pos += *size;
    --c->left;
    ++c->sample;
    return 1;
}
