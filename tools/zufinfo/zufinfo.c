/*
 * zufinfo: lists the stream headers of coded audio files with libzufack9's public API.
 *
 *   zufinfo [--summary | --json] FILE...
 *
 * Prints each file's format and its headers: for ADTS and MP3 (MPEG-1, MPEG-2 and MPEG-2.5 Layer
 * III) every frame (or, with --summary, one line plus totals); for ADIF the header and each
 * program configuration element; with --json one JSON array with an object per file, for
 * scripts. ADTS damage is recoverable: junk between frames is skipped (and reported) by scanning
 * for the next header that the following one confirms, and a truncated last frame is reported.
 * Exit status: 0 when every file was listed, 1 when one was unusable (missing, empty, unknown
 * format, truncated ADIF header), 2 on a usage error.
 *
 * Structure: the file is read into a padded buffer (tools/example/stream.h, which also parses
 * MPEG audio headers), the format is detected as zufdec detects it (detect_format(), after the
 * tags), and that format's lister does the rest.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef ZUF_TOOL_VERSION
#define ZUF_TOOL_VERSION "unknown"
#endif

#include <zufack9/zufack9.h>

#include "example/stream.h"

/* What a listing found, for the closing lines and the JSON object. */
typedef struct {
    const char *format;                           /* "ADTS", "ADIF", "MP3" */
    char stream[160];                             /* one line that describes the stream */
    char version[16];                             /* "MPEG-4", "MPEG-1", "MPEG-2.5", ... */
    char profile[16];                             /* AAC profile or object type, or "Layer III" */
    int sample_rate, channels, lfe, crc, bitrate; /* bitrate: ADIF's field, bit/s */
    int framed;                                   /* the frame counts below apply */
    unsigned long frames, changes;
    size_t frame_bytes, skipped, tag_bytes, header_bytes;
    int truncated;
    double seconds;
    const char *error; /* why the file could not be listed */
} Summary;

typedef struct {
    int summary;
    int json; /* no text on stdout: the caller prints `sum` as JSON */
    Summary sum;
} Options;

/* ------------------------------------------------------------------ shared helpers */

/* profile (ADTS) or object_type (PCE): the MPEG-2 profile names of 13818-7 Table 31. */
static const char *profile_name(int profile) {
    static const char *const names[4] = {"Main", "LC", "SSR", "LTP"};
    return profile >= 0 && profile < 4 ? names[profile] : "?";
}

static const char *channel_config_name(int config) {
    static const char *const names[8] = {"set by a PCE",
                                         "mono",
                                         "stereo",
                                         "3.0 (C, L/R)",
                                         "4.0 (C, L/R, Cs)",
                                         "5.0 (C, L/R, Ls/Rs)",
                                         "5.1 (C, L/R, Ls/Rs, LFE)",
                                         "7.1 (C, L/R, Lc/Rc, Ls/Rs, LFE)"};
    return config >= 0 && config < 8 ? names[config] : "?";
}

/* Prints bytes as a C string literal: printable ASCII as is, everything else escaped, so a
 * comment field cannot disturb the terminal or the line structure. */
static void print_quoted(const Zuf8u *s, int n) {
    int i;
    putchar('"');
    for (i = 0; i < n; ++i) {
        const int c = s[i];
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c == '\n')
            fputs("\\n", stdout);
        else if (c == '\t')
            fputs("\\t", stdout);
        else if (c == '\r')
            fputs("\\r", stdout);
        else if (c >= 0x20 && c < 0x7F)
            putchar(c);
        else
            printf("\\x%02X", c);
    }
    putchar('"');
}

/* ------------------------------------------------------------------ ADTS */

typedef struct {
    AacAdtsFrameHeader h;
    size_t header_bytes; /* 7, plus 2 per raw data block when protected */
} AdtsFrame;

/* Unpacks the header at pos if it looks like ADTS: syncword 0xFFF and layer 0, a sampling
 * index with a rate, and a frame long enough for its own header. */
static double average_kbps(const Summary *s) {
    return s->seconds > 0.0 ? s->frame_bytes * 8.0 / s->seconds / 1000.0 : 0.0;
}

