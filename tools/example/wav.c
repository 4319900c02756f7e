/*
 * Audio output: 16-bit PCM WAV (RIFF WAVE, format 1), little-endian whatever the host.
 */
#include "wav.h"

#include <string.h>

int wav_open(WavWriter *w, const char *path, const char *prog) {
    memset(w, 0, sizeof *w);
    w->path = path;
    w->prog = prog;
    w->f = fopen(path, "wb");
    if (!w->f) {
        fprintf(stderr, "%s: cannot create '%s'\n", prog, path);
        return 1;
    }
    /* Large writes: a few hundred system calls for a song instead of thousands. */
    setvbuf(w->f, NULL, _IOFBF, 1 << 18);
    return 0;
}

static void put_le(unsigned char *p, unsigned long v, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

/* The 44-byte header for the frames written so far. RIFF sizes are 32-bit: a longer stream
 * gets the largest size that fits (readers then take the data to the end of the file). */
static void header_bytes(const WavWriter *w, unsigned char *h) {
    const unsigned long block = 2ul * (unsigned long)w->channels;
    unsigned long data = w->frames <= (0xFFFFFFFFul - 36) / block ? w->frames * block : 0xFFFFFFFFul - 36;
    memcpy(h, "RIFF", 4);
    put_le(h + 4, data + 36, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2); /* PCM */
    put_le(h + 22, (unsigned long)w->channels, 2);
    put_le(h + 24, (unsigned long)w->sample_rate, 4);
    put_le(h + 28, (unsigned long)w->sample_rate * block, 4);
    put_le(h + 32, block, 2);
    put_le(h + 34, 16, 2);
    memcpy(h + 36, "data", 4);
    put_le(h + 40, data, 4);
}

static int fail(WavWriter *w) {
    if (!w->failed) fprintf(stderr, "%s: error writing '%s'\n", w->prog, w->path);
    w->failed = 1;
    return 1;
}

int wav_set_format(WavWriter *w, int channels, int sample_rate) {
    unsigned char h[44];
    w->channels = channels;
    w->sample_rate = sample_rate;
    header_bytes(w, h);
    return fwrite(h, 1, 44, w->f) == 44 ? 0 : fail(w);
}

static int little_endian_host(void) {
    const unsigned short one = 1;
    return *(const unsigned char *)&one == 1;
}

int wav_write(WavWriter *w, const Zuf16s *pcm, unsigned long frames) {
    unsigned char buf[4096];
    const unsigned long n = frames * (unsigned long)w->channels;
    unsigned long i = 0;
    if (w->failed) return 1;
    if (little_endian_host()) { /* the samples are already in file order */
        if (fwrite(pcm, 2, n, w->f) != n) return fail(w);
        w->frames += frames;
        return 0;
    }
    while (i < n) {
        size_t k = 0;
        for (; i < n && k + 2 <= sizeof buf; ++i, k += 2) {
            const unsigned v = (unsigned)(unsigned short)pcm[i];
            buf[k] = (unsigned char)v;
            buf[k + 1] = (unsigned char)(v >> 8);
        }
        if (fwrite(buf, 1, k, w->f) != k) return fail(w);
    }
    w->frames += frames;
    return 0;
}

int wav_close(WavWriter *w) {
    int bad = w->failed;
    if (!w->f) return 1;
    if (!bad) {
        unsigned char h[44];
        if (w->channels == 0) {
            /* Nothing decoded: still a valid (empty) file. */
            w->channels = 1;
            w->sample_rate = 44100;
        }
        header_bytes(w, h);
        if (fseek(w->f, 0, SEEK_SET) != 0 || fwrite(h, 1, 44, w->f) != 44) bad = fail(w);
    }
    if (fclose(w->f) != 0 && !bad) bad = fail(w);
    w->f = NULL;
    return bad;
}
