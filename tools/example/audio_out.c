/*
 * Audio output: libsndfile for seekable WAV and FLAC files, our own little-endian writer for WAV
 * streams and raw PCM (and for every WAV when the tools are built without libsndfile).
 */
#define _POSIX_C_SOURCE 200809L
#include "audio_out.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef ZUF_HAVE_SNDFILE
#include <sndfile.h>
#endif

#define UNKNOWN_SIZE 0xFFFFFFFFul /* a RIFF size still unknown (ffmpeg and sox write this) */

static const int k_bytes[3] = {2, 3, 4}; /* bytes per sample of AudioSample */

/* The speakers FLAC assumes for 3 to 8 channels (its format's fixed channel assignments). */
static const unsigned long k_flac_masks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

int audio_have_flac(void) {
#ifdef ZUF_HAVE_SNDFILE
    return 1;
#else
    return 0;
#endif
}

const char *audio_sndfile_version(void) {
#ifdef ZUF_HAVE_SNDFILE
    return sf_version_string();
#else
    return NULL;
#endif
}

const char *audio_strerror(const AudioWriter *w) {
#ifdef ZUF_HAVE_SNDFILE
    if (w->error == -1) return sf_strerror((SNDFILE *)w->sndfile);
#endif
    return w->error > 0 ? strerror(w->error) : "unknown error";
}

