// AAC-LC decoding end to end: the example decoder that zufdec uses (tools/example, public API
// only) on the ADTS streams of tests/vectors/aac/dec_*.aac against FFmpeg's
// floating-point decodes rounded to 16 bits (dec_*.pcm, tools/gen/make-vectors.sh), with the
// ISO/IEC 14496-26 RMS/LSB measurement per channel; noise substitution streams by band energy.
// Then zufdec itself: output, messages, refusals and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "aac/aac_band_tables.h"
#include "example/stream_decoder.h"
#include "support/pcm_compare.h"
#include "support/tool_run.h"

namespace {

const std::string kDir = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/aac/";

struct Decoded {
    std::vector<int16_t> pcm;
    int channels = 0;
    int rate = 0;
    int mpeg4 = 0;
    size_t frames = 0, damaged = 0, junk = 0;
    AacToolCounts tools{};
};

// The example decoder (tools/example/stream_decoder.h, what zufdec runs) on a whole stream in
// memory: frames chained by their lengths, a search for the next confirmed header of the same
// stream after anything unusable.
Decoded decode_memory(const std::vector<uint8_t>& data) {
    Decoded r;
    DecodeStats st;
    Zuf16s* pcm = nullptr;
    stream_decode_memory(data.data(), data.size(), nullptr, &pcm, &st, &r.tools);
    if (pcm) r.pcm.assign(pcm, pcm + st.samples * static_cast<unsigned long>(st.channels));
    std::free(pcm);
    r.channels = st.channels;
    r.rate = st.sample_rate;
    r.mpeg4 = data.size() > 1 && !(data[1] & 8);  // ADTS ID 0
    r.frames = st.frames;
    r.damaged = st.damaged;
    r.junk = st.junk_bytes;
    return r;
}

std::string tools_used(const Decoded& d) {
    const AacToolCounts& t = d.tools;
    std::string s = d.mpeg4 ? "MPEG-4" : "MPEG-2";
    auto add = [&](const char* name, unsigned long n) {
        if (n) s += std::string(", ") + name + " " + std::to_string(n);
    };
    add("M/S bands", t.ms_bands);
    add("all-M/S frames", t.ms_all_frames);
    add("IS bands", t.is_bands);
    add("PNS bands", t.pns_bands);
    add("shared-noise bands", t.pns_shared);
    add("TNS", t.tns);
    add("short", t.short_windows);
    add("pulse", t.pulses);
    add("indep. windows", t.cpe - t.common_window);
    return s;
}

struct Vector {
    const char* name;
    int channels;
    int rate;
    bool noise;                                      // noise substitution: energy comparison
    std::function<bool(const AacToolCounts&)> uses;  // the tools the stream is made to reach
    const char* what;
};

const std::vector<Vector>& vectors() {
    static const std::vector<Vector> v = {
        {"dec_8000_mono", 1, 8000, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_11025_mono", 1, 11025, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_12000_mono", 1, 12000, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_16000_mono_transients", 1, 16000, false,
         [](const AacToolCounts& t) { return t.short_windows > 0 && t.tns > 0; }, "short windows and TNS"},
        {"dec_22050_stereo_ms_off", 2, 22050, false,
         [](const AacToolCounts& t) { return t.cpe > 0 && t.ms_bands == 0 && t.is_bands == 0; }, "no M/S, no IS"},
        {"dec_24000_stereo_ms_auto", 2, 24000, false,
         [](const AacToolCounts& t) { return t.ms_bands > 0 && t.ms_all_frames < t.cpe; }, "M/S per band"},
        {"dec_32000_stereo_ms_all", 2, 32000, false, [](const AacToolCounts& t) { return t.ms_all_frames > 0; },
         "M/S in all bands"},
        {"dec_44100_stereo_is", 2, 44100, false, [](const AacToolCounts& t) { return t.is_bands > 0; }, "intensity"},
        {"dec_44100_stereo_transients", 2, 44100, false,
         [](const AacToolCounts& t) { return t.short_windows > 0 && t.common_window < t.cpe; },
         "short windows, independent windows"},
        {"dec_48000_stereo", 2, 48000, false, [](const AacToolCounts& t) { return t.cpe > 0; }, "CPE"},
        {"dec_64000_mono", 1, 64000, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_88200_mono", 1, 88200, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_96000_mono", 1, 96000, false, [](const AacToolCounts& t) { return t.sce > 0; }, "SCE"},
        {"dec_mpeg2_16000_stereo", 2, 16000, false,
         [](const AacToolCounts& t) { return t.cpe > 0 && t.mpeg2_pns == 0; }, "MPEG-2 ADTS"},
        {"dec_22050_mono_pns", 1, 22050, true, [](const AacToolCounts& t) { return t.pns_bands > 0; }, "PNS"},
        {"dec_32000_stereo_pns", 2, 32000, true,
         [](const AacToolCounts& t) { return t.pns_bands > 0 && t.pns_shared > 0; }, "PNS in a pair, M/S noise"},
    };
    return v;
}

const int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

int sampling_index(int rate) { return static_cast<int>(std::find(kRates, kRates + 12, rate) - kRates); }

// The comparison helpers themselves: 16-bit rounding of a float reference (ties to even,
// saturated) and the accuracy level of ISO/IEC 14496-26.
TEST(AacDecode, ComparisonHelpers) {
    const std::pair<float, int> rounding[] = {{0.5f / 32768, 0},   {1.5f / 32768, 2},  {2.5f / 32768, 2},
                                              {-2.5f / 32768, -2}, {2.51f / 32768, 3}, {1.0f, 32767},
                                              {-1.5f, -32768}};
    for (const auto& [x, want] : rounding) EXPECT_EQ(zuft::round_to_16(x), want) << x;
    const std::tuple<double, int, int> levels[] = {
        {0.28, 2, 16}, {0.29, 2, 15}, {0.14, 1, 17}, {0.14, 2, 16}, {0.0, 0, 24}};
    for (const auto& [rms, max_abs, k] : levels) EXPECT_EQ(zuft::accuracy_level(rms, max_abs), k) << rms;
}

// Every stream against its reference: K >= 16 on every channel, or (noise substitution) 95% of
// the band-blocks within 1 dB. The figures are printed for the record.
TEST(AacDecode, VectorsMeetTheConformanceCriterion) {
    std::printf("%-28s %-75s %s\n", "stream", "tools", "per channel: RMS LSB / max LSB / K / SNR dB");
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        const auto stream = zuft::read_file(kDir + v.name + ".aac");
        const auto ref = zuft::read_pcm16(kDir + v.name + ".pcm");
        ASSERT_FALSE(stream.empty());
        ASSERT_FALSE(ref.empty());
        const Decoded d = decode_memory(stream);
        ASSERT_EQ(d.channels, v.channels);
        EXPECT_EQ(d.rate, v.rate);
        EXPECT_EQ(d.damaged, 0u);
        EXPECT_EQ(d.junk, 0u);
        EXPECT_TRUE(v.uses(d.tools)) << "expected " << v.what << ", found " << tools_used(d);
        const size_t ch = static_cast<size_t>(v.channels);
        const size_t out_frames = d.pcm.size() / ch, ref_frames = ref.size() / ch;
        const auto align = zuft::compare_pcm(d.pcm.data(), out_frames, ref.data(), ref_frames, v.channels, 3000);
        ASSERT_TRUE(align.aligned);
        // The whole reference is compared (FFmpeg leaves out nothing beyond the offset).
        EXPECT_GE(align.frames + 1024, ref_frames);
        if (v.noise) {
            const int sfi = sampling_index(d.rate);
            std::vector<int> edges;
            for (int b = 0; b <= zuf::_pAACNumSwbTableLong[sfi]; ++b)
                edges.push_back(zuf::_pAACSwbOffsetTableLong[sfi][b]);
            const auto m = zuft::compare_band_energies(d.pcm.data(), out_frames, ref.data(), ref_frames, v.channels,
                                                       align.offset, edges);
            std::printf("%-28s %-75s band-blocks within 1 dB: %zu of %zu (%.1f%%)\n", v.name, tools_used(d).c_str(),
                        m.within, m.compared, 100.0 * m.fraction());
            EXPECT_GT(m.compared, 100u);
            EXPECT_GE(m.fraction(), 0.95);
        } else {
            const auto e =
                zuft::compare_channels(d.pcm.data(), out_frames, ref.data(), ref_frames, v.channels, align.offset);
            std::string figures;
            char buf[96];
            for (const auto& c : e) {
                std::snprintf(buf, sizeof buf, "  %.3f / %d / K=%d / %.1f", c.rms, c.max_abs, c.k, c.snr_db);
                figures += buf;
            }
            std::printf("%-28s %-75s%s\n", v.name, tools_used(d).c_str(), figures.c_str());
            for (size_t c = 0; c < e.size(); ++c) {
                EXPECT_GE(e[c].k, 16) << "channel " << c << ": rms " << e[c].rms << ", max " << e[c].max_abs;
            }
        }
    }
}

