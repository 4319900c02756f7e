/*
 * zufenc: encodes 16-bit PCM (WAV, or another file libsndfile reads) to MP3 with libzufack9's
 * public API, through the example encoder of tools/example/mp3_encoder.h.
 *
 *   zufenc [OPTIONS] INPUT OUTPUT.mp3
 *
 * MPEG-1 Layer III at constant bit rate, 32, 44.1 or 48 kHz, mono or stereo. The stream starts
 * with an Info frame whose LAME extension states the encoder delay and padding, so gapless
 * decoders return exactly the input's length. Files are never destroyed: an output that is the
 * input is refused, an existing output is replaced only with -y, and a file output is written to
 * a temporary file beside it that is renamed into place only when encoding succeeded (removed
 * otherwise, also on SIGINT, SIGTERM and SIGHUP). usage() below is the manual.
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

#include <sndfile.h>

#include "example/mp3_encoder.h"

#ifndef ZUF_TOOL_VERSION
#define ZUF_TOOL_VERSION "unknown"
#endif

enum { EXIT_ENCODED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_REFUSED = 3 };

typedef struct {
    int kbps;
    int mode; /* -1: joint stereo for two channels, mono for one */
    int rate_loop;
    int strict_iso;
    int quiet;
    int overwrite;
    const char *in, *out;
} Options;

static char g_tmp[4096];
static volatile sig_atomic_t g_tmp_live;

static void on_signal(int sig) {
    if (g_tmp_live) unlink(g_tmp);
    signal(sig, SIG_DFL);
    raise(sig);
}

static void usage(FILE *f) {
    fprintf(f,
            "usage: zufenc [OPTIONS] INPUT OUTPUT.mp3\n"
            "Encodes 16-bit PCM (WAV, or another file libsndfile reads) at 32000, 44100 or 48000 Hz, mono or\n"
            "stereo, to MPEG-1 Layer III at a constant bit rate. The first frame is an Info frame with the\n"
            "encoder delay and padding: gapless decoders (FFmpeg, mpg123, zufdec) return the input's exact length.\n"
            "\n"
            "OUTPUT - writes standard output (not a terminal).\n"
            "\n"
            "Options:\n"
            "  -b KBPS            bit rate in kbit/s: 32 40 48 56 64 80 96 112 128 (default) 160 192 224 256 320\n"
            "  -m MODE            joint (default for two channels: mid/side where it pays; with the library's\n"
            "                     rate loop intensity stereo at 80 to 112 kbit/s), stereo (left/right only),\n"
            "                     mono (two channels are mixed)\n"
            "  --rate-loop NAME   uniform (default): one quantiser step per granule and channel, no scale\n"
            "                     factors, the finest that fit; library: the library's rate loop (scale\n"
            "                     factors from the psychoacoustic model, intensity stereo at 80 to 112 kbit/s)\n"
            "                     where a frame has a bit reservoir\n"
            "  --strictly-enforce-ISO  keep the bit reservoir within the 7680-bit decoder buffer of\n"
            "                     ISO/IEC 11172-3 (none at 320 kbit/s); by default frames reach back as far\n"
            "                     as main_data_begin allows (511 bytes), as LAME's do\n"
            "  -y, -f, --force    overwrite an existing output file\n"
            "  -q, --quiet        print errors only (otherwise progress on a terminal, and a summary)\n"
            "  -h, --help         this help; -V, --version: versions of zufenc and the library\n"
            "\n"
            "Refused: other sampling rates, samples other than 16-bit integers (8-bit, 24-bit, float),\n"
            "more than two channels, inputs of unknown length.\n"
            "\n"
            "Exit status: 0 encoded; 1 the input could not be read or is refused, or the output could not be\n"
            "written; 2 usage error; 3 the output was refused (it exists and -y was not given, it is the\n"
            "input, or it is a terminal).\n");
}

static int usage_error(const char *fmt, const char *arg) {
    fputs("zufenc: ", stderr);
    fprintf(stderr, fmt, arg);
    fputs("\nTry 'zufenc --help' for more information.\n", stderr);
    return EXIT_USAGE;
}

static int write_all(int fd, const Zuf8u *p, size_t n) {
    while (n) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return 1;
        p += w, n -= (size_t)w;
    }
    return 0;
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

/* What libsndfile calls the sample type, for the refusal. */
static const char *sample_name(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return "8-bit integer";
        case SF_FORMAT_PCM_24:
            return "24-bit integer";
        case SF_FORMAT_PCM_32:
            return "32-bit integer";
        case SF_FORMAT_FLOAT:
            return "32-bit float";
        case SF_FORMAT_DOUBLE:
            return "64-bit float";
        default:
            return "compressed or unusual";
    }
}

