// MP3 decoding end to end through the library: the ISO/IEC 11172-4 and 13818-4 Layer III
// compliance streams against their reference PCM, and streams made with LAME against FFmpeg's
// floating-point decode (tests/vectors/mp3/, made by tools/gen/make-vectors.sh). Bound: at most
// 1 LSB anywhere and at least 96 dB PSNR, beyond the "full accuracy" of ISO/IEC 11172-4
// (RMS below 2^-15 / sqrt(12) of full scale, i.e. 0.289 LSB, largest difference 2 LSB).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/pcm_compare.h"
#include "support/test_util.h"
#include "support/tool_run.h"

namespace {

using zuft::decode_memory;
const std::string kDir = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/mp3/";

struct Stream {
    const char* name;  // NAME.bit or NAME.mp3, reference NAME.pcm (16-bit little-endian)
    const char* ext;
    int channels;
    int rate;
};

void check_stream(const Stream& s) {
    const auto ref = zuft::read_pcm16(kDir + s.name + ".pcm");
    const auto out = decode_memory(zuft::read_file(kDir + s.name + s.ext));
    ASSERT_FALSE(ref.empty()) << s.name;
    ASSERT_EQ(out.st.channels, s.channels);
    ASSERT_EQ(out.st.sample_rate, s.rate);
    EXPECT_EQ(out.st.damaged - out.st.cut, 0u);  // a cut last frame is the stream's, not damage
    const size_t ch = static_cast<size_t>(s.channels);
    // The reference may start a frame later, or (FFmpeg) without the encoder delay.
    const auto c =
        zuft::compare_pcm(out.pcm.data(), out.pcm.size() / ch, ref.data(), ref.size() / ch, s.channels, 3000);
    std::printf("    %-22s %s\n", s.name, zuft::describe(c).c_str());
    if (std::string(s.ext) == ".mp3") {  // gapless, as FFmpeg and mpg123 decode LAME's streams
        EXPECT_EQ(out.pcm.size(), ref.size()) << s.name;
        EXPECT_EQ(c.offset, 0) << s.name;
    }
    EXPECT_GT(c.frames, ref.size() / ch * 9 / 10) << "most of the reference is compared";
    EXPECT_LE(c.max_abs, 1) << s.name;
    EXPECT_GE(c.psnr_db, 96.0) << s.name;
    EXPECT_LT(c.rms, 0.289) << s.name;
}

std::string param_name(const testing::TestParamInfo<Stream>& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

class Mp3Compliance : public testing::TestWithParam<Stream> {};

TEST_P(Mp3Compliance, WithinOneLsbOfTheReference) { check_stream(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Iso, Mp3Compliance,
                         testing::Values(Stream{"l3-compl", ".bit", 1, 48000}, Stream{"l3-hecommon", ".bit", 2, 44100},
                                         Stream{"l3-si", ".bit", 1, 44100}, Stream{"l3-si_block", ".bit", 1, 44100},
                                         Stream{"l3-si_huff", ".bit", 1, 44100},
                                         Stream{"M2L3_compl24", ".bit", 1, 24000}),
                         param_name);

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
                         param_name);

// At 24 kHz, long band 18 starts at line 332. A decoder with the older 330 puts lines 330 and
// 331 into band 18 and disagrees with LAME's streams there: FFmpeg 5.1 does, and the library
// with a 330 table reproduces FFmpeg's output.
TEST(Mp3Lame, TwentyFourKilohertzBandEighteenStartsAtLine332) {
    const auto bits = zuft::read_file(kDir + "lame_24000_mono_band18.mp3");
    const auto ffmpeg = zuft::read_pcm16(kDir + "lame_24000_mono_band18.ffmpeg330.pcm");
    ASSERT_FALSE(ffmpeg.empty());
    const auto ours = decode_memory(bits);
    const auto c332 = zuft::compare_pcm(ours.pcm.data(), ours.pcm.size(), ffmpeg.data(), ffmpeg.size(), 1, 3000);
    EXPECT_GT(c332.max_abs, 100) << zuft::describe(c332);
    Zuf16s table330[6 * 23];
    std::memcpy(table330, _zuf_pMP3SfbTableLong, sizeof table330);
    ASSERT_EQ(table330[23 * 1 + 18], 332);
    table330[23 * 1 + 18] = 330;
    const auto old = decode_memory(bits, table330);
    const auto c330 = zuft::compare_pcm(old.pcm.data(), old.pcm.size(), ffmpeg.data(), ffmpeg.size(), 1, 3000);
    EXPECT_LE(c330.max_abs, 1) << zuft::describe(c330);
}

// Gapless: LAME streams of chirps (tools/gen/make-vectors.sh), VBR with a Xing tag and CRC words
// (LAME places the tag as if there were no CRC word). They decode to the length of their source
// (FFmpeg's and mpg123's length too) and line up with it at offset 0; with gapless off, every
// sample of every audio frame comes out.
TEST(Mp3Gapless, DecodesToTheSourceAndAllFramesWhenOff) {
    struct Chirp {
        const char* name;
        int rate, channels;
        size_t frames, source;  // audio frames (the tag's count), source sample frames
    };
    for (const Chirp& c : {Chirp{"lame_24000_mono_vbr_crc", 24000, 1, 44, 24000},
                           Chirp{"lame_44100_stereo_vbr_crc", 44100, 2, 21, 22050}}) {
        SCOPED_TRACE(c.name);
        const auto bytes = zuft::read_file(kDir + c.name + ".mp3");
        const auto d = decode_memory(bytes), all = decode_memory(bytes, nullptr, false);
        const size_t ch = static_cast<size_t>(c.channels), spf = c.rate >= 32000 ? 1152 : 576;
        std::vector<int16_t> src(c.source * ch);
        for (size_t i = 0; i < c.source; ++i) {
            const double t = static_cast<double>(i) / c.rate, pi = 3.14159265358979324;
            src[i * ch] = static_cast<int16_t>(std::lround(32767 * 0.4 * std::sin(2 * pi * (100 * t + 1950 * t * t))));
            if (ch == 2)
                src[i * ch + 1] =
                    static_cast<int16_t>(std::lround(32767 * 0.3 * std::sin(2 * pi * (3000 * t - 1400 * t * t))));
        }
        ASSERT_EQ(d.pcm.size(), src.size());
        const auto m = zuft::compare_pcm(d.pcm.data(), c.source, src.data(), c.source, c.channels, 600);
        std::printf("    %-26s against the source: %s\n", c.name, zuft::describe(m).c_str());
        EXPECT_EQ(m.offset, 0);
        EXPECT_GT(m.psnr_db, 40.0);
        EXPECT_EQ(all.pcm.size(), c.frames * spf * ch);
        EXPECT_EQ(d.st.trimmed, c.frames * spf - c.source);
        EXPECT_EQ(all.st.trimmed, 0u);
        EXPECT_EQ(d.st.tag_frames + d.st.damaged, 1u);
    }
}

// ---------------------------------------------------------------- zufdec

class Zufdec : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFDEC; }
    std::string tail() const override { return zuft::quoted(path("out.wav")) + " -y"; }
};

