/*
 * Audio output for the example decoders: WAV (16-bit, 24-bit or 32-bit float), FLAC (16 or
 * 24-bit) or raw little-endian PCM, to a file descriptor the caller opened.
 *
 * A seekable WAV or FLAC output is written by libsndfile (when the tools were built with it).
 * libsndfile refuses to write WAV or FLAC to a pipe, so a WAV stream whose length is not known
 * in advance (a pipe, a terminal, a device) is written here, with the sizes in its header set to
 * 0xFFFFFFFF as ffmpeg and sox write them: readers then take the data to the end of the stream.
 * Raw PCM is always written here. FLAC needs libsndfile and a seekable output.
 */
#ifndef ZUF_EXAMPLE_AUDIO_OUT_H
#define ZUF_EXAMPLE_AUDIO_OUT_H

#include <stddef.h>

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum { AUDIO_WAV = 0, AUDIO_FLAC, AUDIO_RAW } AudioContainer;
typedef enum { AUDIO_S16 = 0, AUDIO_S24, AUDIO_F32 } AudioSample;

typedef struct {
    AudioContainer container;
    AudioSample sample;
} AudioFormat;

typedef struct {
    int fd;
    AudioFormat format;
    int channels;
    unsigned long channel_mask; /* WAVE_FORMAT_EXTENSIBLE speakers of more than 2 channels, or 0 */
    int sample_rate;
    int seekable;          /* the header can be completed at the end */
    void *sndfile;         /* SNDFILE * when libsndfile writes, else NULL */
    unsigned long frames;  /* sample frames written */
    size_t header_len;     /* bytes of our own WAV header (0: raw or libsndfile) */
    size_t used;           /* bytes waiting in buf */
    unsigned long flushed; /* bytes written out of buf */
    int error;             /* 0, or the errno (or -1: a libsndfile error) of the first failure */
    unsigned char buf[1 << 16];
} AudioWriter;

/* 1 when this build can write FLAC (it has libsndfile). */
int audio_have_flac(void);
/* libsndfile's version string, or NULL when built without it. */
const char *audio_sndfile_version(void);

/* Starts writing the format to fd (not closed by the writer). A WAV of more than 2 channels with a
 * channel_mask (speaker bits of WAVE_FORMAT_EXTENSIBLE, one per channel in WAV order; 0: none)
 * is written as WAVE_FORMAT_EXTENSIBLE with that mask. Returns 0, or 1 with the reason in `why`. */
int audio_open(AudioWriter *w, int fd, AudioFormat format, int channels, unsigned long channel_mask, int sample_rate,
               char *why, size_t why_len);

/* Appends `frames` interleaved sample frames: the 16-bit samples, or when `wide` is not NULL the
 * same samples with more precision (floats, 1.0 = 16-bit full scale, possibly beyond it), used for
 * the 24-bit and float formats. Returns 0, or 1 once writing has failed (w->error says why). */
int audio_write(AudioWriter *w, const Zuf16s *pcm, const Zuf32f *wide, unsigned long frames);

/* Writes what is buffered and completes the header where the output can seek. Returns 0, or 1
 * when writing failed (w->error). */
int audio_close(AudioWriter *w);

/* A message for w->error. */
const char *audio_strerror(const AudioWriter *w);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_AUDIO_OUT_H */
