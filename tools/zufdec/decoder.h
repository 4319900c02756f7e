/*
 * zufdec decoding paths: one function per coded format, all with the same arguments, so that
 * main.c only detects the format and dispatches (MP3 in mp3_path.c, ADTS AAC in aac_path.c).
 */
#ifndef ZUFDEC_DECODER_H
#define ZUFDEC_DECODER_H

#include "stream.h"
#include "wav.h"

typedef struct {
    int quiet;    /* no per-frame damage reports, no progress */
    int progress; /* show progress (long inputs) */
} DecodeOptions;

typedef struct {
    unsigned long frames;     /* frames decoded (concealed ones included) */
    unsigned long concealed;  /* frames whose main data was not there (stream start, after a cut) */
    unsigned long damaged;    /* frames refused as damaged, reported and concealed */
    unsigned long junk_bytes; /* bytes skipped between frames */
    unsigned long tag_frames; /* Xing/Info/VBRI frames recognised and not played */
    unsigned long samples;    /* sample frames written */
    int channels;
    int sample_rate;
} DecodeStats;

/* Decodes the stream whose first frame starts at `first` into w. Returns 0 when the stream was
 * decoded (recoverable damage included), 1 when nothing could be decoded or the output failed. */
typedef int (*DecodeFn)(const Input *in, size_t first, WavWriter *w, const DecodeOptions *opt, DecodeStats *st);

int mp3_decode(const Input *in, size_t first, WavWriter *w, const DecodeOptions *opt, DecodeStats *st);
int aac_decode(const Input *in, size_t first, WavWriter *w, const DecodeOptions *opt, DecodeStats *st);

#endif /* ZUFDEC_DECODER_H */
