// Escape blocks of signed pairs: decoding with tables whose codewords carry the sign bits,
// encoding and bit counting (AAC escape words, ISO/IEC 13818-7 8.3.5; MP3 linbits,
// ISO/IEC 11172-3 2.4.2.7).
#include "common/checks.h"
#include "vlc/vlc_internal.h"
#include "zufack9/zuf_vlc.h"

namespace zuf::vlc {

namespace {

// AAC pairs: the codeword (signs included), then x's escape word, then y's.
zufResult decode_pairs_aac(WordCache& wc, const Decoder& d, Zuf16s* pDst, int pairs) {
    for (int i = 0; i < pairs; ++i) {
        const Leaf leaf = d.find(d.window(wc));
        wc.skip(leaf.length);
        int32_t v[2] = {d.first(leaf.entry), d.second(leaf.entry)};
        for (int32_t& x : v) {
            if (x != 16 && x != -16) continue;
            int32_t m;
            if (!read_escape(wc, &m)) return zufErrAacEscape;
            x = x < 0 ? -m : m;
        }
        pDst[2 * i] = to16(v[0]);
        pDst[2 * i + 1] = to16(v[1]);
    }
    return zufOk;
}

// MP3 pairs. The table's codewords end with the sign bits, but Layer III puts each escaped
// value's linbits before its sign bit: hcod, linbits x, sign x, linbits y, sign y. So a pair with
// a 15 takes the codeword without its sign bits and reads linbits and signs in stream order.
void decode_pairs_mp3(WordCache& wc, const Decoder& d, int linbits, Zuf16s* pDst, int pairs) {
    for (int i = 0; i < pairs; ++i) {
        const Leaf leaf = d.find(d.window(wc));
        int32_t x = d.first(leaf.entry), y = d.second(leaf.entry);
        if (x == 15 || x == -15) {
            wc.skip(std::max(leaf.length - (y != 0 ? 2 : 1), 0));
            x = read_linbits_value(wc, linbits);
            if (y == 15 || y == -15) {
                y = read_linbits_value(wc, linbits);
            } else if (y != 0) {
                y = with_sign(wc, y < 0 ? -y : y);
            }
        } else if (y == 15 || y == -15) {
            wc.skip(std::max(leaf.length - 1, 0));
            y = read_linbits_value(wc, linbits);
        } else {
            wc.skip(leaf.length);
        }
        pDst[2 * i] = to16(x);
        pDst[2 * i + 1] = to16(y);
    }
}

// What the encoders and counters need of a VlcEncoderTables.
struct Encoder {
    const Zuf8u* lengths;  // unsigned 32-bit code lengths
    const Zuf8u* codes;    // 32-bit right-aligned codes, 2^k entries after the lengths
    uint32_t base;         // B

    explicit Encoder(const void* pVLCSpec) {
        const unsigned char* b = tables_at(pVLCSpec);
        lengths = reinterpret_cast<const Zuf8u*>(slot_at(b, 0));
        base = word_at(b, 1);
        codes = lengths + (std::size_t{4} << std::min<uint32_t>(word_at(b, 2), 31));
    }
    // Index of the symbol (x, y), wrapping 32-bit arithmetic as the table is laid out.
    static uint32_t index_aac(uint32_t base, int32_t x, int32_t y) {
        return base + 64u * static_cast<uint32_t>(x) + 16u + static_cast<uint32_t>(y);
    }
    static uint32_t index_mp3(uint32_t base, int32_t x, int32_t y) {
        return base + 32u * static_cast<uint32_t>(x) + 15u + static_cast<uint32_t>(y);
    }
    int length(uint32_t index) const { return width(load(lengths, index)); }
    uint32_t code(uint32_t index) const { return load(codes, index); }

