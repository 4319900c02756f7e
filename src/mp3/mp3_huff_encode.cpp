// Layer III Huffman encoding of part 3 (ISO/IEC 11172-3 2.4.2.7, Annex B Table 3-B.7) and the
// spectral bit count that chooses what the side information carries (the table of each region,
// the region counts, the count1 table).
//
// A pair of a table below 16 goes out as one field: the code word with the sign bits of its
// non-zero values appended (x's first). Tables 16..31 code a magnitude of 15 or more as 15 and
// send the excess in linbits bits after the code word, in the order x's linbits, x's sign, y's
// linbits, y's sign. Count1 quadruples send their code word and the signs of v, w, x, y.
// Magnitudes that a table cannot code are clamped to its largest row (and linbits cut to their
// width): the stream is then wrong but no table is read out of its bounds.
#include "mp3/mp3_huff_encode.h"

#include "common/bitstream.h"
#include "common/checks.h"
#include "common/simd.h"
#include "mp3/mp3_quant.h"

namespace zuf {

namespace {

inline uint32_t mag(Zuf32s v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }
inline uint32_t min_u(uint32_t a, uint32_t b) { return a < b ? a : b; }

// Region ends for big values b = 2 * big_values: a non-zero block_type splits at line 36 (no
// region 2); otherwise at the long band boundaries after region0_count + 1 and
// region0_count + region1_count + 2 bands. Each end is limited to b.
struct Regions {
    int end[3];
};
Regions regions(int b, bool split36, int r0, int r1, const Zuf16s* L) {
    const int e0 = split36 ? 36 : L[r0 + 1];
    const int e1 = split36 ? b : L[r0 + r1 + 2];
    return {{e0 < b ? e0 : b, e1 < b ? e1 : b, b}};
}

// Bits of ix[begin..end) under the n tables cand[] that share one xlen (below 16, or 16..31 with
// their linbits): bits[k] per candidate. One packed word per pair sums every candidate's code
// lengths and sign bits at once, and the escapes.
template <int N>
void count_candidates(const Zuf32s* ix, int begin, int end, const int* cand, int* bits) {
    const uint32_t xlen = static_cast<uint32_t>(pHf_table[cand[0]].xlen), top = xlen - 1;
    const Zuf64u* packed = _pHuffmanLenPacked + pHfPacked[cand[0]].offset;
    uint64_t sum = 0;
    for (int i = begin; i < end; i += 2) sum += packed[min_u(mag(ix[i]), top) * xlen + min_u(mag(ix[i + 1]), top)];
    const int escapes = cand[0] >= 16 ? static_cast<int>(sum >> 48) : 0;
    for (int k = 0; k < N; ++k)
        bits[k] =
            static_cast<int>((sum >> (16 * pHfPacked[cand[k]].field)) & 0xFFFF) + escapes * pHf_table[cand[k]].linbits;
}

// The cheapest of n candidates; the later one on a tie.
int cheapest(const int* cand, const int* bits, int n, int* pBits) {
    int best = 0;
    for (int k = 1; k < n; ++k)
        if (bits[k] <= bits[best]) best = k;
    *pBits = bits[best];
    return cand[best];
}

}  // namespace

int ownsCountPairBits_MP3(const Zuf32s* ix, int begin, int end, int t) {
    if (pHf_table[t].code == nullptr || end <= begin) return 0;
    int bits;
    count_candidates<1>(ix, begin, end, &t, &bits);
    return bits;
}

namespace {

// The largest magnitude of ix[begin..end), or some value of 8207 or more (which no table codes)
// when it is that large: eight lines at a time, their magnitudes saturated to 16 bits and
// compared as unsigned (SSE2 has the signed 16-bit maximum only: the sign bit flipped), so that
// |INT32_MIN|, which wraps to a negative value, still counts as the largest.
uint32_t max_magnitude(const Zuf32s* ix, int begin, int end) {
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    __m128i top = _mm_set1_epi16(static_cast<short>(0x8000));  // 0, biased
    int i = begin;
    for (; i + 8 <= end; i += 8) {
        const __m128i a = loadu_i128(ix + i), b = loadu_i128(ix + i + 4);
        const __m128i sa = _mm_srai_epi32(a, 31), sb = _mm_srai_epi32(b, 31);
        const __m128i m =
            _mm_packs_epi32(_mm_sub_epi32(_mm_xor_si128(a, sa), sa), _mm_sub_epi32(_mm_xor_si128(b, sb), sb));
        top = _mm_max_epi16(top, _mm_xor_si128(m, flip));
    }
    top = _mm_max_epi16(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(1, 0, 3, 2)));
    top = _mm_max_epi16(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(2, 3, 0, 1)));
    top = _mm_max_epi16(top, _mm_shufflelo_epi16(top, _MM_SHUFFLE(2, 3, 0, 1)));
    uint32_t m = static_cast<uint32_t>(_mm_cvtsi128_si32(top) & 0xFFFF) ^ 0x8000u;
    for (; i < end; ++i) m = m > mag(ix[i]) ? m : mag(ix[i]);
    return m;
}

}  // namespace

