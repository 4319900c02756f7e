/*
 * Audio output: a 16-bit PCM WAV file (RIFF, "fmt " and "data" chunks), written as decoding
 * goes; the sizes in the header are filled in when the file is closed.
 */
#ifndef ZUF_EXAMPLE_WAV_H
#define ZUF_EXAMPLE_WAV_H

#include <stdio.h>

#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    FILE *f;
    const char *path;
    const char *prog; /* program name that starts messages */
    int channels;     /* 0 until the format is set */
    int sample_rate;
    unsigned long frames; /* sample frames written */
    int failed;           /* a write failed (reported once) */
} WavWriter;

/* Creates the file. Returns 0, or 1 after a message on stderr starting with `prog`. */
int wav_open(WavWriter *w, const char *path, const char *prog);
/* Fixes the format and writes a provisional header; called once, before the first samples. */
int wav_set_format(WavWriter *w, int channels, int sample_rate);
/* Appends `frames` interleaved sample frames. Returns 0, or 1 once writing has failed. */
int wav_write(WavWriter *w, const Zuf16s *pcm, unsigned long frames);
/* Completes the header and closes. Returns 0, or 1 after a message. */
int wav_close(WavWriter *w);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_WAV_H */
