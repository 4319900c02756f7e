/*
 * AAC-LC in an ISO base media file (ISO/IEC 14496-12: MP4, M4A, 3GP; ISO/IEC 14496-14 for the
 * 'mp4a' sample entry and its 'esds' box): finds the first audio track, reads its decoder
 * configuration (the AudioSpecificConfig of ISO/IEC 14496-3 1.6.2.1) and walks its sample table.
 * Each sample is one raw_data_block(); stream_decoder.h hands it to aac_decoder.h.
 *
 * Why a reader of our own: the example decoders depend on nothing but the library, and no small,
 * well-kept C demuxer is packaged (libavformat is a peer codec, used as a test oracle, not a
 * dependency). The boxes needed are few and flat, so the reader is small: it walks a fixed path
 * (moov/trak/mdia/minf/stbl) without recursion, checks every box size and table count against
 * the box that holds it before reading, and keeps file offsets in 64-bit arithmetic.
 */
#ifndef ZUF_EXAMPLE_MP4_H
#define ZUF_EXAMPLE_MP4_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    int mpeg2;                /* object type indication 0x67 (MPEG-2 AAC LC) rather than 0x40 (MPEG-4 audio) */
    int object_type;          /* audioObjectType (2: AAC LC) */
    int sfi;                  /* sampling_frequency_index (an explicit rate mapped to its index) */
    int sample_rate;          /* the core's, then (stream_decoder) the output's */
    int sbr;                  /* explicit SBR signalling (object type 5 or 29, or the sync extension) */
    int sbr_rate;             /* its extension sampling frequency */
    int channels;             /* channel_configuration */
    unsigned long timescale;  /* mdhd: media time units per second */
    unsigned long long skip;  /* edit list: media time where presentation starts (encoder priming) */
    unsigned long samples;    /* stsz sample_count */
    unsigned long fixed_size; /* stsz sample_size: every sample's size, or 0 for a table */
    size_t stsz, stsc, stco;  /* file offsets of the first entry of each table */
    unsigned long stsc_n, stco_n;
    int co64; /* chunk offsets are 64-bit ('co64') */
} Mp4Track;

typedef struct {
    unsigned long sample;   /* samples returned so far */
    unsigned long chunk;    /* the chunk being read (0-based) */
    unsigned long left;     /* samples left in it */
    unsigned long stsc_i;   /* the stsc entry in force */
    unsigned long long pos; /* file offset of the next sample */
} Mp4Cursor;

/* An ISO base media file starts with a box whose type is 'ftyp' (p: avail bytes). */
int mp4_is_file(const Zuf8u *p, size_t avail);

/* Reads the first audio track of the file (data, size bytes). Returns 0; or 1 with the reason in
 * `why` (no audio track, not AAC, an object type other than LC, damaged boxes). */
int mp4_open(const Zuf8u *data, size_t size, Mp4Track *t, char *why, size_t why_len);

void mp4_cursor_init(Mp4Cursor *c);

/* The next sample of the track: 1 with its file offset and size (the caller checks them against
 * the file), 0 after the last one. */
int mp4_next_sample(const Mp4Track *t, const Zuf8u *data, Mp4Cursor *c, unsigned long long *offset,
                    unsigned long *size);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_MP4_H */
