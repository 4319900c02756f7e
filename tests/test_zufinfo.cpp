// zufinfo, run as a program on the committed vectors and on damaged, hand-made and unusable
// files: exit status and the lines a user reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

namespace fs = std::filesystem;

using RunResult = zuft::ToolRun;

std::vector<uint8_t> vector_bytes(const std::string& name) {
    const std::string s = zuft::slurp(fs::path(ZUF_SOURCE_DIR) / "tests/vectors" / name);
    return std::vector<uint8_t>(s.begin(), s.end());
}

class Zufinfo : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFINFO; }
    RunResult run_file(const fs::path& p, bool summary = false) const {
        return run(std::string(summary ? "--summary " : "") + zuft::quoted(p.string()));
    }
};

fs::path vector_path(const std::string& name) { return fs::path(ZUF_SOURCE_DIR) / "tests/vectors" / name; }

// Frame lengths read straight from the bytes (aac_frame_length: 13 bits from byte 3 bit 6).
std::vector<std::size_t> frame_lengths(const std::vector<uint8_t>& d) {
    std::vector<std::size_t> lens;
    for (std::size_t pos = 0; pos + 7 <= d.size();) {
        const std::size_t len = ((d[pos + 3] & 3u) << 11) | (d[pos + 4] << 3) | (d[pos + 5] >> 5);
        if (len < 7) break;
        lens.push_back(len);
        pos += len;
    }
    return lens;
}

std::size_t count_lines_starting(const std::string& text, const std::string& prefix) {
    std::size_t n = 0, pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (text.compare(pos, prefix.size(), prefix) == 0) ++n;
        pos = end + 1;
    }
    return n;
}