/* Encodes the open input into fd. */
static int encode(SNDFILE *sf, const SF_INFO *info, const Options *opt, int fd, const char *out_name) {
    static Zuf16s in[1152 * 2], mono[1152];
    Mp3Encoder *e = malloc(sizeof *e);
    Mp3EncConfig cfg;
    char why[256];
    const int tty = !opt->quiet && isatty(2);
    const double t0 = now();
    double next = t0 + 0.5;
    unsigned long done = 0;
    int rc = 0;

    if (!e) {
        fprintf(stderr, "zufenc: out of memory\n");
        return EXIT_FAILED;
    }
    cfg.sample_rate = info->samplerate;
    cfg.kbps = opt->kbps;
    cfg.rate_loop = opt->rate_loop;
    cfg.strict_iso = opt->strict_iso;
    cfg.mode = opt->mode >= 0 ? opt->mode : info->channels == 1 ? MP3ENC_MONO : MP3ENC_JOINT;
    cfg.channels = cfg.mode == MP3ENC_MONO ? 1 : info->channels;
    if (info->channels == 1 && cfg.mode != MP3ENC_MONO) {
        fprintf(stderr, "zufenc: %s: one channel: -m %s needs two\n", opt->in,
                cfg.mode == MP3ENC_JOINT ? "joint" : "stereo");
        free(e);
        return EXIT_FAILED;
    }
    if (mp3enc_init(e, &cfg, (unsigned long)info->frames, why, sizeof why)) {
        fprintf(stderr, "zufenc: %s: refused: %s\n", opt->in, why);
        free(e);
        return EXIT_FAILED;
    }
    if (write_all(fd, e->out, e->out_len)) goto write_error;
    e->out_len = 0;
    for (;;) {
        const sf_count_t n = sf_readf_short(sf, in, 1152);
        const Zuf16s *pcm = in;
        if (n <= 0) break;
        if (done + (unsigned long)n > (unsigned long)info->frames) break; /* never more than announced */
        if (info->channels == 2 && cfg.channels == 1) {
            sf_count_t i;
            for (i = 0; i < n; ++i) mono[i] = (Zuf16s)(((int)in[2 * i] + in[2 * i + 1]) >> 1);
            pcm = mono;
        }
        if (mp3enc_push(e, pcm, (size_t)n, why, sizeof why)) {
            rc = 1;
            break;
        }
        done += (unsigned long)n;
        if (write_all(fd, e->out, e->out_len)) goto write_error;
        e->out_len = 0;
        if (tty && now() >= next) {
            const double secs = now() - t0;
            fprintf(stderr, "\rzufenc: %3d%%  %.1fx real time",
                    info->frames ? (int)(100.0 * (double)done / (double)info->frames) : 100,
                    secs > 0 ? (double)done / info->samplerate / secs : 0.0);
            next = now() + 0.5;
        }
    }
    if (!rc && done != (unsigned long)info->frames) {
        snprintf(why, sizeof why, "read %lu of %lu sample frames", done, (unsigned long)info->frames);
        rc = 1;
    }
    while (!rc) {
        const int r = mp3enc_finish(e, why, sizeof why);
        if (r == 1) rc = 1;
        if (write_all(fd, e->out, e->out_len)) goto write_error;
        e->out_len = 0;
        if (r == 0) break;
    }
    if (tty) fprintf(stderr, "\r%40s\r", "");
    if (rc) {
        fprintf(stderr, "zufenc: %s: %s\n", opt->in, why);
        free(e);
        return EXIT_FAILED;
    }
    if (!opt->quiet) {
        const double secs = now() - t0, audio = (double)done / info->samplerate;
        static const char *const modes[4] = {"stereo", "joint stereo", "", "mono"};
        fprintf(stderr,
                "zufenc: %s -> %s: %d Hz %s, %d kbit/s, %lu frames (%llu bytes), %.2f s of audio in %.2f s "
                "(%.1fx real time); short-block granules %lu, M/S frames %lu, intensity frames %lu\n",
                opt->in, out_name, cfg.sample_rate, modes[cfg.mode], cfg.kbps, e->coded + 1, mp3enc_stream_bytes(e),
                audio, secs, secs > 0 ? audio / secs : 0.0, e->short_granules, e->ms_frames, e->is_frames);
    }
    free(e);
    return EXIT_ENCODED;
write_error:
    fprintf(stderr, "zufenc: error writing %s: %s\n", out_name, strerror(errno));
    free(e);
    return EXIT_FAILED;
}