  private:
    static uint32_t load(const Zuf8u* t, uint32_t index) {
        uint32_t v;
        std::memcpy(&v, t + 4 * static_cast<std::ptrdiff_t>(static_cast<int32_t>(index)), 4);
        return v;
    }
};

inline int32_t magnitude(int32_t v) { return v < 0 ? -v : v; }

void encode_pairs_aac(const Encoder& e, const Zuf16s* pSrc, int pairs, BitAccumulator& out) {
    for (int i = 0; i < pairs; ++i) {
        const int32_t x = pSrc[2 * i], y = pSrc[2 * i + 1];
        const uint32_t s = Encoder::index_aac(e.base, std::clamp(x, -16, 16), std::clamp(y, -16, 16));
        out.put(e.code(s), e.length(s));
        for (int32_t v : {x, y}) {
            if (magnitude(v) < 16) continue;
            const Field f = escape_word(static_cast<uint32_t>(magnitude(v)));
            out.put(f.bits, f.length);
        }
    }
}

void encode_pairs_mp3(const Encoder& e, const Zuf16s* pSrc, int pairs, int linbits, BitAccumulator& out) {
    for (int i = 0; i < pairs; ++i) {
        const int32_t x = pSrc[2 * i], y = pSrc[2 * i + 1];
        const uint32_t s = Encoder::index_mp3(e.base, std::clamp(x, -15, 15), std::clamp(y, -15, 15));
        const uint32_t code = e.code(s);
        const int len = e.length(s);
        if (magnitude(x) < 15 && magnitude(y) < 15) {
            out.put(code, len);
            continue;
        }
        // Take the sign bits off the stored code and put each back after its value's linbits.
        const int signs = (x != 0) + (y != 0);
        out.put(shr(code, signs), std::max(len - signs, 0));
        int left = signs;
        for (int32_t v : {x, y}) {
            if (v == 0) continue;
            if (magnitude(v) >= 15) out.put(static_cast<uint32_t>(magnitude(v) - 15), linbits);
            out.put(shr(code, --left) & 1u, 1);
        }
    }
}

uint32_t count_pairs_aac(const Encoder& e, const Zuf16s* pSrc, int pairs) {
    uint32_t bits = 0;
    for (int i = 0; i < pairs; ++i) {
        const int32_t x = pSrc[2 * i], y = pSrc[2 * i + 1];
        bits +=
            static_cast<uint32_t>(e.length(Encoder::index_aac(e.base, std::clamp(x, -16, 16), std::clamp(y, -16, 16))));
        for (int32_t v : {x, y})
            if (magnitude(v) >= 16)
                bits += static_cast<uint32_t>(escape_word(static_cast<uint32_t>(magnitude(v))).length);
    }
    return bits;
}

uint32_t count_pairs_mp3(const Encoder& e, const Zuf16s* pSrc, int pairs, int linbits) {
    uint32_t bits = 0;
    for (int i = 0; i < pairs; ++i) {
        const int32_t x = pSrc[2 * i], y = pSrc[2 * i + 1];
        bits +=
            static_cast<uint32_t>(e.length(Encoder::index_mp3(e.base, std::clamp(x, -15, 15), std::clamp(y, -15, 15))));
        for (int32_t v : {x, y})
            if (magnitude(v) >= 15) bits += static_cast<uint32_t>(linbits);
    }
    return bits;
}

}  // namespace

zufResult ownsVLCDecodeEscBlock_AAC(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int pairs,
                                    const void* pVLCSpec) {
    const Decoder d(pVLCSpec);
    WordCache wc(*ppBitStream, *pBitOffset);
    const zufResult st = decode_pairs_aac(wc, d, pDst, pairs);
    if (st == zufOk) wc.finish(ppBitStream, pBitOffset);
    return st;
}

zufResult ownsVLCDecodeEscBlock_MP3(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst, int pairs,
                                    const void* pVLCSpec) {
    const Decoder d(pVLCSpec);
    WordCache wc(*ppBitStream, *pBitOffset);
    decode_pairs_mp3(wc, d, linbits_of(linbits), pDst, pairs);
    wc.finish(ppBitStream, pBitOffset);
    return zufOk;
}

}  // namespace zuf::vlc