int ownsChooseTable_MP3(const Zuf32s* ix, int begin, int end, int* pBits) {
    const uint32_t m = max_magnitude(ix, begin, end);
    int bits[3] = {};
    if (m == 0) {
        *pBits = 0;
        return 0;
    }
    if (m < 15) {
        // The first table of 0..13 whose rows are long enough, then its equals in row length.
        static constexpr int kClass[15][4] = {{0},          {1, 1},          {2, 2, 3},       {2, 5, 6},   {3, 7, 8, 9},
                                              {3, 7, 8, 9}, {3, 10, 11, 12}, {3, 10, 11, 12}, {2, 13, 15}, {2, 13, 15},
                                              {2, 13, 15},  {2, 13, 15},     {2, 13, 15},     {2, 13, 15}, {2, 13, 15}};
        const int* c = kClass[m];
        if (c[0] == 1) count_candidates<1>(ix, begin, end, c + 1, bits);
        if (c[0] == 2) count_candidates<2>(ix, begin, end, c + 1, bits);
        if (c[0] == 3) count_candidates<3>(ix, begin, end, c + 1, bits);
        return cheapest(c + 1, bits, c[0], pBits);
    }
    // Escape tables: the first of each family whose linbits hold m - 15; 24..31 only when
    // strictly cheaper.
    int cand[2] = {16, 24};
    while (cand[0] < 24 && static_cast<uint32_t>(pHf_table[cand[0]].linmax) <= m - 15) ++cand[0];
    while (cand[1] < 32 && static_cast<uint32_t>(pHf_table[cand[1]].linmax) <= m - 15) ++cand[1];
    if (cand[0] == 24 || cand[1] == 32) {
        *pBits = 1 << 30;
        return -1;
    }
    // Both families have rows of 16: one pass counts both.
    int len[2];
    count_candidates<2>(ix, begin, end, cand, len);
    const int k = len[1] < len[0] ? 1 : 0;
    *pBits = len[k];
    return cand[k];
}