// Damage of every kind is concealed, frame by frame, without reading outside the decoder's
// buffers (the sanitizer build checks that) and without losing the stream: flipped bits,
// bytes overwritten with garbage, cut frames and junk between them.
TEST(AacDecode, DamagedStreamsAreConcealed) {
    std::mt19937 rng(12345);
    for (const char* name : {"dec_44100_stereo_transients", "dec_22050_mono_pns", "dec_mpeg2_16000_stereo"}) {
        SCOPED_TRACE(name);
        const auto clean = zuft::read_file(kDir + name + ".aac");
        const Decoded good = decode_memory(clean);
        for (int round = 0; round < 40; ++round) {
            auto bytes = clean;
            const int kind = round % 4;
            for (int k = 0; k < 3; ++k) {
                const size_t at = rng() % bytes.size();
                if (kind == 0)
                    bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));  // bit errors
                else if (kind == 1)
                    bytes[at] = static_cast<uint8_t>(rng());  // garbage bytes
                else if (kind == 2)
                    bytes.erase(bytes.begin() + static_cast<long>(at),  // cuts
                                bytes.begin() + static_cast<long>(std::min(bytes.size(), at + rng() % 300)));
                else
                    bytes.insert(bytes.begin() + static_cast<long>(at), rng() % 50, static_cast<uint8_t>(0xFF));
            }
            const Decoded d = decode_memory(bytes);
            // Each damage costs at most a few frames: the loop resynchronises at the next header.
            EXPECT_GE(d.frames + 3 * 3, good.frames) << "round " << round;
            EXPECT_EQ(d.pcm.size() % (1024u * static_cast<size_t>(good.channels)), 0u);
        }
        // Pure garbage with a plausible first header decodes to nothing worse than silence.
        std::vector<uint8_t> junk(clean.begin(), clean.begin() + 7);
        for (int i = 0; i < 20000; ++i) junk.push_back(static_cast<uint8_t>(rng()));
        decode_memory(junk);
    }
}