static int same_file(const struct stat *a, const struct stat *b) {
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

/* Opens and checks the input, then encodes it into the output under the file policy. */
static int run(const Options *opt) {
    SF_INFO info;
    SNDFILE *sf;
    struct stat in_st, out_st;
    const int to_stdout = strcmp(opt->out, "-") == 0;
    int exists, fd, rc, sub;
    char dir[4096];
    const char *slash;

    if (stat(opt->in, &in_st) != 0) {
        fprintf(stderr, "zufenc: cannot open %s: %s\n", opt->in, strerror(errno));
        return EXIT_FAILED;
    }
    exists = to_stdout ? fstat(1, &out_st) == 0 : stat(opt->out, &out_st) == 0;
    if (exists && S_ISREG(out_st.st_mode) && same_file(&in_st, &out_st)) {
        fprintf(stderr, "zufenc: %s is the input file: not overwritten\n", to_stdout ? "standard output" : opt->out);
        return EXIT_REFUSED;
    }
    if (to_stdout && isatty(1)) {
        fprintf(stderr, "zufenc: not writing MP3 to a terminal: name an output file or redirect it\n");
        return EXIT_REFUSED;
    }
    if (!to_stdout && exists && S_ISREG(out_st.st_mode) && !opt->overwrite) {
        fprintf(stderr, "zufenc: %s already exists: not overwritten (-y overwrites)\n", opt->out);
        return EXIT_REFUSED;
    }

    memset(&info, 0, sizeof info);
    sf = sf_open(opt->in, SFM_READ, &info);
    if (!sf) {
        fprintf(stderr, "zufenc: %s: not a readable audio file: %s\n", opt->in, sf_strerror(NULL));
        return EXIT_FAILED;
    }
    sub = info.format & SF_FORMAT_SUBMASK;
    rc = EXIT_FAILED;
    if (sub != SF_FORMAT_PCM_16)
        fprintf(stderr, "zufenc: %s: refused: %s samples; 16-bit integer PCM is encoded\n", opt->in, sample_name(sub));
    else if (info.channels > 2)
        fprintf(stderr, "zufenc: %s: refused: %d channels; one or two are encoded\n", opt->in, info.channels);
    else if (info.samplerate != 32000 && info.samplerate != 44100 && info.samplerate != 48000)
        fprintf(stderr, "zufenc: %s: refused: sampling rate %d Hz; MPEG-1 Layer III takes 32000, 44100 or 48000\n",
                opt->in, info.samplerate);
    else if (info.frames < 0 || (unsigned long long)info.frames >= (1ull << 40))
        fprintf(stderr, "zufenc: %s: refused: its length is not known in advance\n", opt->in);
    else
        rc = EXIT_ENCODED;
    if (rc != EXIT_ENCODED) {
        sf_close(sf);
        return rc;
    }

    if (to_stdout || (exists && !S_ISREG(out_st.st_mode))) {
        fd = to_stdout ? 1 : open(opt->out, O_WRONLY);
        if (fd < 0) {
            fprintf(stderr, "zufenc: cannot open %s: %s\n", opt->out, strerror(errno));
            sf_close(sf);
            return EXIT_FAILED;
        }
        rc = encode(sf, &info, opt, fd, to_stdout ? "standard output" : opt->out);
        sf_close(sf);
        if (!to_stdout) close(fd);
        return rc;
    }
    /* A temporary file beside the output, renamed into place when the whole stream is written. */
    slash = strrchr(opt->out, '/');
    if (slash)
        snprintf(dir, sizeof dir, "%.*s", (int)(slash - opt->out + 1), opt->out);
    else
        dir[0] = '\0';
    if (snprintf(g_tmp, sizeof g_tmp, "%s.%s.zufenc-XXXXXX", dir, slash ? slash + 1 : opt->out) >= (int)sizeof g_tmp) {
        fprintf(stderr, "zufenc: cannot create %s: %s\n", opt->out, strerror(ENAMETOOLONG));
        sf_close(sf);
        return EXIT_FAILED;
    }
    fd = mkstemp(g_tmp);
    if (fd < 0) {
        fprintf(stderr, "zufenc: cannot create %s: %s\n", opt->out, strerror(errno));
        sf_close(sf);
        return EXIT_FAILED;
    }
    g_tmp_live = 1;
    {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, exists ? out_st.st_mode & 07777 : 0666 & ~mask);
    }
    rc = encode(sf, &info, opt, fd, opt->out);
    sf_close(sf);
    if (close(fd) != 0 && !rc) {
        fprintf(stderr, "zufenc: error writing %s: %s\n", opt->out, strerror(errno));
        rc = EXIT_FAILED;
    }
    if (!rc && exists && rename(g_tmp, opt->out) != 0) {
        fprintf(stderr, "zufenc: cannot create %s: %s\n", opt->out, strerror(errno));
        rc = EXIT_FAILED;
    } else if (!rc && !exists && link(g_tmp, opt->out) != 0) {
        /* link() does not replace an output that appeared meanwhile. */
        if (errno == EEXIST) {
            fprintf(stderr, "zufenc: %s appeared while encoding: not overwritten\n", opt->out);
            rc = EXIT_REFUSED;
        } else if (rename(g_tmp, opt->out) != 0) {
            fprintf(stderr, "zufenc: cannot create %s: %s\n", opt->out, strerror(errno));
            rc = EXIT_FAILED;
        }
    }
    unlink(g_tmp);
    g_tmp_live = 0;
    return rc;
}