/* The closing lines of a frame listing, the same for every framed format. */
static void print_totals(unsigned long changes, unsigned long frames, size_t frame_bytes, double seconds,
                         size_t skipped, int truncated, Options *opt) {
    Summary *s = &opt->sum;
    s->framed = 1;
    s->changes = changes;
    s->frames = frames;
    s->frame_bytes = frame_bytes;
    s->seconds = seconds;
    s->skipped = skipped;
    s->truncated = truncated;
    if (opt->json) return;
    if (opt->summary) puts(s->stream);
    if (changes) printf("stream parameters change in %lu frames\n", changes);
    printf("frames: %lu, bytes: %lu, duration: %.3f s, average bitrate: %.1f kbit/s\n", frames,
           (unsigned long)frame_bytes, seconds, average_kbps(s));
    if (skipped || truncated)
        printf("damage: %lu bytes skipped%s\n", (unsigned long)skipped, truncated ? ", last frame truncated" : "");
}

/* A JSON string: quotes, backslashes and control characters escaped. */
static void json_string(const char *s) {
    putchar('"');
    for (; *s; ++s) {
        const unsigned char c = (unsigned char)*s;
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c < 0x20)
            printf("\\u%04x", c);
        else
            putchar(c);
    }
    putchar('"');
}

/* One file's JSON object (without a trailing newline). */
static void print_json(const char *path, size_t size, const Summary *s) {
    printf("  {\"file\": ");
    json_string(path);
    printf(", \"bytes\": %lu", (unsigned long)size);
    if (s->error) {
        printf(", \"error\": ");
        json_string(s->error);
        putchar('}');
        return;
    }
    printf(", \"format\": \"%s\", \"stream\": ", s->format);
    json_string(s->stream);
    printf(", \"version\": \"%s\", \"profile\": \"%s\", \"sample_rate\": %d, \"channels\": %d", s->version, s->profile,
           s->sample_rate, s->channels);
    if (!s->framed) {
        printf(", \"lfe_channels\": %d, \"bitrate\": %d, \"header_bytes\": %lu}", s->lfe, s->bitrate,
               (unsigned long)s->header_bytes);
        return;
    }
    printf(", \"crc\": %s, \"frames\": %lu, \"frame_bytes\": %lu, \"duration\": %.6f, \"average_kbps\": %.3f",
           s->crc ? "true" : "false", s->frames, (unsigned long)s->frame_bytes, s->seconds, average_kbps(s));
    printf(", \"skipped_bytes\": %lu, \"truncated\": %s, \"parameter_changes\": %lu, \"tag_bytes\": %lu}",
           (unsigned long)s->skipped, s->truncated ? "true" : "false", s->changes, (unsigned long)s->tag_bytes);
}

