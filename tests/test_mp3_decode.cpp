// MP3 decoding end to end through the library: the ISO/IEC 11172-4 and 13818-4 Layer III
// compliance streams against their reference PCM, and streams made with LAME against FFmpeg's
// floating-point decode (tests/vectors/mp3/, made by tools/gen/make-vectors.sh). Bound: at most
// 1 LSB anywhere and at least 96 dB PSNR, beyond the "full accuracy" of ISO/IEC 11172-4
// (RMS below 2^-15 / sqrt(12) of full scale, i.e. 0.289 LSB, largest difference 2 LSB).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "example/stream_decoder.h"
#include "support/pcm_compare.h"
#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

const std::string kDir = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/mp3/";

struct Mp3Decoded {
    std::vector<int16_t> pcm;  // interleaved when stereo
    DecodeStats st{};
};

// The example decoder (tools/example/stream_decoder.h, what zufdec runs) on a whole stream in
// memory; sfb_long: a long band table to decode with instead of the library's, or null.
Mp3Decoded decode_mp3(const std::vector<uint8_t>& bits, const Zuf16s* sfb_long = nullptr) {
    Mp3Decoded out;
    Zuf16s* pcm = nullptr;
    EXPECT_EQ(stream_decode_memory(bits.data(), bits.size(), sfb_long, &pcm, &out.st, nullptr), 0);
    if (pcm) out.pcm.assign(pcm, pcm + out.st.samples * static_cast<unsigned long>(out.st.channels));
    std::free(pcm);
    return out;
}

struct Stream {
    const char* name;  // NAME.bit or NAME.mp3, reference NAME.pcm (16-bit little-endian)
    const char* ext;
    int channels;
    int rate;
};

void check_stream(const Stream& s) {
    const auto bits = zuft::read_file(kDir + s.name + s.ext);
    const auto ref = zuft::read_pcm16(kDir + s.name + ".pcm");
    ASSERT_FALSE(bits.empty()) << s.name;
    ASSERT_FALSE(ref.empty()) << s.name;
    const auto out = decode_mp3(bits);
    ASSERT_EQ(out.st.channels, s.channels);
    ASSERT_EQ(out.st.sample_rate, s.rate);
    EXPECT_EQ(out.st.damaged - out.st.cut, 0u);  // a cut last frame is the stream's, not damage
    const size_t ch = static_cast<size_t>(s.channels);
    // The reference may start a frame later, or (FFmpeg) without the encoder delay.
    const auto c =
        zuft::compare_pcm(out.pcm.data(), out.pcm.size() / ch, ref.data(), ref.size() / ch, s.channels, 3000);
    std::printf("    %-22s %s\n", s.name, zuft::describe(c).c_str());
    testing::Test::RecordProperty("accuracy", zuft::describe(c));
    EXPECT_GT(c.frames, ref.size() / ch * 9 / 10) << "most of the reference is compared";
    EXPECT_LE(c.max_abs, 1) << s.name;
    EXPECT_GE(c.psnr_db, 96.0) << s.name;
    EXPECT_LT(c.rms, 0.289) << s.name;
}

class Mp3Compliance : public testing::TestWithParam<Stream> {};

