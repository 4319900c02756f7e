// Layer III Huffman decoding of part 3 (ISO/IEC 11172-3 2.4.2.7 and 2.4.3.4.5, Annex B Table
// 3-B.7): big_values pairs in up to three regions, then count1 quadruples.
//
// The multi-level tables (mp3_huff_tables.cpp, layout in tools/gen/gen_mp3_huffman.py) resolve
// every code of up to 9 bits with one lookup (with its sign bits too where they fit) and longer
// ones with one more lookup per further 5 bits; other sign bits and linbits follow the code.
// Count1 quadruples take one lookup each, signs included.
//
// Bits come through the library's BitCache, topped up whenever fewer remain than the longest
// pair or quadruple of the table in use can take (small tables: an 11-bit code and two signs;
// big tables: 19 + 13 + 1 + 13 + 1 = 47 bits; count1: 10). Its end lies three bytes past the
// last Huffman bit: nothing beyond is fetched, and bits there read as zeros, so damaged side
// information can never make the decoder read further.
#include <cstring>

#include "common/bitstream.h"
#include "common/checks.h"
#include "mp3/mp3_tables.h"

namespace zuf {

namespace {

inline Zuf32s sext(uint32_t v, int bits) { return static_cast<Zuf32s>(v << (32 - bits)) >> (32 - bits); }

// Magnitude m with the next stream bit as its sign (1 = negative).
inline Zuf32s with_sign(BitCache& bc, Zuf32s m) {
    const Zuf32s s = -static_cast<Zuf32s>(bc.get(1));
    return (m ^ s) - s;
}

// Pairs of table t (multi-level layout of tools/gen/gen_mp3_huffman.py) with `linbits` escape
// bits into is[i..end). kMaxBits: the longest pair with its linbits and signs (small tables: an
// 11-bit code and two signs; big tables: 19 + 13 + 1 + 13 + 1).
template <int kMaxBits>
void decode_pairs(BitCache& bc, const Zuf16u* t, unsigned linbits, Zuf32s* is, int i, int end) {
    constexpr int kRoot = 9;  // FAST_ROOT of the generator
    for (; i < end; i += 2) {
        bc.ensure(kMaxBits);
        uint32_t e = t[bc.peek(kRoot)];
        if ((e & 0xC000u) == 0x4000u) {  // code and signs within the root bits: signed values
            bc.skip(static_cast<int>(e & 15u));
            is[i] = sext(e >> 9, 5);
            is[i + 1] = sext(e >> 4, 5);
            continue;
        }
        if (e & 0x8000u) {
            bc.skip(kRoot);
            for (;;) {
                const int w = static_cast<int>(e >> 12) & 7;
                e = t[(e & 0xFFFu) + bc.peek(w)];
                if (!(e & 0x8000u)) break;
                bc.skip(w);
            }
        }
        bc.skip(static_cast<int>(e & 31u));
        Zuf32s x = static_cast<Zuf32s>((e >> 9) & 15u), y = static_cast<Zuf32s>((e >> 5) & 15u);
        if (x) {
            if (x == 15 && linbits) x += static_cast<Zuf32s>(bc.get(static_cast<int>(linbits)));
            x = with_sign(bc, x);
        }
        if (y) {
            if (y == 15 && linbits) y += static_cast<Zuf32s>(bc.get(static_cast<int>(linbits)));
            y = with_sign(bc, y);
        }
        is[i] = x;
        is[i + 1] = y;
    }
}

struct Regions {
    int end[3];  // region ends in lines, each limited to 2 * big_values
};

// Checks shared by the variants once the variant-specific ones have passed: items 6 and 7 of
// the decoder's check list are done while decoding.
zufResult decode(Zuf8u** ppBitStream, int* pOffset, Zuf32s* is, int* pNonZero, const Mp3SideInfo* si, int hufSize,
                 const Regions& rg) {
    const int bv2 = 2 * si->big_values;
    // table_select of every used region is checked just before the region is decoded.
    if (hufSize == 0) {
        int start = 0;
        for (int r = 0; r < 3; ++r) {
            if (rg.end[r] > start) ZUF_REQUIRE(in_range(si->table_select[r], 0, 31), zufErrMp3SideInfo);
            start = rg.end[r] > start ? rg.end[r] : start;
        }
        std::memset(is, 0, 576 * sizeof(Zuf32s));
        *pNonZero = 0;
        return zufOk;
    }
    const Zuf8u* p0 = *ppBitStream;
    const int off0 = *pOffset;
    // Bytes that hold Huffman bits, plus the three-byte read-ahead the caller guarantees.
    BitCache bc(p0, off0, p0 + (off0 + hufSize + 7) / 8 + 3);

    int i = 0;
    for (int r = 0; r < 3; ++r) {
        const int end = rg.end[r];
        if (end <= i) continue;
        const int tsel = si->table_select[r];
        ZUF_REQUIRE(in_range(tsel, 0, 31), zufErrMp3SideInfo);
        if (tsel == 0 || tsel == 4 || tsel == 14) {
            std::memset(is + i, 0, static_cast<size_t>(end - i) * sizeof(Zuf32s));
        } else if (tsel < 13) {
            decode_pairs<13>(bc, _pHuffmanFastTables[tsel], 0, is, i, end);
        } else {
            decode_pairs<47>(bc, _pHuffmanFastTables[tsel], _pHfLinbits[tsel - 13], is, i, end);
        }
        i = end;
    }
    long left = hufSize - bc.consumed();
    if (left < 0) {
        bc.finish(ppBitStream, pOffset);
        return zufErrRange;
    }
    i = bv2;
    // count1 region: quadruples while bits remain and four lines fit below 576.
    // One lookup of the next 10 bits gives a whole quadruple with its signs (tables A and B).
    const Zuf16u* quads = _pHfQuadSigned[si->count1table_select];
    while (left > 0 && i < 574) {
        bc.ensure(10);
        const uint32_t e = quads[bc.peek(10)];
        const int n = static_cast<int>(e & 15u);
        bc.skip(n);
        is[i] = sext(e >> 10, 2);
        is[i + 1] = sext(e >> 8, 2);
        is[i + 2] = sext(e >> 6, 2);
        is[i + 3] = sext(e >> 4, 2);
        left -= n;
        i += 4;
    }
    if (left < 0) {
        // The last quadruple ran past the end of part 3: it is not part of the data.
        i -= 4;
        is[i] = is[i + 1] = is[i + 2] = is[i + 3] = 0;
    }
    // Whatever was or was not consumed, part 3 ends hufSize bits after its start.
    FieldReader{ppBitStream, pOffset}.skip(static_cast<uint32_t>(hufSize));
    if (i < 576) std::memset(is + i, 0, static_cast<size_t>(576 - i) * sizeof(Zuf32s));
    int nz = i;
    while (nz > 0 && is[nz - 1] == 0) --nz;
    *pNonZero = nz;
    return zufOk;
}

// Region ends of a granule without window switching, from the long band table row.
Regions long_regions(const Mp3SideInfo* si, const Zuf16s* L) {
    const int bv2 = 2 * si->big_values;
    Regions rg;
    int e0 = L[si->region0_count + 1], e1 = L[si->region0_count + si->region1_count + 2];
    rg.end[0] = e0 < bv2 ? e0 : bv2;
    rg.end[1] = e1 < bv2 ? e1 : bv2;
    rg.end[2] = bv2;
    return rg;
}

bool common_side_checks(const Mp3SideInfo* si) {
    return in_range(si->block_type, 0, 3) && in_range(si->window_switching_flag, 0, 1) &&
           in_range(si->count1table_select, 0, 1);
}

}  // namespace

zufResult ownsHuffmanDecodeSfb_MP3(Zuf8u** ppBitStream, int* pOffset, Zuf32s* is, int* pNonZero, const Mp3SideInfo* si,
                                   const Mp3FrameHeader* h, int hufSize, const Zuf16s* pSfbLong) {
    ZUF_REQUIRE(bit_offset_ok(pOffset) && hufSize >= 0 && hufSize <= si->part2_3_length, zufErrBadArg);
    ZUF_REQUIRE(in_range(2 * static_cast<int64_t>(si->big_values), 0, 576), zufErrMp3SideInfo);
    ZUF_REQUIRE(common_side_checks(si), zufErrMp3SideInfo);
    ZUF_REQUIRE(in_range(h->ID, 0, 1) && h->layer == 1, zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(h->sampling_frequency, 0, 2), zufErrMp3FrameHeader);
    const Zuf16s* L = pSfbLong + 23 * (3 * h->ID + h->sampling_frequency);
    Regions rg;
    if (si->window_switching_flag) {
        ZUF_REQUIRE(si->block_type != 0, zufErrMp3SideInfo);
        // Region 0 is 36 lines (MPEG-2 start and stop blocks: 54, ISO/IEC 13818-3 2.4.3.4);
        // region 1 takes the rest of the big values.
        const int bv2 = 2 * si->big_values;
        const int r0 = (h->ID == 0 && (si->block_type == 1 || si->block_type == 3)) ? 54 : 36;
        rg.end[0] = r0 < bv2 ? r0 : bv2;
        rg.end[1] = bv2;
        rg.end[2] = bv2;
    } else {
        ZUF_REQUIRE(
            si->region0_count >= 0 && si->region1_count >= 0 && int64_t{si->region0_count} + si->region1_count < 21,
            zufErrMp3SideInfo);
        rg = long_regions(si, L);
    }
    return decode(ppBitStream, pOffset, is, pNonZero, si, hufSize, rg);
}

zufResult ownsHuffmanDecodeSfbMbp_MP3(Zuf8u** ppBitStream, int* pOffset, Zuf32s* is, int* pNonZero,
                                      const Mp3SideInfo* si, const Mp3FrameHeader* h, int hufSize,
                                      const Zuf16s* pSfbLong, const Zuf16s* pSfbShort, const Zuf16s* pMbp) {
    ZUF_REQUIRE(bit_offset_ok(pOffset), zufErrBadArg);
    ZUF_REQUIRE(in_range(h->ID, 0, 1), zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(2 * static_cast<int64_t>(si->big_values), 0, 576), zufErrMp3SideInfo);
    ZUF_REQUIRE(in_range(si->block_type, 0, 3), zufErrMp3SideInfo);
    ZUF_REQUIRE(in_range(si->window_switching_flag, 0, 1), zufErrMp3SideInfo);
    // Without window switching the block type is taken as 0 whatever the record holds.
    const int block_type = si->window_switching_flag ? si->block_type : 0;
    ZUF_REQUIRE(!(si->window_switching_flag && block_type == 0), zufErrMp3SideInfo);
    ZUF_REQUIRE(h->layer == 1, zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(h->sampling_frequency, 0, 2), zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(si->count1table_select, 0, 1) && hufSize >= 0 && hufSize <= si->part2_3_length,
                zufErrMp3SideInfo);
    const int row = 3 * h->ID + h->sampling_frequency;
    const Zuf16s* L = pSfbLong + 23 * row;
    const Zuf16s* S = pSfbShort + 14 * row;
    Regions rg;
    if (si->window_switching_flag) {
        const int bv2 = 2 * si->big_values;
        int r0;
        if (block_type != 2) {
            r0 = L[8];
        } else if (!si->mixed_block_flag) {
            r0 = 3 * S[3];  // short bands 0..2 of all three windows
        } else {
            // The long part, then pMbp[1] short band-windows in stream order (each short band
            // appears three times, once per window).
            const int m = pMbp[2 * row], n = pMbp[2 * row + 1];
            r0 = (m >= 0 && m <= 22) ? L[m] : 576;
            int k = 0;
            while (k < 13 && 3 * S[k] <= r0) ++k;
            for (int i = 1, j = 0; i <= n && k + j <= 13; ++i) {
                r0 += S[k + j] - S[k + j - 1];
                if ((i + 1) % 3 == 0) ++j;
            }
        }
        rg.end[0] = r0 < bv2 ? r0 : bv2;
        rg.end[1] = bv2;
        rg.end[2] = bv2;
    } else {
        ZUF_REQUIRE(
            si->region0_count >= 0 && si->region1_count >= 0 && int64_t{si->region0_count} + si->region1_count < 21,
            zufErrMp3SideInfo);
        rg = long_regions(si, L);
    }
    return decode(ppBitStream, pOffset, is, pNonZero, si, hufSize, rg);
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsHuffmanDecodeSfb_MP3_1u32s(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pDstIs,
                                                 int* pDstNonZeroBound, const Mp3SideInfo* pSideInfo,
                                                 const Mp3FrameHeader* pFrameHeader, int hufSize,
                                                 const Zuf16s* pSfbTableLong) {
    ZUF_REQUIRE(nonnull(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader, pSfbTableLong),
                zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    return ownsHuffmanDecodeSfb_MP3(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader, hufSize,
                                    pSfbTableLong);
}

ZUF_API zufResult zufsHuffmanDecode_MP3_1u32s(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pDstIs, int* pDstNonZeroBound,
                                              const Mp3SideInfo* pSideInfo, const Mp3FrameHeader* pFrameHeader,
                                              int hufSize) {
    ZUF_REQUIRE(nonnull(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    return ownsHuffmanDecodeSfb_MP3(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader, hufSize,
                                    _zuf_pMP3SfbTableLong);
}

ZUF_API zufResult zufsHuffmanDecodeSfbMbp_MP3_1u32s(Zuf8u** ppBitStream, int* pOffset, Zuf32s* pDstIs,
                                                    int* pDstNonZeroBound, const Mp3SideInfo* pSideInfo,
                                                    const Mp3FrameHeader* pFrameHeader, int hufSize,
                                                    const Zuf16s* pSfbTableLong, const Zuf16s* pSfbTableShort,
                                                    const Zuf16s* pMbp) {
    ZUF_REQUIRE(nonnull(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader, pSfbTableLong,
                        pSfbTableShort, pMbp),
                zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    return ownsHuffmanDecodeSfbMbp_MP3(ppBitStream, pOffset, pDstIs, pDstNonZeroBound, pSideInfo, pFrameHeader, hufSize,
                                       pSfbTableLong, pSfbTableShort, pMbp);
}

}  // extern "C"