TEST_F(Zufinfo, UsageAndUnusableFiles) {
    RunResult r = run("");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: zufinfo"), std::string::npos);

    r = run_file(dir_ / "does-not-exist.aac");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
    EXPECT_NE(r.out.find("libzufack9.so.5.2 5.2"), std::string::npos);  // the version comes first

    r = run_file(write("empty.aac", {}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is empty"), std::string::npos);

    std::vector<uint8_t> text;
    for (int i = 0; i < 3000; ++i) text.push_back(static_cast<uint8_t>("not an audio file\n"[i % 18]));
    r = run_file(write("text.aac", text));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown format"), std::string::npos);

    // "ADIF" and a header cut short: the parser runs into the padding, zufinfo notices.
    r = run_file(write("adif4.adif", {'A', 'D', 'I', 'F'}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ADIF header truncated"), std::string::npos);
    std::vector<uint8_t> adif = vector_bytes("adif_two_pce.adif");
    adif.resize(60);
    r = run_file(write("adif_cut.adif", adif));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ADIF header truncated"), std::string::npos);
    EXPECT_NE(r.err.find("the file has 60\n"), std::string::npos) << r.err;
}

TEST_F(Zufinfo, NeverCrashesOnGarbage) {
    zuft::Rng rng(77);
    const std::vector<uint8_t> stream = vector_bytes("adts_lc_44100_stereo.aac");
    for (int i = 0; i < 12; ++i) {
        std::vector<uint8_t> g;
        if (i % 3 == 0) {
            g.resize(static_cast<std::size_t>(rng.range(1, 4000)));
            for (auto& b : g) b = static_cast<uint8_t>(rng.u32());
        } else {  // a real stream with flipped bytes and sync words planted in it
            g = stream;
            for (int k = 0; k < 40; ++k) g[rng.u32() % g.size()] = static_cast<uint8_t>(rng.u32());
            for (int k = 0; k < 10; ++k) {
                const std::size_t at = rng.u32() % (g.size() - 2);
                g[at] = 0xFF;
                g[at + 1] = 0xF1;
            }
            if (i % 3 == 2) g.insert(g.begin(), {'A', 'D', 'I', 'F'});
        }
        const RunResult r = run_file(write("garbage.bin", g), i & 1);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "input " << i << " status " << r.status << "\n" << r.err;
    }
}

struct Expect {
    const char* file;
    const char* summary;
};

TEST_F(Zufinfo, SummaryOfEveryAdtsVector) {
    const Expect cases[] = {
        {"adts_lc_8000_mono.aac", "ADTS MPEG-4 LC, 8000 Hz, channel configuration 1: mono, no CRC"},
        {"adts_lc_22050_mono.aac", "ADTS MPEG-4 LC, 22050 Hz, channel configuration 1: mono, no CRC"},
        {"adts_lc_44100_stereo.aac", "ADTS MPEG-4 LC, 44100 Hz, channel configuration 2: stereo, no CRC"},
        {"adts_lc_48000_stereo.aac", "ADTS MPEG-4 LC, 48000 Hz, channel configuration 2: stereo, no CRC"},
        {"adts_mpeg2_lc_32000_stereo.aac", "ADTS MPEG-2 LC, 32000 Hz, channel configuration 2: stereo, no CRC"},
        {"adts_main_44100_mono.aac", "ADTS MPEG-4 Main, 44100 Hz, channel configuration 1: mono, no CRC"},
        {"adts_lc_48000_5.1.aac", "ADTS MPEG-4 LC, 48000 Hz, channel configuration 6: 5.1"},
        {"adts_lc_16000_mono_4blk.aac", "ADTS MPEG-4 LC, 16000 Hz, channel configuration 1: mono, no CRC"},
    };
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<uint8_t> data = vector_bytes(c.file);
        const RunResult r = run_file(vector_path(c.file), true);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("format: ADTS\n"), std::string::npos);
        EXPECT_NE(r.out.find(c.summary), std::string::npos) << r.out;
        const std::string totals =
            "frames: " + std::to_string(frame_lengths(data).size()) + ", bytes: " + std::to_string(data.size()) + ",";
        EXPECT_NE(r.out.find(totals), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("damage"), std::string::npos);
    }
}

TEST_F(Zufinfo, FrameListing) {
    const std::vector<uint8_t> data = vector_bytes("adts_lc_16000_mono_4blk.aac");
    const std::vector<std::size_t> lens = frame_lengths(data);
    const RunResult r = run_file(vector_path("adts_lc_16000_mono_4blk.aac"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_lines_starting(r.out, "      "), lens.size());  // one row per frame
    char row[128];
    std::snprintf(row, sizeof row, "      1 %9zu  MPEG-4  LC    16000   1 %6zu       4  -\n", lens[0], lens[1]);
    EXPECT_NE(r.out.find(row), std::string::npos) << r.out;
    // 9 frames of 4 blocks but the last: duration = blocks * 1024 / 16000.
    std::size_t last_blocks = (data[data.size() - lens.back() + 6] & 3u) + 1;
    char totals[128];
    std::snprintf(totals, sizeof totals, "duration: %.3f s", ((lens.size() - 1) * 4 + last_blocks) * 1024.0 / 16000);
    EXPECT_NE(r.out.find(totals), std::string::npos) << r.out;
}

TEST_F(Zufinfo, ResynchronisesOverJunkAndReportsTruncation) {
    const std::vector<uint8_t> clean = vector_bytes("adts_lc_44100_stereo.aac");
    const std::vector<std::size_t> lens = frame_lengths(clean);
    const std::size_t third = lens[0] + lens[1] + lens[2];
    std::vector<uint8_t> d;
    d.reserve(clean.size() + 117);
    d.insert(d.end(), 17, 0x11);  // junk before the first frame
    d.insert(d.end(), clean.begin(), clean.begin() + static_cast<long>(third));
    d.insert(d.end(), 100, 0x22);                                                  // junk between frames 2 and 3
    d.insert(d.end(), clean.begin() + static_cast<long>(third), clean.end() - 5);  // last frame cut

    const RunResult r = run_file(write("damaged.aac", d));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("skipped 17 bytes at offset 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped 100 bytes at offset " + std::to_string(17 + third) + "\n"), std::string::npos);
    const std::size_t last = d.size() - (lens.back() - 5);
    EXPECT_NE(r.out.find("truncated frame at offset " + std::to_string(last) + ": " + std::to_string(lens.back() - 5) +
                         " of " + std::to_string(lens.back()) + " bytes present"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("frames: " + std::to_string(lens.size() - 1) + ","), std::string::npos);
    EXPECT_NE(r.out.find("damage: 117 bytes skipped, last frame truncated"), std::string::npos);
}

// ffmpeg never writes adts_error_check(): a protected stream made here, three frames of
// 9 header bytes and 11 payload bytes, with crc_check 0x1234, 0xBEEF, 0x0042.
TEST_F(Zufinfo, ProtectedFramesShowTheirCrc) {
    std::vector<uint8_t> d;
    for (unsigned crc : {0x1234u, 0xBEEFu, 0x0042u}) {
        const unsigned len = 20;
        const uint8_t h[9] = {0xFF,
                              0xF8,                                         // MPEG-2, layer 0, protection_absent 0
                              static_cast<uint8_t>((1u << 6) | (3u << 2)),  // LC, 48000 Hz, config 2 (high bit 0)
                              static_cast<uint8_t>((2u << 6) | (len >> 11)),
                              static_cast<uint8_t>(len >> 3),
                              static_cast<uint8_t>(((len & 7u) << 5) | 0x1F),  // buffer fullness 0x7FF
                              0xFC,                                            // no further blocks
                              static_cast<uint8_t>(crc >> 8),
                              static_cast<uint8_t>(crc)};
        d.insert(d.end(), h, h + 9);
        d.insert(d.end(), len - 9, 0x00);
    }
    const RunResult r = run_file(write("crc.aac", d));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("      0         0  MPEG-2  LC    48000   2     20       1  0x1234\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("      2        40  MPEG-2  LC    48000   2     20       1  0x0042\n"), std::string::npos);
    const RunResult s = run_file(write("crc.aac", d), true);
    EXPECT_NE(s.out.find("ADTS MPEG-2 LC, 48000 Hz, channel configuration 2: stereo, CRC\n"), std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("frames: 3, bytes: 60, duration: 0.064 s, average bitrate: 7.5 kbit/s"), std::string::npos);
}

TEST_F(Zufinfo, AdifListing) {
    RunResult r = run_file(vector_path("adif_two_pce.adif"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {
             "format: ADIF\n",
             "adif_id 0x41444946, bitstream_type 0 (constant rate), bitrate 384000 bit/s\n",
             "copyright_id \"ZUFACK9TV\", original_copy 0, home 0\n",
             "program config elements: 2\n",
             "  program config element 0: element_instance_tag 1, object type 1 (LC), 48000 Hz (index 3)\n",
             "    buffer fullness 74565\n",
             "    channels    6 + 1 LFE\n",
             "    front:      SCE 0, CPE 0\n",
             "    side:       CPE 1\n",
             "    back:       SCE 2\n",
             "    lfe:        LFE 0\n",
             "    assoc data: DSE 3\n",
             "    cc:         CCE(ind_sw) 5\n",
             "    mixdown:    mono element 2, stereo none, matrix idx 2, pseudo surround 1\n",
             "    mixdown:    mono none, stereo element 3, matrix none\n",
             "    comment     21 bytes \"stereo \\\"commentary\\\"\\n\\x01\"\n",
             "header: 112 bytes, raw data: 0 bytes\n",
         }) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }

    r = run_file(vector_path("adif_lc_44100_stereo.adif"), true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ADIF variable rate, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 program config element, first: LC, 44100 Hz, 2 + 0 LFE channels\n"), std::string::npos);
    EXPECT_NE(r.out.find("header: 14 bytes, raw data: 16108 bytes\n"), std::string::npos);
}

// MP3 frames are listed as ADTS frames are: a header that the next one confirms.
TEST_F(Zufinfo, Mp3Listing) {
    auto junk = vector_bytes("mp3/l3-si.bit");
    junk.insert(junk.begin() + 2089, 77, 0x00);  // between frames 9 and 10
    const struct {
        fs::path file;
        bool summary;
        std::vector<const char*> lines;
        bool damage;  // a "damage" line expected
    } cases[] = {
        // The ID3v1 tag at the end is named, not taken for damage.
        {vector_path("mp3/lame_44100_js_128.mp3"),
         false,
         {"format: MP3", "ID3v2 tag: 119 bytes",
          "      0       119  MPEG-1   128  44100  joint     417  -  Xing/Info tag", "frames: 79,"},
         false},
        {vector_path("mp3/M2L3_compl24.bit"),
         true,
         {"MP3 MPEG-2 Layer III, 24000 Hz, mono, no CRC", "frames: 212,"},
         false},
        {vector_path("mp3/lame_48000_ms_crc.mp3"), true, {"48000 Hz, joint, CRC"}, false},
        {vector_path("mp3/lame_44100_free_format.mp3"), true, {"average bitrate: 320.0 kbit/s"}, false},
        // The ISO stream ends with a cut frame.
        {vector_path("mp3/l3-compl.bit"), true, {"frames: 216,", "last frame truncated"}, true},
        {write("junk.mp3", junk), true, {"skipped 77 bytes at offset 2089"}, true},
    };
    for (const auto& c : cases) {
        const RunResult r = run_file(c.file, c.summary);
        EXPECT_EQ(r.status, 0) << c.file << "\n" << r.err;
        for (const char* line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
        EXPECT_EQ(r.out.find("damage") != std::string::npos, c.damage) << r.out;
    }
}

}  // namespace
