/*
 * zufdec: decodes a coded audio file to a 16-bit WAV file with libzufack9's public API.
 *
 *   zufdec [-q] IN OUT.wav
 *
 * MPEG-1 and MPEG-2 Layer III (MP3) and ADTS AAC-LC (mono, stereo) are decoded; tags (ID3v1,
 * ID3v2, APE) and junk are skipped.
 * The format is found from the first frame that the next one confirms, and a table maps each
 * format to its decoding path or to the reason it is refused. On stderr: the stream, the frames
 * decoded, concealed and damaged, and the speed in times real time (and progress on long
 * inputs unless -q). Exit status: 0 decoded (recoverable damage included), 1 unusable or
 * unsupported input or a write error, 2 usage.
 */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "decoder.h"
#include "stream.h"
#include "wav.h"

/* Inputs above this size show progress. */
#define PROGRESS_BYTES (2ul << 20)

typedef struct {
    StreamFormat format;
    DecodeFn decode; /* NULL: refused with `refusal` */
    const char *refusal;
} Path;

static const Path k_paths[] = {
    {FORMAT_MP3, mp3_decode, NULL},
    {FORMAT_ADTS, aac_decode, NULL},
    {FORMAT_ADIF, NULL, "ADIF is not decoded, only ADTS"},
    {FORMAT_MPEG_OTHER, NULL,
     "only Layer III of MPEG-1 and MPEG-2 is decoded (not Layers I and II, nor MPEG-2.5 at 8, 11.025 and 12 kHz)"},
};

static int usage(void) {
    fprintf(stderr,
            "usage: zufdec [-q] IN OUT.wav\n"
            "  decodes an MP3 (MPEG-1/2 Layer III) or ADTS AAC-LC file to 16-bit PCM WAV\n"
            "  -q  no damage reports and no progress\n");
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

    if (input_read(in_path, &in)) return 1;
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
    if (!path->decode) {
        fprintf(stderr, "zufdec: %s: %s: %s\n", in_path, what, path->refusal);
        input_free(&in);
        return 1;
    }
    if (first > in.begin && !opt.quiet)
        fprintf(stderr, "zufdec: %s: skipped %lu bytes before the first frame\n", in_path,
                (unsigned long)(first - in.begin));
    if (wav_open(&w, out_path)) {
        input_free(&in);
        return 1;
    }
    opt.progress = !opt.quiet && in.end - in.begin > PROGRESS_BYTES;
    t0 = clock();
    rc = path->decode(&in, first, &w, &opt, &st);
    secs = (double)(clock() - t0) / CLOCKS_PER_SEC;
    if (wav_close(&w)) rc = 1;
    input_free(&in);

    audio = st.sample_rate ? (double)st.samples / st.sample_rate : 0.0;
    fprintf(stderr, "zufdec: %s: %s, %d Hz, %d channel%s: %lu frames decoded", in_path, what, st.sample_rate,
            st.channels, st.channels == 1 ? "" : "s", st.frames);
    if (st.tag_frames) fprintf(stderr, ", %lu tag frame not played", st.tag_frames);
    if (format == FORMAT_MP3) fprintf(stderr, ", %lu concealed (reservoir data missing)", st.concealed);
    fprintf(stderr, ", %lu damaged, %lu junk bytes skipped\n", st.damaged, st.junk_bytes);
    if (secs > 0.0)
        fprintf(stderr, "zufdec: %.2f s of audio in %.3f s: %.0fx real time\n", audio, secs, audio / secs);
    else
        fprintf(stderr, "zufdec: %.2f s of audio\n", audio);
    if (rc && st.frames == 0) fprintf(stderr, "zufdec: %s: nothing could be decoded\n", in_path);
    return rc ? 1 : 0;
}
