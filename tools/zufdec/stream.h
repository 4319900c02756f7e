/*
 * zufdec input: the file in a padded buffer, tag stripping and format detection.
 */
#ifndef ZUFDEC_STREAM_H
#define ZUFDEC_STREAM_H

#include <stddef.h>

#include <zufack9/zufack9.h>

/* The library's parsers read whole bytes ahead (three past a field, more for scale factors run
 * off the end of damaged data) and are not told where the buffer ends: the file is followed by
 * this many zero bytes. */
#define INPUT_PADDING 4096

typedef struct {
    Zuf8u *data; /* size bytes of the file, then INPUT_PADDING zero bytes */
    size_t size;
    size_t begin; /* the coded audio: [begin, end) after leading and trailing tags */
    size_t end;
} Input;

/* Reads the whole file. Returns 0, or 1 after a message on stderr. */
int input_read(const char *path, Input *in);
void input_free(Input *in);

/* Sets [begin, end) past an ID3v2 tag (and an APEv2 tag) at the start and before an ID3v1 and
 * an APEv2 tag at the end. Writes what it found to `note` (empty when nothing). */
void input_strip_tags(Input *in, char *note, size_t note_len);

/* Fields of an MPEG audio frame header (ISO/IEC 11172-3 2.4.1.3, ISO/IEC 13818-3, and the
 * MPEG-2.5 extension that some encoders write for 8 to 12 kHz). */
typedef struct {
    int version;      /* 10 MPEG-1, 20 MPEG-2, 25 MPEG-2.5 */
    int layer;        /* 1, 2 or 3 */
    int protection;   /* 1: a CRC word follows the header */
    int bitrate_kbps; /* 0: free format */
    int sample_rate;
    int padding;
    int channels;
    int frame_bytes; /* 0 for free format (length unknown from the header) */
    int samples;     /* samples per channel in the frame */
} MpegHeader;

/* Parses 4 bytes at p; returns 1 when they are a plausible MPEG audio header. */
int mpeg_header_parse(const Zuf8u *p, MpegHeader *h);

/* The fields that stay fixed within one stream: version, layer, sampling frequency. */
int mpeg_same_stream(const Zuf8u *a, const Zuf8u *b);

/* Length of the frame at pos: from its header, or in a free-format stream the distance to the
 * next free-format header of the same stream within 8 KB. 0 when unknown. */
size_t mpeg_frame_len(const Input *in, size_t pos, const MpegHeader *h);

typedef enum {
    FORMAT_UNKNOWN = 0,
    FORMAT_MP3,        /* MPEG-1 or MPEG-2 Layer III */
    FORMAT_MPEG_OTHER, /* Layer I or II, or MPEG-2.5 */
    FORMAT_ADTS,
    FORMAT_ADIF
} StreamFormat;

/* The format of the coded audio, from its first frame that the next one confirms. *first is
 * where that frame starts; `what` gets a short description (e.g. "MPEG-1 Layer II"). */
StreamFormat detect_format(const Input *in, size_t *first, char *what, size_t what_len);

#endif /* ZUFDEC_STREAM_H */