int ownsCountSpectralBits_MP3(const Zuf32s* ix, const Zuf16s* L, int window_switching_flag, int block_type,
                              Mp3HuffmanChoice* c) {
    // Zero pairs from the top, then quadruples of magnitudes 0..1 into count1.
    int n = 576;
    while (n >= 8 && _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(loadu_i128(ix + n - 8), loadu_i128(ix + n - 4)),
                                                       _mm_setzero_si128())) == 0xFFFF)
        n -= 8;  // eight zero lines at a time first
    while (n >= 2 && ix[n - 1] == 0 && ix[n - 2] == 0) n -= 2;
    int top = n;
    while (top >= 4 && mag(ix[top - 1]) <= 1 && mag(ix[top - 2]) <= 1 && mag(ix[top - 3]) <= 1 && mag(ix[top - 4]) <= 1)
        top -= 4;
    const int b = top;
    c->big_values = b / 2;
    c->count1 = n - top;

    if (b == 0) {
        c->region0_count = c->region1_count = 0;
    } else if (window_switching_flag) {
        c->region0_count = block_type == 2 ? 8 : 7;
        c->region1_count = 20 - c->region0_count;
    } else {
        int band = 0;
        while (band < 22 && L[band] < b) ++band;
        int r0 = _pScalefactorSubdivideTable_MP3[band][0], r1 = _pScalefactorSubdivideTable_MP3[band][1];
        while (r0 > 0 && L[r0 + 1] > b) --r0;
        while (r1 > 0 && L[r0 + r1 + 2] > b) --r1;
        c->region0_count = r0, c->region1_count = r1;
    }
    const Regions rg = regions(b, block_type != 0, c->region0_count, c->region1_count, L);
    c->bits = 0;
    for (int r = 0, start = 0; r < 3; ++r) {
        const int end = rg.end[r] > start ? rg.end[r] : start;
        c->table_select[r] = ownsChooseTable_MP3(ix, start, end, &c->region_bits[r]);
        c->bits += c->region_bits[r];
        start = end;
    }

    // Count1: table A by its code lengths, table B is 4 bits a quadruple; signs in both.
    const Zuf16u* qa = pHf_table[32].code;
    int bits_a = 0, bits_b = 0;
    for (int i = b; i < n; i += 4) {
        const int q = 8 * (ix[i] != 0) + 4 * (ix[i + 1] != 0) + 2 * (ix[i + 2] != 0) + (ix[i + 3] != 0);
        const int s = (ix[i] != 0) + (ix[i + 1] != 0) + (ix[i + 2] != 0) + (ix[i + 3] != 0);
        bits_a += qa[2 * q + 1] + s;
        bits_b += 4 + s;
    }
    c->count1table_select = bits_b <= bits_a ? 1 : 0;
    c->count1_bits = bits_b <= bits_a ? bits_b : bits_a;
    c->bits += c->count1_bits;
    return c->bits;
}

