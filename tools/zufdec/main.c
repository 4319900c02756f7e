/*
 * zufdec: decodes MP3 and AAC (ADTS, ADIF, MP4/M4A/3GP) files to WAV, FLAC or raw PCM with libzufack9's
 * public API.
 *
 *   zufdec [OPTIONS] INPUT [OUTPUT]
 *   zufdec [OPTIONS] INPUT...
 *
 * MPEG-1 and MPEG-2 Layer III (MP3) and AAC Main, LC and LTP (channel configurations 1 to 7, or a layout in a
 * program configuration element) in ADTS, ADIF or MP4 are decoded; tags (ID3v1, ID3v2, APE) and
 * junk are skipped. The format is found from the first frame that the next one
 * confirms, and a table says which formats the example stream decoder
 * (tools/example/stream_decoder.h) takes and why the others are refused; this program adds the
 * files, the options, the messages and the progress. usage() below is the manual.
 *
 * Files are never destroyed: an output that is the input (by device and inode, so through links
 * too) is refused, an existing output is replaced only when asked, and a file output is written
 * to a temporary file beside it that is renamed into place only when decoding succeeded (and
 * removed otherwise, also on SIGINT, SIGTERM and SIGHUP).
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "example/audio_out.h"
#include "example/sbr_decoder.h"
#include "example/sbr_lp.h"
#include "example/stream.h"
#include "example/stream_decoder.h"

#ifndef ZUF_TOOL_VERSION
#define ZUF_TOOL_VERSION "unknown"
#endif

/* Exit statuses (documented in usage()). */
enum { EXIT_DECODED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_REFUSED = 3 };

#define PROGRESS_BYTES (2ul << 20) /* inputs above this size show progress (on a terminal) */
#define MAX_REPORTS 10             /* damage reports before they are only counted */
#define MAX_OUTPUTS 256            /* outputs of one call remembered, so that none is written twice */

typedef struct {
    int quiet;     /* errors only */
    int overwrite; /* 1: -y, -1: -n, 0: ask on a terminal, else refuse */
    int no_gapless;
    int downmix;    /* --downmix, -ac 2: AAC of more than 2 channels to stereo */
    int format_set; /* -f given */
    AudioFormat format;
    const char *output; /* -o, or the second name */
} Options;

typedef struct {
    StreamFormat format;
    int decoded; /* 0: refused with `refusal` */
    const char *refusal;
} Path;

/* FORMAT_MPEG_OTHER is refused by stream_decoder_open(), naming the layer or MPEG-2.5. */
static const Path k_paths[] = {
    {FORMAT_MP3, 1, NULL},  {FORMAT_ADTS, 1, NULL},       {FORMAT_MP4, 1, NULL},
    {FORMAT_ADIF, 1, NULL}, {FORMAT_MPEG_OTHER, 1, NULL},
};

/* -f names: container and sample type, and the default output extension. */
typedef struct {
    const char *name;
    AudioFormat format;
    const char *ext;
} FormatName;

static const FormatName k_formats[] = {
    {"wav", {AUDIO_WAV, AUDIO_S16}, ".wav"},   {"flac", {AUDIO_FLAC, AUDIO_S16}, ".flac"},
    {"s16le", {AUDIO_RAW, AUDIO_S16}, ".raw"}, {"s24le", {AUDIO_RAW, AUDIO_S24}, ".raw"},
    {"f32le", {AUDIO_RAW, AUDIO_F32}, ".raw"},
};

static const char *k_sample_names[3] = {"16-bit", "24-bit", "32-bit float"};
static const char *k_container_names[3] = {"WAV", "FLAC", "raw PCM"};

/* ------------------------------------------------------------------ the temporary file */

/* The temporary file being written, removed by the signal handler (async-signal-safe: unlink). */
static char g_tmp[4096];
static volatile sig_atomic_t g_tmp_live;

