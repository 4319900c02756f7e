// AAC-LC decoding end to end: the example decoder that zufdec uses (tools/example, public API
// only) on the ADTS streams of tests/vectors/aac/dec_*.aac against FFmpeg's
// floating-point decodes rounded to 16 bits (dec_*.pcm, tools/gen/make-vectors.sh), with the
// ISO/IEC 14496-26 RMS/LSB measurement per channel; noise substitution streams by band energy.
// Then zufdec itself: output, messages, refusals and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <complex>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "aac/aac_band_tables.h"
#include "support/pcm_compare.h"
#include "support/tool_run.h"

namespace {

using zuft::decode_memory;
using zuft::Decoded;
const std::string kDir = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/aac/";

struct Vector {
    const char* name;
    int channels;
    int rate;
    bool noise;                                      // noise substitution: energy comparison
    std::function<bool(const AacToolCounts&)> uses;  // the tools the stream is made to reach
    std::vector<int> ref_channel = {};               // FFmpeg's channel of each output channel
};

const std::vector<Vector>& vectors() {
    const auto sce = [](const AacToolCounts& t) { return t.sce > 0; };
    static const std::vector<Vector> v = {
        {"dec_8000_mono", 1, 8000, false, sce},
        {"dec_11025_mono", 1, 11025, false, sce},
        {"dec_12000_mono", 1, 12000, false, sce},
        {"dec_16000_mono_transients", 1, 16000, false,
         [](const AacToolCounts& t) { return t.short_windows > 0 && t.tns > 0; }},
        {"dec_22050_stereo_ms_off", 2, 22050, false,
         [](const AacToolCounts& t) { return t.cpe > 0 && t.ms_bands == 0 && t.is_bands == 0; }},
        {"dec_24000_stereo_ms_auto", 2, 24000, false,
         [](const AacToolCounts& t) { return t.ms_bands > 0 && t.ms_all_frames < t.cpe; }},
        {"dec_32000_stereo_ms_all", 2, 32000, false, [](const AacToolCounts& t) { return t.ms_all_frames > 0; }},
        {"dec_44100_stereo_is", 2, 44100, false, [](const AacToolCounts& t) { return t.is_bands > 0; }},
        {"dec_44100_stereo_transients", 2, 44100, false,
         [](const AacToolCounts& t) { return t.short_windows > 0 && t.common_window < t.cpe; }},
        {"dec_48000_stereo", 2, 48000, false, [](const AacToolCounts& t) { return t.cpe > 0; }},
        {"dec_64000_mono", 1, 64000, false, sce},
        {"dec_88200_mono", 1, 88200, false, sce},
        {"dec_96000_mono", 1, 96000, false, sce},
        {"dec_mpeg2_16000_stereo", 2, 16000, false, [](const AacToolCounts& t) { return t.cpe > 0 && !t.mpeg2_pns; }},
        {"dec_22050_mono_pns", 1, 22050, true, [](const AacToolCounts& t) { return t.pns_bands > 0; }},
        {"dec_32000_stereo_pns", 2, 32000, true,
         [](const AacToolCounts& t) { return t.pns_bands > 0 && t.pns_shared > 0; }},
        {"dec_22050_mono_ltp", 1, 22050, false, [](const AacToolCounts& t) { return t.ltp > 0; }},
        {"dec_16000_stereo_ltp", 2, 16000, false, [](const AacToolCounts& t) { return t.ltp > 0 && t.cpe > 0; }},
        {"dec_32000_5.1", 6, 32000, false, [](const AacToolCounts& t) { return t.cpe == 2 * t.lfe && t.lfe > 0; }},
        // FFmpeg 5.1 writes and reads channel_configuration 7 as FL/FR, SL/SR, BL/BR; the standard's
        // order is Lc/Rc, L/R (outside), Ls/Rs.
        {"dec_32000_7.1",
         8,
         32000,
         false,
         [](const AacToolCounts& t) { return t.cpe == 3 * t.lfe && t.lfe > 0; },
         {6, 7, 2, 3, 4, 5, 0, 1}},
        {"dec_main_44100_mono", 1, 44100, false, [](const AacToolCounts& t) { return t.pred_bands > 0; }},
        {"dec_main_48000_stereo", 2, 48000, false, [](const AacToolCounts& t) { return t.pred_bands > 0; }},
        // Reference from FAAD2: FFmpeg feeds zeros to the predictors of intensity bands (see
        // tools/example/aac_predict.c).
        {"dec_main_44100_stereo_is", 2, 44100, false,
         [](const AacToolCounts& t) { return t.pred_bands > 0 && t.is_bands > 0; }},
    };
    return v;
}

// Every stream against its reference: K >= 16 on every channel, or (noise substitution) 95% of
// the band-blocks within 1 dB. The figures are printed for the record.
TEST(AacDecode, VectorsMeetTheConformanceCriterion) {
    const int rates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        auto ref = zuft::read_pcm16(kDir + v.name + ".pcm");
        if (!v.ref_channel.empty())
            for (size_t i = 0; i + v.channels <= ref.size(); i += v.channels) {
                const std::vector<int16_t> frame(ref.begin() + i, ref.begin() + i + v.channels);
                for (int c = 0; c < v.channels; ++c) ref[i + c] = frame[v.ref_channel[c]];
            }
        const Decoded d = decode_memory(zuft::read_file(kDir + v.name + ".aac"));
        ASSERT_FALSE(ref.empty());
        ASSERT_EQ(d.st.channels, v.channels);
        EXPECT_EQ(d.st.sample_rate, v.rate);
        EXPECT_EQ(d.st.damaged + d.st.junk_bytes, 0u);
        EXPECT_TRUE(v.uses(d.tools)) << "the stream does not reach the tools it is made for";
        const size_t out_frames = d.pcm.size() / v.channels, ref_frames = ref.size() / v.channels;
        const auto align = zuft::compare_pcm(d.pcm.data(), out_frames, ref.data(), ref_frames, v.channels, 3000);
        ASSERT_TRUE(align.aligned);
        EXPECT_GE(align.frames + 1024, ref_frames);  // FFmpeg leaves out nothing beyond the offset
        std::printf("%-28s", v.name);
        if (v.noise) {
            const int sfi = static_cast<int>(std::find(rates, rates + 12, v.rate) - rates);
            std::vector<int> edges;
            for (int b = 0; b <= zuf::_pAACNumSwbTableLong[sfi]; ++b)
                edges.push_back(zuf::_pAACSwbOffsetTableLong[sfi][b]);
            size_t compared = 0;
            const double within = zuft::band_energies_within_1db(d.pcm.data(), out_frames, ref.data(), ref_frames,
                                                                 v.channels, align.offset, edges, &compared);
            std::printf(" band-blocks within 1 dB: %.1f%% of %zu\n", 100.0 * within, compared);
            EXPECT_GT(compared, 100u);
            EXPECT_GE(within, 0.95);
            continue;
        }
        for (int c = 0; c < v.channels; ++c) {
            const auto e =
                zuft::measure_pcm(d.pcm.data(), out_frames, ref.data(), ref_frames, v.channels, align.offset, c);
            const int k = zuft::accuracy_level(e.rms, e.max_abs);
            std::printf("  rms %.3f LSB, max %d LSB, K=%d", e.rms, e.max_abs, k);
            EXPECT_GE(k, 16) << "channel " << c << ": " << zuft::describe(e);
        }
        std::printf("\n");
    }
}

