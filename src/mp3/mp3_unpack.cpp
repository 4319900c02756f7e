// Layer III frame header, side information and scale factors (ISO/IEC 11172-3 2.4.1.3, 2.4.1.7,
// 2.4.2.7; ISO/IEC 13818-3 2.4.1.7, 2.4.3.2), and the encoder's bit reservoir set-up.
//
// Plain field-by-field reads in syntax order through the library's FieldReader. The
// header and side information are read through a local bit offset: both start and end on byte
// boundaries, so only the byte pointer goes back to the caller.
#include <cstddef>

#include "common/bitstream.h"
#include "common/checks.h"
#include "mp3/mp3_tables.h"

// The records are part of the ABI: 32-bit slots only, so the layout is the 32-bit x86 one on
// every target.
static_assert(sizeof(Mp3FrameHeader) == 52);
static_assert(offsetof(Mp3FrameHeader, mode) == 28);
static_assert(offsetof(Mp3FrameHeader, crc_check) == 48);
static_assert(sizeof(Mp3SideInfo) == 72);
static_assert(offsetof(Mp3SideInfo, table_select) == 28);
static_assert(offsetof(Mp3SideInfo, subblock_gain) == 40);
static_assert(offsetof(Mp3SideInfo, region0_count) == 52);
static_assert(offsetof(Mp3SideInfo, preflag) == 60);
static_assert(offsetof(Mp3SideInfo, count1table_select) == 68);
static_assert(sizeof(Mp3BitReservoir) == 8);
static_assert(sizeof(Mp3ScaleFactors) == 40);

namespace zuf {

void ownsUnpackFrameHeader_MP3(Zuf8u** ppBitStream, Mp3FrameHeader* h) {
    const Zuf8u* p = *ppBitStream;
    // Byte 0 and the top three bits of byte 1 are the rest of the sync word.
    h->ID = (p[1] >> 3) & 1;
    h->layer = (p[1] >> 1) & 3;
    h->protection_bit = p[1] & 1;
    h->bitrate_index = p[2] >> 4;
    h->sampling_frequency = (p[2] >> 2) & 3;
    h->padding_bit = (p[2] >> 1) & 1;
    h->private_bit = p[2] & 1;
    h->mode = p[3] >> 6;
    h->mode_extension = (p[3] >> 4) & 3;
    h->copyright = (p[3] >> 3) & 1;
    h->original_copy = (p[3] >> 2) & 1;
    h->emphasis = p[3] & 3;
    if (h->protection_bit == 0) {
        h->crc_check = (p[4] << 8) | p[5];  // error_check(), ISO/IEC 11172-3 2.4.1.4
        *ppBitStream += 6;
    } else {
        *ppBitStream += 4;
    }
}

zufResult ownsUnpackSideInfo_MP3(Zuf8u** ppBitStream, Mp3SideInfo* si, int* pMainDataBegin, int* pPrivateBits,
                                 int* pScfsi, const Mp3FrameHeader* h) {
    const int nch = h->mode == 3 ? 1 : 2;
    const bool mpeg1 = h->ID == 1;
    int offset = 0;
    FieldReader r{ppBitStream, &offset};
    *pMainDataBegin = r.get(mpeg1 ? 9 : 8);
    *pPrivateBits = mpeg1 ? r.get(nch == 1 ? 5 : 3) : r.get(nch == 1 ? 1 : 2);
    if (mpeg1)
        for (int ch = 0; ch < nch; ++ch)
            for (int k = 0; k < 4; ++k) pScfsi[4 * ch + k] = r.get(1);
    const int ngr = mpeg1 ? 2 : 1;
    for (int gr = 0; gr < ngr; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            Mp3SideInfo& g = si[gr * nch + ch];
            g.part2_3_length = r.get(12);
            g.big_values = r.get(9);
            g.global_gain = r.get(8);
            g.scalefac_compress = r.get(mpeg1 ? 4 : 9);
            g.window_switching_flag = r.get(1);
            if (g.window_switching_flag) {
                g.block_type = r.get(2);
                g.mixed_block_flag = r.get(1);
                g.table_select[0] = r.get(5);
                g.table_select[1] = r.get(5);
                for (int w = 0; w < 3; ++w) g.subblock_gain[w] = r.get(3);
                // block_type 0 is forbidden with window switching (2.4.2.7): stop here.
                if (g.block_type == 0) return zufErrMp3SideInfo;
                // Implicit region boundaries: 36 lines (8 bands of short blocks, 7 otherwise);
                // region 1 takes the rest, up to band 22 of the boundary table.
                g.region0_count = (g.block_type == 2 && g.mixed_block_flag == 0) ? 8 : 7;
                g.region1_count = 20 - g.region0_count;
            } else {
                for (int k = 0; k < 3; ++k) g.table_select[k] = r.get(5);
                g.region0_count = r.get(4);
                g.region1_count = r.get(3);
                g.block_type = 0;
                g.mixed_block_flag = 0;
            }
            if (mpeg1) g.preflag = r.get(1);  // MPEG-2: implied by scalefac_compress
            g.scalefac_scale = r.get(1);
            g.count1table_select = r.get(1);
        }
    }
    return zufOk;  // all side-information lengths are whole bytes: offset is 0 here
}