static int adts_header_at(const Input *in, size_t pos, AdtsFrame *fr) {
    Zuf8u *p = in->data + pos;
    if (in->size - pos < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return 0;
    if (zufsUnpackADTSFrameHeader_AAC(&p, &fr->h) != zufOk) return 0;
    /* adts_header_error_check(): with several blocks a protected frame carries the positions of
     * blocks 2..n and then crc_check, so the header grows by two bytes per block. */
    fr->header_bytes = 7 + (fr->h.protection_absent ? 0 : 2 * (size_t)fr->h.num_raw_data_blocks);
    return aac_sample_rate(fr->h.sampling_frequency_index) != 0 && (size_t)fr->h.aac_frame_length >= fr->header_bytes;
}

/* Fields of adts_fixed_header() that stay the same from frame to frame of one stream. */
static int adts_same_stream(const AacAdtsFrameHeader *a, const AacAdtsFrameHeader *b) {
    return a->id == b->id && a->profile == b->profile && a->sampling_frequency_index == b->sampling_frequency_index &&
           a->channel_configuration == b->channel_configuration;
}

/* A frame is taken as real when the next frame follows where its length says, with the same
 * fixed header, or when it ends exactly at the end of the file. While listing, a frame that
 * runs past the end is accepted too (and reported as truncated); format detection wants a
 * frame whose length is confirmed. */
static int adts_confirmed_at(const Input *in, size_t pos, int allow_truncated, AdtsFrame *fr) {
    AdtsFrame next;
    size_t end;
    if (!adts_header_at(in, pos, fr)) return 0;
    end = pos + (size_t)fr->h.aac_frame_length;
    if (end == in->size) return 1;
    if (end > in->size) return allow_truncated;
    return adts_header_at(in, end, &next) && adts_same_stream(&fr->h, &next.h);
}

/* The first confirmed frame at or after pos, or in->size. */
static size_t adts_resync(const Input *in, size_t pos, int allow_truncated, AdtsFrame *fr) {
    for (; pos < in->size; ++pos)
        if (adts_confirmed_at(in, pos, allow_truncated, fr)) return pos;
    return in->size;
}

static void adts_print_frame(unsigned long index, size_t pos, const AdtsFrame *fr) {
    const AacAdtsFrameHeader *h = &fr->h;
    printf("%7lu %9lu  %-6s  %-4s %6d  %2d %6d  %6d  ", index, (unsigned long)pos, h->id ? "MPEG-2" : "MPEG-4",
           profile_name(h->profile), aac_sample_rate(h->sampling_frequency_index), h->channel_configuration,
           h->aac_frame_length, h->num_raw_data_blocks);
    if (h->protection_absent)
        puts("-");
    else if (h->num_raw_data_blocks == 1)
        printf("0x%04X\n", (unsigned)h->crc_check);
    else
        puts("per block");
}

/* Bytes skipped between pos and the next frame at next: listed unless the output is JSON. */
static size_t report_skip(const Input *in, size_t pos, size_t next, const Options *opt) {
    if (!opt->json)
        printf("skipped %lu bytes at offset %lu%s\n", (unsigned long)(next - pos), (unsigned long)pos,
               next == in->size ? " (no further frame)" : "");
    return next - pos;
}

static int adts_list(const Input *in, Options *opt) {
    AdtsFrame fr, first, prev;
    size_t pos = 0, skipped = 0, frame_bytes = 0;
    unsigned long frames = 0, changes = 0;
    double seconds = 0.0;
    int truncated = 0;

    memset(&first, 0, sizeof first);
    memset(&prev, 0, sizeof prev);
    if (!opt->summary && !opt->json) puts("  frame    offset  id      prof    rate  ch length  blocks  crc");
    while (pos < in->size) {
        /* Within a chain a header that continues the stream is enough; after junk, or when the
         * stream changes, the frame must be confirmed by the one after it. */
        const int continues = frames > 0 && adts_header_at(in, pos, &fr) && adts_same_stream(&prev.h, &fr.h);
        size_t next = continues || adts_confirmed_at(in, pos, 1, &fr) ? pos : adts_resync(in, pos + 1, 1, &fr);
        size_t len;
        if (next > pos) {
            skipped += report_skip(in, pos, next, opt);
            pos = next;
            if (pos == in->size) break;
        }
        len = (size_t)fr.h.aac_frame_length;
        if (frames == 0)
            first = fr;
        else if (!adts_same_stream(&first.h, &fr.h))
            ++changes;
        if (len > in->size - pos) {
            if (!opt->json)
                printf("truncated frame at offset %lu: %lu of %lu bytes present\n", (unsigned long)pos,
                       (unsigned long)(in->size - pos), (unsigned long)len);
            truncated = 1;
            break;
        }
        if (!opt->summary && !opt->json) adts_print_frame(frames, pos, &fr);
        prev = fr;
        ++frames;
        frame_bytes += len;
        seconds += fr.h.num_raw_data_blocks * 1024.0 / aac_sample_rate(fr.h.sampling_frequency_index);
        pos += len;
    }

    if (frames == 0) {
        opt->sum.error = "no complete ADTS frame";
        return 1;
    }
    snprintf(opt->sum.stream, sizeof opt->sum.stream, "ADTS %s %s, %d Hz, channel configuration %d: %s, %s",
             first.h.id ? "MPEG-2" : "MPEG-4", profile_name(first.h.profile),
             aac_sample_rate(first.h.sampling_frequency_index), first.h.channel_configuration,
             channel_config_name(first.h.channel_configuration), first.h.protection_absent ? "no CRC" : "CRC");
    snprintf(opt->sum.version, sizeof opt->sum.version, "%s", first.h.id ? "MPEG-2" : "MPEG-4");
    snprintf(opt->sum.profile, sizeof opt->sum.profile, "%s", profile_name(first.h.profile));
    opt->sum.sample_rate = aac_sample_rate(first.h.sampling_frequency_index);
    opt->sum.channels = first.h.channel_configuration == 7 ? 8 : first.h.channel_configuration;
    opt->sum.crc = !first.h.protection_absent;
    print_totals(changes, frames, frame_bytes, seconds, skipped, truncated, opt);
    return 0;
}

/* ------------------------------------------------------------------ ADIF */

static void pce_print_pairs(const char *label, const char *yes, const char *no, int count, const Zuf32s *flags,
                            const Zuf32s *tags) {
    int i;
    printf("    %-11s", label);
    if (count == 0) fputs(" none", stdout);
    for (i = 0; i < count; ++i) printf("%s %s %d", i ? "," : "", flags[i] ? yes : no, tags[i]);
    putchar('\n');
}

static void pce_print_tags(const char *label, const char *kind, int count, const Zuf32s *tags) {
    int i;
    printf("    %-11s", label);
    if (count == 0) fputs(" none", stdout);
    for (i = 0; i < count; ++i) printf("%s %s %d", i ? "," : "", kind, tags[i]);
    putchar('\n');
}

/* Output channels the element describes: one per SCE, two per CPE, plus the LFEs. */
static int pce_channels(const AacPrgCfgElt *e, int *lfe) {
    int n = 0, i;
    for (i = 0; i < e->num_front_channel_elements; ++i) n += 1 + (e->front_element_is_cpe[i] != 0);
    for (i = 0; i < e->num_side_channel_elements; ++i) n += 1 + (e->side_element_is_cpe[i] != 0);
    for (i = 0; i < e->num_back_channel_elements; ++i) n += 1 + (e->back_element_is_cpe[i] != 0);
    *lfe = e->num_lfe_channel_elements;
    return n;
}

static void pce_print(int index, const AacPrgCfgElt *e, const AacAdifHeader *h) {
    int lfe, channels = pce_channels(e, &lfe);
    printf("  program config element %d: element_instance_tag %d, object type %d (%s), %d Hz (index %d)\n", index,
           e->element_instance_tag, e->object_type, profile_name(e->object_type),
           aac_sample_rate(e->sampling_frequency_index), e->sampling_frequency_index);
    if (h->bitstream_type == 0) printf("    buffer fullness %d\n", h->adif_buffer_fullness[index]);
    printf("    channels    %d + %d LFE\n", channels, lfe);
    pce_print_pairs("front:", "CPE", "SCE", e->num_front_channel_elements, e->front_element_is_cpe,
                    e->front_element_tag_select);
    pce_print_pairs("side:", "CPE", "SCE", e->num_side_channel_elements, e->side_element_is_cpe,
                    e->side_element_tag_select);
    pce_print_pairs("back:", "CPE", "SCE", e->num_back_channel_elements, e->back_element_is_cpe,
                    e->back_element_tag_select);
    pce_print_tags("lfe:", "LFE", e->num_lfe_channel_elements, e->lfe_element_tag_select);
    pce_print_tags("assoc data:", "DSE", e->num_assoc_data_elements, e->assoc_data_element_tag_select);
    pce_print_pairs("cc:", "CCE(ind_sw)", "CCE", e->num_valid_cc_elements, e->cc_element_is_ind_sw,
                    e->valid_cc_element_tag_select);
    printf("    mixdown:    mono ");
    if (e->mono_mixdown_present)
        printf("element %d", e->mono_mixdown_element_number);
    else
        fputs("none", stdout);
    printf(", stereo ");
    if (e->stereo_mixdown_present)
        printf("element %d", e->stereo_mixdown_element_number);
    else
        fputs("none", stdout);
    printf(", matrix ");
    if (e->matrix_mixdown_idx_present)
        printf("idx %d, pseudo surround %d", e->matrix_mixdown_idx, e->pseudo_surround_enable);
    else
        fputs("none", stdout);
    printf("\n    comment     %d bytes ", e->comment_field_bytes);
    print_quoted(e->comment_field_data, e->comment_field_bytes);
    putchar('\n');
}

static int adif_list(const Input *in, Options *opt) {
    /* Static: sixteen elements are 14 KB, and zufinfo lists one file per run. */
    static AacPrgCfgElt pce[16];
    AacAdifHeader h;
    Zuf8u *p = in->data;
    size_t used;
    int i;
    const zufResult st = zufsUnpackADIFHeader_AAC(&p, &h, pce, 16);
    if (st == zufErrAacPrgNum) {
        fprintf(stderr, "zufinfo: ADIF header declares %d program config elements, more than 16\n",
                h.num_program_config_elements);
        opt->sum.error = "ADIF header declares more than 16 program config elements";
        return 1;
    }
    if (st != zufOk) {
        fprintf(stderr, "zufinfo: ADIF header not readable (status %d)\n", st);
        opt->sum.error = "ADIF header not readable";
        return 1;
    }
    used = (size_t)(p - in->data);
    if (used > in->size) {
        fprintf(stderr, "zufinfo: ADIF header truncated: it needs %lu bytes, the file has %lu\n", (unsigned long)used,
                (unsigned long)in->size);
        opt->sum.error = "ADIF header truncated";
        return 1;
    }
    {
        Summary *s = &opt->sum;
        s->channels = pce_channels(&pce[0], &s->lfe);
        snprintf(s->stream, sizeof s->stream,
                 "ADIF %s rate, %d bit/s, %d program config element%s, first: %s, %d Hz, %d + %d LFE channels",
                 h.bitstream_type ? "variable" : "constant", h.bitrate, h.num_program_config_elements,
                 h.num_program_config_elements > 1 ? "s" : "", profile_name(pce[0].object_type),
                 aac_sample_rate(pce[0].sampling_frequency_index), s->channels, s->lfe);
        snprintf(s->version, sizeof s->version, "ADIF");
        snprintf(s->profile, sizeof s->profile, "%s", profile_name(pce[0].object_type));
        s->sample_rate = aac_sample_rate(pce[0].sampling_frequency_index);
        s->bitrate = h.bitrate;
        s->header_bytes = used;
    }
    if (opt->json) return 0;
    if (opt->summary) {
        puts(opt->sum.stream);
    } else {
        printf("adif_id 0x%08lX, bitstream_type %d (%s rate), bitrate %d bit/s\n", (unsigned long)h.adif_id,
               h.bitstream_type, h.bitstream_type ? "variable" : "constant", h.bitrate);
        printf("copyright_id ");
        if (h.copyright_id_present)
            print_quoted(h.copyright_id, 9);
        else
            fputs("none", stdout);
        printf(", original_copy %d, home %d\n", h.original_copy, h.home);
        printf("program config elements: %d\n", h.num_program_config_elements);
        for (i = 0; i < h.num_program_config_elements; ++i) pce_print(i, &pce[i], &h);
    }
    printf("header: %lu bytes, raw data: %lu bytes\n", (unsigned long)used, (unsigned long)(in->size - used));
    return 0;
}

/* ------------------------------------------------------------------ MP3 */

/* MPEG-1 and MPEG-2 Layer III (ISO/IEC 11172-3, 13818-3): every frame starts with a header whose
 * fields the library unpacks. Frames are found like ADTS frames: a header that the next one
 * confirms (same ID, layer and sampling frequency). */
typedef struct {
    Mp3FrameHeader h;
    int version; /* 10 MPEG-1, 20 MPEG-2, 25 MPEG-2.5 (the 8 to 12 kHz extension) */
    int rate;    /* sampling frequency in Hz */
    size_t len;  /* bytes, padding included */
} Mp3Frame;

static int mp3_kbps(const Mp3FrameHeader *h) {
    static const int k_kbps[2][15] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    return h->bitrate_index < 15 ? k_kbps[h->ID][h->bitrate_index] : -1;
}

static const char *mp3_version_name(int version) {
    return version == 10 ? "MPEG-1" : version == 20 ? "MPEG-2" : "MPEG-2.5";
}

static const char *mp3_mode_name(int mode) {
    static const char *const names[4] = {"stereo", "joint", "dual", "mono"};
    return names[mode & 3];
}

/* Free-format frame length without padding, once known (free format keeps it constant). */
static size_t g_mp3_free_len;

/* Unpacks the header at pos if it is a Layer III header of MPEG-1 or MPEG-2 (not MPEG-2.5) with
 * a bit rate and sampling frequency; sets the frame length (free format: the distance to the
 * next free-format header of the stream, within 8 KB, or the length found before). */
static int mp3_header_at(const Input *in, size_t pos, Mp3Frame *fr) {
    Zuf8u *p = in->data + pos;
    MpegHeader mh;
    if (in->size - pos < 4 || !mpeg_header_parse(p, &mh) || mh.layer != 3) return 0;
    zufsUnpackFrameHeader_MP3(&p, &fr->h);
    fr->rate = mh.sample_rate;
    fr->version = mh.version;
    fr->len = mpeg_frame_len(in, pos, &mh);
    if (fr->len) return 1;
    fr->len = g_mp3_free_len + (size_t)fr->h.padding_bit;
    return g_mp3_free_len != 0;
}

static int mp3_confirmed_at(const Input *in, size_t pos, int allow_truncated, Mp3Frame *fr) {
    Mp3Frame next;
    size_t end;
    if (!mp3_header_at(in, pos, fr)) return 0;
    end = pos + fr->len;
    if (end == in->size) return 1;
    if (end > in->size) return allow_truncated;
    return mp3_header_at(in, end, &next) && mpeg_same_stream(in->data + pos, in->data + end);
}

static size_t mp3_resync(const Input *in, size_t pos, int allow_truncated, Mp3Frame *fr) {
    for (; pos < in->size; ++pos)
        if (mp3_confirmed_at(in, pos, allow_truncated, fr)) return pos;
    return in->size;
}

/* An ID3v2 tag at the start: its length, else 0. */
static size_t mp3_id3v2_len(const Input *in) { return id3v2_tag_len(in->data, in->size); }

static void mp3_print_frame(unsigned long index, size_t pos, const Mp3Frame *fr, int tag) {
    const Mp3FrameHeader *h = &fr->h;
    char kbps[16];
    if (mp3_kbps(h) > 0)
        snprintf(kbps, sizeof kbps, "%d", mp3_kbps(h));
    else
        snprintf(kbps, sizeof kbps, "free");
    printf("%7lu %9lu  %-6s  %4s %6d  %-6s %6lu  ", index, (unsigned long)pos, mp3_version_name(fr->version), kbps,
           fr->rate, mp3_mode_name(h->mode), (unsigned long)fr->len);
    if (h->protection_bit)
        fputs("-", stdout);
    else
        printf("0x%04X", (unsigned)h->crc_check);
    puts(tag ? "  Xing/Info tag" : "");
}

/* The tag frame: the audio frames it counts and LAME's encoder delay and padding, with the length
 * of the source that a gapless decoder restores. */
static void mp3_print_tag(const MpegTagFrame *t, const Mp3Frame *first) {
    const long spf = first->h.ID ? 1152 : 576;
    printf("%s tag: %lu audio frames", t->name, t->frames);
    if (t->gapless && t->frames) {
        const long n = (long)t->frames * spf - t->delay - t->padding;
        printf(", encoder delay %d, padding %d: %ld sample frames (%.3f s) gapless", t->delay, t->padding, n,
               (double)n / first->rate);
    }
    putchar('\n');
}

static int mp3_list(const Input *in, Options *opt) {
    Mp3Frame fr, first;
    MpegTagFrame xing;
    const size_t tag = mp3_id3v2_len(in);
    size_t pos = tag, skipped = 0, frame_bytes = 0, first_pos = 0, chain = (size_t)-1;
    unsigned long frames = 0, changes = 0;
    double seconds = 0.0;
    int truncated = 0;

    memset(&first, 0, sizeof first);
    memset(&xing, 0, sizeof xing);
    g_mp3_free_len = 0;
    opt->sum.tag_bytes = tag;
    if (tag && !opt->json) printf("ID3v2 tag: %lu bytes\n", (unsigned long)tag);
    if (!opt->summary && !opt->json) puts("  frame    offset  id      kbps   rate  mode   length  crc");
    while (pos < in->size) {
        /* Within a chain a header that continues the stream is enough; after junk, or when the
         * stream changes, the frame must be confirmed by the one after it. */
        const int continues =
            pos == chain && mp3_header_at(in, pos, &fr) && mpeg_same_stream(in->data + first_pos, in->data + pos);
        size_t next = continues || mp3_confirmed_at(in, pos, 1, &fr) ? pos : mp3_resync(in, pos + 1, 1, &fr);
        int is_tag = 0;
        if (next > pos) {
            /* An ID3v1 tag ends most files: name it instead of calling it junk. */
            if (next == in->size && in->size - pos == 128 && memcmp(in->data + pos, "TAG", 3) == 0) {
                opt->sum.tag_bytes += 128;
                if (!opt->json) printf("ID3v1 tag: 128 bytes at offset %lu\n", (unsigned long)pos);
            } else {
                skipped += report_skip(in, pos, next, opt);
            }
            pos = next;
            if (pos == in->size) break;
        }
        if (frames == 0) {
            first = fr;
            first_pos = pos;
        } else if (!mpeg_same_stream(in->data + first_pos, in->data + pos) || (first.h.mode == 3) != (fr.h.mode == 3)) {
            ++changes;
        }
        if (fr.len > in->size - pos) {
            if (!opt->json)
                printf("truncated frame at offset %lu: %lu of %lu bytes present\n", (unsigned long)pos,
                       (unsigned long)(in->size - pos), (unsigned long)fr.len);
            truncated = 1;
            break;
        }
        /* A Xing/Info (LAME) or VBRI tag frame holds stream information, not audio. */
        if (frames == 0 && !xing.name[0]) is_tag = mpeg_tag_frame(in->data + pos, fr.len, &xing);
        if (!opt->summary && !opt->json) mp3_print_frame(frames + (xing.name[0] && !is_tag), pos, &fr, is_tag);
        if (mp3_kbps(&fr.h) == 0) g_mp3_free_len = fr.len - (size_t)fr.h.padding_bit;
        /* The totals count audio frames: a tag frame has its own line. */
        frames += !is_tag;
        frame_bytes += is_tag ? 0 : fr.len;
        if (!is_tag) seconds += (fr.h.ID ? 1152.0 : 576.0) / fr.rate;
        pos += fr.len;
        chain = pos;
    }

    if (frames == 0) {
        opt->sum.error = "no complete MP3 frame";
        return 1;
    }
    snprintf(opt->sum.stream, sizeof opt->sum.stream, "MP3 %s Layer III, %d Hz, %s, %s",
             mp3_version_name(first.version), first.rate, mp3_mode_name(first.h.mode),
             first.h.protection_bit ? "no CRC" : "CRC");
    snprintf(opt->sum.version, sizeof opt->sum.version, "%s", mp3_version_name(first.version));
    snprintf(opt->sum.profile, sizeof opt->sum.profile, "Layer III");
    opt->sum.sample_rate = first.rate;
    opt->sum.channels = first.h.mode == 3 ? 1 : 2;
    opt->sum.crc = !first.h.protection_bit;
    if (xing.name[0] && !opt->json) mp3_print_tag(&xing, &first);
    print_totals(changes, frames, frame_bytes, seconds, skipped, truncated, opt);
    return 0;
}

/* ------------------------------------------------------------------ formats */

/* The format of the file, decided as zufdec decides it (detect_format() after the tags at either
 * end, a run of consistent headers), so that the two tools never disagree. MPEG-2.5 Layer III,
 * which zufdec refuses, is listed as MP3. Returns the format's name, or NULL with the reason in
 * why. */
static const char *file_format(const Input *in, int (**list)(const Input *, Options *), char *why, size_t why_len) {
    Input view = *in;
    char note[128], what[64];
    size_t first;
    MpegHeader h;
    input_strip_tags(&view, note, sizeof note);
    switch (detect_format(&view, &first, what, sizeof what)) {
        case FORMAT_ADIF:
            *list = adif_list;
            return "ADIF";
        case FORMAT_ADTS:
            *list = adts_list;
            return "ADTS";
        case FORMAT_MP3:
            *list = mp3_list;
            return "MP3";
        case FORMAT_MPEG_OTHER:
            if (mpeg_header_parse(in->data + first, &h) && h.layer == 3) {
                *list = mp3_list;
                return "MP3";
            }
            snprintf(why, why_len, "%s stream: only Layer III is listed", what);
            return NULL;
        case FORMAT_MP4:
            snprintf(why, why_len, "%s: its samples are not listed (zufdec decodes it)", what);
            return NULL;
        default:
            snprintf(why, why_len, "unknown format (not ADIF, ADTS or MP3)");
            return NULL;
    }
}

static void usage(FILE *f) {
    fputs(
        "usage: zufinfo [OPTIONS] FILE...\n"
        "Lists the frames of MP3 (MPEG-1, MPEG-2 and MPEG-2.5 Layer III) and ADTS AAC streams, and the\n"
        "header and program configuration elements of ADIF files. FILE - reads standard input.\n"
        "\n"
        "  -s, --summary  one line per file and the totals instead of every frame\n"
        "  -j, --json     one JSON array on standard output with an object per file: format,\n"
        "                 stream, version, profile, sample_rate, channels, crc, frames, frame_bytes,\n"
        "                 duration (s), average_kbps, skipped_bytes, truncated, parameter_changes,\n"
        "                 tag_bytes (ADIF: lfe_channels, bitrate, header_bytes instead of the frame\n"
        "                 counts; a file that could not be listed: error)\n"
        "  -V, --version  versions of zufinfo and of the library\n"
        "  -h, --help     this help\n"
        "\n"
        "Exit status: 0 every file listed (damage is reported in the listing); 1 a file could not be\n"
        "listed (missing, empty, unknown format, truncated ADIF header); 2 usage error.\n",
        f);
}

/* Lists one file; returns its exit status. */
static int list_file(const char *path, Options *opt) {
    Input in;
    int rc = 1;
    memset(&opt->sum, 0, sizeof opt->sum);
    if (input_read(path, &in, "zufinfo") != 0) {
        opt->sum.error = "cannot open or read the file";
        if (opt->json) print_json(path, 0, &opt->sum);
        return 1;
    }
    if (!opt->json) printf("%s: %lu bytes\n", path, (unsigned long)in.size);
    if (in.size == 0) {
        fprintf(stderr, "zufinfo: %s is empty\n", path);
        opt->sum.error = "empty file";
    }
    if (in.size) {
        static char why[160];
        int (*list)(const Input *, Options *) = NULL;
        const char *name = file_format(&in, &list, why, sizeof why);
        if (name) {
            opt->sum.format = name;
            if (!opt->json) printf("format: %s\n", name);
            rc = list(&in, opt);
            if (rc && opt->sum.error && strncmp(opt->sum.error, "ADIF", 4) != 0)
                fprintf(stderr, "zufinfo: %s: %s\n", path, opt->sum.error);
        } else {
            fprintf(stderr, "zufinfo: %s: %s\n", path, why);
            opt->sum.error = why;
        }
    }
    if (opt->json) print_json(path, in.size, &opt->sum);
    input_free(&in);
    return rc;
}

int main(int argc, char **argv) {
    const LibVersionRecord *v = zufacGetLibVersion();
    Options opt;
    int rc = 0, a, files = 0, only_files = 0;

    memset(&opt, 0, sizeof opt);
    for (a = 1; a < argc; ++a) {
        const char *s = argv[a];
        if (only_files || s[0] != '-' || s[1] == '\0') {
            ++files;
        } else if (!strcmp(s, "--")) {
            only_files = 1;
        } else if (!strcmp(s, "-s") || !strcmp(s, "--summary")) {
            opt.summary = 1;
        } else if (!strcmp(s, "-j") || !strcmp(s, "--json")) {
            opt.json = 1;
        } else if (!strcmp(s, "-h") || !strcmp(s, "--help")) {
            usage(stdout);
            return 0;
        } else if (!strcmp(s, "-V") || !strcmp(s, "--version")) {
            printf("zufinfo %s (libzufack9 example tools)\n", ZUF_TOOL_VERSION);
            printf("library: %s %s (build %d.%d, %s)\n", v->libName, v->versionText, v->buildMajor, v->buildNumber,
                   v->buildDate);
            return 0;
        } else {
            fprintf(stderr, "zufinfo: unknown option '%s'\nTry 'zufinfo --help' for more information.\n", s);
            return 2;
        }
    }
    if (files == 0) {
        usage(stderr);
        return 2;
    }
    if (opt.json) puts("[");
    for (a = 1, only_files = 0, files = 0; a < argc; ++a) {
        const char *s = argv[a];
        if (!only_files && !strcmp(s, "--")) {
            only_files = 1;
            continue;
        }
        if (!only_files && s[0] == '-' && s[1] != '\0') continue;
        if (files++) fputs(opt.json ? ",\n" : "\n", stdout);
        if (list_file(s, &opt)) rc = 1;
    }
    if (opt.json) puts("\n]");
    return rc;
}