// Damage of every kind is concealed, frame by frame, without reading outside the decoder's
// buffers (the sanitizer build checks that) and without losing the stream: flipped bits,
// bytes overwritten with garbage, cut frames and junk between them.
TEST(AacDecode, DamagedStreamsAreConcealed) {
    std::mt19937 rng(12345);
    for (const char* name :
         {"dec_44100_stereo_transients", "dec_22050_mono_pns", "dec_mpeg2_16000_stereo", "dec_32000_7.1"}) {
        SCOPED_TRACE(name);
        const auto clean = zuft::read_file(kDir + name + ".aac");
        const Decoded good = decode_memory(clean);
        for (int round = 0; round < 40; ++round) {
            auto bytes = clean;
            for (int k = 0; k < 3; ++k) {
                const auto at = bytes.begin() + static_cast<long>(rng() % bytes.size());
                if (round % 4 == 0) *at ^= static_cast<uint8_t>(1u << (rng() % 8));  // bit errors
                if (round % 4 == 1) *at = static_cast<uint8_t>(rng());               // garbage bytes
                if (round % 4 == 2) bytes.erase(at, at + std::min<long>(bytes.end() - at, rng() % 300));  // cuts
                if (round % 4 == 3) bytes.insert(at, rng() % 50, static_cast<uint8_t>(0xFF));             // junk
            }
            const Decoded d = decode_memory(bytes);
            // Each damage costs at most a few frames: the loop resynchronises at the next header.
            EXPECT_GE(d.st.frames + 3 * 3, good.st.frames) << "round " << round;
            EXPECT_EQ(d.pcm.size() % (1024u * static_cast<size_t>(good.st.channels)), 0u);
        }
        // Pure garbage with a plausible first header decodes to nothing worse than silence.
        std::vector<uint8_t> junk(clean.begin(), clean.begin() + 7);
        for (int i = 0; i < 20000; ++i) junk.push_back(static_cast<uint8_t>(rng()));
        decode_memory(junk);
    }
}