namespace {

// MPEG-1 scale factors, ISO/IEC 11172-3 2.4.1.7 and 2.4.2.7.
void unpack_sf_mpeg1(const FieldReader& r, Zuf8s* sf, const Mp3SideInfo* si, const int* scfsi, int gr) {
    const int slen1 = _pMP3TableSlen[0][si->scalefac_compress];
    const int slen2 = _pMP3TableSlen[1][si->scalefac_compress];
    sf[21] = 0;
    // Reads one field of n values of `bits` bits each, the first value in the high bits.
    auto split = [&](Zuf8s* dst, int n, int bits) {
        const uint32_t v = static_cast<uint32_t>(r.get(static_cast<uint32_t>(n * bits)));
        for (int k = 0; k < n; ++k)
            dst[k] = static_cast<Zuf8s>(bits ? (v >> (bits * (n - 1 - k))) & ((1u << bits) - 1u) : 0);
    };
    if (si->block_type == 2) {
        int e = 0;
        if (si->mixed_block_flag) {
            for (int b = 0; b < 8; ++b) split(sf + e++, 1, slen1);  // long bands 0..7
            for (int k = 0; k < 9; ++k) split(sf + e++, 1, slen1);  // short bands 3..5
        } else {
            for (int b = 0; b < 6; ++b, e += 3) split(sf + e, 3, slen1);  // short bands 0..5
        }
        for (int b = 0; b < 6; ++b, e += 3) split(sf + e, 3, slen2);  // short bands 6..11
        sf[e] = sf[e + 1] = sf[e + 2] = 0;                            // band 12
        return;
    }
    // Long blocks by band group; with scfsi set, granule 1 reuses granule 0's group.
    static constexpr int kStart[4] = {0, 6, 11, 16}, kCount[4] = {6, 5, 5, 5};
    for (int g = 0; g < 4; ++g) {
        if (gr == 1 && scfsi[g]) continue;
        split(sf + kStart[g], kCount[g], g < 2 ? slen1 : slen2);
    }
}

// MPEG-2 scale factors, ISO/IEC 13818-3 2.4.3.2.
void unpack_sf_mpeg2(const FieldReader& r, Zuf8s* sf, Mp3SideInfo* si, const Mp3FrameHeader* h, int ch) {
    int kind = 0;
    if (si->block_type == 2) {
        si->mixed_block_flag &= 1;
        kind = 1 + si->mixed_block_flag;
    }
    const int sfc = si->scalefac_compress;
    int slen[4], table;
    if (!((h->mode_extension & 1) && ch == 1)) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc % 16) >> 2, slen[3] = sfc % 4;
            table = 0;
        } else if (sfc < 500) {
            const int s = sfc - 400;
            slen[0] = (s >> 2) / 5, slen[1] = (s >> 2) % 5, slen[2] = s % 4, slen[3] = 0;
            table = 1;
        } else {
            const int s = sfc - 500;
            slen[0] = s / 3, slen[1] = s % 3, slen[2] = 0, slen[3] = 0;
            table = 2;
        }
        si->preflag = table == 2 ? 1 : 0;
    } else {
        // Intensity-stereo right channel: int_scalefac_compress = scalefac_compress / 2.
        const int i = sfc >> 1;
        if (i < 180) {
            slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6, slen[3] = 0;
            table = 3;
        } else if (i < 244) {
            const int s = i - 180;
            slen[0] = s >> 4, slen[1] = (s % 16) >> 2, slen[2] = s % 4, slen[3] = 0;
            table = 4;
        } else {
            const int s = i - 244;
            slen[0] = s / 3, slen[1] = s % 3, slen[2] = 0, slen[3] = 0;
            table = 5;
        }
        si->preflag = 0;
    }
    const bool is_right = (h->mode_extension & 1) && ch == 1;
    int e = 0;
    for (int k = 0; k < 4; ++k) {
        const int n = _pNumberOfSfbBlock[table][kind][k];
        const uint32_t bits = static_cast<uint32_t>(slen[k]);
        const Zuf32s illegal = (1 << slen[k]) - 1;  // the largest code marks an illegal position
        for (int j = 0; j < n; ++j, ++e) {
            const Zuf32s v = r.get(bits);
            sf[e] = static_cast<Zuf8s>(is_right && v == illegal ? -v : v);
        }
    }
    sf[e] = sf[e + 1] = sf[e + 2] = 0;
}

}  // namespace