// A frame with a damaged spectrum is silent and the next one starts cleanly.
TEST(AacDecode, DamagedFrameIsSilence) {
    auto bytes = zuft::read_file(kDir + std::string("dec_48000_stereo.aac"));
    const Decoded good = decode_memory(bytes);
    // Frame 10: ruin its raw data block (all ones: an escape sequence too long or a reserved
    // element), keep its header.
    size_t pos = 0;
    for (int f = 0; f < 10; ++f) pos += adts_frame_len(bytes.data() + pos);
    const size_t len = adts_frame_len(bytes.data() + pos);
    std::memset(bytes.data() + pos + 7, 0xFF, len - 7);
    const Decoded d = decode_memory(bytes);
    ASSERT_EQ(d.frames, good.frames);
    EXPECT_EQ(d.damaged, 1u);
    ASSERT_EQ(d.pcm.size(), good.pcm.size());
    for (size_t i = 10 * 2048; i < 11 * 2048; ++i) ASSERT_EQ(d.pcm[i], 0) << i;
    // Frames before are untouched; from two frames on, the output is back to the clean decode.
    EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.begin() + 10 * 2048, good.pcm.begin()));
    EXPECT_TRUE(std::equal(d.pcm.begin() + 13 * 2048, d.pcm.end(), good.pcm.begin() + 13 * 2048));
}