// The offset of frame `n` of an ADTS stream.
size_t frame_offset(const std::vector<uint8_t>& bytes, int n) {
    size_t pos = 0;
    while (n-- > 0) pos += adts_frame_len(bytes.data() + pos);
    return pos;
}

// A frame with a damaged spectrum is silent and the next one starts cleanly.
TEST(AacDecode, DamagedFrameIsSilence) {
    auto bytes = zuft::read_file(kDir + "dec_48000_stereo.aac");
    const Decoded good = decode_memory(bytes);
    // Frame 10: ruin its raw data block (all ones: an escape sequence too long or a reserved
    // element), keep its header.
    const size_t pos = frame_offset(bytes, 10);
    std::memset(bytes.data() + pos + 7, 0xFF, adts_frame_len(bytes.data() + pos) - 7);
    const Decoded d = decode_memory(bytes);
    ASSERT_EQ(d.st.frames, good.st.frames);
    EXPECT_EQ(d.st.damaged, 1u);
    ASSERT_EQ(d.pcm.size(), good.pcm.size());
    EXPECT_EQ(std::count(d.pcm.begin() + 10 * 2048, d.pcm.begin() + 11 * 2048, 0), 2048);
    // Frames before are untouched; from two frames on, the output is back to the clean decode.
    EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.begin() + 10 * 2048, good.pcm.begin()));
    EXPECT_TRUE(std::equal(d.pcm.begin() + 13 * 2048, d.pcm.end(), good.pcm.begin() + 13 * 2048));
}

// FFmpeg writes neither CRC words nor several raw data blocks per frame. Several unprotected
// blocks are made here from a single-block stream (raw data blocks end byte-aligned, so they are
// simply concatenated); the protected streams, with one block per frame and with several, were
// written by tools/gen/adts_protect.py, a second implementation of the CRC rule that finds the
// element boundaries with its own parse. All decode to the same PCM, without a CRC mismatch.
std::vector<uint8_t> repack(const std::vector<uint8_t>& in, size_t per_frame) {
    std::vector<uint8_t> out;
    for (size_t pos = 0; pos + 7 <= in.size();) {
        size_t end = pos, n = 0;
        for (; n < per_frame && end + 7 <= in.size(); ++n) end += adts_frame_len(in.data() + end);
        std::vector<uint8_t> h(in.begin() + static_cast<long>(pos), in.begin() + static_cast<long>(pos) + 7);
        const size_t len = end - pos - 7 * (n - 1);
        h[3] = static_cast<uint8_t>((h[3] & 0xFC) | (len >> 11));
        h[4] = static_cast<uint8_t>(len >> 3);
        h[5] = static_cast<uint8_t>((h[5] & 0x1F) | ((len & 7) << 5));
        h[6] = static_cast<uint8_t>((h[6] & 0xFC) | (n - 1));
        out.insert(out.end(), h.begin(), h.end());
        for (; pos < end; pos += adts_frame_len(in.data() + pos))
            out.insert(out.end(), in.begin() + static_cast<long>(pos) + 7,
                       in.begin() + static_cast<long>(pos + adts_frame_len(in.data() + pos)));
    }
    return out;
}

TEST(AacDecode, CrcWordsAndSeveralBlocksPerFrame) {
    for (const auto& [name, blocks] :
         {std::pair<std::string, std::string>{"dec_8000_mono", "_crc2"}, {"dec_44100_stereo_transients", "_crc3"}}) {
        const auto plain = zuft::read_file(kDir + name + ".aac");
        const Decoded ref = decode_memory(plain);
        for (const auto& bytes : {repack(plain, 4), zuft::read_file(kDir + name + "_crc.aac"),
                                  zuft::read_file(kDir + name + blocks + ".aac")}) {
            const Decoded d = decode_memory(bytes);
            EXPECT_EQ(d.st.damaged + d.st.crc_errors, 0u) << name << ", " << bytes.size() << " bytes";
            EXPECT_EQ(d.tools.blocks, ref.tools.blocks);
            EXPECT_TRUE(d.pcm == ref.pcm) << name << ", " << bytes.size() << " bytes";
        }
    }
}

