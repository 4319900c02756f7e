// zufinfo, run as a program on the committed vectors and on damaged, hand-made and unusable
// files: exit status and the lines a user reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/pcm_compare.h"
#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

std::vector<uint8_t> vector_bytes(const std::string& name) {
    return zuft::read_file(std::string(ZUF_SOURCE_DIR) + "/tests/vectors/" + name);
}

class Zufinfo : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFINFO; }
};

// Frame lengths read straight from the bytes (aac_frame_length: 13 bits from byte 3 bit 6).
std::vector<std::size_t> frame_lengths(const std::vector<uint8_t>& d) {
    std::vector<std::size_t> lens;
    for (std::size_t pos = 0, len;
         pos + 7 <= d.size() && (len = ((d[pos + 3] & 3u) << 11) | (d[pos + 4] << 3) | (d[pos + 5] >> 5)) >= 7;
         pos += len)
        lens.push_back(len);
    return lens;
}

TEST_F(Zufinfo, UsageUnusableFilesAndGarbage) {
    const zuft::ToolRun usage = run("");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("usage: zufinfo"), std::string::npos);
    const zuft::ToolRun missing = run(zuft::quoted(path("does-not-exist.aac")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
    EXPECT_EQ(missing.out.find("libzufack9"), std::string::npos);  // the library banner only with --version
    std::vector<uint8_t> text, adif = vector_bytes("adif_two_pce.adif");
    for (int i = 0; i < 3000; ++i) text.push_back(static_cast<uint8_t>("not an audio file\n"[i % 18]));
    adif.resize(60);
    // "ADIF" and a header cut short: the parser runs into the padding, zufinfo notices.
    std::vector<zuft::ToolCase> cases = {{{}, "", 1, {"is empty"}},
                                         {text, "", 1, {"unknown format"}},
                                         {{'A', 'D', 'I', 'F'}, "", 1, {"ADIF header truncated"}},
                                         {adif, "", 1, {"ADIF header truncated", "the file has 60\n"}}};
    // Garbage, and a real stream with flipped bytes and sync words planted in it: never a crash.
    zuft::Rng rng(77);
    const std::vector<uint8_t> stream = vector_bytes("adts_lc_44100_stereo.aac");
    for (int i = 0; i < 12; ++i) {
        std::vector<uint8_t> g(static_cast<std::size_t>(rng.range(1, 4000)));
        for (auto& b : g) b = static_cast<uint8_t>(rng.u32());
        if (i % 3) g = stream;
        for (int k = 0; i % 3 && k < 40; ++k) g[rng.u32() % g.size()] = static_cast<uint8_t>(rng.u32());
        for (int k = 0; i % 3 && k < 10; ++k) {
            const auto at = g.begin() + rng.u32() % (g.size() - 2);
            at[0] = 0xFF, at[1] = 0xF1;
        }
        if (i % 3 == 2) g.insert(g.begin(), {'A', 'D', 'I', 'F'});
        cases.push_back({g, i & 1 ? "--summary" : "", -1, {}});
    }
    for (const auto& c : cases) check(c);
}

// Listings and summaries of every format: the lines a user reads, and a "damage" line exactly
// when the file holds damage.
TEST_F(Zufinfo, ListingsAndSummaries) {
    struct Listing {
        bool damage;
        std::string options;
        std::vector<uint8_t> input;
        std::vector<std::string> says;
    };
    std::vector<Listing> cases;
    for (const auto& [file, summary] : std::vector<std::pair<std::string, std::string>>{
             {"adts_lc_8000_mono.aac", "MPEG-4 LC, 8000 Hz, channel configuration 1: mono, no CRC"},
             {"adts_lc_22050_mono.aac", "MPEG-4 LC, 22050 Hz, channel configuration 1: mono, no CRC"},
             {"adts_lc_44100_stereo.aac", "MPEG-4 LC, 44100 Hz, channel configuration 2: stereo, no CRC"},
             {"adts_lc_48000_stereo.aac", "MPEG-4 LC, 48000 Hz, channel configuration 2: stereo, no CRC"},
             {"adts_mpeg2_lc_32000_stereo.aac", "MPEG-2 LC, 32000 Hz, channel configuration 2: stereo, no CRC"},
             {"adts_main_44100_mono.aac", "MPEG-4 Main, 44100 Hz, channel configuration 1: mono, no CRC"},
             {"adts_lc_48000_5.1.aac", "MPEG-4 LC, 48000 Hz, channel configuration 6: 5.1"},
             {"adts_lc_16000_mono_4blk.aac", "MPEG-4 LC, 16000 Hz, channel configuration 1: mono, no CRC"}}) {
        const auto data = vector_bytes(file);
        const std::string totals =
            "frames: " + std::to_string(frame_lengths(data).size()) + ", bytes: " + std::to_string(data.size()) + ",";
        cases.push_back({false, "--summary", data, {"format: ADTS\n", "ADTS " + summary, totals}});
    }
    // One row per frame; 9 frames of 4 blocks but the last: duration = blocks * 1024 / 16000.
    const auto blk4 = vector_bytes("adts_lc_16000_mono_4blk.aac");
    const auto lens4 = frame_lengths(blk4);
    char row[128], duration[64];
    std::snprintf(row, sizeof row, "      1 %9zu  MPEG-4  LC    16000   1 %6zu       4  -\n", lens4[0], lens4[1]);
    const std::size_t blocks = (lens4.size() - 1) * 4 + (blk4[blk4.size() - lens4.back() + 6] & 3u) + 1;
    std::snprintf(duration, sizeof duration, "duration: %.3f s", blocks * 1024.0 / 16000);
    cases.push_back({false, "", blk4, {row, duration, "      " + std::to_string(lens4.size() - 1) + " "}});
    // Junk before the first frame and between frames 2 and 3, the last frame cut.
    const auto clean = vector_bytes("adts_lc_44100_stereo.aac");
    const auto lens = frame_lengths(clean);
    const std::size_t third = lens[0] + lens[1] + lens[2];
    std::vector<uint8_t> d;
    d.reserve(clean.size() + 117);
    d.insert(d.end(), 17, 0x11);
    d.insert(d.end(), clean.begin(), clean.begin() + static_cast<long>(third));
    d.insert(d.end(), 100, 0x22);
    d.insert(d.end(), clean.begin() + static_cast<long>(third), clean.end() - 5);
    cases.push_back(
        {true,
         "",
         d,
         {"skipped 17 bytes at offset 0\n", "skipped 100 bytes at offset " + std::to_string(17 + third),
          "truncated frame at offset " + std::to_string(d.size() - (lens.back() - 5)) + ": " +
              std::to_string(lens.back() - 5) + " of " + std::to_string(lens.back()) + " bytes present",
          "frames: " + std::to_string(lens.size() - 1) + ",", "damage: 117 bytes skipped, last frame truncated"}});
    // ffmpeg never writes adts_error_check(): a protected stream made here, three frames of 9
    // header bytes (MPEG-2 LC, 48000 Hz, configuration 2, buffer fullness 0x7FF, one block) and
    // 11 payload bytes, with crc_check 0x1234, 0xBEEF, 0x0042.
    std::vector<uint8_t> crc;
    for (unsigned v : {0x1234u, 0xBEEFu, 0x0042u}) {
        crc.insert(crc.end(), {0xFF, 0xF8, 0x4C, 0x80, 20 >> 3, ((20 & 7) << 5) | 0x1F, 0xFC});
        crc.insert(crc.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        crc.insert(crc.end(), 11, 0x00);
    }
    cases.push_back({false,
                     "",
                     crc,
                     {"      0         0  MPEG-2  LC    48000   2     20       1  0x1234\n",
                      "      2        40  MPEG-2  LC    48000   2     20       1  0x0042\n"}});
    cases.push_back({false,
                     "--summary",
                     crc,
                     {"ADTS MPEG-2 LC, 48000 Hz, channel configuration 2: stereo, CRC\n",
                      "frames: 3, bytes: 60, duration: 0.064 s, average bitrate: 7.5 kbit/s"}});
    cases.push_back({false,
                     "",
                     vector_bytes("adif_two_pce.adif"),
                     {"format: ADIF\n", "adif_id 0x41444946, bitstream_type 0 (constant rate), bitrate 384000 bit/s\n",
                      "copyright_id \"ZUFACK9TV\", original_copy 0, home 0\n", "program config elements: 2\n",
                      "  program config element 0: element_instance_tag 1, object type 1 (LC), 48000 Hz (index 3)\n",
                      "    buffer fullness 74565\n", "    channels    6 + 1 LFE\n", "    front:      SCE 0, CPE 0\n",
                      "    side:       CPE 1\n", "    back:       SCE 2\n", "    lfe:        LFE 0\n",
                      "    assoc data: DSE 3\n", "    cc:         CCE(ind_sw) 5\n",
                      "    mixdown:    mono element 2, stereo none, matrix idx 2, pseudo surround 1\n",
                      "    mixdown:    mono none, stereo element 3, matrix none\n",
                      "    comment     21 bytes \"stereo \\\"commentary\\\"\\n\\x01\"\n",
                      "header: 112 bytes, raw data: 0 bytes\n"}});
    cases.push_back({false,
                     "--summary",
                     vector_bytes("adif_lc_44100_stereo.adif"),
                     {"ADIF variable rate, ", "1 program config element, first: LC, 44100 Hz, 2 + 0 LFE channels\n",
                      "header: 14 bytes, raw data: 16108 bytes\n"}});
    // MP3 frames are listed as ADTS frames are: a header that the next one confirms. The ID3v1
    // tag at the end of LAME's stream is named, not taken for damage; the ISO stream ends with a
    // cut frame.
    auto junk = vector_bytes("mp3/l3-si.bit");
    junk.insert(junk.begin() + 2089, 77, 0x00);  // between frames 9 and 10
    cases.insert(
        cases.end(),
        {
            {false,
             "",
             vector_bytes("mp3/lame_44100_js_128.mp3"),
             {"format: MP3", "ID3v2 tag: 119 bytes",
              "      0       119  MPEG-1   128  44100  joint     417  -  Xing/Info tag", "frames: 78,"}},
            {false,
             "--summary",
             vector_bytes("mp3/M2L3_compl24.bit"),
             {"MP3 MPEG-2 Layer III, 24000 Hz, mono, no CRC", "frames: 212,"}},
            // LAME's Info tag sits after the side information as if there were no CRC word.
            {false,
             "--summary",
             vector_bytes("mp3/lame_48000_ms_crc.mp3"),
             {"48000 Hz, joint, CRC", "Info tag: 64 audio frames, encoder delay 576, padding 1152: 72000",
              "frames: 64, bytes: 30720, duration: 1.536 s"}},
            {false, "--summary", vector_bytes("mp3/lame_44100_free_format.mp3"), {"average bitrate: 320.0 kbit/s"}},
            {true, "--summary", vector_bytes("mp3/l3-compl.bit"), {"frames: 216,", "last frame truncated"}},
            {true, "--summary", junk, {"skipped 77 bytes at offset 2089"}},
        });
    for (const auto& l : cases) {
        const zuft::ToolRun r = check({l.input, l.options, 0, l.says});
        EXPECT_EQ(r.out.find("damage") != std::string::npos, l.damage) << r.out;
    }
}

}  // namespace
