// Escape blocks of unsigned tuples: the table gives two magnitudes, and the decoder reads the
// sign bit of each non-zero one after the codeword (ISO/IEC 13818-7 8.3.3 unsigned codebooks;
// ISO/IEC 11172-3 2.4.2.7, where each escaped value's linbits precede its sign bit).
#include "common/checks.h"
#include "vlc/vlc_internal.h"
#include "zufack9/zuf_vlc.h"

namespace zuf::vlc {

namespace {

// AAC: codeword, a sign bit per non-zero magnitude (first, then second), then the escape words
// of the magnitudes of 16 in the same order.
zufResult decode_tuples_aac(WordCache& wc, const Decoder& d, Zuf16s* pDst, int pairs) {
    for (int i = 0; i < pairs; ++i) {
        const Leaf leaf = d.find(d.window(wc));
        wc.skip(leaf.length);
        const uint32_t m[2] = {d.magnitude(leaf.entry, 0), d.magnitude(leaf.entry, 1)};
        bool negative[2] = {false, false};
        for (int k = 0; k < 2; ++k)
            if (m[k] != 0) negative[k] = wc.get(1) != 0;
        int32_t v[2];
        for (int k = 0; k < 2; ++k) {
            int32_t a = static_cast<int32_t>(m[k]);
            if (m[k] == 16 && !read_escape(wc, &a)) return zufErrAacEscape;
            v[k] = negative[k] ? -a : a;
        }
        pDst[2 * i] = to16(v[0]);
        pDst[2 * i + 1] = to16(v[1]);
    }
    return zufOk;
}

// MP3: codeword, then per value: linbits for a magnitude of 15, then the sign bit of a
// non-zero one.
void decode_tuples_mp3(WordCache& wc, const Decoder& d, int linbits, Zuf16s* pDst, int pairs) {
    for (int i = 0; i < pairs; ++i) {
        const Leaf leaf = d.find(d.window(wc));
        wc.skip(leaf.length);
        for (int k = 0; k < 2; ++k) {
            const uint32_t m = d.magnitude(leaf.entry, k);
            int32_t v = 0;
            if (m == 15) {
                v = read_linbits_value(wc, linbits);
            } else if (m != 0) {
                v = with_sign(wc, static_cast<int32_t>(m));
            }
            pDst[2 * i + k] = to16(v);
        }
    }
}

}  // namespace

zufResult ownsVLCDecodeUTupleEscBlock_AAC(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int pairs,
                                          const void* pVLCSpec) {
    const Decoder d(pVLCSpec);
    WordCache wc(*ppBitStream, *pBitOffset);
    const zufResult st = decode_tuples_aac(wc, d, pDst, pairs);
    if (st == zufOk) wc.finish(ppBitStream, pBitOffset);
    return st;
}

zufResult ownsVLCDecodeUTupleEscBlock_MP3(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst, int pairs,
                                          const void* pVLCSpec) {
    const Decoder d(pVLCSpec);
    WordCache wc(*ppBitStream, *pBitOffset);
    decode_tuples_mp3(wc, d, linbits_of(linbits), pDst, pairs);
    wc.finish(ppBitStream, pBitOffset);
    return zufOk;
}

}  // namespace zuf::vlc

extern "C" {

ZUF_API zufResult zufsVLCDecodeUTupleEscBlock_AAC_1u16s(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int dstLen,
                                                        const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pDst, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(zuf::vlc::decoder_id_ok(pVLCSpec), zufErrContext);
    if (dstLen < 2) return zufOk;
    return zuf::vlc::ownsVLCDecodeUTupleEscBlock_AAC(ppBitStream, pBitOffset, pDst, dstLen / 2, pVLCSpec);
}

ZUF_API zufResult zufsVLCDecodeUTupleEscBlock_MP3_1u16s(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst,
                                                        int dstLen, const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pDst, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(zuf::vlc::decoder_id_ok(pVLCSpec), zufErrContext);
    if (dstLen < 2) return zufOk;
    return zuf::vlc::ownsVLCDecodeUTupleEscBlock_MP3(ppBitStream, pBitOffset, linbits, pDst, dstLen / 2, pVLCSpec);
}

}  // extern "C"