// FFmpeg writes neither CRC words nor several raw data blocks per frame: both are made here from
// a single-block stream (raw data blocks end byte-aligned, so they can be moved between frames)
// and must decode to the same PCM. Protected multi-block frames carry a position per extra
// block and the header CRC, then a CRC after every block (ISO/IEC 13818-7 6.2); the CRC values
// are not checked by the decoder, so they are left zero.
std::vector<uint8_t> repack(const std::vector<uint8_t>& in, int per_frame, bool crc) {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t> head;
    for (size_t pos = 0; pos + 7 <= in.size();) {
        const size_t len = adts_frame_len(in.data() + pos);
        if (head.empty()) head.assign(in.begin() + static_cast<long>(pos), in.begin() + static_cast<long>(pos) + 7);
        blocks.emplace_back(in.begin() + static_cast<long>(pos) + 7, in.begin() + static_cast<long>(pos + len));
        pos += len;
    }
    std::vector<uint8_t> out;
    for (size_t b = 0; b < blocks.size(); b += static_cast<size_t>(per_frame)) {
        const size_t n = std::min(blocks.size() - b, static_cast<size_t>(per_frame));
        const bool multi = n > 1;
        size_t len = 7 + (crc ? 2 * n : 0);
        for (size_t i = 0; i < n; ++i) len += blocks[b + i].size() + (crc && multi ? 2 : 0);
        std::vector<uint8_t> h = head;
        h[1] = static_cast<uint8_t>((h[1] & 0xFE) | (crc ? 0 : 1));
        h[3] = static_cast<uint8_t>((h[3] & 0xFC) | (len >> 11));
        h[4] = static_cast<uint8_t>(len >> 3);
        h[5] = static_cast<uint8_t>((h[5] & 0x1F) | ((len & 7) << 5));
        h[6] = static_cast<uint8_t>((h[6] & 0xFC) | (n - 1));
        out.insert(out.end(), h.begin(), h.end());
        if (crc) {
            size_t at = 7 + 2 * n;  // raw_data_block_position of blocks 1..n-1, then crc_check
            for (size_t i = 0; i + 1 < n; ++i) {
                at += blocks[b + i].size() + 2;
                out.push_back(static_cast<uint8_t>(at >> 8));
                out.push_back(static_cast<uint8_t>(at));
            }
            out.push_back(0);
            out.push_back(0);
        }
        for (size_t i = 0; i < n; ++i) {
            out.insert(out.end(), blocks[b + i].begin(), blocks[b + i].end());
            if (crc && multi) out.insert(out.end(), {0, 0});
        }
    }
    return out;
}

TEST(AacDecode, CrcWordsAndSeveralBlocksPerFrame) {
    for (const char* name : {"dec_8000_mono", "dec_44100_stereo_transients"}) {
        SCOPED_TRACE(name);
        const auto plain = zuft::read_file(kDir + name + ".aac");
        const Decoded ref = decode_memory(plain);
        for (const auto& [per_frame, crc] : {std::pair<int, bool>{1, true}, {4, false}, {3, true}, {2, true}}) {
            const Decoded d = decode_memory(repack(plain, per_frame, crc));
            EXPECT_EQ(d.damaged, 0u) << per_frame << " blocks, crc " << crc;
            EXPECT_EQ(d.tools.blocks, ref.tools.blocks);
            EXPECT_TRUE(d.pcm == ref.pcm) << per_frame << " blocks, crc " << crc;
        }
    }
}