TEST_F(Zufdec, DecodesToTheSameWavAsTheFrameDecoder) {
    for (const char* name : {"l3-hecommon.bit", "M2L3_compl24.bit", "lame_44100_free_format.mp3",
                             "lame_48000_ms_crc.mp3", "-lame_48000_ms_crc.mp3"}) {
        const bool all = name[0] == '-';  // --no-gapless
        const auto bytes = zuft::read_file(kDir + (name + all));
        const auto d = decode_memory(bytes, nullptr, !all);
        check({bytes,
               all ? "--no-gapless" : "",
               0,
               {std::to_string(d.st.frames) + " frames decoded", "0 damaged", "real time"}});
        int ch = 0;
        EXPECT_TRUE(zuft::read_wav16(path("out.wav"), &ch) == d.pcm) << name;
        EXPECT_EQ(ch, d.st.channels);
    }
}

// Synthetic streams of other formats: chained headers with the right frame lengths.
std::vector<uint8_t> chained(std::vector<uint8_t> header, size_t frame_len) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 5; ++i) {
        v.insert(v.end(), header.begin(), header.end());
        v.resize(v.size() + frame_len - header.size(), 0x55);
    }
    return v;
}

// Tags and junk: an ID3v2 tag holding sync-like bytes, junk, the stream with junk in the middle,
// an APE tag and an ID3v1 tag: every tag and the junk are skipped; the frames after the junk
// that need reservoir bytes from before it are concealed; everything else matches the reference.
TEST_F(Zufdec, SkipsTagsAndJunkAndConcealsAfterACut) {
    const auto stream = zuft::read_file(kDir + "l3-si.bit");
    std::vector<uint8_t> f = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 40};
    for (int i = 0; i < 40; ++i) f.push_back(i % 3 ? 0xFF : 0xFB);
    for (int i = 0; i < 77; ++i) f.push_back(static_cast<uint8_t>(i * 37));
    const size_t cut = 60 * 209;  // l3-si: 64 kbit/s at 44.1 kHz, about 209 bytes per frame
    f.insert(f.end(), stream.begin(), stream.begin() + static_cast<long>(cut));
    for (int i = 0; i < 300; ++i) f.push_back(static_cast<uint8_t>(0xFF - i));
    f.insert(f.end(), stream.begin() + static_cast<long>(cut) + 1000, stream.end());
    // APE footer: version 2000, size 32, no header; then ID3v1.
    f.insert(f.end(), {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 7, 0, 0, 32, 0, 0, 0});
    f.insert(f.end(), 16, 0);
    f.insert(f.end(), {'T', 'A', 'G'});
    f.insert(f.end(), 125, ' ');
    check({f, "", 0, {"ID3v2 tag", "ID3v1 tag", "APE tag", "junk"}});
    const auto pcm = zuft::read_wav16(path("out.wav"));
    const auto ref = zuft::read_pcm16(kDir + "l3-si.pcm");
    // Before the cut the output is the reference's.
    const auto head = zuft::compare_pcm(pcm.data(), 50 * 1152, ref.data(), ref.size(), 1, 0);
    EXPECT_LE(head.max_abs, 1) << zuft::describe(head);
    EXPECT_GT(pcm.size(), ref.size() * 8 / 10);
}

