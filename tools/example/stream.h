/*
 * Stream input for the example decoders: the file in a zero-padded buffer, tags around the
 * coded audio, the MPEG audio and ADTS frame headers, and format detection. Shared by zufdec,
 * zufinfo, the tests and the benchmarks.
 */
#ifndef ZUF_EXAMPLE_STREAM_H
#define ZUF_EXAMPLE_STREAM_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library's parsers read whole bytes ahead (up to three past a field's last byte) and are
 * not told where the buffer ends. The longest header read straight from the file is an ADIF
 * header with sixteen maximal program configuration elements (4929 bytes): the file is followed
 * by this many zero bytes, so that any header running off its end stays inside the buffer. */
#define INPUT_PADDING 8192

typedef struct {
    Zuf8u *data; /* size bytes of the file, then INPUT_PADDING zero bytes */
    size_t size;
    size_t begin; /* the coded audio: [begin, end) after leading and trailing tags */
    size_t end;
} Input;

/* Reads the whole file ("-": standard input). Returns 0, or 1 after a message on stderr starting
 * with `prog` and the reason. */
int input_read(const char *path, Input *in, const char *prog);
/* Copies size bytes of memory into a padded buffer. Returns 0, or 1 when out of memory. */
int input_copy(const Zuf8u *data, size_t size, Input *in);
void input_free(Input *in);

/* Length of an ID3v2 tag at p (10-byte header, a syncsafe 28-bit size, and a 10-byte footer
 * when flag bit 4 is set), or 0 when p (avail bytes) does not start with one. */
size_t id3v2_tag_len(const Zuf8u *p, size_t avail);

/* Sets [begin, end) past ID3v2 and APEv2 tags at the start and before ID3v1 and APEv2 tags at
 * the end. Writes what it found to `note` (empty when nothing). */
void input_strip_tags(Input *in, char *note, size_t note_len);

/* Fields of an MPEG audio frame header (ISO/IEC 11172-3 2.4.1.3, ISO/IEC 13818-3 2.4.1.3, and
 * the MPEG-2.5 extension that some encoders write for 8 to 12 kHz). */
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

/* The first frame of an MP3 stream may hold stream information instead of audio: a Xing tag (a
 * VBR stream's frame count, byte count and seek table), LAME's "Info" tag (the same for CBR), or
 * a VBRI tag (Fraunhofer's encoder). LAME and FFmpeg extend the Xing/Info tag with the encoder
 * delay and padding, which a gapless decoder trims. */
typedef struct {
    char name[5];         /* "Xing", "Info" or "VBRI" */
    unsigned long frames; /* audio frames after the tag frame, 0 when not given */
    int gapless;          /* 1: delay and padding are known (the LAME extension) */
    int delay, padding;   /* sample frames the encoder added before and after the source */
} MpegTagFrame;

/* The decoder delay of the Layer III synthesis (hybrid filter bank and polyphase filter bank
 * together): the first sample of the source comes out this many sample frames after the
 * encoder delay. LAME's gapless figures assume it, and FFmpeg and mpg123 remove it too. */
#define MP3_DECODER_DELAY 529

/* Whether the MPEG audio frame at p (len bytes, its header parsed) is a tag frame; fills *t
 * (may be NULL). The tag sits right after the side information; LAME leaves room for no CRC
 * word before it even when the header announces one (and FFmpeg and mpg123 look there), so both
 * places are tried. */
int mpeg_tag_frame(const Zuf8u *p, size_t len, MpegTagFrame *t);

/* aac_frame_length of the ADTS header at p (ISO/IEC 13818-7 6.2: 13 bits from byte 3). */
size_t adts_frame_len(const Zuf8u *p);

/* Sampling frequency of sampling_frequency_index (ISO/IEC 13818-7 Table 35 for 0 to 11,
 * ISO/IEC 14496-3 Table 1.18 for 12), 0 for the reserved and escape values. */
int aac_sample_rate(int index);

typedef enum {
    FORMAT_UNKNOWN = 0,
    FORMAT_MP3,        /* MPEG-1 or MPEG-2 Layer III */
    FORMAT_MPEG_OTHER, /* Layer I or II, or MPEG-2.5 */
    FORMAT_ADTS,
    FORMAT_ADIF,
    FORMAT_MP4 /* an ISO base media file (MP4, M4A, 3GP): its first box is 'ftyp' */
} StreamFormat;

/* Whether a stream of this format (its first frame at `first`) is refused by the example
 * decoders: returns 1 with the reason in `why` (e.g. "MPEG-1 Layer II is not decoded"), 0 when
 * it is decoded. */
int stream_refused(const Input *in, size_t first, StreamFormat format, char *why, size_t why_len);

/* The format of the coded audio, from its first frame that the next one confirms. *first is
 * where that frame starts; `what` gets a short description (e.g. "MPEG-1 Layer II"). */
StreamFormat detect_format(const Input *in, size_t *first, char *what, size_t what_len);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_STREAM_H */
