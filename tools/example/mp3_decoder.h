/*
 * MPEG-1 and MPEG-2 Layer III frame decoder over libzufack9's public API (ISO/IEC 11172-3,
 * ISO/IEC 13818-3): one frame in, 576 PCM sample frames per granule out (two granules in
 * MPEG-1, one in MPEG-2). No file I/O; stream_decoder.h finds the frames in a file.
 */
#ifndef ZUF_EXAMPLE_MP3_DECODER_H
#define ZUF_EXAMPLE_MP3_DECODER_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#include "stream.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MP3_MAX_FRAME 8192      /* longest frame accepted (free format included) */
#define MP3_RESERVOIR_BYTES 511 /* the furthest a 9-bit main_data_begin reaches back */
#define MP3_MAIN_PADDING 64     /* zero bytes after the main data for the readers' look-ahead */
#define MP3_MAX_SAMPLES 1152    /* sample frames per frame: 2 granules of 576 */

/* What one channel keeps from granule to granule. */
typedef struct {
    Zuf32s overlap[576]; /* second halves of the last inverse transforms, subband-major */
    Zuf32s history[512]; /* polyphase synthesis history */
    int prev_imdct;      /* subbands the last inverse transform produced */
    int hist_pos;
} Mp3Channel;

typedef struct {
    Mp3Channel ch[2];
    /* main_data (11172-3 2.4.2.7): up to 511 bytes of earlier frames, then the current one's. */
    Zuf8u main[MP3_RESERVOIR_BYTES + MP3_MAX_FRAME + MP3_MAIN_PADDING];
    size_t main_len;    /* main-data bytes held, the current frame's last */
    Zuf32s is[2 * 576]; /* Huffman output, then xr, channel 0 then 1 */
    Zuf32s work[576];
    Zuf32s y[576];    /* one granule of one channel after the hybrid transform */
    Zuf8s sf[2 * 40]; /* scale factors, channel 1 at 40; granule 1 reads over granule 0 (scfsi) */
    Zuf16s pcm[2 * MP3_MAX_SAMPLES];
    int channels; /* output channels: the stream's first frame decides */
    int sample_rate;
    int started; /* a frame was decoded: a Xing/Info tag can only be the first */
    /* The tag frame's fields, when the first frame was one (name empty otherwise). */
    MpegTagFrame tag;
    /* A 6 x 23 long band table to decode with instead of the library's (the Sfb variants of the
     * Huffman decoder and the requantiser), or NULL. */
    const Zuf16s *sfb_long;
} Mp3Decoder;

typedef enum {
    MP3_FRAME_DECODED = 0,
    MP3_FRAME_CONCEALED, /* the reservoir bytes it starts with are missing (stream start, a cut) */
    MP3_FRAME_DAMAGED,   /* refused (*why says why) and concealed */
    MP3_FRAME_TAG        /* a Xing/Info or VBRI frame: stream information, no audio */
} Mp3FrameResult;

/* Prepares d (about 20 KB) for the stream whose first header (4 bytes) is at p. */
void mp3_decoder_init(Mp3Decoder *d, const Zuf8u *p);

/* Decodes the frame at `frame` (len bytes, at least 4, at most MP3_MAX_FRAME, the header checked
 * by the caller, readable up to MP3_MAIN_PADDING bytes past its end) into pcm, which receives
 * *samples sample frames in d->channels channels (interleaved). A concealed or damaged frame
 * is muted: its spectrum is taken as zero, so the filter bank's overlap rings out and the next
 * good frame starts cleanly. */
Mp3FrameResult mp3_frame_decode(Mp3Decoder *d, const Zuf8u *frame, size_t len, Zuf16s *pcm, int *samples,
                                const char **why);

/* The next frame does not follow the last one (junk between them): the reservoir is dropped. */
void mp3_decoder_discontinuity(Mp3Decoder *d);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_MP3_DECODER_H */
