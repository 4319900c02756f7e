// Layer III frame packing: header, side information and scale factors (ISO/IEC 11172-3 2.4.1.3,
// 2.4.1.7, 2.4.2.7; ISO/IEC 13818-3 2.4.1.7, 2.4.3.2), the mirror of mp3_unpack.cpp.
//
// Fields go out in syntax order through the library's BitAccumulator. The header and the side
// information start on a byte boundary and fill whole bytes, so only the byte pointer moves for
// the caller; the scale factors continue at the caller's bit offset. A partly written last byte
// has its low bits cleared, and no byte after the last bit is touched.
//
// Values are not range-checked: every field is cut to its width. Where a field decides what
// follows (protection_bit, window_switching_flag, block_type), the decision is taken on the bits
// written, so the stream always parses the way it was meant.
#include "common/bitstream.h"
#include "common/checks.h"
#include "mp3/mp3_huff_encode.h"

namespace zuf {

namespace {

inline uint32_t u(Zuf32s v) { return static_cast<uint32_t>(v); }

// Slen of the four MPEG-2 scale-factor parts, the nr_of_sfb_block table and preflag from
// scalefac_compress (ISO/IEC 13818-3 2.4.3.2); is_right: the intensity-stereo right channel,
// which codes int_scalefac_compress = scalefac_compress / 2.
struct Mpeg2Slen {
    int slen[4];
    int table;
    int preflag;
};

Mpeg2Slen mpeg2_slen(int sfc, bool is_right) {
    if (!is_right) {
        if (sfc < 400) return {{(sfc >> 4) / 5, (sfc >> 4) % 5, (sfc % 16) >> 2, sfc % 4}, 0, 0};
        if (sfc < 500) {
            const int s = sfc - 400;
            return {{(s >> 2) / 5, (s >> 2) % 5, s % 4, 0}, 1, 0};
        }
        const int s = sfc - 500;
        return {{s / 3, s % 3, 0, 0}, 2, 1};
    }
    const int i = sfc >> 1;
    if (i < 180) return {{i / 36, (i % 36) / 6, (i % 36) % 6, 0}, 3, 0};
    if (i < 244) {
        const int s = i - 180;
        return {{s >> 4, (s % 16) >> 2, s % 4, 0}, 4, 0};
    }
    const int s = i - 244;
    return {{s / 3, s % 3, 0, 0}, 5, 0};
}

// n values of `bits` bits each from sf[0..n).
inline void put_run(BitAccumulator& w, const Zuf8s* sf, int n, int bits) {
    if (bits == 0) return;
    for (int k = 0; k < n; ++k) w.put(static_cast<uint32_t>(sf[k]), bits);
}

void pack_sf_mpeg1(BitAccumulator& w, const Zuf8s* sf, const Mp3SideInfo* si, const int* scfsi, int gr) {
    const int slen1 = ownMP3TableSlen[0][si->scalefac_compress];
    const int slen2 = ownMP3TableSlen[1][si->scalefac_compress];
    if (si->block_type == 2) {
        // Short: sfb 0..5 of three windows with slen1, 6..11 with slen2; mixed: long bands 0..7
        // and short sfb 3..5 with slen1, then 6..11.
        const int n1 = si->mixed_block_flag ? 8 + 9 : 18;
        put_run(w, sf, n1, slen1);
        put_run(w, sf + n1, 18, slen2);
        return;
    }
    // Long blocks by band group; granule 1 leaves out the groups that reuse granule 0's (scfsi).
    static constexpr int kStart[4] = {0, 6, 11, 16}, kCount[4] = {6, 5, 5, 5};
    for (int g = 0; g < 4; ++g) {
        if (gr == 1 && scfsi[g]) continue;
        put_run(w, sf + kStart[g], kCount[g], g < 2 ? slen1 : slen2);
    }
}

void pack_sf_mpeg2(BitAccumulator& w, const Zuf8s* sf, Mp3SideInfo* si, const Mp3FrameHeader* h, int ch) {
    int kind = 0;
    if (si->block_type == 2) kind = si->mixed_block_flag == 0 ? 1 : si->mixed_block_flag == 1 ? 2 : 0;
    const bool is_right = (h->mode_extension & 1) && ch == 1;
    const Mpeg2Slen s = mpeg2_slen(si->scalefac_compress, is_right);
    si->preflag = s.preflag;
    for (int k = 0, e = 0; k < 4; ++k) {
        const int n = ownNumberOfSfbBlock[s.table][kind][k];
        if (s.slen[k] > 0) {
            for (int j = 0; j < n; ++j) {
                // The decoder marks an illegal intensity position (the part's largest code) by
                // negating it; it goes back out as that code.
                const int v = sf[e + j];
                w.put(static_cast<uint32_t>(is_right && v < 0 ? -v : v), s.slen[k]);
            }
        }
        e += n;
    }
}

}  // namespace

void ownsPackFrameHeader_MP3(const Mp3FrameHeader* h, Zuf8u** ppBitStream) {
    BitAccumulator w(*ppBitStream, 0);
    w.put(0xFFF, 12);  // syncword
    w.put(u(h->ID), 1);
    w.put(u(h->layer), 2);
    w.put(u(h->protection_bit), 1);
    w.put(u(h->bitrate_index), 4);
    w.put(u(h->sampling_frequency), 2);
    w.put(u(h->padding_bit), 1);
    w.put(u(h->private_bit), 1);
    w.put(u(h->mode), 2);
    w.put(u(h->mode_extension), 2);
    w.put(u(h->copyright), 1);
    w.put(u(h->original_copy), 1);
    w.put(u(h->emphasis), 2);
    if ((h->protection_bit & 1) == 0) w.put(u(h->crc_check), 16);  // error_check(), 2.4.1.4
    int offset;
    w.finish_cleared(ppBitStream, &offset);
}

zufResult ownsPackSideInfo_MP3(const Mp3SideInfo* si, Zuf8u** ppBitStream, int mainDataBegin, int privateBits,
                               const int* scfsi, const Mp3FrameHeader* h) {
    const int nch = h->mode == 3 ? 1 : 2;
    const bool mpeg1 = h->ID == 1;
    BitAccumulator w(*ppBitStream, 0);
    int offset;
    w.put(u(mainDataBegin), mpeg1 ? 9 : 8);
    w.put(u(privateBits), mpeg1 ? (nch == 1 ? 5 : 3) : nch);
    if (mpeg1)
        for (int k = 0; k < 4 * nch; ++k) w.put(u(scfsi[k]), 1);
    const int ngr = mpeg1 ? 2 : 1;
    for (int i = 0; i < ngr * nch; ++i) {
        const Mp3SideInfo& g = si[i];
        w.put(u(g.part2_3_length), 12);
        w.put(u(g.big_values), 9);
        w.put(u(g.global_gain), 8);
        w.put(u(g.scalefac_compress), mpeg1 ? 4 : 9);
        w.put(u(g.window_switching_flag), 1);
        if (g.window_switching_flag & 1) {
            // block_type 0 is forbidden with window switching (2.4.2.7): stop before it.
            if ((g.block_type & 3) == 0) {
                w.finish_cleared(ppBitStream, &offset);
                return zufErrMp3SideInfo;
            }
            w.put(u(g.block_type), 2);
            w.put(u(g.mixed_block_flag), 1);
            w.put(u(g.table_select[0]), 5);
            w.put(u(g.table_select[1]), 5);
            for (int k = 0; k < 3; ++k) w.put(u(g.subblock_gain[k]), 3);
        } else {
            for (int k = 0; k < 3; ++k) w.put(u(g.table_select[k]), 5);
            w.put(u(g.region0_count), 4);
            w.put(u(g.region1_count), 3);
        }
        if (mpeg1) w.put(u(g.preflag), 1);  // MPEG-2: implied by scalefac_compress
        w.put(u(g.scalefac_scale), 1);
        w.put(u(g.count1table_select), 1);
    }
    w.finish_cleared(ppBitStream, &offset);  // whole bytes: offset is 0
    return zufOk;
}

zufResult ownsPackScaleFactors_MP3(const Zuf8s* sf, Zuf8u** ppBitStream, int* pOffset, const Mp3FrameHeader* h,
                                   Mp3SideInfo* si, const int* scfsi, int gr, int ch) {
    if (h->ID != 0) {
        ZUF_REQUIRE(in_range(si->scalefac_compress, 0, 15), zufErrMp3SideInfo);
    } else {
        ZUF_REQUIRE(in_range(si->scalefac_compress, 0, 511), zufErrMp3SideInfo);
        ZUF_REQUIRE(in_range(h->mode_extension, 0, 3), zufErrMp3FrameHeader);
    }
    BitAccumulator w(*ppBitStream, *pOffset);
    if (h->ID != 0)
        pack_sf_mpeg1(w, sf, si, scfsi, gr);
    else
        pack_sf_mpeg2(w, sf, si, h, ch);
    w.finish_cleared(ppBitStream, pOffset);
    return zufOk;
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsPackFrameHeader_MP3(const Mp3FrameHeader* pSrcFrameHeader, Zuf8u** ppBitStream) {
    ZUF_REQUIRE(pSrcFrameHeader && stream_nonnull(ppBitStream), zufErrNullPtr);
    ownsPackFrameHeader_MP3(pSrcFrameHeader, ppBitStream);
    return zufOk;
}

ZUF_API zufResult zufsPackSideInfo_MP3(const Mp3SideInfo* pSrcSideInfo, Zuf8u** ppBitStream, int mainDataBegin,
                                       int privateBits, const int* pSrcScfsi, const Mp3FrameHeader* pFrameHeader) {
    ZUF_REQUIRE(nonnull(pSrcSideInfo, ppBitStream) && *ppBitStream && nonnull(pSrcScfsi, pFrameHeader), zufErrNullPtr);
    ZUF_REQUIRE(in_range(pFrameHeader->ID, 0, 1), zufErrMp3FrameHeader);
    ZUF_REQUIRE(pFrameHeader->layer == 1 && in_range(pFrameHeader->mode, 0, 3), zufErrMp3FrameHeader);
    return ownsPackSideInfo_MP3(pSrcSideInfo, ppBitStream, mainDataBegin, privateBits, pSrcScfsi, pFrameHeader);
}

ZUF_API zufResult zufsPackScaleFactors_MP3_8s1u(const Zuf8s* pSrcScaleFactor, Zuf8u** ppBitStream, int* pOffset,
                                                const Mp3FrameHeader* pFrameHeader, Mp3SideInfo* pSideInfo,
                                                const int* pScfsi, int gr, int ch) {
    ZUF_REQUIRE(nonnull(pSrcScaleFactor, ppBitStream), zufErrNullPtr);
    ZUF_REQUIRE(nonnull(*ppBitStream, pOffset, pFrameHeader, pSideInfo, pScfsi), zufErrNullPtr);
    // Every MP3 function refuses a bit offset outside 0..7 before any work.
    ZUF_REQUIRE(bit_offset_ok(pOffset), zufErrBadArg);
    return ownsPackScaleFactors_MP3(pSrcScaleFactor, ppBitStream, pOffset, pFrameHeader, pSideInfo, pScfsi, gr, ch);
}

}  // extern "C"
