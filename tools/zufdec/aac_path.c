/*
 * zufdec AAC path: ADTS streams of AAC-LC (MPEG-2 and MPEG-4 ADTS, ISO/IEC 13818-7 6.2 and
 * ISO/IEC 14496-3 1.A.2), mono or stereo, to PCM with the frame decoder of aac_frame.c.
 *
 * Frames are found by their headers: within a chain of frames a header with the stream's fixed
 * fields is enough; after junk, a header must be confirmed by the next one (or by the end of
 * the data). A frame that the decoder refuses is reported and replaced by silence, and decoding
 * resumes at the next header. CRC words are skipped, not checked.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "aac_frame.h"
#include "decoder.h"

#define MAX_REPORTS 10 /* damage reports before they are only counted */

static const int k_rates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

typedef struct {
    AacDecoder dec;
    Zuf16s pcm[AAC_MAX_BLOCKS * 1024 * 2];
} AacState;

/* Length of a plausible ADTS frame of the stream `ref` at p (7 bytes readable), or 0. */
static size_t frame_at(const Zuf8u *p, const Zuf8u *ref) {
    size_t len;
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || !aac_same_stream(p, ref)) return 0;
    len = ((size_t)(p[3] & 3) << 11) | ((size_t)p[4] << 3) | (p[5] >> 5);
    return len >= (size_t)((p[1] & 1) ? 8 : 10) ? len : 0;
}

/* The stream's fixed header: the first one that the next frame repeats, so that a damaged first
 * header does not decide the format (searched within 64 KB; else the first header). */
static const Zuf8u *reference_header(const Input *in, size_t first) {
    size_t pos;
    for (pos = first; pos + 7 <= in->end && pos < first + 65536; ++pos) {
        const Zuf8u *p = in->data + pos;
        const size_t len = frame_at(p, p);
        if (len && (pos + len == in->end || (pos + len + 7 <= in->end && frame_at(p + len, p)))) return p;
    }
    return in->data + first;
}

int aac_decode(const Input *in, size_t first, WavWriter *w, const DecodeOptions *opt, DecodeStats *st) {
    AacState *s;
    const Zuf8u *ref = reference_header(in, first);
    char why[200];
    size_t pos = first, junk = 0, junk_at = 0, chain = (size_t)-1;
    size_t next_progress = 0, step = (in->end - in->begin) / 50 + 1;
    unsigned long reports = 0;

    if (aac_stream_supported(ref, why, sizeof why)) {
        fprintf(stderr, "zufdec: refused: %s\n", why);
        return 1;
    }
    s = malloc(sizeof *s);
    if (!s) {
        fprintf(stderr, "zufdec: out of memory\n");
        return 1;
    }
    aac_decoder_init(&s->dec, ref);
    st->channels = s->dec.channels;
    st->sample_rate = k_rates[s->dec.sfi];
    if (wav_set_format(w, st->channels, st->sample_rate)) {
        free(s);
        return 1;
    }
    while (pos + 7 <= in->end && !w->failed) {
        const Zuf8u *p = in->data + pos;
        size_t len = frame_at(p, ref);
        const char *damage = NULL;
        int blocks = 0;
        if (len && pos + len > in->end) {
            if (!opt->quiet)
                fprintf(stderr, "zufdec: frame at offset %lu is cut off by the end of the file\n", (unsigned long)pos);
            ++st->damaged;
            break;
        }
        /* After junk, the next header must confirm this one. */
        if (len && pos != chain && in->end - (pos + len) >= 7 && !frame_at(in->data + pos + len, ref)) len = 0;
        if (!len) {
            if (!junk) junk_at = pos;
            ++junk;
            ++pos;
            continue;
        }
        if (junk) {
            if (!opt->quiet && reports < MAX_REPORTS)
                fprintf(stderr, "zufdec: skipped %lu bytes of junk at offset %lu\n", (unsigned long)junk,
                        (unsigned long)junk_at);
            st->junk_bytes += junk;
            junk = 0;
        }
        if (aac_frame_decode(&s->dec, p, len, s->pcm, &blocks, &damage)) {
            ++st->damaged;
            if (!opt->quiet) {
                if (reports < MAX_REPORTS)
                    fprintf(stderr, "zufdec: frame %lu at offset %lu: %s, concealed\n", st->frames, (unsigned long)pos,
                            damage);
                else if (reports == MAX_REPORTS)
                    fprintf(stderr, "zufdec: further damage is counted, not reported\n");
            }
            ++reports;
        }
        ++st->frames;
        if (blocks) wav_write(w, s->pcm, 1024ul * (unsigned long)blocks);
        st->samples += 1024ul * (unsigned long)blocks;
        pos += len;
        chain = pos;
        if (opt->progress && pos - in->begin >= next_progress) {
            fprintf(stderr, "\rzufdec: %3d%%",
                    (int)(100.0 * (double)(pos - in->begin) / (double)(in->end - in->begin)));
            next_progress = pos - in->begin + step;
        }
    }
    if (opt->progress) fprintf(stderr, "\rzufdec: 100%%\n");
    junk += in->end - pos < 7 ? in->end - pos : 0;
    if (junk) {
        if (!opt->quiet) fprintf(stderr, "zufdec: %lu bytes of junk at the end\n", (unsigned long)junk);
        st->junk_bytes += junk;
    }
    if (!opt->quiet) {
        const AacToolCounts *t = &s->dec.tools;
        fprintf(
            stderr,
            "zufdec: %lu raw data blocks: %lu SCE, %lu CPE (%lu common window, %lu all M/S), M/S bands %lu, intensity "
            "bands "
            "%lu, noise bands %lu (%lu M/S pairs), TNS %lu, short windows %lu, pulses %lu, FIL %lu, DSE %lu, PCE %lu\n",
            t->blocks, t->sce, t->cpe, t->common_window, t->ms_all_frames, t->ms_bands, t->is_bands, t->pns_bands,
            t->pns_shared, t->tns, t->short_windows, t->pulses, t->fil, t->dse, t->pce);
        if (t->mpeg2_pns)
            fprintf(stderr,
                    "zufdec: %lu channel streams of this MPEG-2 stream use noise substitution (reserved in "
                    "MPEG-2): decoded as MPEG-4\n",
                    t->mpeg2_pns);
    }
    free(s);
    return w->failed || st->frames == 0;
}