extern "C" {

using zuf::vlc::decoder_id_ok;
using zuf::vlc::encoder_id_ok;

ZUF_API zufResult zufsVLCDecodeEscBlock_AAC_1u16s(Zuf8u** ppBitStream, int* pBitOffset, Zuf16s* pDst, int dstLen,
                                                  const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pDst, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(decoder_id_ok(pVLCSpec), zufErrContext);
    if (dstLen < 2) return zufOk;
    return zuf::vlc::ownsVLCDecodeEscBlock_AAC(ppBitStream, pBitOffset, pDst, dstLen / 2, pVLCSpec);
}

ZUF_API zufResult zufsVLCDecodeEscBlock_MP3_1u16s(Zuf8u** ppBitStream, int* pBitOffset, int linbits, Zuf16s* pDst,
                                                  int dstLen, const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pDst, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(decoder_id_ok(pVLCSpec), zufErrContext);
    if (dstLen < 2) return zufOk;
    return zuf::vlc::ownsVLCDecodeEscBlock_MP3(ppBitStream, pBitOffset, linbits, pDst, dstLen / 2, pVLCSpec);
}

ZUF_API zufResult zufsVLCEncodeEscBlock_AAC_16s1u(const Zuf16s* pSrc, int srcLen, Zuf8u** ppBitStream, int* pBitOffset,
                                                  const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pSrc, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(encoder_id_ok(pVLCSpec), zufErrContext);
    if (srcLen < 2) return zufOk;
    zuf::BitAccumulator out(*ppBitStream, *pBitOffset);
    zuf::vlc::encode_pairs_aac(zuf::vlc::Encoder(pVLCSpec), pSrc, srcLen / 2, out);
    out.finish(ppBitStream, pBitOffset);
    return zufOk;
}

ZUF_API zufResult zufsVLCEncodeEscBlock_MP3_16s1u(const Zuf16s* pSrc, int srcLen, int linbits, Zuf8u** ppBitStream,
                                                  int* pBitOffset, const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(ppBitStream, pBitOffset, pSrc, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(zuf::bit_offset_ok(pBitOffset), zufErrBitOffset);
    ZUF_REQUIRE(encoder_id_ok(pVLCSpec), zufErrContext);
    if (srcLen < 2) return zufOk;
    zuf::BitAccumulator out(*ppBitStream, *pBitOffset);
    zuf::vlc::encode_pairs_mp3(zuf::vlc::Encoder(pVLCSpec), pSrc, srcLen / 2, zuf::vlc::linbits_of(linbits), out);
    out.finish(ppBitStream, pBitOffset);
    return zufOk;
}

ZUF_API zufResult zufsVLCCountEscBits_AAC_16s32s(const Zuf16s* pSrc, int srcLen, Zuf32s* pCount, const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pCount, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(encoder_id_ok(pVLCSpec), zufErrContext);
    const uint32_t bits = srcLen < 2 ? 0u : zuf::vlc::count_pairs_aac(zuf::vlc::Encoder(pVLCSpec), pSrc, srcLen / 2);
    *pCount = static_cast<Zuf32s>(bits);
    return zufOk;
}

ZUF_API zufResult zufsVLCCountEscBits_MP3_16s32s(const Zuf16s* pSrc, int srcLen, int linbits, Zuf32s* pCount,
                                                 const void* pVLCSpec) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pCount, pVLCSpec), zufErrNullPtr);
    ZUF_REQUIRE(encoder_id_ok(pVLCSpec), zufErrContext);
    const uint32_t bits = srcLen < 2 ? 0u
                                     : zuf::vlc::count_pairs_mp3(zuf::vlc::Encoder(pVLCSpec), pSrc, srcLen / 2,
                                                                 zuf::vlc::linbits_of(linbits));
    *pCount = static_cast<Zuf32s>(bits);
    return zufOk;
}

}  // extern "C"
