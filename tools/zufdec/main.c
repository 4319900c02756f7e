/*
 * zufdec: decodes a coded audio file to a 16-bit WAV file with libzufack9's public API.
 *
 *   zufdec [-q] IN OUT.wav
 *
 * MPEG-1 and MPEG-2 Layer III (MP3) and ADTS AAC-LC (mono, stereo) are decoded; tags (ID3v1,
 * ID3v2, APE) and junk are skipped.
 * The format is found from the first frame that the next one confirms, and a table says which
 * formats the example stream decoder (tools/example/stream_decoder.h) takes and why the others
 * are refused; this program adds the files, the messages and the progress. On stderr: the stream, the frames
 * decoded, concealed and damaged, and the speed in times real time (and progress on long
 * inputs unless -q). Exit status: 0 decoded (recoverable damage included), 1 unusable or
 * unsupported input or a write error, 2 usage.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "example/stream.h"
#include "example/stream_decoder.h"
#include "example/wav.h"

/* Inputs above this size show progress. */
#define PROGRESS_BYTES (2ul << 20)
#define MAX_REPORTS 10 /* damage reports before they are only counted */

typedef struct {
    int quiet;      /* no per-frame damage reports, no progress */
    int progress;   /* show progress (long inputs) */
    int no_gapless; /* output encoder delay and padding too */
} DecodeOptions;

typedef struct {
    StreamFormat format;
    int decoded; /* 0: refused with `refusal` */
    const char *refusal;
} Path;

static const Path k_paths[] = {
    {FORMAT_MP3, 1, NULL},        {FORMAT_ADTS, 1, NULL},
    {FORMAT_MP4, 1, NULL},        {FORMAT_ADIF, 0, "ADIF is not decoded, only ADTS"},
    {FORMAT_MPEG_OTHER, 1, NULL}, /* refused by stream_decoder_open(), naming the layer or MPEG-2.5 */
};

