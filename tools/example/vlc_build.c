/* Builder of escape-block engine table blocks: see vlc_build.h. */
#include "example/vlc_build.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* One symbol after sign expansion: the codeword left-aligned in 32 bits. */
typedef struct {
    int x, y;
    Zuf32u left;
    int length;
} Sym;

/* Header words of the table blocks (see zuf_vlc.h). */
enum { DEC_WORDS = 9, ENC_WORDS = 5, ALIGN = 32 };
#define SLOT sizeof(uintptr_t)

static int bit_width(unsigned v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

/* The words of a code with sign bits appended where `expand` is set: codeword, then x's sign,
 * then y's (1 negative), one symbol per sign combination. With out null only counts. Fails with
 * a builder status on a length or value the code cannot have. */
static int expand(const VlcCode *code, int expand_signs, Sym *out, int *count) {
    int n = 0, i;
    for (i = 0; i < code->count; ++i) {
        const VlcCodeword *w = &code->words[i];
        if (w->length < 1 || w->length > VLC_MAX_LENGTH) return VLC_BUILD_LENGTH;
        if (w->length < 32 && (w->code >> w->length) != 0) return VLC_BUILD_LENGTH;
    }
    for (i = 0; i < code->count; ++i) {
        const VlcCodeword *w = &code->words[i];
        const int signs = expand_signs ? (w->x != 0) + (w->y != 0) : 0;
        int s;
        if (code->sign_bits && (w->x < 0 || w->y < 0)) return VLC_BUILD_VALUE;
        if (w->length + signs > VLC_MAX_LENGTH) return VLC_BUILD_LENGTH;
        for (s = 0; s < (1 << signs); ++s) {
            if (out) {
                const int len = w->length + signs;
                /* sign bits: x's is the higher one when both are present */
                const int sx = w->x != 0 && signs ? (s >> (signs - 1)) & 1 : 0;
                const int sy = w->y != 0 && signs ? s & 1 : 0;
                const uint64_t bits = ((uint64_t)w->code << signs) | (unsigned)s;
                out[n].x = sx ? -w->x : w->x;
                out[n].y = sy ? -w->y : w->y;
                out[n].length = len;
                out[n].left = (Zuf32u)(bits << (32 - len));
            }
            ++n;
        }
    }
    *count = n;
    return VLC_BUILD_OK;
}

static int by_code(const void *a, const void *b) {
    const Sym *p = (const Sym *)a, *q = (const Sym *)b;
    if (p->left != q->left) return p->left < q->left ? -1 : 1;
    return p->length - q->length;
}

/* Sorted by left-aligned code (shorter first on ties), the codewords that start with a given
 * codeword follow it directly, so comparing neighbours finds every prefix. */
static int prefix_free(const Sym *s, int n) {
    int i;
    for (i = 1; i < n; ++i) {
        const int l = s[i - 1].length;
        if (l <= s[i].length && (s[i].left >> (32 - l)) == (s[i - 1].left >> (32 - l))) return 0;
    }
    return 1;
}

/* Expanded, sorted and checked symbols of a code; the caller frees *syms. */
static int prepare(const VlcCode *code, int expand_signs, Sym **syms, int *count) {
    int st, n;
    if (code->count < 1) return VLC_BUILD_EMPTY;
    st = expand(code, expand_signs, NULL, &n);
    if (st != VLC_BUILD_OK) return st;
    *syms = (Sym *)malloc(sizeof(Sym) * (size_t)n);
    if (!*syms) return VLC_BUILD_NO_MEMORY;
    expand(code, expand_signs, *syms, &n);
    *count = n;
    return VLC_BUILD_OK;
}

/* ------------------------------------------------------------------ decoder */

typedef struct {
    const Sym *syms;
    int tuples;           /* VLC_LAYOUT_TUPLES */
    int len_bits;         /* L */
    int elem_bits;        /* E */
    int wide;             /* 32-bit entries */
    unsigned char *table; /* null: count only */
    uint32_t count;       /* entries placed so far */
    int max_width;        /* widest level */
    uint32_t max_ref;     /* largest level position referred to */
} Levels;

static void put(Levels *lv, uint32_t pos, uint32_t v) {
    if (lv->wide) {
        memcpy(lv->table + 4 * (size_t)pos, &v, 4);
    } else {
        const Zuf16u h = (Zuf16u)v;
        memcpy(lv->table + 2 * (size_t)pos, &h, 2);
    }
}

static uint32_t leaf(const Levels *lv, int x, int y, int bits) {
    const uint32_t len = ((uint32_t)bits << 1) | 1u;
    if (lv->tuples) return len | ((((uint32_t)x << lv->elem_bits) | (uint32_t)y) << (lv->len_bits + 1));
    return len | ((uint32_t)(y + 128) << (lv->len_bits + 1)) | ((uint32_t)x << (lv->len_bits + 9));
}

/* The level for the symbols [lo, hi), which share their first `depth` bits; returns its
 * position. Codewords that end in the level fill all the entries they prefix; longer ones get a
 * deeper level per distinct next `b` bits. */
static uint32_t build_level(Levels *lv, int lo, int hi, int depth) {
    int maxrem = 0, i, b;
    uint32_t p, k;
    for (i = lo; i < hi; ++i)
        if (lv->syms[i].length - depth > maxrem) maxrem = lv->syms[i].length - depth;
    b = maxrem < (depth == 0 ? VLC_ROOT_BITS : VLC_SUB_BITS) ? maxrem : (depth == 0 ? VLC_ROOT_BITS : VLC_SUB_BITS);
    if (b > lv->max_width) lv->max_width = b;
    p = lv->count;
    lv->count += 1u + (1u << b);
    if (lv->table) {
        put(lv, p, (uint32_t)b);
        for (k = 0; k < (1u << b); ++k) put(lv, p + 1 + k, leaf(lv, 0, 0, b));
    }
    for (i = lo; i < hi;) {
        const Sym *s = &lv->syms[i];
        const int rem = s->length - depth;
        const uint32_t index = (uint32_t)((((uint64_t)s->left << depth) & 0xFFFFFFFFu) >> (32 - b));
        if (rem <= b) {
            if (lv->table)
                for (k = 0; k < (1u << (b - rem)); ++k) put(lv, p + 1 + index + k, leaf(lv, s->x, s->y, rem));
            ++i;
        } else {
            int j = i + 1;
            uint32_t sub;
            while (j < hi && (uint32_t)((((uint64_t)lv->syms[j].left << depth) & 0xFFFFFFFFu) >> (32 - b)) == index)
                ++j;
            sub = build_level(lv, i, j, depth + b);
            if (sub > lv->max_ref) lv->max_ref = sub;
            if (lv->table) put(lv, p + 1 + index, sub << 1);
            i = j;
        }
    }
    return p;
}

typedef struct {
    Sym *syms;
    int n;
    Levels lv;
    int peek;
} DecoderPlan;

/* Everything but the table itself: symbols, widths, entry width and entry count. */
static int plan_decoder(const VlcCode *code, int layout, DecoderPlan *d) {
    int st, i, maxmag = 0, minx = 0, maxx = 0;
    if (layout != VLC_LAYOUT_PAIRS && layout != VLC_LAYOUT_TUPLES) return VLC_BUILD_BAD_ARG;
    st = prepare(code, layout == VLC_LAYOUT_PAIRS && code->sign_bits, &d->syms, &d->n);
    if (st != VLC_BUILD_OK) return st;
    memset(&d->lv, 0, sizeof d->lv);
    d->peek = 0;
    for (i = 0; i < d->n; ++i) {
        const Sym *s = &d->syms[i];
        if (s->length > d->peek) d->peek = s->length;
        if (layout == VLC_LAYOUT_TUPLES) {
            if (s->x < 0 || s->y < 0 || s->x > 8191 || s->y > 8191) st = VLC_BUILD_VALUE;
            if (s->x > maxmag) maxmag = s->x;
            if (s->y > maxmag) maxmag = s->y;
        } else {
            if (s->y < -128 || s->y > 127 || s->x < -32768 || s->x > 32767) st = VLC_BUILD_VALUE;
            if (s->x < minx) minx = s->x;
            if (s->x > maxx) maxx = s->x;
        }
    }
    if (st == VLC_BUILD_OK) {
        qsort(d->syms, (size_t)d->n, sizeof(Sym), by_code);
        if (!prefix_free(d->syms, d->n)) st = VLC_BUILD_NOT_PREFIX;
    }
    if (st != VLC_BUILD_OK) {
        free(d->syms);
        return st;
    }
    /* Dry run: entry count, widest level (the length field must hold it), deepest reference. */
    d->lv.syms = d->syms;
    d->lv.tuples = layout == VLC_LAYOUT_TUPLES;
    build_level(&d->lv, 0, d->n, 0);
    d->lv.len_bits = bit_width((unsigned)d->lv.max_width);
    d->lv.elem_bits = maxmag ? bit_width((unsigned)maxmag) : 1;
    {
        /* 16-bit entries: references below 2^15, leaf fields in the 15 bits above the flag */
        const int xbits = bit_width((unsigned)(maxx > -minx - 1 ? maxx : -minx - 1)) + 1;
        const int fields = d->lv.tuples ? 2 * d->lv.elem_bits : 8 + xbits;
        d->lv.wide = !(d->lv.max_ref < 32768u && 1 + d->lv.len_bits + fields <= 16);
    }
    return VLC_BUILD_OK;
}

static size_t decoder_bytes(const DecoderPlan *d) {
    return ALIGN - 1 + DEC_WORDS * SLOT + (size_t)d->lv.count * (d->lv.wide ? 4u : 2u);
}

static void put_slot(unsigned char *block, int index, uintptr_t v) { memcpy(block + SLOT * (size_t)index, &v, SLOT); }

static unsigned char *aligned(void *buf) {
    const uintptr_t a = ((uintptr_t)buf + (ALIGN - 1)) & ~(uintptr_t)(ALIGN - 1);
    return (unsigned char *)buf + (a - (uintptr_t)buf);
}

int vlc_decoder_size(const VlcCode *code, int layout, size_t *bytes) {
    DecoderPlan d;
    int st;
    if (!code || !bytes || (!code->words && code->count > 0)) return VLC_BUILD_NULL;
    st = plan_decoder(code, layout, &d);
    if (st != VLC_BUILD_OK) return st;
    *bytes = decoder_bytes(&d);
    free(d.syms);
    return VLC_BUILD_OK;
}

int vlc_decoder_build(const VlcCode *code, int layout, void *buf, size_t bytes) {
    DecoderPlan d;
    unsigned char *block;
    int st;
    if (!code || !buf || (!code->words && code->count > 0)) return VLC_BUILD_NULL;
    st = plan_decoder(code, layout, &d);
    if (st != VLC_BUILD_OK) return st;
    if (bytes < decoder_bytes(&d)) {
        free(d.syms);
        return VLC_BUILD_SIZE;
    }
    block = aligned(buf);
    memset(block, 0, DEC_WORDS * SLOT);
    d.lv.table = block + DEC_WORDS * SLOT;
    d.lv.count = 0;
    build_level(&d.lv, 0, d.n, 0);
    put_slot(block, 0, ZUF_VLC_DECODER_ID);
    put_slot(block, 2, (uintptr_t)d.peek);
    put_slot(block, 3, (uintptr_t)d.lv.table);
    put_slot(block, 4, d.lv.wide ? 32u : 16u);
    put_slot(block, 5, (uintptr_t)d.lv.len_bits);
    put_slot(block, 7, (uintptr_t)d.lv.elem_bits);
    put_slot(block, 8, (uintptr_t)(2 * d.lv.elem_bits));
    free(d.syms);
    return VLC_BUILD_OK;
}

/* ------------------------------------------------------------------ encoder */

/* Symbol index B + 64 x + 16 + y (AAC) or B + 32 x + 15 + y (MP3), with B = 1024 or 480 making
 * the index of (-lav, -lav) 0: 2^12 and 2^10 entries cover every pair of -16..16 and -15..15. */
static int enc_lav(int codec) { return codec == VLC_CODEC_AAC ? 16 : 15; }
static int enc_log2(int codec) { return codec == VLC_CODEC_AAC ? 12 : 10; }
static int enc_base(int codec) { return codec == VLC_CODEC_AAC ? 1024 : 480; }
static int enc_index(int codec, int x, int y) {
    return codec == VLC_CODEC_AAC ? enc_base(codec) + 64 * x + 16 + y : enc_base(codec) + 32 * x + 15 + y;
}

int vlc_encoder_size(int codec, size_t *bytes) {
    if (!bytes) return VLC_BUILD_NULL;
    if (codec != VLC_CODEC_AAC && codec != VLC_CODEC_MP3) return VLC_BUILD_BAD_ARG;
    *bytes = ALIGN - 1 + ENC_WORDS * SLOT + 8u * ((size_t)1 << enc_log2(codec));
    return VLC_BUILD_OK;
}

int vlc_encoder_build(const VlcCode *code, int codec, void *buf, size_t bytes) {
    Sym *syms;
    int n, i, st;
    size_t need, entries;
    unsigned char *block, *lengths, *codes;
    if (!code || !buf || (!code->words && code->count > 0)) return VLC_BUILD_NULL;
    st = vlc_encoder_size(codec, &need);
    if (st != VLC_BUILD_OK) return st;
    st = prepare(code, code->sign_bits, &syms, &n);
    if (st != VLC_BUILD_OK) return st;
    for (i = 0; i < n && st == VLC_BUILD_OK; ++i)
        if (abs(syms[i].x) > enc_lav(codec) || abs(syms[i].y) > enc_lav(codec)) st = VLC_BUILD_VALUE;
    if (st == VLC_BUILD_OK) {
        Sym *sorted = (Sym *)malloc(sizeof(Sym) * (size_t)n);
        if (!sorted) {
            st = VLC_BUILD_NO_MEMORY;
        } else {
            memcpy(sorted, syms, sizeof(Sym) * (size_t)n);
            qsort(sorted, (size_t)n, sizeof(Sym), by_code);
            if (!prefix_free(sorted, n)) st = VLC_BUILD_NOT_PREFIX;
            free(sorted);
        }
    }
    if (st == VLC_BUILD_OK && bytes < need) st = VLC_BUILD_SIZE;
    if (st != VLC_BUILD_OK) {
        free(syms);
        return st;
    }
    entries = (size_t)1 << enc_log2(codec);
    block = aligned(buf);
    lengths = block + ENC_WORDS * SLOT;
    codes = lengths + 4 * entries;
    memset(lengths, 0, 8 * entries);
    for (i = 0; i < n; ++i) {
        const size_t k = (size_t)enc_index(codec, syms[i].x, syms[i].y);
        Zuf32u len, value;
        memcpy(&len, lengths + 4 * k, 4);
        if (len != 0) continue; /* the first codeword of a pair wins */
        len = (Zuf32u)syms[i].length;
        value = syms[i].left >> (32 - syms[i].length);
        memcpy(lengths + 4 * k, &len, 4);
        memcpy(codes + 4 * k, &value, 4);
    }
    memset(block, 0, ENC_WORDS * SLOT);
    put_slot(block, 0, (uintptr_t)lengths);
    put_slot(block, 1, (uintptr_t)enc_base(codec));
    put_slot(block, 2, (uintptr_t)enc_log2(codec));
    put_slot(block, 4, ZUF_VLC_ENCODER_ID);
    free(syms);
    return VLC_BUILD_OK;
}

const char *vlc_build_status_name(int status) {
    switch (status) {
        case VLC_BUILD_OK:
            return "ok";
        case VLC_BUILD_NULL:
            return "null pointer";
        case VLC_BUILD_EMPTY:
            return "empty code";
        case VLC_BUILD_LENGTH:
            return "codeword length out of range";
        case VLC_BUILD_VALUE:
            return "value out of range";
        case VLC_BUILD_NOT_PREFIX:
            return "not a prefix code";
        case VLC_BUILD_SIZE:
            return "buffer too small";
        case VLC_BUILD_NO_MEMORY:
            return "out of memory";
        case VLC_BUILD_BAD_ARG:
            return "unknown layout or codec";
        default:
            return "unknown status";
    }
}

/* ------------------------------------------------------------------ codebook packing */

#include "example/vlc_codebooks.h"

/* x = a * radix + b with a, b in -h..h (radix = 2h + 1): shift to non-negative digits first. */
static void split(int v, int radix, int *a, int *b) {
    const int h = radix / 2, t = v + h * (radix + 1);
    *a = t / radix - h;
    *b = t % radix - h;
}

int vlc_unpack(const VlcCodebook *book, int x, int y, int *values) {
    if (book->dim == 1) {
        values[0] = x * book->radix + y - book->lav;
    } else if (book->dim == 4) {
        split(x, book->radix, &values[0], &values[1]);
        split(y, book->radix, &values[2], &values[3]);
    } else {
        values[0] = x;
        values[1] = y;
    }
    return book->dim;
}
