/*
 * A coded stream decoded frame by frame: finds the frames of an MP3 (MPEG-1/2 Layer III) or ADTS
 * AAC-LC stream in an Input (or the samples of an MP4 file's AAC-LC track, mp4.h), resynchronises after junk and damage, and runs each frame through
 * mp3_decoder.h or aac_decoder.h. The caller pulls one frame at a time and decides what to do
 * with the PCM and the reports (zufdec writes a WAV file and messages; the tests compare).
 *
 *   StreamDecoder d;
 *   DecodedFrame f;
 *   if (stream_decoder_open(&d, &in, first, format, why, sizeof why) == 0) {
 *       while (stream_decoder_next(&d, &f)) use(f.pcm, f.samples);
 *       stream_decoder_finish(&d);
 *       stream_decoder_close(&d);
 *   }
 */
#ifndef ZUF_EXAMPLE_STREAM_DECODER_H
#define ZUF_EXAMPLE_STREAM_DECODER_H

#include <stddef.h>

#include "aac_decoder.h"
#include "mp3_decoder.h"
#include "mp4.h"
#include "stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    unsigned long frames;     /* frames decoded (concealed and damaged ones included) */
    unsigned long concealed;  /* MP3 frames whose main data was not there (stream start, after a cut) */
    unsigned long damaged;    /* frames refused as damaged and concealed, and a frame cut by the end */
    unsigned long crc_errors; /* ADTS frames whose CRC word did not match (counted in damaged too) */
    unsigned long junk_bytes; /* bytes skipped between frames, and after the last once finished */
    unsigned long tag_frames; /* Xing/Info/VBRI frames recognised and not played */
    unsigned long samples;    /* sample frames produced */
    unsigned long cut;        /* 1: the last frame was cut off by the end of the input (counted in damaged) */
    unsigned long trimmed;    /* sample frames left out as encoder delay, padding and decoder delay (gapless) */
    unsigned long rebuilt;    /* frames whose header was destroyed, decoded behind a rebuilt one (in damaged) */
    int channels;
    int sample_rate;
    int sbr; /* HE-AAC: 1 SBR at twice the core rate, 2 down-sampled SBR */
} DecodeStats;

/* One frame, as stream_decoder_next() found and decoded it. */
typedef struct {
    size_t offset, len;   /* where the frame is in the input */
    unsigned long index;  /* frames decoded before it */
    size_t junk, junk_at; /* bytes skipped just before it, and where they start (junk 0: none) */
    const char *damage;   /* non-NULL: refused for this reason and concealed */
    int tag;              /* a tag frame, not played */
    const Zuf16s *pcm;    /* `samples` sample frames, stats.channels channels interleaved */
    unsigned long samples;
} DecodedFrame;

typedef struct {
    const Input *in;
    StreamFormat format;  /* FORMAT_MP3 or FORMAT_ADTS */
    const Zuf8u *ref;     /* the stream's fixed header: frames must repeat its fixed fields */
    size_t header_bytes;  /* 4 (MPEG audio) or 7 (ADTS) */
    size_t pos;           /* where the search for the next frame starts */
    size_t chain;         /* where the last frame ended: a header there needs no confirmation */
    size_t free_len;      /* MP3 free format: frame length without padding, once found */
    size_t junk, junk_at; /* bytes skipped since the last frame */
    int cut;              /* the stream ended with a frame cut by the end of the input, at cut_at */
    size_t cut_at;
    DecodeStats stats;
    /* Gapless playback: of the decoded sample frames (audio_pos so far), only [keep_from,
     * keep_to) are output. */
    int gapless;
    unsigned long audio_pos, keep_from, keep_to;
    Mp3Decoder *mp3; /* the frame decoder of the format (allocated by open) */
    AacDecoder *aac;
    /* MP4: the track's sample table, and each sample behind an ADTS header made from the
     * track's configuration, so that it goes through the ADTS frame decoder unchanged. */
    int mp4;
    int adif; /* ADIF: raw data blocks back to back from pos on, each decoded with aac_block_decode() */
    Mp4Track track;
    Mp4Cursor cursor;
    /* The last frame's header, and the shortest and longest frame so far: a gap between two
     * frames that the stream's frame grid shows to be one frame whose header was destroyed is
     * decoded as that frame, behind a header rebuilt from the last one (lost_frame() in
     * stream_decoder.c), so that the output keeps its length. */
    Zuf8u last[7];
    size_t min_len, max_len;
    Zuf8u frame[MP3_MAX_FRAME + MP3_MAIN_PADDING];        /* a rebuilt frame (MP4 sample, lost header) */
    Zuf16s pcm[AAC_MAX_BLOCKS * 2048 * AAC_MAX_CHANNELS]; /* SBR: 2048 sample frames per block */
} StreamDecoder;

/* Prepares d for the stream whose first frame starts at `first` (from detect_format()); in must
 * outlive d. sfb_long (MP3 only, usually NULL): as Mp3Decoder.sfb_long. Returns 0; 1 when the
 * stream is refused, with the reason in `why`; 2 when out of memory. */
int stream_decoder_open(StreamDecoder *d, const Input *in, size_t first, StreamFormat format, const Zuf16s *sfb_long,
                        char *why, size_t why_len);

/* Gapless decoding (on by default; call before the first stream_decoder_next()): an MP3 whose
 * tag frame gives LAME's encoder delay and padding is trimmed to the length of its source, as
 * FFmpeg and mpg123 do: the delay plus MP3_DECODER_DELAY sample frames at the start, the padding
 * less MP3_DECODER_DELAY at the end. Off (0): every decoded sample frame is output. */
void stream_decoder_set_gapless(StreamDecoder *d, int on);

/* Finds and decodes the next frame. Returns 1 with *f filled, or 0 at the end of the stream
 * (d->cut tells whether its last frame was cut off). */
int stream_decoder_next(StreamDecoder *d, DecodedFrame *f);

/* Junk after the last frame (bytes skipped and not followed by a frame, and a tail shorter than
 * a header), added to stats.junk_bytes. Called once, when no more frames are wanted. */
size_t stream_decoder_finish(StreamDecoder *d);

void stream_decoder_close(StreamDecoder *d);

/* Decodes a whole stream held in memory, as zufdec decodes a file: tags skipped, the format
 * detected, every frame decoded. *pcm (from malloc, for free()) receives stats->samples sample
 * frames of stats->channels channels; tools (may be NULL) the AAC tool counts; sfb_long as in
 * stream_decoder_open(); gapless as in stream_decoder_set_gapless(). Returns 0; 1 when no stream
 * was found or it was refused; 2 when out of memory. */
int stream_decode_memory(const Zuf8u *data, size_t size, const Zuf16s *sfb_long, int gapless, Zuf16s **pcm,
                         DecodeStats *stats, AacToolCounts *tools);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_STREAM_DECODER_H */