static void on_signal(int sig) {
    if (g_tmp_live) unlink(g_tmp);
    signal(sig, SIG_DFL);
    raise(sig);
}

static int same_file(const struct stat *a, const struct stat *b) {
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

/* ------------------------------------------------------------------ usage */

static void usage(FILE *f) {
    fprintf(f,
            "usage: zufdec [OPTIONS] INPUT [OUTPUT]\n"
            "       zufdec [OPTIONS] INPUT...\n"
            "Decodes MP3 (MPEG-1/2 Layer III) and AAC Main/LC/LTP (1 to 8 channels; ADTS, ADIF, MP4/M4A/3GP)\n"
            "files to WAV, FLAC or raw PCM. MP3s with a LAME header are trimmed to their source length (gapless).\n"
            "\n"
            "INPUT - reads standard input; OUTPUT - writes standard output (also /dev/stdout).\n"
            "Without OUTPUT (or -o), each INPUT is decoded next to itself with the extension of the\n"
            "output format (in.mp3 -> in.wav; standard input goes to standard output). With two\n"
            "names the second is the output when it is -, a device, or ends in .wav, .flac, .raw or\n"
            ".pcm; otherwise every name is an input.\n"
            "\n"
            "Options (before or after the names; -- ends them):\n"
            "  -o, --output FILE  output file of the one INPUT\n"
            "  -f, --format FMT   wav (default), flac, or raw little-endian PCM: s16le, s24le, f32le;\n"
            "                     without -f an OUTPUT ending in .flac is FLAC\n"
            "  -b, --bits B       WAV and FLAC samples: 16 (default), 24, or f32 (WAV only)\n"
            "  -y                 overwrite existing output files\n"
            "  -n                 never overwrite, even with -y (without -y or -n zufdec asks when\n"
            "                     standard input is a terminal, and refuses otherwise)\n"
            "  -q, --quiet        print errors only\n"
            "      --no-gapless   keep the encoder delay and padding of MP3s with a LAME/Xing header\n"
            "      --downmix, -ac 2\n"
            "                     AAC of more than 2 channels (and mono) to stereo: L + 0.707 C + 0.707 Ls\n"
            "                     (the stream's matrix_mixdown factor for Ls/Rs when its PCE has one), LFE\n"
            "                     left out, scaled by 1 / (sum of the factors) so that it cannot clip\n"
            "      --sbr=KIND     HE-AAC decoding: hq (default; high quality, the complex float QMF\n"
            "                     banks), lp (low power: real float QMF banks and aliasing reduction),\n"
            "                     hq-fixed or lp-fixed (the same on the 32-bit banks); float and fixed\n"
            "                     are hq and hq-fixed\n"
            "  -h, --help         this help; -V, --version: versions of zufdec and the library\n"
            "\n"
            "Precision: 24-bit and float outputs of AAC carry the filter bank's 32-bit output (about\n"
            "24 bits); MP3 outputs carry 16 bits (the library's polyphase synthesis gives 16-bit PCM).\n"
            "Progress is shown on a terminal for inputs over 2 MB; damage is reported and concealed.\n"
            "\n"
            "Exit status: 0 every input decoded (recoverable damage included); 1 an input could not\n"
            "be read or decoded (missing, unsupported, nothing decodable) or an output could not be\n"
            "written; 2 usage error; 3 an output was refused (it exists and was not to be overwritten,\n"
            "it is the input, or it is a terminal). With several inputs the highest status counts.\n");
}

static int usage_error(const char *fmt, const char *arg) {
    fputs("zufdec: ", stderr);
    fprintf(stderr, fmt, arg);
    fputs("\nTry 'zufdec --help' for more information.\n", stderr);
    return EXIT_USAGE;
}

static void version(void) {
    const LibVersionRecord *v = zufacGetLibVersion();
    const char *sf = audio_sndfile_version();
    printf("zufdec %s (libzufack9 example tools)\n", ZUF_TOOL_VERSION);
    printf("library: %s %s (build %d.%d, %s)\n", v->libName, v->versionText, v->buildMajor, v->buildNumber,
           v->buildDate);
    printf("audio files: %s\n", sf ? sf : "own WAV writer (built without libsndfile: no FLAC)");
}

/* ------------------------------------------------------------------ decoding */

/* Which coding tools an AAC stream used, and how often. */
static void print_aac_tools(const AacToolCounts *t) {
    fprintf(stderr,
            "zufdec: %lu raw data blocks: %lu SCE, %lu CPE (%lu common window, %lu all M/S), M/S bands %lu, intensity "
            "bands "
            "%lu, noise bands %lu (%lu M/S pairs), TNS %lu, short windows %lu, pulses %lu, FIL %lu, DSE %lu, PCE %lu, "
            "LFE %lu, predicted bands %lu, LTP %lu\n",
            t->blocks, t->sce, t->cpe, t->common_window, t->ms_all_frames, t->ms_bands, t->is_bands, t->pns_bands,
            t->pns_shared, t->tns, t->short_windows, t->pulses, t->fil, t->dse, t->pce, t->lfe, t->pred_bands, t->ltp);
    if (t->sbr)
        fprintf(stderr, "zufdec: SBR payloads %lu (%lu with parametric stereo, decoded as mono SBR), %lu refused\n",
                t->sbr, t->ps, t->sbr_fallback);
    if (t->mpeg2_pns)
        fprintf(stderr,
                "zufdec: %lu channel streams of this MPEG-2 stream use noise substitution (reserved in "
                "MPEG-2): decoded as MPEG-4\n",
                t->mpeg2_pns);
}

/* Decodes the stream whose first frame starts at `first` into fd, with damage reports and
 * progress on stderr. Returns EXIT_DECODED when the stream was decoded (recoverable damage
 * included), else EXIT_FAILED after a message. */
static int decode(const char *name, const char *out_name, const Input *in, size_t first, StreamFormat format, int fd,
                  const Options *opt, DecodeStats *st) {
    /* 2048 sample frames per block with SBR */
    static Zuf32f wide[AAC_MAX_BLOCKS * 2048 * AAC_MAX_CHANNELS], mix_wide[AAC_MAX_BLOCKS * 2048 * 2];
    static Zuf16s mix[AAC_MAX_BLOCKS * 2048 * 2];
    StreamDecoder *d = malloc(sizeof *d);
    AudioWriter *w = malloc(sizeof *w);
    DecodedFrame f;
    char why[200];
    const int progress = !opt->quiet && isatty(2) && in->end - in->begin > PROGRESS_BYTES;
    size_t next_progress = 0, step = (in->end - in->begin) / 50 + 1, junk;
    unsigned long reports = 0;
    int downmix, rc = d && w ? stream_decoder_open(d, in, first, format, NULL, why, sizeof why) : 2;

    if (rc) {
        if (rc == 1)
            fprintf(stderr, "zufdec: %s: refused: %s\n", name, why);
        else
            fprintf(stderr, "zufdec: out of memory\n");
        free(d);
        free(w);
        return EXIT_FAILED;
    }
    /* Trimming is on by default; --no-gapless turns it off. */
    stream_decoder_set_gapless(d, !opt->no_gapless);
    /* The wider samples, where the decoder has them (AAC). */
    if (d->aac && opt->format.sample != AUDIO_S16) d->aac->wide = wide;
    /* A downmix is computed from the wide samples: they carry more than the 16 bits it keeps. */
    downmix = d->aac && opt->downmix && d->stats.channels != 2;
    if (downmix) d->aac->wide = wide;
    *st = d->stats;
    if (audio_open(w, fd, opt->format, downmix ? 2 : d->stats.channels,
                   downmix  ? 0
                   : d->aac ? d->aac->mask
                            : 0,
                   d->stats.sample_rate, why, sizeof why)) {
        fprintf(stderr, "zufdec: %s: %s\n", out_name, why);
        stream_decoder_close(d);
        free(d);
        free(w);
        return EXIT_FAILED;
    }
    while (!w->error && stream_decoder_next(d, &f)) {
        if (f.junk && !opt->quiet && reports < MAX_REPORTS)
            fprintf(stderr, "zufdec: %s: skipped %lu bytes of junk at offset %lu\n", name, (unsigned long)f.junk,
                    (unsigned long)f.junk_at);
        if (f.damage && !opt->quiet) {
            if (reports < MAX_REPORTS)
                fprintf(stderr, "zufdec: %s: frame %lu at offset %lu: %s, concealed\n", name, f.index,
                        (unsigned long)f.offset, f.damage);
            else if (reports == MAX_REPORTS)
                fprintf(stderr, "zufdec: %s: further damage is counted, not reported\n", name);
            ++reports;
        }
        /* The wide samples lie beside the 16-bit ones, at the same place in the frame's output. */
        if (f.samples && downmix) {
            aac_downmix(d->aac, f.pcm, wide + (f.pcm - d->pcm), f.samples, mix, mix_wide);
            audio_write(w, mix, opt->format.sample != AUDIO_S16 ? mix_wide : NULL, f.samples);
        } else if (f.samples) {
            audio_write(w, f.pcm, d->aac && d->aac->wide ? wide + (f.pcm - d->pcm) : NULL, f.samples);
        }
        if (progress && f.offset + f.len - in->begin >= next_progress) {
            fprintf(stderr, "\rzufdec: %3d%%",
                    (int)(100.0 * (double)(f.offset + f.len - in->begin) / (double)(in->end - in->begin)));
            next_progress = f.offset + f.len - in->begin + step;
        }
    }
    if (progress) fprintf(stderr, "\rzufdec: 100%%\n");
    if (d->cut && !opt->quiet)
        fprintf(stderr, "zufdec: %s: frame at offset %lu is cut off by the end of the file\n", name,
                (unsigned long)d->cut_at);
    junk = stream_decoder_finish(d);
    if (junk && !opt->quiet) fprintf(stderr, "zufdec: %s: %lu bytes of junk at the end\n", name, (unsigned long)junk);
    if (d->aac && !opt->quiet) print_aac_tools(&d->aac->tools);
    if (d->aac && d->aac->refused) {
        fprintf(stderr, "zufdec: %s: AAC (%s): refused: %s\n", name,
                d->mp4    ? "MP4"
                : d->adif ? "ADIF"
                          : "ADTS",
                d->aac->refused);
        stream_decoder_close(d);
        free(d);
        audio_close(w);
        free(w);
        return EXIT_FAILED;
    }
    *st = d->stats;
    stream_decoder_close(d);
    free(d);
    if (audio_close(w)) {
        fprintf(stderr, "zufdec: error writing %s: %s\n", out_name, audio_strerror(w));
        free(w);
        return EXIT_FAILED;
    }
    free(w);
    if (st->frames) return EXIT_DECODED;
    fprintf(stderr, "zufdec: %s: nothing could be decoded\n", name);
    return EXIT_FAILED;
}

/* Reads INPUT (or standard input for "-") and decodes it into fd. */
static int decode_input(const char *in_path, const char *out_name, int fd, const Options *opt) {
    DecodeStats st;
    Input in;
    char tags[128], what[64];
    size_t first, i;
    StreamFormat format;
    const Path *path = NULL;
    clock_t t0;
    double secs, audio;
    int rc;

    memset(&st, 0, sizeof st);
    if (input_read(in_path, &in, "zufdec")) return EXIT_FAILED;
    input_strip_tags(&in, tags, sizeof tags);
    if (tags[0] && !opt->quiet) fprintf(stderr, "zufdec: %s: skipped %s\n", in_path, tags);
    format = detect_format(&in, &first, what, sizeof what);
    for (i = 0; i < sizeof k_paths / sizeof k_paths[0]; ++i)
        if (k_paths[i].format == format) path = &k_paths[i];
    if (!path || !path->decoded) {
        if (!path)
            fprintf(stderr, "zufdec: %s: no MP3 or AAC stream found\n", in_path);
        else
            fprintf(stderr, "zufdec: %s: %s: %s\n", in_path, what, path->refusal);
        input_free(&in);
        return EXIT_FAILED;
    }
    if (first > in.begin && !opt->quiet)
        fprintf(stderr, "zufdec: %s: skipped %lu bytes before the first frame\n", in_path,
                (unsigned long)(first - in.begin));
    t0 = clock();
    rc = decode(in_path, out_name, &in, first, format, fd, opt, &st);
    secs = (double)(clock() - t0) / CLOCKS_PER_SEC;
    input_free(&in);

    if (opt->quiet || st.frames == 0) return rc;
    audio = st.sample_rate ? (double)st.samples / st.sample_rate : 0.0;
    fprintf(stderr, "zufdec: %s: %s%s, %d Hz, %d channel%s: %lu frames decoded", in_path, what,
            st.sbr == 2 ? " + SBR (down-sampled)"
            : st.sbr    ? " + SBR"
                        : "",
            st.sample_rate, st.channels, st.channels == 1 ? "" : "s", st.frames);
    if (st.tag_frames) fprintf(stderr, ", %lu tag frame not played", st.tag_frames);
    if (format == FORMAT_MP3) fprintf(stderr, ", %lu concealed (reservoir data missing)", st.concealed);
    if (format == FORMAT_ADTS) fprintf(stderr, ", %lu failed the CRC check", st.crc_errors);
    fprintf(stderr, ", %lu damaged, %lu junk bytes skipped\n", st.damaged, st.junk_bytes);
    if (secs > 0.0)
        fprintf(stderr, "zufdec: %.2f s of audio in %.3f s: %.0fx real time\n", audio, secs, audio / secs);
    else
        fprintf(stderr, "zufdec: %.2f s of audio\n", audio);
    if (!rc)
        fprintf(stderr, "zufdec: wrote %s (%s %s%s)\n", out_name, k_container_names[opt->format.container],
                k_sample_names[opt->format.sample],
                opt->format.sample != AUDIO_S16 && format != FORMAT_ADTS && format != FORMAT_MP4
                    ? ", from 16-bit samples"
                    : "");
    return rc;
}

/* ------------------------------------------------------------------ outputs */

typedef struct {
    struct stat seen[MAX_OUTPUTS]; /* outputs written by this call */
    int count;
} Written;

/* Asks on the terminal whether to overwrite `path`. */
static int ask_overwrite(const char *path) {
    char answer[16];
    fprintf(stderr, "zufdec: '%s' already exists. Overwrite? [y/N] ", path);
    fflush(stderr);
    if (!fgets(answer, sizeof answer, stdin)) return 0;
    return answer[0] == 'y' || answer[0] == 'Y';
}

/* Decodes in_path into out_path with every check of the file policy. */
static int decode_to(const char *in_path, const char *out_path, const Options *opt, Written *written) {
    struct stat in_st, out_st, stdout_st;
    const int from_stdin = strcmp(in_path, "-") == 0;
    const int have_stdout = fstat(1, &stdout_st) == 0;
    int to_stdout = strcmp(out_path, "-") == 0, exists, fd, rc, i, replace = 0;
    char dir[4096];
    const char *slash;

    if (from_stdin ? fstat(0, &in_st) != 0 : stat(in_path, &in_st) != 0) {
        fprintf(stderr, "zufdec: cannot open %s: %s\n", in_path, strerror(errno));
        return EXIT_FAILED;
    }
    exists = !to_stdout && stat(out_path, &out_st) == 0;
    /* A name for our own standard output (/dev/stdout, /proc/self/fd/1) is standard output. */
    if (exists && have_stdout && same_file(&out_st, &stdout_st)) to_stdout = 1;
    if (to_stdout) out_st = stdout_st;
    if ((exists || to_stdout) && S_ISREG(out_st.st_mode) && same_file(&out_st, &in_st)) {
        fprintf(stderr, "zufdec: %s is the input file %s: not overwritten\n", to_stdout ? "standard output" : out_path,
                in_path);
        return EXIT_REFUSED;
    }
    if (to_stdout) {
        if (isatty(1)) {
            fprintf(stderr, "zufdec: not writing audio to a terminal: name an output file or redirect it\n");
            return EXIT_REFUSED;
        }
        return decode_input(in_path, "standard output", 1, opt);
    }
    if (exists && !S_ISREG(out_st.st_mode)) {
        /* A device or a FIFO (/dev/null, a named pipe): written as it is, nothing to replace. */
        fd = open(out_path, O_WRONLY);
        if (fd < 0) {
            fprintf(stderr, "zufdec: cannot open %s: %s\n", out_path, strerror(errno));
            return EXIT_FAILED;
        }
        rc = decode_input(in_path, out_path, fd, opt);
        if (close(fd) != 0 && !rc) {
            fprintf(stderr, "zufdec: error writing %s: %s\n", out_path, strerror(errno));
            rc = EXIT_FAILED;
        }
        return rc;
    }
    if (exists) {
        for (i = 0; i < written->count; ++i)
            if (same_file(&written->seen[i], &out_st)) {
                fprintf(stderr, "zufdec: %s was already written by this command: not overwritten\n", out_path);
                return EXIT_REFUSED;
            }
        replace = opt->overwrite > 0 || (opt->overwrite == 0 && !from_stdin && isatty(0) && ask_overwrite(out_path));
        if (!replace) {
            fprintf(stderr, "zufdec: %s already exists: not overwritten (-y overwrites)\n", out_path);
            return EXIT_REFUSED;
        }
    }

    /* The temporary file beside the output, so that the final rename stays on one file system. */
    slash = strrchr(out_path, '/');
    if (slash)
        snprintf(dir, sizeof dir, "%.*s", (int)(slash - out_path + 1), out_path);
    else
        dir[0] = '\0';
    if (snprintf(g_tmp, sizeof g_tmp, "%s.%s.zufdec-XXXXXX", dir, slash ? slash + 1 : out_path) >= (int)sizeof g_tmp) {
        fprintf(stderr, "zufdec: cannot create %s: %s\n", out_path, strerror(ENAMETOOLONG));
        return EXIT_FAILED;
    }
    fd = mkstemp(g_tmp);
    if (fd < 0) {
        fprintf(stderr, "zufdec: cannot create %s: %s\n", out_path, strerror(errno));
        return EXIT_FAILED;
    }
    g_tmp_live = 1;
    {
        /* mkstemp makes the file private: give it the mode a new file (or the replaced one) has. */
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, exists ? out_st.st_mode & 07777 : 0666 & ~mask);
    }
    rc = decode_input(in_path, out_path, fd, opt);
    if (close(fd) != 0 && !rc) {
        fprintf(stderr, "zufdec: error writing %s: %s\n", out_path, strerror(errno));
        rc = EXIT_FAILED;
    }
    if (!rc && replace && rename(g_tmp, out_path) != 0) {
        fprintf(stderr, "zufdec: cannot create %s: %s\n", out_path, strerror(errno));
        rc = EXIT_FAILED;
    } else if (!rc && !replace && link(g_tmp, out_path) != 0) {
        /* link() does not replace an output that appeared meanwhile; file systems without hard
         * links fall back to rename(). */
        if (errno == EEXIST) {
            fprintf(stderr, "zufdec: %s appeared while decoding: not overwritten\n", out_path);
            rc = EXIT_REFUSED;
        } else if (rename(g_tmp, out_path) != 0) {
            fprintf(stderr, "zufdec: cannot create %s: %s\n", out_path, strerror(errno));
            rc = EXIT_FAILED;
        }
    }
    unlink(g_tmp); /* after a link() the output keeps the data; on failure nothing is left */
    g_tmp_live = 0;
    if (!rc && stat(out_path, &out_st) == 0 && written->count < MAX_OUTPUTS) written->seen[written->count++] = out_st;
    return rc;
}