zufResult ownsHuffmanEncode_MP3(const Zuf32s* ix, Zuf8u** ppBitStream, int* pOffset, const Mp3SideInfo* si,
                                const Zuf16s* L, int count1, int part3Bits) {
    const int b = 2 * si->big_values;
    const Regions rg =
        regions(b, si->window_switching_flag && si->block_type != 0, si->region0_count, si->region1_count, L);
    BitAccumulator w(*ppBitStream, *pOffset);
    long written = 0;
    int i = 0;
    for (int r = 0; r < 3; ++r) {
        const int end = rg.end[r];
        if (end <= i) continue;
        const int tsel = si->table_select[r];
        // Tables 32 and 33 are the count1 tables and there are no others: the range is closed.
        if (!in_range(tsel, 0, 31)) {
            w.finish_cleared(ppBitStream, pOffset);
            return zufErrMp3SideInfo;
        }
        const Mp3HuffmanEncTable& t = pHf_table[tsel];
        if (t.code == nullptr) {  // tables 0, 4, 14: the region is zero and costs nothing
            i = end;
            continue;
        }
        const uint32_t xlen = static_cast<uint32_t>(t.xlen), top = xlen - 1;
        if (tsel < 16) {
            for (; i < end; i += 2) {
                const uint32_t ax = min_u(mag(ix[i]), top), ay = min_u(mag(ix[i + 1]), top);
                const Zuf16u* e = t.code + 2 * (ax * xlen + ay);
                uint32_t v = e[0];
                int len = e[1];
                if (ax) v = (v << 1) | (ix[i] < 0), ++len;
                if (ay) v = (v << 1) | (ix[i + 1] < 0), ++len;
                w.put(v, len);
                written += len;
            }
        } else {
            const int lb = t.linbits;
            for (; i < end; i += 2) {
                const uint32_t ax = mag(ix[i]), ay = mag(ix[i + 1]);
                const uint32_t cx = min_u(ax, 15), cy = min_u(ay, 15);
                const Zuf16u* e = t.code + 2 * (cx * 16 + cy);
                // Code word (up to 17 bits), x's linbits (up to 13) and sign: at most 31 bits.
                uint32_t v = e[0];
                int len = e[1];
                if (cx == 15) v = (v << lb) | ((ax - 15) & ((1u << lb) - 1u)), len += lb;
                if (ax) v = (v << 1) | (ix[i] < 0), ++len;
                w.put(v, len);
                written += len;
                v = 0, len = 0;
                if (cy == 15) v = (ay - 15) & ((1u << lb) - 1u), len = lb;
                if (ay) v = (v << 1) | (ix[i + 1] < 0), ++len;
                w.put(v, len);
                written += len;
            }
        }
    }
    // Count1 quadruples from line b, as many as the length asks and 576 lines hold.
    const Zuf16u* qc = pHf_table[32 + si->count1table_select].code;
    int quads = count1 > 0 ? count1 / 4 : 0;
    if (quads > (576 - b) / 4) quads = (576 - b) / 4;
    for (int k = 0, j = b; k < quads; ++k, j += 4) {
        const Zuf32s* q = ix + j;
        const int idx = 8 * (q[0] != 0) + 4 * (q[1] != 0) + 2 * (q[2] != 0) + (q[3] != 0);
        uint32_t v = qc[2 * idx];
        int len = qc[2 * idx + 1];
        for (int s = 0; s < 4; ++s)
            if (q[s]) v = (v << 1) | (q[s] < 0), ++len;
        w.put(v, len);
        written += len;
    }
    // Stuffing: 1-bits up to the requested length (a decoder reads them as zero quadruples or
    // passes them over).
    long fill = part3Bits - written;
    for (; fill >= 32; fill -= 32) w.put(0xFFFFFFFFu, 32);
    if (fill > 0) w.put(0xFFFFFFFFu, static_cast<int>(fill));
    w.finish_cleared(ppBitStream, pOffset);
    return zufOk;
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsHuffmanEncode_MP3_32s1u(const Zuf32s* pSrcIx, Zuf8u** ppBitStream, int* pOffset,
                                              const Mp3FrameHeader* pFrameHeader, const Mp3SideInfo* pSideInfo,
                                              int count1Len, int hufSize) {
    ZUF_REQUIRE(nonnull(pSrcIx, ppBitStream), zufErrNullPtr);
    ZUF_REQUIRE(nonnull(*ppBitStream, pOffset, pFrameHeader, pSideInfo), zufErrNullPtr);
    ZUF_REQUIRE(bit_offset_ok(pOffset), zufErrBadArg);
    // Negative counts are refused with the too-large ones: no line or band outside the tables.
    ZUF_REQUIRE(in_range(2 * static_cast<int64_t>(pSideInfo->big_values), 0, 576), zufErrMp3SideInfo);
    ZUF_REQUIRE(pSideInfo->region0_count >= 0 && pSideInfo->region1_count >= 0 &&
                    int64_t{pSideInfo->region0_count} + pSideInfo->region1_count < 21,
                zufErrMp3SideInfo);
    ZUF_REQUIRE(in_range(pSideInfo->count1table_select, 0, 1), zufErrMp3SideInfo);
    ZUF_REQUIRE(pFrameHeader->ID == 1 && pFrameHeader->layer == 1, zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(pFrameHeader->sampling_frequency, 0, 2), zufErrMp3FrameHeader);
    const Zuf16s* L = _zuf_pMP3SfbTableLong + 23 * (3 + pFrameHeader->sampling_frequency);
    return ownsHuffmanEncode_MP3(pSrcIx, ppBitStream, pOffset, pSideInfo, L, count1Len, hufSize);
}

}  // extern "C"