// A flipped bit that the CRC covers, in a field the decoding does not use (the header's
// buffer_fullness, an element_instance_tag), makes its frame one CRC mismatch, concealed like
// damage: silence, with the frames before it and those from three on unchanged. Flips in the
// last bytes of a frame, past the protected bits, are no CRC mismatch.
TEST(AacDecode, CrcMismatchIsADamagedFrame) {
    for (const char* name : {"dec_8000_mono_crc", "dec_44100_stereo_transients_crc"}) {
        SCOPED_TRACE(name);
        const auto clean = zuft::read_file(kDir + name + ".aac");
        const Decoded good = decode_memory(clean);
        const size_t at = frame_offset(clean, 5), len = adts_frame_len(clean.data() + at);
        const long ch = good.st.channels;
        const auto frame = [&](const Decoded& x, long k) { return x.pcm.begin() + 1024 * ch * k; };
        for (const auto& [byte, mask] : {std::pair<size_t, uint8_t>{6, 0x04}, {9, 0x02}}) {
            auto bytes = clean;
            bytes[at + byte] ^= mask;
            const Decoded d = decode_memory(bytes);
            EXPECT_EQ(d.st.crc_errors, 1u);
            EXPECT_EQ(d.st.damaged, 1u);
            ASSERT_EQ(d.pcm.size(), good.pcm.size());
            EXPECT_EQ(std::count(frame(d, 5), frame(d, 6), 0), 1024 * ch);
            EXPECT_TRUE(std::equal(frame(d, 0), frame(d, 5), frame(good, 0)));
            EXPECT_TRUE(std::equal(frame(d, 8), d.pcm.end(), frame(good, 8)));
        }
        int clean_decodes = 0;  // flips the decoding does not notice either: the CRC was checked
        for (int bit = 0; bit < 32; ++bit) {
            auto bytes = clean;
            bytes[at + len - 4 + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            const Decoded d = decode_memory(bytes);
            EXPECT_EQ(d.st.crc_errors, 0u) << bit;
            clean_decodes += d.st.damaged == 0;
        }
        EXPECT_GT(clean_decodes, 0);
    }
}

// MP4 (tools/gen/make-vectors.sh): ADTS vectors remuxed by FFmpeg (-c copy; moov last, 3GP, moov
// first, two tracks) decode to the ADTS decode sample for sample (the same raw data blocks), at FFmpeg's
// length. The encoder's own MP4 starts where its edit list says, 1024 priming samples on (at
// FFmpeg's length, whose end is not trimmed either), lined up with its source sine.
TEST(AacDecode, Mp4TracksDecodeAsTheirAdtsStreams) {
    const struct {
        const char *mp4, *adts;
        size_t ffmpeg_frames;
    } cases[] = {{"mp4_44100_stereo_is.m4a", "dec_44100_stereo_is", 36864},
                 {"mp4_two_tracks.m4a", "dec_44100_stereo_is", 36864},
                 {"mp4_32000_7.1.m4a", "dec_32000_7.1", 12288},  // interleaved: many chunks
                 {"mp4_22050_mono_pns.3gp", "dec_22050_mono_pns", 23552},
                 {"mp4_mpeg2_16000_stereo_faststart.m4a", "dec_mpeg2_16000_stereo", 17408},
                 {"mp4_22050_mono_priming.m4a", nullptr, 11264}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mp4);
        const auto bytes = zuft::read_file(kDir + c.mp4);
        const Decoded d = decode_memory(bytes), all = decode_memory(bytes, nullptr, false);
        EXPECT_EQ(d.st.damaged, 0u);
        ASSERT_EQ(d.pcm.size(), c.ffmpeg_frames * static_cast<size_t>(d.st.channels));
        if (c.adts) {
            EXPECT_TRUE(d.pcm == decode_memory(zuft::read_file(kDir + c.adts + ".aac")).pcm);
            EXPECT_TRUE(all.pcm == d.pcm);
            continue;
        }
        EXPECT_EQ(all.pcm.size(), d.pcm.size() + 1024);
        std::vector<int16_t> src(11025);  // 0.5 s
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<int16_t>(std::lround(32767 * 0.4 * std::sin(2 * M_PI * 440 * i / 22050.0)));
        // A sine repeats every 50.1 samples, so no alignment search: the error is least in place
        // (32 kbit/s leaves much of it).
        const auto m = zuft::measure_pcm(d.pcm.data(), src.size(), src.data(), src.size(), 1, 0);
        std::printf("    %s against the source: %s\n", c.mp4, zuft::describe(m).c_str());
        EXPECT_GT(m.psnr_db, 20.0);
        for (long lag : {-1L, 1L})
            EXPECT_GT(zuft::measure_pcm(d.pcm.data(), src.size(), src.data(), src.size(), 1, lag).rms, m.rms * 1.05);
    }
}