/* ------------------------------------------------------------------ options */

/* An OUTPUT name among the positional names: -, a device or an output extension. */
static int looks_like_output(const char *name) {
    static const char *const exts[] = {".wav", ".flac", ".raw", ".pcm"};
    const char *dot = strrchr(name, '.');
    struct stat st;
    size_t i;
    if (strcmp(name, "-") == 0) return 1;
    if (stat(name, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return 1;
    for (i = 0; dot && i < sizeof exts / sizeof exts[0]; ++i)
        if (strcmp(dot, exts[i]) == 0) return 1;
    return 0;
}

/* The default output of an input: its name with the extension of the format. */
static void default_output(const char *in, const char *ext, char *out, size_t len) {
    const char *slash = strrchr(in, '/'), *dot = strrchr(in, '.');
    size_t stem = dot && (!slash || dot > slash + 1) && dot != in ? (size_t)(dot - in) : strlen(in);
    snprintf(out, len, "%.*s%s", (int)stem, in, ext);
}

/* The value of an option: "-oFILE", "--output=FILE", or the next argument. */
static const char *option_value(int argc, char **argv, int *a, const char *inline_value) {
    if (inline_value) return inline_value;
    return *a + 1 < argc ? argv[++*a] : NULL;
}

int main(int argc, char **argv) {
    static Written written;
    Options opt;
    /* The names are gathered at the front of argv: slot n is always behind the argument read. */
    char **names = argv;
    const char *bits = NULL, *ext = ".wav";
    int a, n = 0, only_names = 0, rc = EXIT_DECODED, i;
    size_t k;

    memset(&opt, 0, sizeof opt);
    for (a = 1; a < argc; ++a) {
        const char *s = argv[a], *val = NULL;
        const char *eq = strncmp(s, "--", 2) == 0 ? strchr(s, '=') : NULL;
        size_t len = eq ? (size_t)(eq - s) : strlen(s);
        if (only_names || s[0] != '-' || s[1] == '\0') {
            names[n++] = argv[a];
        } else if (strcmp(s, "--") == 0) {
            only_names = 1;
        } else if (!strcmp(s, "-h") || !strcmp(s, "--help")) {
            usage(stdout);
            return EXIT_DECODED;
        } else if (!strcmp(s, "-V") || !strcmp(s, "--version")) {
            version();
            return EXIT_DECODED;
        } else if (!strcmp(s, "-q") || !strcmp(s, "--quiet")) {
            opt.quiet = 1;
        } else if (!strcmp(s, "-y")) {
            if (opt.overwrite == 0) opt.overwrite = 1;
        } else if (!strcmp(s, "-n")) {
            opt.overwrite = -1; /* never beats -y */
        } else if (!strcmp(s, "--no-gapless")) {
            opt.no_gapless = 1;
        } else if (!strncmp(s, "--sbr=", 6)) {
            /* MODE[-BANKS] or BANKS: hq or lp, float or fixed */
            static const struct {
                const char *name;
                SbrMode mode;
                SbrBank bank;
            } kinds[] = {{"float", SBR_MODE_HQ, SBR_BANK_FLOAT}, {"fixed", SBR_MODE_HQ, SBR_BANK_FIXED},
                         {"hq", SBR_MODE_HQ, SBR_BANK_FLOAT},    {"hq-fixed", SBR_MODE_HQ, SBR_BANK_FIXED},
                         {"lp", SBR_MODE_LP, SBR_BANK_FLOAT},    {"lp-fixed", SBR_MODE_LP, SBR_BANK_FIXED}};
            size_t k;
            for (k = 0; k < sizeof kinds / sizeof kinds[0] && strcmp(s + 6, kinds[k].name); ++k) continue;
            if (k == sizeof kinds / sizeof kinds[0])
                return usage_error("--sbr takes hq, lp, float, fixed, hq-fixed or lp-fixed, not '%s'", s + 6);
            sbr_set_mode(kinds[k].mode);
            sbr_set_bank(kinds[k].bank);
        } else if (!strcmp(s, "--downmix")) {
            opt.downmix = 1;
        } else if (!strcmp(s, "-ac")) {
            /* ffmpeg's spelling: only 2 (stereo) is offered */
            if (a + 1 >= argc || strcmp(argv[a + 1], "2")) return usage_error("%s takes 2 (a stereo downmix)", s);
            ++a;
            opt.downmix = 1;
        } else if ((s[1] == 'o' || s[1] == 'f' || s[1] == 'b') || (len == 8 && !strncmp(s, "--output", len)) ||
                   (len == 8 && !strncmp(s, "--format", len)) || (len == 6 && !strncmp(s, "--bits", len))) {
            const char which = s[1] == '-' ? s[2] : s[1];
            val = option_value(argc, argv, &a, eq ? eq + 1 : s[1] != '-' && s[2] ? s + 2 : NULL);
            if (!val) return usage_error("option %s needs a value", s);
            if (which == 'o') {
                opt.output = val;
            } else if (which == 'b') {
                bits = val;
            } else {
                for (k = 0; k < sizeof k_formats / sizeof k_formats[0]; ++k)
                    if (!strcmp(val, k_formats[k].name)) break;
                if (k == sizeof k_formats / sizeof k_formats[0])
                    return usage_error("unknown format '%s' (wav, flac, s16le, s24le, f32le)", val);
                opt.format = k_formats[k].format;
                opt.format_set = 1;
                ext = k_formats[k].ext;
            }
        } else {
            return usage_error("unknown option '%s'", s);
        }
    }
    if (n == 0) {
        usage(stderr);
        return EXIT_USAGE;
    }
    if (!opt.output && n == 2 && looks_like_output(names[1])) opt.output = names[--n];
    if (opt.output && n > 1) return usage_error("one output (%s) for several inputs", opt.output);
    if (!opt.format_set && opt.output) {
        const char *dot = strrchr(opt.output, '.');
        if (dot && !strcmp(dot, ".flac")) opt.format.container = AUDIO_FLAC;
    }
    if (bits) {
        if (opt.format.container == AUDIO_RAW)
            return usage_error("-b %s with raw PCM: the -f name gives the sample type", bits);
        if (!strcmp(bits, "16"))
            opt.format.sample = AUDIO_S16;
        else if (!strcmp(bits, "24"))
            opt.format.sample = AUDIO_S24;
        else if (!strcmp(bits, "f32") || !strcmp(bits, "32f") || !strcmp(bits, "float"))
            opt.format.sample = AUDIO_F32;
        else
            return usage_error("-b %s: 16, 24 or f32", bits);
    }
    if (opt.format.container == AUDIO_FLAC && opt.format.sample == AUDIO_F32)
        return usage_error("%s: FLAC holds 16 or 24-bit integers", "-b f32");

    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGHUP, on_signal);
    for (i = 0; i < n; ++i) {
        char out[4096];
        int r;
        if (opt.output)
            snprintf(out, sizeof out, "%s", opt.output);
        else if (!strcmp(names[i], "-"))
            snprintf(out, sizeof out, "-");
        else
            default_output(names[i], ext, out, sizeof out);
        r = decode_to(names[i], out, &opt, &written);
        if (r > rc) rc = r;
    }
    return rc;
}