zufResult ownsUnpackScaleFactors_MP3(Zuf8u** ppBitStream, int* pOffset, Zuf8s* sf, Mp3SideInfo* si, int* scfsi,
                                     const Mp3FrameHeader* h, int gr, int ch) {
    FieldReader r{ppBitStream, pOffset};
    if (h->ID != 0) {
        ZUF_REQUIRE(in_range(si->scalefac_compress, 0, 15), zufErrMp3SideInfo);
        unpack_sf_mpeg1(r, sf, si, scfsi, gr);
    } else {
        ZUF_REQUIRE(in_range(si->scalefac_compress, 0, 511), zufErrMp3SideInfo);
        ZUF_REQUIRE(in_range(h->mode_extension, 0, 3), zufErrMp3FrameHeader);
        unpack_sf_mpeg2(r, sf, si, h, ch);
    }
    return zufOk;
}

}  // namespace zuf

using namespace zuf;

extern "C" {

ZUF_API zufResult zufsUnpackFrameHeader_MP3(Zuf8u** ppBitStream, Mp3FrameHeader* pFrameHeader) {
    ZUF_REQUIRE(stream_nonnull(ppBitStream) && pFrameHeader, zufErrNullPtr);
    ownsUnpackFrameHeader_MP3(ppBitStream, pFrameHeader);
    return zufOk;
}

ZUF_API zufResult zufsUnpackSideInfo_MP3(Zuf8u** ppBitStream, Mp3SideInfo* pDstSideInfo, int* pDstMainDataBegin,
                                         int* pDstPrivateBits, int* pDstScfsi, const Mp3FrameHeader* pFrameHeader) {
    ZUF_REQUIRE(nonnull(ppBitStream, pDstSideInfo, pDstMainDataBegin, pDstPrivateBits, pDstScfsi, pFrameHeader),
                zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(in_range(pFrameHeader->ID, 0, 1) && pFrameHeader->layer == 1, zufErrMp3FrameHeader);
    ZUF_REQUIRE(in_range(pFrameHeader->mode, 0, 3), zufErrMp3FrameHeader);
    return ownsUnpackSideInfo_MP3(ppBitStream, pDstSideInfo, pDstMainDataBegin, pDstPrivateBits, pDstScfsi,
                                  pFrameHeader);
}

ZUF_API zufResult zufsUnpackScaleFactors_MP3_1u8s(Zuf8u** ppBitStream, int* pOffset, Zuf8s* pDstScaleFactor,
                                                  Mp3SideInfo* pSideInfo, int* pScfsi,
                                                  const Mp3FrameHeader* pFrameHeader, int gr, int ch) {
    ZUF_REQUIRE(nonnull(ppBitStream, pOffset, pDstScaleFactor, pSideInfo, pScfsi, pFrameHeader), zufErrNullPtr);
    ZUF_REQUIRE(*ppBitStream != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(bit_offset_ok(pOffset) && in_range(gr, 0, 1) && in_range(ch, 0, 1), zufErrBadArg);
    return ownsUnpackScaleFactors_MP3(ppBitStream, pOffset, pDstScaleFactor, pSideInfo, pScfsi, pFrameHeader, gr, ch);
}

ZUF_API zufResult zufsBitReservoirInit_MP3(Mp3BitReservoir* pDstBitResv, const Mp3FrameHeader* pFrameHeader) {
    ZUF_REQUIRE(nonnull(pDstBitResv, pFrameHeader), zufErrNullPtr);
    ZUF_REQUIRE(pFrameHeader->ID == 1, zufErrMp3FrameHeader);
    // 7680 bits: the largest MPEG-1 Layer III frame (320 kbit/s at 48 kHz); 4088 = 511 * 8 bytes:
    // the furthest a 9-bit main_data_begin reaches back. Free format (index 0) gets 4088.
    const int sf = pFrameHeader->sampling_frequency, bi = pFrameHeader->bitrate_index;
    const int slots = (in_range(sf, 0, 2) && in_range(bi, 0, 14)) ? _pMPEG1_nSlotTable[sf][bi] : 0;
    const int bits = 8 * slots < 7680 ? 8 * slots : 7680;
    const int cap = 7680 - bits;
    pDstBitResv->bitsRemaining = 0;
    pDstBitResv->maxBits = cap < 4088 ? cap : 4088;
    return zufOk;
}

}  // extern "C"