int main(int argc, char **argv) {
    Options opt;
    int i, names = 0, opts_done = 0;
    memset(&opt, 0, sizeof opt);
    opt.kbps = 128;
    opt.mode = -1;
    for (i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (!opts_done && a[0] == '-' && a[1]) {
            if (strcmp(a, "--") == 0) {
                opts_done = 1;
            } else if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
                usage(stdout);
                return EXIT_ENCODED;
            } else if (strcmp(a, "-V") == 0 || strcmp(a, "--version") == 0) {
                const LibVersionRecord *v = zufacGetLibVersion();
                printf("zufenc %s (libzufack9 example tools)\nlibrary: %s %s\naudio files: %s\n", ZUF_TOOL_VERSION,
                       v->libName, v->versionText, sf_version_string());
                return EXIT_ENCODED;
            } else if (strcmp(a, "--strictly-enforce-ISO") == 0) {
                opt.strict_iso = 1;
            } else if (strcmp(a, "-q") == 0 || strcmp(a, "--quiet") == 0) {
                opt.quiet = 1;
            } else if (strcmp(a, "-y") == 0 || strcmp(a, "-f") == 0 || strcmp(a, "--force") == 0) {
                opt.overwrite = 1;
            } else if (strcmp(a, "--rate-loop") == 0 || strncmp(a, "--rate-loop=", 12) == 0) {
                const char *v = a[11] == '=' ? a + 12 : i + 1 < argc ? argv[++i] : NULL;
                if (!v) return usage_error("option %s needs a value", a);
                if (strcmp(v, "uniform") == 0)
                    opt.rate_loop = MP3ENC_UNIFORM;
                else if (strcmp(v, "library") == 0)
                    opt.rate_loop = MP3ENC_LIBRARY_LOOP;
                else
                    return usage_error("rate loop '%s': uniform or library", v);
            } else if (strcmp(a, "-b") == 0 || strcmp(a, "-m") == 0) {
                const char *v = i + 1 < argc ? argv[++i] : NULL;
                char *end;
                if (!v) return usage_error("option %s needs a value", a);
                if (a[1] == 'b') {
                    const long k = strtol(v, &end, 10);
                    if (*end || end == v || !mp3enc_bitrate_index((int)k))
                        return usage_error("bit rate '%s': 32 40 48 56 64 80 96 112 128 160 192 224 256 320", v);
                    opt.kbps = (int)k;
                } else if (strcmp(v, "mono") == 0 || strcmp(v, "m") == 0) {
                    opt.mode = MP3ENC_MONO;
                } else if (strcmp(v, "stereo") == 0 || strcmp(v, "s") == 0) {
                    opt.mode = MP3ENC_STEREO;
                } else if (strcmp(v, "joint") == 0 || strcmp(v, "j") == 0) {
                    opt.mode = MP3ENC_JOINT;
                } else {
                    return usage_error("mode '%s': mono, stereo or joint", v);
                }
            } else {
                return usage_error("unknown option %s", a);
            }
        } else if (names == 0) {
            opt.in = a, ++names;
        } else if (names == 1) {
            opt.out = a, ++names;
        } else {
            return usage_error("too many names: %s", a);
        }
    }
    if (names != 2) return usage_error("%s", names ? "no OUTPUT named" : "no INPUT named");
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGHUP, on_signal);
    return run(&opt);
}