// ---------------------------------------------------------------- zufdec

class ZufdecAac : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFDEC; }
    // zufdec IN out.wav, IN a file in the test directory; keeps stderr in err_.
    int decode(const std::string& in) {
        const zuft::ToolRun r = run(zuft::quoted(path(in)) + " " + zuft::quoted(path("out.wav")));
        err_ = r.err;
        return r.status;
    }
    std::string err_;
};

TEST_F(ZufdecAac, DecodesToTheSameWavAsTheFrameDecoder) {
    for (const char* name : {"dec_44100_stereo_transients", "dec_22050_mono_pns", "dec_mpeg2_16000_stereo"}) {
        const auto bytes = zuft::read_file(kDir + name + ".aac");
        write("in.aac", bytes);
        ASSERT_EQ(decode("in.aac"), 0) << err_;
        int ch = 0, rate = 0;
        const auto wav = zuft::read_wav16(path("out.wav"), &ch, &rate);
        const Decoded d = decode_memory(bytes);
        EXPECT_EQ(ch, d.channels);
        EXPECT_EQ(rate, d.rate);
        EXPECT_TRUE(wav == d.pcm) << name;
        EXPECT_NE(err_.find(std::to_string(d.frames) + " frames decoded"), std::string::npos) << err_;
        EXPECT_NE(err_.find("0 damaged"), std::string::npos) << err_;
        EXPECT_NE(err_.find("real time"), std::string::npos) << err_;
    }
}

TEST_F(ZufdecAac, RefusesWhatItDoesNotDecode) {
    const std::string vec = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/";
    for (const auto& [file, message] :
         {std::pair<std::string, std::string>{vec + "adts_lc_48000_5.1.aac", "channel_configuration 6"},
          {vec + "adts_main_44100_mono.aac", "Main profile is not decoded"},
          {vec + "aac/adts_ltp_48000_stereo.aac", "LTP profile is not decoded"},
          {vec + "adif_lc_44100_stereo.adif", "ADIF is not decoded"}}) {
        if (!std::filesystem::exists(file)) continue;  // a colleague's vector not there yet
        write("in.aac", zuft::read_file(file));
        EXPECT_EQ(decode("in.aac"), 1) << file;
        EXPECT_NE(err_.find(message), std::string::npos) << err_;
    }
}

// Junk before, between and after frames, a damaged frame and a frame cut by the end of the
// file: all reported, the rest decoded.
TEST_F(ZufdecAac, ReportsAndSkipsDamage) {
    auto bytes = zuft::read_file(kDir + std::string("dec_16000_mono_transients.aac"));
    size_t pos = 0;
    for (int f = 0; f < 5; ++f) pos += adts_frame_len(bytes.data() + pos);
    std::memset(bytes.data() + pos + 7, 0xFF, adts_frame_len(bytes.data() + pos) - 7);  // frame 5 damaged
    pos += adts_frame_len(bytes.data() + pos);
    bytes.insert(bytes.begin() + static_cast<long>(pos), {0x12, 0xFF, 0xF1, 0x00, 0x34});  // junk after it
    bytes.insert(bytes.begin(), {'j', 'u', 'n', 'k'});
    bytes.resize(bytes.size() - 20);  // the last frame cut
    write("in.aac", bytes);
    ASSERT_EQ(decode("in.aac"), 0) << err_;
    EXPECT_NE(err_.find("skipped 4 bytes before the first frame"), std::string::npos) << err_;
    EXPECT_NE(err_.find("frame 5 at offset"), std::string::npos) << err_;
    EXPECT_NE(err_.find("skipped 5 bytes of junk"), std::string::npos) << err_;
    EXPECT_NE(err_.find("cut off by the end of the file"), std::string::npos) << err_;
    EXPECT_NE(err_.find("2 damaged"), std::string::npos) << err_;
}

}  // namespace
