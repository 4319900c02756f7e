// The whole syntax layer on real ADTS streams made by ffmpeg (tests/vectors, tests/vectors/aac):
// every frame is walked element by element with the library's decoders, and every raw data
// block must end, byte-aligned after its END element, exactly where the ADTS frame ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/bitstream.h"
#include "zufack9/zuf_aac.h"

namespace {

namespace fs = std::filesystem;

// PRED_SFB_MAX of ISO/IEC 13818-7 Table 8.18, by sampling_frequency_index.
constexpr int kPredSfbMax[12] = {33, 33, 38, 40, 40, 40, 41, 41, 37, 37, 37, 34};

// One individual_channel_stream through the MPEG-4 driver (it takes noise substitution and LTP).
zufResult decode_channel(Zuf8u** pp, int* off, int sfi, int aot, AacIcsInfo* ics, int common, AacMainHeader* mh) {
    AacChanInfo ci{};
    Zuf16s sf[120];
    Zuf32s quant[1024];
    Zuf8u cb[120];
    Zuf8s tns[60];
    ci.sampling_frequency_index = sfi;
    ci.pred_sfb_max = aot == 1 ? kPredSfbMax[sfi] : 0;
    ci.pIcsInfo = ics;
    return zufsNoiselessDecode_AAC(pp, off, mh, sf, quant, cb, tns, &ci, 0, 0, common, 0, aot);
}

// Walks every frame of an ADTS file. Returns the number of frames.
::testing::AssertionResult walk(const fs::path& path, int& frames) {
    std::ifstream f(path, std::ios::binary);
    std::vector<Zuf8u> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t size = data.size();
    data.resize(size + 8192, 0);  // the parsers' read-ahead
    size_t pos = 0;
    while (pos + 7 <= size) {
        Zuf8u* frame = data.data() + pos;
        if (frame[0] != 0xFF || (frame[1] & 0xF0) != 0xF0) return ::testing::AssertionFailure() << "no sync at " << pos;
        Zuf8u* p = frame;
        AacAdtsFrameHeader h;
        if (zufsUnpackADTSFrameHeader_AAC(&p, &h) != zufOk) return ::testing::AssertionFailure() << "header";
        const bool block_crcs = h.protection_absent == 0 && h.num_raw_data_blocks > 1;
        if (block_crcs) p = frame + 7 + 2 * h.num_raw_data_blocks;  // block positions, then crc_check
        const int sfi = h.sampling_frequency_index, aot = h.profile + 1;
        int off = 0;
        for (int blk = 0; blk < h.num_raw_data_blocks; ++blk) {
            for (;;) {
                const uint32_t id = zuf::FieldReader{&p, &off}.get(3);
                if (id == 7) break;  // ID_END
                zufResult r = zufOk;
                AacIcsInfo ics[2] = {};
                AacMainHeader mh{};
                if (id == 0 || id == 3) {  // SCE, LFE
                    zuf::FieldReader{&p, &off}.get(4);
                    r = decode_channel(&p, &off, sfi, aot, &ics[0], 0, &mh);
                } else if (id == 1) {  // CPE
                    zuf::FieldReader{&p, &off}.get(4);
                    AacChanPairElt cpe{};
                    r = aot == 4 ? zufsDecodeChanPairElt_MP4_AAC(&p, &off, &ics[0], &cpe, &mh, 0, aot)
                                 : zufsDecodeChanPairElt_AAC(&p, &off, &ics[0], &cpe, aot == 1 ? kPredSfbMax[sfi] : 0);
                    // With common window both channels share the first record; the second
                    // channel's LTP data arrived with the pair's ics_info.
                    AacMainHeader mh1 = mh;
                    mh1.ltp[0] = cpe.common_window ? mh.ltp[1] : mh.ltp[0];
                    for (int ch = 0; ch < 2 && r == zufOk; ++ch)
                        r = decode_channel(&p, &off, sfi, aot, &ics[cpe.common_window ? 0 : ch], cpe.common_window,
                                           ch ? &mh1 : &mh);
                } else if (id == 4) {  // DSE
                    int tag, cnt;
                    Zuf8u bytes[512];
                    r = zufsDecodeDatStrElt_AAC(&p, &off, &tag, &cnt, bytes);
                } else if (id == 5) {  // PCE
                    AacPrgCfgElt pce;
                    r = zufsDecodePrgCfgElt_AAC(&p, &off, &pce);
                } else if (id == 6) {  // FIL
                    int cnt;
                    Zuf8u bytes[272];
                    r = zufsDecodeFillElt_AAC(&p, &off, &cnt, bytes);
                } else {
                    return ::testing::AssertionFailure() << "element id " << id << " in frame " << frames;
                }
                if (r != zufOk)
                    return ::testing::AssertionFailure() << "element " << id << " of frame " << frames << ": " << r;
            }
            zuf::FieldReader{&p, &off}.align();  // byte_alignment() closes raw_data_block()
            if (block_crcs) p += 2;              // adts_raw_data_block_error_check()
        }
        if (p != frame + h.aac_frame_length)
            return ::testing::AssertionFailure()
                   << "frame " << frames << " ends at byte " << (p - frame) << " of " << h.aac_frame_length;
        pos += static_cast<size_t>(h.aac_frame_length);
        ++frames;
    }
    if (pos != size) return ::testing::AssertionFailure() << "trailing bytes";
    return ::testing::AssertionSuccess();
}

TEST(AacSyntaxStreams, EveryRawDataBlockEndsAtItsFrameEnd) {
    int files = 0;
    for (const char* dir : {"tests/vectors", "tests/vectors/aac"})
        for (const auto& e : fs::directory_iterator(fs::path(ZUF_SOURCE_DIR) / dir)) {
            if (e.path().extension() != ".aac") continue;
            int frames = 0;
            ASSERT_TRUE(walk(e.path(), frames)) << e.path().filename();
            EXPECT_GT(frames, 5) << e.path().filename();
            ++files;
        }
    EXPECT_GE(files, 20);
}

}  // namespace