// The Info tag frame, other formats refused clearly, and whatever the bytes (a bit of side
// information flipped in a CRC-protected frame, flipped bits, truncation): zufdec finishes
// (exit 0, or 1 when nothing is left to decode), reports the damage and never hangs.
TEST_F(Zufdec, TagFramesRefusalsAndDamage) {
    auto crc = zuft::read_file(kDir + "lame_48000_ms_crc.mp3");
    crc[2 * 480 + 6 + 3] ^= 0x10;  // 160 kbit/s at 48 kHz: 480-byte frames; frame 2's side information
    auto ape0 = zuft::read_file(kDir + "lame_32000_mono_transient.mp3");
    ape0.insert(ape0.end(), {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 7, 0, 0});
    ape0.insert(ape0.end(), 20, 0);
    std::vector<zuft::ToolCase> cases = {
        // LAME's first frame is an Info tag frame: 79 frames in the file, 78 of audio.
        {zuft::read_file(kDir + "lame_44100_js_128.mp3"), "", 0, {"78 frames decoded, 1 tag frame not played"}},
        {chained({0xFF, 0xFD, 0x80, 0x00}, 417), "", 1, {"MPEG-1 Layer II is not decoded"}},  // 128 kbit/s, 44.1 kHz
        {chained({0xFF, 0xE3, 0x58, 0xC0}, 360), "", 1, {"MPEG-2.5 is not decoded"}},  // Layer III, 40 kbit/s, 8 kHz
        {std::vector<uint8_t>(3000, 0x42), "", 1, {"no MP3 or AAC stream"}},
        {crc, "", 0, {"CRC mismatch"}},
        {ape0, "", 0, {"APE tag"}},  // an APE footer claiming 0 bytes (found by fuzzing: a hang)
    };
    zuft::Rng rng(51);
    const char* sources[] = {"l3-si_block.bit", "lame_44100_vbr_transient.mp3", "lame_22050_js_transient.mp3"};
    for (int rep = 0; rep < 6; ++rep) {
        auto f = zuft::read_file(kDir + sources[rep % 3]);
        for (int i = 0; i < (rep < 3 ? 50 : 2000); ++i)
            f[static_cast<size_t>(rng.range(0, static_cast<int>(f.size()) - 1))] ^=
                static_cast<uint8_t>(1u << rng.range(0, 7));
        if (rep == 5) f.resize(f.size() / 3 + 17);
        cases.push_back({f, "", -1, {"frames decoded"}});
    }
    for (const auto& c : cases) check(c);
    // ADTS goes to the AAC path (these frames hold no audio): it must not be taken for MP3.
    const auto adts = check({chained({0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC}, 371), "", -2, {"AAC (ADTS)"}});
    EXPECT_EQ(adts.err.find("Layer III"), std::string::npos) << adts.err;
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run(zuft::quoted(path("missing.mp3")) + " " + tail()).status, 1);
}

}  // namespace

namespace {

// Hostile inputs through the in-memory decoder: each returns, and no input yields more output
// per byte than a valid stream can carry (MPEG-2 at 8 kbit/s and 24 kHz: 576 sample frames per
// 24 bytes).
TEST(Mp3Hostile, FramesTooShortToBeValidAndTagsThatClaimTooMuch) {
    std::vector<uint8_t> tiny_free;  // 9-byte "free format" MPEG-1 frames: shorter than their side information
    for (int i = 0; i < 1000; ++i) tiny_free.insert(tiny_free.end(), {0xFF, 0xFB, 0x00, 0xC0, 0, 0, 0, 0, 0});
    std::vector<uint8_t> resync(65536);  // sync candidates everywhere, none confirmed
    for (size_t i = 0; i < resync.size(); ++i) resync[i] = i % 2 ? 0xFB : 0xFF;
    const auto stream = zuft::read_file(kDir + "l3-si.bit");
    // A leading APE tag whose size plus its header wraps a 32-bit size to 0.
    std::vector<uint8_t> ape_wrap = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 7, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF};
    ape_wrap.resize(32, 0);
    ape_wrap.insert(ape_wrap.end(), stream.begin(), stream.end());
    for (const auto* in : {&tiny_free, &resync, &ape_wrap}) {
        const zuft::Decoded d = decode_memory(*in);
        EXPECT_LE(d.st.samples, 24 * in->size() + 1152);
    }
    // Free format at 44.1 kHz: frames of at least 104 bytes (32 kbit/s), never one per 9 bytes.
    EXPECT_LE(decode_memory(tiny_free).st.samples, 1152 * (tiny_free.size() / 104 + 1));
}

}  // namespace