/* Which coding tools an AAC stream used, and how often. */
static void print_aac_tools(const AacToolCounts *t) {
    fprintf(stderr,
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

/* Decodes the stream whose first frame starts at `first` into w, with damage reports and
 * progress on stderr. Returns 0 when the stream was decoded (recoverable damage included), 1
 * when nothing could be decoded or the output failed. */
static int decode(const Input *in, size_t first, StreamFormat format, WavWriter *w, const DecodeOptions *opt,
                  DecodeStats *st) {
    StreamDecoder *d = malloc(sizeof *d);
    DecodedFrame f;
    char why[200];
    size_t next_progress = 0, step = (in->end - in->begin) / 50 + 1, junk;
    unsigned long reports = 0;
    int rc;

    rc = d ? stream_decoder_open(d, in, first, format, NULL, why, sizeof why) : 2;
    if (rc) {
        if (rc == 1)
            fprintf(stderr, "zufdec: refused: %s\n", why);
        else
            fprintf(stderr, "zufdec: out of memory\n");
        free(d);
        return 1;
    }
    stream_decoder_set_gapless(d, !opt->no_gapless);
    *st = d->stats;
    if (wav_set_format(w, d->stats.channels, d->stats.sample_rate)) {
        stream_decoder_close(d);
        free(d);
        return 1;
    }
    while (!w->failed && stream_decoder_next(d, &f)) {
        if (f.junk && !opt->quiet && reports < MAX_REPORTS)
            fprintf(stderr, "zufdec: skipped %lu bytes of junk at offset %lu\n", (unsigned long)f.junk,
                    (unsigned long)f.junk_at);
        if (f.damage && !opt->quiet) {
            if (reports < MAX_REPORTS)
                fprintf(stderr, "zufdec: frame %lu at offset %lu: %s, concealed\n", f.index, (unsigned long)f.offset,
                        f.damage);
            else if (reports == MAX_REPORTS)
                fprintf(stderr, "zufdec: further damage is counted, not reported\n");
            ++reports;
        }
        if (f.samples) wav_write(w, f.pcm, f.samples);
        if (opt->progress && f.offset + f.len - in->begin >= next_progress) {
            fprintf(stderr, "\rzufdec: %3d%%",
                    (int)(100.0 * (double)(f.offset + f.len - in->begin) / (double)(in->end - in->begin)));
            next_progress = f.offset + f.len - in->begin + step;
        }
    }
    if (d->cut && !opt->quiet)
        fprintf(stderr, "zufdec: frame at offset %lu is cut off by the end of the file\n", (unsigned long)d->cut_at);
    if (opt->progress) fprintf(stderr, "\rzufdec: 100%%\n");
    junk = stream_decoder_finish(d);
    if (junk && !opt->quiet) fprintf(stderr, "zufdec: %lu bytes of junk at the end\n", (unsigned long)junk);
    if (d->aac && !opt->quiet) print_aac_tools(&d->aac->tools);
    *st = d->stats;
    stream_decoder_close(d);
    free(d);
    return w->failed || st->frames == 0;
}

static int usage(void) {
    fprintf(stderr,
            "usage: zufdec [-q] [--no-gapless] IN OUT.wav\n"
            "  decodes an MP3 (MPEG-1/2 Layer III) or ADTS AAC-LC file to 16-bit PCM WAV\n"
            "  -q  no damage reports and no progress\n"
            "  --no-gapless  keep the encoder delay and padding of an MP3 with a LAME tag\n");
    return 2;
}

int main(int argc, char **argv) {
    DecodeOptions opt;
    DecodeStats st;
    Input in;
    WavWriter w;
    const char *in_path = NULL, *out_path = NULL;
    char tags[128], what[64];
    size_t first, i;
    StreamFormat format;
    const Path *path = NULL;
    clock_t t0;
    double secs, audio;
    int a, rc;

    memset(&opt, 0, sizeof opt);
    memset(&st, 0, sizeof st);
    for (a = 1; a < argc; ++a) {
        if (!strcmp(argv[a], "-q") || !strcmp(argv[a], "--quiet"))
            opt.quiet = 1;
        else if (!strcmp(argv[a], "--no-gapless"))
            opt.no_gapless = 1;
        else if (!strcmp(argv[a], "-h") || !strcmp(argv[a], "--help"))
            return usage();
        else if (!in_path)
            in_path = argv[a];
        else if (!out_path)
            out_path = argv[a];
        else
            return usage();
    }
    if (!in_path || !out_path) return usage();

    if (input_read(in_path, &in, "zufdec")) return 1;
    input_strip_tags(&in, tags, sizeof tags);
    if (tags[0] && !opt.quiet) fprintf(stderr, "zufdec: %s: skipped %s\n", in_path, tags);
    format = detect_format(&in, &first, what, sizeof what);
    for (i = 0; i < sizeof k_paths / sizeof k_paths[0]; ++i)
        if (k_paths[i].format == format) path = &k_paths[i];
    if (!path) {
        fprintf(stderr, "zufdec: %s: no MP3 or AAC stream found\n", in_path);
        input_free(&in);
        return 1;
    }
    if (!path->decoded) {
        fprintf(stderr, "zufdec: %s: %s: %s\n", in_path, what, path->refusal);
        input_free(&in);
        return 1;
    }
    if (first > in.begin && !opt.quiet)
        fprintf(stderr, "zufdec: %s: skipped %lu bytes before the first frame\n", in_path,
                (unsigned long)(first - in.begin));
    if (wav_open(&w, out_path, "zufdec")) {
        input_free(&in);
        return 1;
    }
    opt.progress = !opt.quiet && in.end - in.begin > PROGRESS_BYTES;
    t0 = clock();
    rc = decode(&in, first, format, &w, &opt, &st);
    secs = (double)(clock() - t0) / CLOCKS_PER_SEC;
    if (wav_close(&w)) rc = 1;
    input_free(&in);

    audio = st.sample_rate ? (double)st.samples / st.sample_rate : 0.0;
    fprintf(stderr, "zufdec: %s: %s, %d Hz, %d channel%s: %lu frames decoded", in_path, what, st.sample_rate,
            st.channels, st.channels == 1 ? "" : "s", st.frames);
    if (st.tag_frames) fprintf(stderr, ", %lu tag frame not played", st.tag_frames);
    if (format == FORMAT_MP3) fprintf(stderr, ", %lu concealed (reservoir data missing)", st.concealed);
    if (format == FORMAT_ADTS) fprintf(stderr, ", %lu failed the CRC check", st.crc_errors);
    fprintf(stderr, ", %lu damaged, %lu junk bytes skipped\n", st.damaged, st.junk_bytes);
    if (secs > 0.0)
        fprintf(stderr, "zufdec: %.2f s of audio in %.3f s: %.0fx real time\n", audio, secs, audio / secs);
    else
        fprintf(stderr, "zufdec: %.2f s of audio\n", audio);
    if (rc && st.frames == 0) fprintf(stderr, "zufdec: %s: nothing could be decoded\n", in_path);
    return rc ? 1 : 0;
}
