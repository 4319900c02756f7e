/*
 * Builder of code table blocks for libzufack9's escape-block engine (zuf_vlc.h), which reads
 * decoder and encoder table blocks that no library function builds. This builder turns any
 * prefix code, given as a list of (value pair, codeword, length), into both, in the layouts
 * zuf_vlc.h documents.
 *
 * A code is a list of VlcCodeword. Its values are read one of two ways:
 *  - signed (sign_bits 0): (x, y) are the values themselves; any sign information is already in
 *    the codewords (AAC codebooks 5 and 6, or codewords that end with their sign bits);
 *  - magnitudes (sign_bits 1): x, y >= 0, and in the stream each non-zero value's sign bit follows
 *    the codeword (AAC codebooks 7..11, the MP3 big-value tables). The builder then appends those
 *    sign bits itself where a table block wants signed symbols.
 *
 * Decoder layouts:
 *  - VLC_LAYOUT_PAIRS for zufsVLCDecodeEscBlock_*: leaves hold signed pairs; a code of magnitudes
 *    is expanded into one codeword per sign combination (codeword, then x's sign, then y's).
 *  - VLC_LAYOUT_TUPLES for zufsVLCDecodeUTupleEscBlock_*: leaves hold the magnitudes (a code of
 *    magnitudes only); the engine reads the sign bits.
 * The first level indexes up to VLC_ROOT_BITS bits, deeper levels up to VLC_SUB_BITS. Entries are
 * 16-bit when every leaf and level reference fits, else 32-bit. A code need not be complete:
 * bit patterns that start no codeword decode as (0, 0) and take the bits of their level.
 *
 * Encoder table blocks cover every pair the engine may look up (x, y in -16..16 for AAC, in
 * -15..15 for MP3), with length 0 for pairs the code lacks; the first codeword given for a pair
 * is the one used.
 *
 * Sizes are bytes to allocate, including the slack that the engine's 32-byte alignment of the
 * table block needs: the caller passes the start of its allocation to the engine.
 */
#ifndef ZUF_EXAMPLE_VLC_BUILD_H
#define ZUF_EXAMPLE_VLC_BUILD_H

#include <stddef.h>
#include <zufack9/zufack9.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    int x, y;    /* the value pair, x first in the stream */
    Zuf32u code; /* codeword, right-aligned: its first bit is bit length - 1 */
    int length;  /* codeword bits, 1..VLC_MAX_LENGTH */
} VlcCodeword;

typedef struct {
    const VlcCodeword *words;
    int count;
    int sign_bits; /* 1: (x, y) are magnitudes, a sign bit per non-zero value follows the codeword */
} VlcCode;

enum {
    VLC_MAX_LENGTH = 32, /* longest codeword, sign bits included (the engine peeks 32 bits) */
    VLC_ROOT_BITS = 9,
    VLC_SUB_BITS = 5
};

enum { VLC_LAYOUT_PAIRS = 0, VLC_LAYOUT_TUPLES = 1 };
enum { VLC_CODEC_AAC = 0, VLC_CODEC_MP3 = 1 };

/* Builder statuses, checked in this order. */
enum {
    VLC_BUILD_OK = 0,
    VLC_BUILD_NULL = -1,       /* null code, word list, buffer or size pointer */
    VLC_BUILD_EMPTY = -2,      /* no codewords */
    VLC_BUILD_LENGTH = -3,     /* a length outside 1..VLC_MAX_LENGTH (sign bits included), or a code
                                  value with bits above its length */
    VLC_BUILD_VALUE = -4,      /* a value the layout cannot hold: negative magnitude, a signed value
                                  in a tuple layout, a pair outside the encoder's range or beyond
                                  what a leaf can store */
    VLC_BUILD_NOT_PREFIX = -5, /* a codeword is a prefix of another (or equal to it) */
    VLC_BUILD_SIZE = -6,       /* the buffer is smaller than the size function reports */
    VLC_BUILD_NO_MEMORY = -7,
    VLC_BUILD_BAD_ARG = -8 /* unknown layout or codec */
};

/* Bytes a decoder table block of `code` in `layout` takes. */
int vlc_decoder_size(const VlcCode *code, int layout, size_t *bytes);
/* Builds it in buf (bytes long); pass buf to the engine's decoders. */
int vlc_decoder_build(const VlcCode *code, int layout, void *buf, size_t bytes);

/* Bytes an encoder table block for `codec` takes (the same for every code). */
int vlc_encoder_size(int codec, size_t *bytes);
/* Builds the encoder table block of `code` for `codec` in buf; pass buf to the encoders and
 * counters of that codec. */
int vlc_encoder_build(const VlcCode *code, int codec, void *buf, size_t bytes);

/* Status name, for messages. */
const char *vlc_build_status_name(int status);

#ifdef __cplusplus
}
#endif

#endif /* ZUF_EXAMPLE_VLC_BUILD_H */