static void put_le(unsigned char *p, unsigned long v, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

static int write_all(AudioWriter *w, const unsigned char *p, size_t n) {
    while (n > 0 && !w->error) {
        const ssize_t k = write(w->fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
            w->error = k < 0 ? errno : EIO;
            break;
        }
        p += k;
        n -= (size_t)k;
    }
    return w->error != 0;
}

static int flush(AudioWriter *w) {
    const int bad = write_all(w, w->buf, w->used);
    w->flushed += w->used;
    w->used = 0;
    return bad;
}

/* WAV header: format 1 (PCM) or 3 (IEEE float, with the cbSize word and a fact chunk that
 * non-PCM formats carry); WAVE_FORMAT_EXTENSIBLE (0xFFFE, its sub-format one of those two) for
 * more than 2 channels with a channel mask, so that players place each channel on its speaker.
 * `data` is the size of the sample data, or UNKNOWN_SIZE. */
static size_t wav_header(const AudioWriter *w, unsigned long data, unsigned char *h) {
    static const unsigned char k_guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    const int fl = w->format.sample == AUDIO_F32, bytes = k_bytes[w->format.sample];
    const int ext = w->channels > 2 && w->channel_mask != 0;
    const unsigned long block = (unsigned long)(bytes * w->channels);
    const size_t fmt = ext ? 40 : fl ? 18 : 16, len = 20 + fmt + (fl ? 12 : 0) + 8;
    unsigned char *p = h + 36;
    memcpy(h, "RIFF", 4);
    put_le(h + 4, data == UNKNOWN_SIZE ? UNKNOWN_SIZE : data + len - 8, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, fmt, 4);
    put_le(h + 20, ext ? 0xFFFE : fl ? 3 : 1, 2);
    put_le(h + 22, (unsigned long)w->channels, 2);
    put_le(h + 24, (unsigned long)w->sample_rate, 4);
    put_le(h + 28, (unsigned long)w->sample_rate * block, 4);
    put_le(h + 32, block, 2);
    put_le(h + 34, (unsigned long)(8 * bytes), 2);
    if (ext) {
        put_le(p, 22, 2);                             /* cbSize */
        put_le(p + 2, (unsigned long)(8 * bytes), 2); /* wValidBitsPerSample */
        put_le(p + 4, w->channel_mask, 4);
        put_le(p + 8, fl ? 3 : 1, 2); /* sub-format GUID: the format tag, then the fixed tail */
        memcpy(p + 10, k_guid_tail, 14);
        p += 24;
    } else if (fl) {
        put_le(p, 0, 2); /* cbSize */
        p += 2;
    }
    if (fl) {
        memcpy(p, "fact", 4);
        put_le(p + 4, 4, 4);
        put_le(p + 8, data == UNKNOWN_SIZE ? UNKNOWN_SIZE : data / block, 4);
    }
    memcpy(h + len - 8, "data", 4);
    put_le(h + len - 4, data, 4);
    return len;
}

/* Output that can take a completed header at the end: a regular file written from its start. */
static int seekable(int fd) {
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags != -1 && !(flags & O_APPEND) &&
           lseek(fd, 0, SEEK_CUR) == 0;
}

#ifdef ZUF_HAVE_SNDFILE
/* libsndfile's names for the speaker bits of WAVE_FORMAT_EXTENSIBLE, lowest bit first. */
static const int k_sf_speakers[11] = {SF_CHANNEL_MAP_LEFT,
                                      SF_CHANNEL_MAP_RIGHT,
                                      SF_CHANNEL_MAP_CENTER,
                                      SF_CHANNEL_MAP_LFE,
                                      SF_CHANNEL_MAP_REAR_LEFT,
                                      SF_CHANNEL_MAP_REAR_RIGHT,
                                      SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
                                      SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
                                      SF_CHANNEL_MAP_REAR_CENTER,
                                      SF_CHANNEL_MAP_SIDE_LEFT,
                                      SF_CHANNEL_MAP_SIDE_RIGHT};

/* The channel map of w's mask for libsndfile (which then writes WAVEX with that mask). */
static int sndfile_channel_map(AudioWriter *w) {
    int map[32], n = 0, bit;
    for (bit = 0; bit < 11 && n < w->channels; ++bit)
        if (w->channel_mask & (1ul << bit)) map[n++] = k_sf_speakers[bit];
    if (n != w->channels) return 0;
    return sf_command((SNDFILE *)w->sndfile, SFC_SET_CHANNEL_MAP_INFO, map, (int)(sizeof(int) * (size_t)n)) != SF_TRUE;
}
#endif

int audio_open(AudioWriter *w, int fd, AudioFormat format, int channels, unsigned long channel_mask, int sample_rate,
               char *why, size_t why_len) {
    memset(w, 0, offsetof(AudioWriter, buf));
    w->fd = fd;
    w->format = format;
    w->channels = channels;
    w->channel_mask = channel_mask;
    w->sample_rate = sample_rate;
    w->seekable = seekable(fd);
    if (format.container == AUDIO_FLAC) {
        if (!audio_have_flac()) {
            snprintf(why, why_len, "FLAC output needs libsndfile, and this program was built without it");
            return 1;
        }
        if (format.sample == AUDIO_F32) {
            snprintf(why, why_len, "FLAC holds 16 or 24-bit integers, not floats");
            return 1;
        }
        if (!w->seekable) {
            snprintf(why, why_len, "FLAC is written only to a file (libsndfile does not write it to a pipe)");
            return 1;
        }
        if (channels > 2 && channel_mask && channel_mask != k_flac_masks[channels < 9 ? channels : 0]) {
            snprintf(why, why_len,
                     "FLAC's %d-channel order has other speakers than this stream's (mask 0x%lx): write WAV instead",
                     channels, channel_mask);
            return 1;
        }
    }
#ifdef ZUF_HAVE_SNDFILE
    if (format.container != AUDIO_RAW && w->seekable) {
        static const int subtype[3] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT};
        SF_INFO info;
        const int ext = format.container == AUDIO_WAV && channels > 2 && channel_mask;
        memset(&info, 0, sizeof info);
        info.channels = channels;
        info.samplerate = sample_rate;
        info.format = (format.container == AUDIO_FLAC ? SF_FORMAT_FLAC
                       : ext                          ? SF_FORMAT_WAVEX
                                                      : SF_FORMAT_WAV) |
                      subtype[format.sample];
        w->sndfile = sf_open_fd(fd, SFM_WRITE, &info, 0);
        if (!w->sndfile) {
            snprintf(why, why_len, "libsndfile: %s", sf_strerror(NULL));
            return 1;
        }
        if (ext && sndfile_channel_map(w)) {
            snprintf(why, why_len, "libsndfile refused the channel mask 0x%lx", channel_mask);
            return 1;
        }
        return 0;
    }
#endif
    if (format.container == AUDIO_WAV) {
        w->header_len = wav_header(w, UNKNOWN_SIZE, w->buf);
        w->used = w->header_len;
    }
    (void)why;
    (void)why_len;
    return 0;
}

/* Sample i of the output type from the 16-bit or the wide samples. */
static Zuf32s sample24(const Zuf16s *pcm, const Zuf32f *wide, size_t i) {
    double v;
    if (!wide) return (Zuf32s)pcm[i] * 256;
    v = floor((double)wide[i] * 8388608.0 + 0.5);
    return v > 8388607.0 ? 8388607 : v < -8388608.0 ? -8388608 : (Zuf32s)v;
}
static Zuf32f sample_f32(const Zuf16s *pcm, const Zuf32f *wide, size_t i) {
    return wide ? wide[i] : (Zuf32f)pcm[i] * (1.0f / 32768.0f);
}

#ifdef ZUF_HAVE_SNDFILE
/* The error of a failed libsndfile call: its errno when the system failed, else -1. */
static int sndfile_error(const AudioWriter *w) {
    return sf_error((SNDFILE *)w->sndfile) == SF_ERR_SYSTEM && errno ? errno : -1;
}

/* 16-bit samples held in buf (w->used bytes) go to libsndfile, which writes what it is given at
 * once: a decoded frame at a time would cost one system call per 4 KB. */