TEST_P(Mp3Compliance, WithinOneLsbOfTheReference) { check_stream(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Iso, Mp3Compliance,
                         testing::Values(Stream{"l3-compl", ".bit", 1, 48000}, Stream{"l3-hecommon", ".bit", 2, 44100},
                                         Stream{"l3-si", ".bit", 1, 44100}, Stream{"l3-si_block", ".bit", 1, 44100},
                                         Stream{"l3-si_huff", ".bit", 1, 44100},
                                         Stream{"M2L3_compl24", ".bit", 1, 24000}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (auto& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

class Mp3Lame : public testing::TestWithParam<Stream> {};

TEST_P(Mp3Lame, WithinOneLsbOfTheFloatingPointDecode) { check_stream(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Lame, Mp3Lame,
                         testing::Values(Stream{"lame_44100_js_128", ".mp3", 2, 44100},
                                         Stream{"lame_48000_ms_crc", ".mp3", 2, 48000},
                                         Stream{"lame_32000_mono_transient", ".mp3", 1, 32000},
                                         Stream{"lame_44100_vbr_transient", ".mp3", 2, 44100},
                                         Stream{"lame_22050_js_transient", ".mp3", 2, 22050},
                                         Stream{"lame_24000_mono_band18", ".mp3", 1, 24000},
                                         Stream{"lame_16000_ms_vbr", ".mp3", 2, 16000},
                                         Stream{"lame_44100_free_format", ".mp3", 2, 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

// At 24 kHz, long band 18 starts at line 332. A decoder with the older 330 puts lines 330 and
// 331 into band 18 and disagrees with LAME's streams there: FFmpeg 5.1 does, and the library
// with a 330 table reproduces FFmpeg's output.
TEST(Mp3Lame, TwentyFourKilohertzBandEighteenStartsAtLine332) {
    const auto bits = zuft::read_file(kDir + "lame_24000_mono_band18.mp3");
    const auto ffmpeg = zuft::read_pcm16(kDir + "lame_24000_mono_band18.ffmpeg330.pcm");
    ASSERT_FALSE(ffmpeg.empty());
    const auto ours = decode_mp3(bits);
    const auto c332 = zuft::compare_pcm(ours.pcm.data(), ours.pcm.size(), ffmpeg.data(), ffmpeg.size(), 1, 3000);
    EXPECT_GT(c332.max_abs, 100) << zuft::describe(c332);
    Zuf16s table330[6 * 23];
    std::memcpy(table330, _zuf_pMP3SfbTableLong, sizeof table330);
    ASSERT_EQ(table330[23 * 1 + 18], 332);
    table330[23 * 1 + 18] = 330;
    const auto old = decode_mp3(bits, table330);
    const auto c330 = zuft::compare_pcm(old.pcm.data(), old.pcm.size(), ffmpeg.data(), ffmpeg.size(), 1, 3000);
    EXPECT_LE(c330.max_abs, 1) << zuft::describe(c330);
}

// ---------------------------------------------------------------- zufdec

class Zufdec : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFDEC; }
    // zufdec IN out.wav, IN a file in the test directory.
    zuft::ToolRun decode(const std::string& in) const {
        return run(zuft::quoted(path(in)) + " " + zuft::quoted(path("out.wav")));
    }
    // Decodes `name` (a file in the test directory) and compares with a reference.
    zuft::PcmComparison decode_and_compare(const std::string& name, const std::vector<int16_t>& ref, int channels,
                                           zuft::ToolRun* out_run) const {
        *out_run = decode(name);
        EXPECT_EQ(out_run->status, 0) << out_run->err;
        int ch = 0, rate = 0;
        const auto pcm = zuft::read_wav16(path("out.wav"), &ch, &rate);
        EXPECT_EQ(ch, channels);
        const size_t c = static_cast<size_t>(channels);
        return zuft::compare_pcm(pcm.data(), pcm.size() / c, ref.data(), ref.size() / c, channels, 3000);
    }
};

TEST_F(Zufdec, DecodesStreamsToWav) {
    for (const auto& [name, ext, ch] : {std::tuple<const char*, const char*, int>{"l3-hecommon", ".bit", 2},
                                        {"M2L3_compl24", ".bit", 1},
                                        {"lame_44100_free_format", ".mp3", 2},
                                        {"lame_48000_ms_crc", ".mp3", 2}}) {
        write("in.mp3", zuft::read_file(kDir + name + ext));
        zuft::ToolRun r;
        const auto c = decode_and_compare("in.mp3", zuft::read_pcm16(kDir + name + ".pcm"), ch, &r);
        EXPECT_LE(c.max_abs, 1) << name << ": " << zuft::describe(c);
        EXPECT_GT(c.frames, 10000u) << name;
        EXPECT_NE(r.err.find("0 damaged"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("real time"), std::string::npos) << r.err;
    }
}

TEST_F(Zufdec, TagFrameIsNotPlayed) {
    // LAME's first frame is an Info tag frame: 79 frames in the file, 78 of audio.
    write("in.mp3", zuft::read_file(kDir + "lame_44100_js_128.mp3"));
    const zuft::ToolRun r = decode("in.mp3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("78 frames decoded, 1 tag frame not played"), std::string::npos) << r.err;
    EXPECT_EQ(zuft::read_wav16(path("out.wav")).size(), 78u * 1152 * 2);
}

// An ID3v2 tag holding sync-like bytes, junk, the stream with junk in the middle, an APE tag and
// an ID3v1 tag: every tag and the junk are skipped; the frames after the junk that need
// reservoir bytes from before it are concealed; everything else matches the reference.
TEST_F(Zufdec, SkipsTagsAndJunkAndConcealsAfterACut) {
    const auto stream = zuft::read_file(kDir + "l3-si.bit");
    std::vector<uint8_t> f = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 40};
    for (int i = 0; i < 40; ++i) f.push_back(i % 3 ? 0xFF : 0xFB);
    for (int i = 0; i < 77; ++i) f.push_back(static_cast<uint8_t>(i * 37));
    const size_t cut = 60 * 209;  // l3-si: 64 kbit/s at 44.1 kHz, about 209 bytes per frame
    f.insert(f.end(), stream.begin(), stream.begin() + static_cast<long>(cut));
    for (int i = 0; i < 300; ++i) f.push_back(static_cast<uint8_t>(0xFF - i));
    f.insert(f.end(), stream.begin() + static_cast<long>(cut) + 1000, stream.end());
    const char ape[] = "APETAGEX";
    std::vector<uint8_t> footer(ape, ape + 8);
    const uint8_t rest[24] = {0xD0, 7, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // version, size 32, no header
    footer.insert(footer.end(), rest, rest + 24);
    f.insert(f.end(), footer.begin(), footer.end());
    std::vector<uint8_t> id3v1(128, ' ');
    id3v1[0] = 'T', id3v1[1] = 'A', id3v1[2] = 'G';
    f.insert(f.end(), id3v1.begin(), id3v1.end());
    write("in.mp3", f);
    const zuft::ToolRun r = decode("in.mp3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ID3v2 tag"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ID3v1 tag"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("APE tag"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("junk"), std::string::npos) << r.err;
    const auto pcm = zuft::read_wav16(path("out.wav"));
    const auto ref = zuft::read_pcm16(kDir + "l3-si.pcm");
    // Before the cut the output is the reference's.
    const auto head = zuft::compare_pcm(pcm.data(), 50 * 1152, ref.data(), ref.size(), 1, 0);
    EXPECT_LE(head.max_abs, 1) << zuft::describe(head);
    EXPECT_GT(pcm.size(), ref.size() * 8 / 10);
}

// Synthetic streams of other formats: chained headers with the right frame lengths.
std::vector<uint8_t> chained(const uint8_t* header, size_t header_len, size_t frame_len, int frames) {
    std::vector<uint8_t> v;
    for (int i = 0; i < frames; ++i) {
        v.insert(v.end(), header, header + header_len);
        v.resize(v.size() + frame_len - header_len, 0x55);
    }
    return v;
}

TEST_F(Zufdec, RefusesOtherFormatsClearly) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* message;
        int status;  // -1: either
    };
    const uint8_t layer2[4] = {0xFF, 0xFD, 0x80, 0x00};  // MPEG-1 Layer II, 128 kbit/s, 44.1 kHz: 417 bytes
    const uint8_t mpeg25[4] = {0xFF, 0xE3, 0x58, 0xC0};  // MPEG-2.5 Layer III, 40 kbit/s, 8 kHz: 360 bytes
    const uint8_t adts[7] = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC};  // AAC LC, 371 bytes
    // ADTS goes to the AAC path (these frames hold no audio): it must not be taken for MP3.
    const Case cases[] = {{chained(layer2, 4, 417, 5), "MPEG-1 Layer II", 1},
                          {chained(mpeg25, 4, 360, 5), "MPEG-2.5", 1},
                          {chained(adts, 7, 371, 5), "AAC (ADTS)", -1},
                          {std::vector<uint8_t>(3000, 0x42), "no MP3 or AAC stream", 1}};
    for (const auto& c : cases) {
        write("in.bin", c.bytes);
        const zuft::ToolRun r = decode("in.bin");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (c.status >= 0)
            EXPECT_EQ(r.status, c.status) << c.message;
        else
            EXPECT_EQ(r.err.find("Layer III"), std::string::npos) << r.err;
    }
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(decode("missing.mp3").status, 1);
}

// Whatever the bytes: flipped bits, damaged CRC-protected frames, truncation. zufdec finishes
// (exit 0, or 1 when nothing is left to decode), reports the damage and never hangs.
TEST_F(Zufdec, SurvivesDamage) {
    zuft::Rng rng(51);
    const auto crc_stream = zuft::read_file(kDir + "lame_48000_ms_crc.mp3");
    {
        // One bit of side information flipped in a protected frame: the CRC catches it.
        auto f = crc_stream;
        const size_t frame2 = 2 * 480;  // 160 kbit/s at 48 kHz: 480-byte frames
        f[frame2 + 6 + 3] ^= 0x10;
        write("crc.mp3", f);
        const zuft::ToolRun r = decode("crc.mp3");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("CRC mismatch"), std::string::npos) << r.err;
    }
    const char* sources[] = {"l3-si_block.bit", "lame_44100_vbr_transient.mp3", "lame_22050_js_transient.mp3"};
    for (int rep = 0; rep < 6; ++rep) {
        auto f = zuft::read_file(kDir + sources[rep % 3]);
        const int flips = rep < 3 ? 50 : 2000;
        for (int i = 0; i < flips; ++i)
            f[static_cast<size_t>(rng.range(0, static_cast<int>(f.size()) - 1))] ^=
                static_cast<uint8_t>(1u << rng.range(0, 7));
        if (rep == 5) f.resize(f.size() / 3 + 17);
        write("bad.mp3", f);
        const zuft::ToolRun r = decode("bad.mp3");
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "rep " << rep << ": status " << r.status << "\n" << r.err;
        EXPECT_NE(r.err.find("frames decoded"), std::string::npos) << r.err;
    }
}

}  // namespace