// A layout given by a program configuration element, in ADTS (channel_configuration 0) and in
// ADIF (tools/gen/aacpack.py wraps the same raw data blocks), decodes to the same PCM as the
// channel configuration: the PCE's front, back and LFE elements find the same speakers.
TEST(AacDecode, PceLayoutsAndAdifDecodeAsTheirConfiguration) {
    const std::string vec = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/";
    for (const auto& [pce, config] :
         {std::pair<std::string, std::string>{"aac/pce_32000_5.1.aac", "aac/dec_32000_5.1.aac"},
          {"aac/adif_32000_5.1.adif", "aac/dec_32000_5.1.aac"},
          {"aac/pce_32000_7.1.aac", "aac/dec_32000_7.1.aac"},
          {"aac/adif_32000_7.1.adif", "aac/dec_32000_7.1.aac"},
          {"adif_lc_44100_stereo.adif", "adts_lc_44100_stereo.aac"}}) {
        const Decoded a = decode_memory(zuft::read_file(vec + pce)), b = decode_memory(zuft::read_file(vec + config));
        EXPECT_EQ(a.st.damaged, 0u) << pce;
        EXPECT_EQ(a.st.channels, b.st.channels) << pce;
        EXPECT_TRUE(!a.pcm.empty() && a.pcm == b.pcm) << pce;
    }
}

// A PCE's matrix_mixdown_idx (ISO/IEC 13818-7: surround factors 1/sqrt(2), 1/2, 1/(2 sqrt(2)), 0)
// sets the downmix of a 5.1 layout: L' = (L + C/sqrt(2) + A Ls) / (1 + 1/sqrt(2) + A), LFE out.
TEST(AacDecode, PceMatrixMixdownFactor) {
    const double a[4] = {std::sqrt(0.5), 0.5, std::sqrt(0.125), 0.0}, c = std::sqrt(0.5);
    for (int idx = 0; idx < 4; ++idx) {
        AacPrgCfgElt pce{};
        pce.num_front_channel_elements = 2, pce.front_element_is_cpe[1] = 1;
        pce.num_back_channel_elements = 1, pce.back_element_is_cpe[0] = 1;
        pce.num_lfe_channel_elements = 1;
        pce.matrix_mixdown_idx_present = 1, pce.matrix_mixdown_idx = idx;
        static AacDecoder d;
        char why[200];
        ASSERT_EQ(aac_layout_from_pce(&d, &pce, why, sizeof why), 0);
        ASSERT_EQ(d.mask, 0x3Fu);  // FL FR FC LFE BL BR
        double m[2][AAC_MAX_CHANNELS];
        aac_downmix_matrix(&d, m);
        const double want[6] = {1, 0, c, 0, a[idx], 0}, k = 1 + c + a[idx];
        for (int ch = 0; ch < 6; ++ch) {
            EXPECT_NEAR(m[0][ch], want[ch] / k, 1e-12) << idx << " " << ch;
            EXPECT_NEAR(m[1][ch], want[ch ^ (ch == 2 || ch == 3 ? 0 : 1)] / k, 1e-12) << idx << " " << ch;
        }
    }
}

// ---------------------------------------------------------------- zufdec

class ZufdecAac : public zuft::ToolTest {
  protected:
    std::string program() const override { return ZUF_ZUFDEC; }
    std::string tail() const override { return zuft::quoted(path("out.wav")) + " -y"; }
};

