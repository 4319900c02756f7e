/*
 * libzufack9 variable-length coding engine: decoding, encoding and bit counting of blocks of
 * Huffman-coded value pairs with the escape conventions of AAC (escape words for magnitudes of
 * 16 and above, ISO/IEC 13818-7 8.3.5) and MP3 (linbits for magnitudes of 15 and above,
 * ISO/IEC 11172-3 2.4.2.7), driven by code tables that the caller builds.
 *
 * Table blocks. A decoder table block (VlcDecoderTables) and an encoder table block
 * (VlcEncoderTables) are plain blocks of machine words that no function of the library builds:
 * the caller (or a companion builder, tools/example/vlc_build.h) lays them out and passes any
 * pointer into its block; the engine reads the table block from that pointer rounded up to
 * the next multiple of 32 bytes. A word is 32 bits on the 32-bit x86 target and pointer-sized
 * (64 bits, of which the low 32 bits hold a number) on x86-64, so that the table pointers fit.
 *
 *   VlcDecoderTables (ID word first):
 *     0  ZUF_VLC_DECODER_ID
 *     1  not read
 *     2  W: peek width, the longest codeword in bits (1..32)
 *     3  pointer to the lookup table
 *     4  entry width: 32 for 32-bit entries, any other value for 16-bit entries
 *     5  L: width of the length field of a leaf
 *     6  not read
 *     7  E: bits per element (tuple decoders only)
 *     8  T: bits of all element fields of a leaf (tuple decoders only)
 *   Lookup table: entries of the chosen width forming levels. A level at position p holds its
 *   index width b in entry p and its 2^b entries at p + 1 .. p + 2^b; the first level is at
 *   position 0. An entry with bit 0 clear refers to a deeper level at position entry >> 1; an
 *   entry with bit 0 set is a leaf: bits 1..L the codeword bits that fall into the leaf's own
 *   level; pair decoders: bits L+1..L+8 the second value plus 128 and bits L+9 upward the first
 *   value as a two's-complement number (sign in the entry's top bit); tuple decoders: bits
 *   L+1..L+T the two magnitudes, E bits each, the first in the highest field. A level's
 *   entries for codewords shorter than its width are repeated. A codeword is looked up from
 *   the next W bits: the first level is indexed by their top b bits, each deeper level by its
 *   b bits that follow; the codeword length is the widths of the levels passed plus the leaf's
 *   length field.
 *
 *   VlcEncoderTables:
 *     0  pointer to the code-length table (unsigned 32-bit per symbol); the code-value table
 *        (32-bit, right-aligned codes) follows it 2^(word 2) entries further on
 *     1  base index B
 *     2  log2 of the number of entries of each table
 *     3  not read
 *     4  ZUF_VLC_ENCODER_ID
 *   The symbol of the pair (x, y) has index B + 32 x + 15 + y for MP3 (x, y in -15..15) and
 *   B + 64 x + 16 + y for AAC (x, y in -16..16). Its code is the Huffman codeword followed by
 *   the sign bits of its non-zero values (x's, then y's; 1 is negative), its length counts
 *   them (at most 32 bits in all).
 *
 * The "EscBlock" decoders take tables whose codewords end with the sign bits of the non-zero
 * values (signed pairs); the "UTupleEscBlock" decoders take tables of unsigned magnitudes and
 * read the sign bits themselves (one per non-zero magnitude, after the codeword).
 *
 * Escapes. AAC: a value of magnitude 16 in the table is followed (after the codeword and its
 * signs; x's escape before y's) by an escape word: N - 4 one bits, a zero bit and N bits w
 * (N = 4..12); the magnitude is 2^N + w. Nine or more leading one bits fail with
 * zufErrAacEscape. MP3: a value of magnitude 15 is followed by `linbits` bits l and then its
 * sign bit (x's linbits and sign, then y's), the magnitude is 15 + l; with linbits 0 it stays
 * 15. linbits is not range-checked; values outside 0..16 act as the nearest of those bounds.
 *
 * Lengths count values. Every function works on pairs and ignores a final odd value; a length
 * below 2 does no work and returns zufOk (the counters then store 0). The encoders and
 * counters validate no values: AAC magnitudes above 8191 and MP3 magnitudes above
 * 15 + 2^linbits - 1 cannot be coded.
 *
 * Checks, first failure decides: a null ppBitStream, pBitOffset, array, pCount or pVLCSpec
 * (zufErrNullPtr; the byte pointer held by ppBitStream is not checked), a bit offset outside
 * 0..7 (zufErrBitOffset), the ID word of the table block (zufErrContext).
 *
 * Bit streams are read and written most significant bit first. The decoders read the stream
 * in aligned 32-bit words, from the current byte up to the end of its word and then whole
 * words, always holding the word with the next unread bit and the one after it: the caller's
 * buffer must stay readable up to two aligned words past the word that holds the last bit
 * used. They store the position of the first unused bit at the end, and only there: a
 * zufErrAacEscape leaves the position unchanged and the pairs decoded before the failing one
 * in pDst. The encoders keep the bits of the buffer before the start position and the bits
 * after the end position in the last byte written, and return the end position.
 */
#ifndef ZUFACK9_ZUF_VLC_H
#define ZUFACK9_ZUF_VLC_H

#include "zuf_core.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZUF_VLC_DECODER_ID 0x434D4160u /* word 0 of a VlcDecoderTables */
#define ZUF_VLC_ENCODER_ID 0x434D415Fu /* word 4 of a VlcEncoderTables */

ZUF_API zufResult zufsVLCDecodeEscBlock_AAC_1u16s(Zuf8u **ppBitStream, int *pBitOffset, Zuf16s *pDst, int dstLen,
                                                  const void *pVLCSpec);
ZUF_API zufResult zufsVLCDecodeEscBlock_MP3_1u16s(Zuf8u **ppBitStream, int *pBitOffset, int linbits, Zuf16s *pDst,
                                                  int dstLen, const void *pVLCSpec);
ZUF_API zufResult zufsVLCDecodeUTupleEscBlock_AAC_1u16s(Zuf8u **ppBitStream, int *pBitOffset, Zuf16s *pDst, int dstLen,
                                                        const void *pVLCSpec);
ZUF_API zufResult zufsVLCDecodeUTupleEscBlock_MP3_1u16s(Zuf8u **ppBitStream, int *pBitOffset, int linbits, Zuf16s *pDst,
                                                        int dstLen, const void *pVLCSpec);
ZUF_API zufResult zufsVLCEncodeEscBlock_AAC_16s1u(const Zuf16s *pSrc, int srcLen, Zuf8u **ppBitStream, int *pBitOffset,
                                                  const void *pVLCSpec);
ZUF_API zufResult zufsVLCEncodeEscBlock_MP3_16s1u(const Zuf16s *pSrc, int srcLen, int linbits, Zuf8u **ppBitStream,
                                                  int *pBitOffset, const void *pVLCSpec);
ZUF_API zufResult zufsVLCCountEscBits_AAC_16s32s(const Zuf16s *pSrc, int srcLen, Zuf32s *pCount, const void *pVLCSpec);
ZUF_API zufResult zufsVLCCountEscBits_MP3_16s32s(const Zuf16s *pSrc, int srcLen, int linbits, Zuf32s *pCount,
                                                 const void *pVLCSpec);

#ifdef __cplusplus
}
#endif

#endif /* ZUFACK9_ZUF_VLC_H */