static int sndfile_flush16(AudioWriter *w) {
    const sf_count_t f = (sf_count_t)(w->used / 2 / (size_t)w->channels);
    w->used = 0;
    return f > 0 && sf_writef_short((SNDFILE *)w->sndfile, (const short *)(void *)w->buf, f) != f;
}

static int sndfile_write(AudioWriter *w, const Zuf16s *pcm, const Zuf32f *wide, unsigned long frames) {
    SNDFILE *s = (SNDFILE *)w->sndfile;
    const size_t n = frames * (size_t)w->channels, chunk = sizeof w->buf / 4 / (size_t)w->channels;
    size_t done = 0;
    if (w->format.sample == AUDIO_S16) {
        if (w->used + 2 * n > sizeof w->buf && sndfile_flush16(w)) return 1;
        if (2 * n > sizeof w->buf) return sf_writef_short(s, pcm, (sf_count_t)frames) != (sf_count_t)frames;
        memcpy(w->buf + w->used, pcm, 2 * n);
        w->used += 2 * n;
        return 0;
    }
    /* 24-bit goes through int (libsndfile keeps its top 24 bits: exact), float as is. */
    while (done < n) {
        const size_t k = n - done < chunk * (size_t)w->channels ? n - done : chunk * (size_t)w->channels;
        const sf_count_t f = (sf_count_t)(k / (size_t)w->channels);
        size_t i;
        if (w->format.sample == AUDIO_S24) {
            int *v = (int *)(void *)w->buf;
            for (i = 0; i < k; ++i) v[i] = (int)((Zuf32u)sample24(pcm, wide, done + i) << 8);
            if (sf_writef_int(s, v, f) != f) return 1;
        } else {
            float *v = (float *)(void *)w->buf;
            for (i = 0; i < k; ++i) v[i] = sample_f32(pcm, wide, done + i);
            if (sf_writef_float(s, v, f) != f) return 1;
        }
        done += k;
    }
    return 0;
}
#endif

int audio_write(AudioWriter *w, const Zuf16s *pcm, const Zuf32f *wide, unsigned long frames) {
    const size_t n = frames * (size_t)w->channels;
    const int bytes = k_bytes[w->format.sample];
    size_t i;
    if (w->error) return 1;
#ifdef ZUF_HAVE_SNDFILE
    if (w->sndfile) {
        if (sndfile_write(w, pcm, wide, frames)) {
            w->error = sndfile_error(w);
            return 1;
        }
        w->frames += frames;
        return 0;
    }
#endif
    for (i = 0; i < n; ++i) {
        unsigned char *p;
        if (w->used + 4 > sizeof w->buf && flush(w)) return 1;
        p = w->buf + w->used;
        if (w->format.sample == AUDIO_S16) {
            put_le(p, (unsigned long)(Zuf16u)pcm[i], 2);
        } else if (w->format.sample == AUDIO_S24) {
            put_le(p, (unsigned long)(Zuf32u)sample24(pcm, wide, i), 3);
        } else {
            const Zuf32f f = sample_f32(pcm, wide, i);
            Zuf32u u;
            memcpy(&u, &f, 4);
            put_le(p, u, 4);
        }
        w->used += (size_t)bytes;
    }
    w->frames += frames;
    return 0;
}

int audio_close(AudioWriter *w) {
#ifdef ZUF_HAVE_SNDFILE
    if (w->sndfile) {
        if (!w->error && sndfile_flush16(w)) w->error = sndfile_error(w);
        const int bad = sf_close((SNDFILE *)w->sndfile) != 0;
        if (bad && !w->error) w->error = -1;
        w->sndfile = NULL;
        return w->error != 0;
    }
#endif
    if (w->header_len && w->flushed == 0) {
        /* Nothing flushed yet, so the header still sits in buf: it goes out with its sizes, even
         * to a pipe (RIFF sizes are 32 bits: a longer stream is never held whole in buf). */
        const unsigned long block = (unsigned long)(k_bytes[w->format.sample] * w->channels);
        wav_header(w, w->frames * block, w->buf);
        return flush(w);
    }
    if (flush(w)) return 1;
    if (w->header_len && w->seekable) {
        /* RIFF sizes are 32 bits: a longer stream keeps the largest size that fits. */
        const unsigned long block = (unsigned long)(k_bytes[w->format.sample] * w->channels);
        const unsigned long max = (UNKNOWN_SIZE - 1 - w->header_len) / block;
        unsigned char h[80];
        const size_t len = wav_header(w, (w->frames < max ? w->frames : max) * block, h);
        if (lseek(w->fd, 0, SEEK_SET) != 0)
            w->error = errno;
        else
            write_all(w, h, len);
    }
    return w->error != 0;
}