TEST_F(ZufdecAac, DecodesToTheSameWavAsTheFrameDecoder) {
    for (const char* name : {"dec_44100_stereo_transients", "dec_22050_mono_pns", "dec_mpeg2_16000_stereo"}) {
        const auto bytes = zuft::read_file(kDir + name + ".aac");
        const Decoded d = decode_memory(bytes);
        check({bytes,
               "",
               0,
               {std::to_string(d.st.frames) + " frames decoded", "0 failed the CRC", "0 damaged", "real time"}});
        int ch = 0, rate = 0;
        EXPECT_TRUE(zuft::read_wav16(path("out.wav"), &ch, &rate) == d.pcm) << name;
        EXPECT_EQ(ch, d.st.channels);
        EXPECT_EQ(rate, d.st.sample_rate);
    }
}

// Multichannel: every source tone (tools/gen/make-vectors.sh) lands in its WAV channel, the WAV
// says the speakers with WAVE_FORMAT_EXTENSIBLE, and --downmix is a double-precision model of the
// ITU-R BS.775 matrix on the per-channel decode (within 2 LSB: zufdec mixes the 32-bit filter
// bank's samples, which lie within 1.5 LSB of the 16-bit decode, and rounds).
TEST_F(ZufdecAac, MultichannelOrderMaskAndDownmix) {
    const double c = std::sqrt(0.5);
    const struct {
        const char* name;
        unsigned mask;
        std::vector<double> tone;                      // Hz, per WAV channel
        std::vector<std::array<double, 2>> to_stereo;  // per WAV channel, before normalising
    } cases[] = {
        {"dec_32000_5.1", 0x3F, {440, 660, 880, 60, 1320, 1760}, {{1, 0}, {0, 1}, {c, c}, {0, 0}, {c, 0}, {0, c}}},
        {"dec_32000_7.1",
         0xFF,
         {2200, 2640, 880, 60, 1320, 1760, 440, 660},  // FL FR FC LFE BL BR FLC FRC
         {{1, 0}, {0, 1}, {c, c}, {0, 0}, {c, 0}, {0, c}, {1, 0}, {0, 1}}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const auto bytes = zuft::read_file(kDir + k.name + ".aac");
        const Decoded d = decode_memory(bytes);
        const size_t n = k.tone.size(), frames = d.pcm.size() / n;
        ASSERT_EQ(d.st.channels, static_cast<int>(n));
        const auto power = [&](const std::vector<int16_t>& x, size_t ch, size_t chans, double hz) {
            std::complex<double> s = 0;
            for (size_t i = 0; i < x.size() / chans; ++i)
                s += double(x[i * chans + ch]) * std::polar(1.0, -2 * M_PI * hz * i / 32000);
            return std::norm(s);
        };
        for (size_t ch = 0; ch < n; ++ch) {
            for (double other : k.tone) {
                if (other != k.tone[ch]) {
                    EXPECT_GT(power(d.pcm, ch, n, k.tone[ch]), 100 * power(d.pcm, ch, n, other)) << ch;
                }
            }
        }
        check({bytes, "", 0, {"decoded"}});
        const std::string wav = slurp("out.wav");
        ASSERT_GT(wav.size(), 68u);
        const auto le = [&](size_t at, int len) {
            unsigned v = 0;
            for (int i = len - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(wav[at + i]);
            return v;
        };
        EXPECT_EQ(le(20, 2), 0xFFFEu);
        EXPECT_EQ(le(40, 4), k.mask);
        EXPECT_TRUE(zuft::read_pcm16(path("out.wav"), wav.find("data") + 8) == d.pcm);
        // Through a pipe zufdec writes the WAV itself: the same header fields and samples.
        const std::string piped = run(zuft::quoted(path("in")) + " -q -o - | cat").out;
        ASSERT_EQ(piped.size(), 68 + 2 * d.pcm.size());
        EXPECT_EQ(piped.substr(20, 24), wav.substr(20, 24));
        EXPECT_EQ(piped.substr(68), wav.substr(wav.find("data") + 8));
        check({bytes, "--downmix", 0, {"decoded"}});
        int chans = 0;
        const auto mix = zuft::read_wav16(path("out.wav"), &chans);
        ASSERT_EQ(chans, 2);
        ASSERT_EQ(mix.size(), 2 * frames);
        double sum[2] = {0, 0}, worst = 0;
        for (const auto& f : k.to_stereo) sum[0] += f[0], sum[1] += f[1];
        for (size_t i = 0; i < frames; ++i)
            for (int side = 0; side < 2; ++side) {
                double v = 0;
                for (size_t ch = 0; ch < n; ++ch) v += k.to_stereo[ch][side] / sum[side] * d.pcm[i * n + ch];
                worst = std::max(worst, std::abs(v - mix[2 * i + side]));
            }
        EXPECT_LE(worst, 2.0);
    }
}

// Refusals, and damage: junk before, between and after frames, a damaged frame and a frame cut
// by the end of the file are all reported, the rest decoded.
TEST_F(ZufdecAac, RefusesOrReportsDamage) {
    const std::string vec = std::string(ZUF_SOURCE_DIR) + "/tests/vectors/";
    auto bytes = zuft::read_file(kDir + "dec_16000_mono_transients.aac");
    const size_t pos = frame_offset(bytes, 5);
    std::memset(bytes.data() + pos + 7, 0xFF, adts_frame_len(bytes.data() + pos) - 7);  // frame 5 damaged
    bytes.insert(bytes.begin() + static_cast<long>(frame_offset(bytes, 6)), {0x12, 0xFF, 0xF1, 0x00, 0x34});
    bytes.insert(bytes.begin(), {'j', 'u', 'n', 'k'});
    bytes.resize(bytes.size() - 20);  // the last frame cut
    auto cce = zuft::read_file(kDir + "dec_8000_mono.aac");
    cce[7] = static_cast<uint8_t>((cce[7] & 0x1F) | 0x40);  // the first element's id: SCE 0 -> CCE 2
    auto crc = zuft::read_file(kDir + "dec_8000_mono_crc.aac");
    crc[frame_offset(crc, 3) + 6] ^= 0x04;  // buffer_fullness, under the CRC
    // An MP4 file with one byte changed after the first occurrence of a marker.
    const auto mp4 = zuft::read_file(kDir + "mp4_44100_stereo_is.m4a");
    const auto patched = [&](const std::string& marker, size_t at, uint8_t value) {
        auto p = mp4;
        p[static_cast<size_t>(std::search(p.begin(), p.end(), marker.begin(), marker.end()) - p.begin()) + at] = value;
        return p;
    };
    const auto faststart = zuft::read_file(kDir + "mp4_mpeg2_16000_stereo_faststart.m4a");
    auto ssr = zuft::read_file(vec + "adts_main_44100_mono.aac");
    for (size_t at = 0; at + 7 <= ssr.size(); at += adts_frame_len(&ssr[at]))  // every header: profile 2
        ssr[at + 2] = static_cast<uint8_t>((ssr[at + 2] & 0x3F) | 0x80);
    const zuft::ToolCase cases[] = {
        {cce, "", 1, {"AAC (ADTS): refused: coupling channel element (CCE) is not decoded"}},
        {zuft::read_file(vec + "adif_two_pce.adif"), "", 1, {"1 coupling channel element (CCE)"}},
        {ssr, "", 1, {"SSR profile is not decoded"}},
        {zuft::read_file(vec + "adts_main_44100_mono.aac"), "", 0, {}},  // Main: decoded
        {patched("esds", 39, 0x0A), "", 1, {"audio object type 1 (AAC Main) is not decoded"}},
        {patched("esds", 39, 0x22), "", 1, {"audio object type 4 (AAC LTP) is not decoded"}},
        {patched("esds", 39, 0x2A), "", 1, {"audio object type 0 (not AAC-LC)"}},  // SBR over a broken core type
        {patched("soun", 0, 'v'), "", 1, {"no audio track (1 other track)"}},
        {patched("mp4a", 0, 'X'), "", 1, {"audio coded as 'Xp4a' is not decoded"}},
        {patched("free", 4, 0x7F), "", 1, {"no whole 'moov' box"}},  // mdat past the end hides moov
        {std::vector<uint8_t>(faststart.begin(), faststart.end() - 1000), "", 0, {"cut off by the end", "1 damaged"}},
        {bytes,
         "",
         0,
         {"skipped 4 bytes before the first frame", "frame 5 at offset", "skipped 5 bytes of junk",
          "cut off by the end of the file", "2 damaged"}},
        {crc, "", 0, {"frame 3 at offset", "CRC mismatch", "1 failed the CRC check", "1 damaged"}},
    };
    for (const auto& c : cases) check(c);
}

}  // namespace
