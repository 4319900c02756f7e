// Layer III quantisation: the quantiser law against double precision, the rate loop's results
// re-checked through the library's own packer and decoder (part2_3_length = the bits actually
// written, the granule decodes back to the same lines and scale factors), the reservoir and
// stuffing rules over runs of frames, and the vector power functions against double math.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "frame/vec_pow.h"
#include "mp3/mp3_huff_encode.h"
#include "mp3/mp3_quant.h"
#include "support/checkasm.h"
#include "support/mp3_test_util.h"

namespace {

using zuft::Rng;

// floor(y^(3/4) + 0.4054) in double, with y = |x| 2^(-t/4) (1.0 = 2^26) rounded half up first.
double quant_model(double x, int t) {
    const double y = std::floor(x * std::pow(2.0, -t / 4.0 - 26) + 0.5);
    return y >= 165109 ? 8192 : std::floor(std::pow(y, 0.75) + 0.4054);
}

TEST(Mp3Quant, QuantiserLawMatchesDoubleModel) {
    for (Zuf32u y = 0; y < 170000; ++y) {  // every integer y: exact where double is unambiguous
        const double v = std::pow(static_cast<double>(y), 0.75) + 0.4054;
        if (std::fabs(v - std::nearbyint(v)) > 1e-9 || y >= 165109) {
            ASSERT_EQ(zuf::ownsQuantValue_MP3(y), y >= 165109 ? 8192 : static_cast<int>(v)) << y;
        }
    }
    Rng rng(7);
    int off = 0, n = 0;
    for (int t : {0, -1, -2, -3, -4, -37, -70, -101, -150, -210, 5, 22, 45}) {
        Zuf32s x[576], q[576];
        for (auto& v : x) v = static_cast<Zuf32s>(rng.u32() >> rng.range(1, 31));
        zuf::ownsQuantizeBand_MP3(x, q, 576, t);
        for (int i = 0; i < 576; ++i, ++n) {
            const double m = quant_model(x[i], t);
            ASSERT_LE(std::fabs(q[i] - m), 1) << x[i] << " t " << t;
            off += q[i] != m;  // only where 2^(f/4) in Q29 moves y across a half
        }
        // Distortion of the band against the double requantisation, within 0.1 %.
        double d = 0;
        for (int i = 0; i < 576; ++i) {
            const double e = x[i] - std::pow(std::min(q[i], 8206), 4.0 / 3) * std::pow(2.0, t / 4.0 + 26);
            d += std::min(e * e, 0x7FFFFFFF * 2147483647.0) / 4294967296.0;
        }
        EXPECT_NEAR(static_cast<double>(zuf::ownsBandDistortion_MP3(x, q, 576, t)), d / 2, d * 1e-3 + 576) << t;
    }
    EXPECT_LT(off, n / 200);
}

// One frame's inputs and outputs.
struct Frame {
    Mp3FrameHeader h;
    int nGr, nCh, nGc;
    std::vector<Zuf32s> xr = std::vector<Zuf32s>(4 * 576), work = std::vector<Zuf32s>(2 * 576);
    Zuf8s sf[4 * 40] = {};
    int scfsi[8] = {}, count1[4] = {}, stuff[4] = {}, bound[6] = {21, 12, 12, 21, 12, 12};
    Mp3SideInfo si[4] = {};
    Mp3PsyOutput psy[4] = {};
    std::unique_ptr<Mp3PsyState> state = std::make_unique<Mp3PsyState>();
    explicit Frame(const Mp3FrameHeader& hdr) : h(hdr), nGr(hdr.ID ? 2 : 1), nCh(hdr.mode == 3 ? 1 : 2) {
        nGc = nGr * nCh;
    }
    zufResult run(Mp3BitReservoir* r, int F) {
        return zufsQuantize_MP3_32s_I(xr.data(), sf, scfsi, count1, stuff, &h, si, psy, state.get(), r, F, bound,
                                      work.data());
    }
};

// Granule k: block type bt (1..3 switch windows), spectrum of the given level (0 = silence),
// ratios and PE from rng.
void fill(Frame& f, int k, int bt, double level, Rng& rng) {
    f.si[k] = zuft::make_side_info();
    f.si[k].block_type = bt, f.si[k].window_switching_flag = bt != 0;
    for (int i = 0; i < 576; ++i)
        f.xr[576 * k + i] = static_cast<Zuf32s>(level * rng.uniform(-1, 1) * std::exp(-i / (60.0 + 200 * (k & 1))));
    for (auto& r : f.psy[k].ratio) r = static_cast<Zuf32s>(2147483647.0 * std::pow(10.0, rng.uniform(-3.3f, -0.5f)));
    f.psy[k].pe = rng.range(0, 4000);
}

// Re-checks granule k through the packer and the decoder; gr0sf: granule 0's scale factors of
// the channel (the decoder's starting array under scfsi).
void expect_packs_and_decodes(const Frame& f, int k, const Zuf8s* gr0sf) {
    const int gr = k / f.nCh, ch = k % f.nCh;
    std::vector<Zuf8u> buf(2048);
    Zuf8u* p = buf.data();
    int off = 0;
    Mp3SideInfo s = f.si[k];
    ASSERT_EQ(zufsPackScaleFactors_MP3_8s1u(f.sf + 40 * k, &p, &off, &f.h, &s, f.scfsi + 4 * ch, gr, ch), zufOk);
    const long sfBits = 8 * (p - buf.data()) + off;
    ASSERT_EQ(zufsHuffmanEncode_MP3_32s1u(&f.xr[576 * k], &p, &off, &f.h, &s, f.count1[k], 0), zufOk);
    EXPECT_EQ(8 * (p - buf.data()) + off + f.stuff[k], f.si[k].part2_3_length) << "granule-channel " << k;
    // The complete granule, stuffing included, decodes back to what the loop left.
    std::fill(buf.begin(), buf.end(), 0);
    p = buf.data(), off = 0;
    zufsPackScaleFactors_MP3_8s1u(f.sf + 40 * k, &p, &off, &f.h, &s, f.scfsi + 4 * ch, gr, ch);
    zufsHuffmanEncode_MP3_32s1u(&f.xr[576 * k], &p, &off, &f.h, &s, f.count1[k], f.si[k].part2_3_length - sfBits);
    Zuf8s dsf[40] = {};
    std::copy(gr0sf, gr0sf + 40, dsf);
    Zuf32s lines[576];
    int nz, doff = 0;
    Zuf8u* d = buf.data();
    ASSERT_EQ(zufsUnpackScaleFactors_MP3_1u8s(&d, &doff, dsf, &s, const_cast<int*>(f.scfsi + 4 * ch), &f.h, gr, ch),
              zufOk);
    ASSERT_EQ(zufsHuffmanDecode_MP3_1u32s(&d, &doff, lines, &nz, &s, &f.h, f.si[k].part2_3_length - sfBits), zufOk);
    EXPECT_EQ(8 * (d - buf.data()) + doff, f.si[k].part2_3_length);
    EXPECT_TRUE(std::equal(lines, lines + 576, &f.xr[576 * k])) << "granule-channel " << k;
    EXPECT_TRUE(std::equal(dsf, dsf + (s.block_type == 2 ? 39 : 22), f.sf + 40 * k)) << "granule-channel " << k;
}

// Runs of frames: (mode, mode_extension, bitrate_index, sampling_frequency); every frame's
// granules take turns in block type and level, some silent, some near full scale.
TEST(Mp3Quant, FramesKeepBudgetReservoirAndPackExactly) {
    struct Case {
        int mode, modeExt, bitrate, sfreq;
    };
    for (const Case c : {Case{0, 0, 9, 0}, Case{3, 0, 5, 1}, Case{1, 1, 11, 2}, Case{0, 0, 1, 0}}) {
        Mp3FrameHeader h = zuft::make_header(1, c.sfreq, c.mode, c.modeExt);
        h.bitrate_index = c.bitrate;
        Mp3BitReservoir r;
        ASSERT_EQ(zufsBitReservoirInit_MP3(&r, &h), zufOk);
        const int kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        const int slots = 144000 * kbps[c.bitrate] / (c.sfreq == 0 ? 44100 : c.sfreq == 1 ? 48000 : 32000);
        const int F = 8 * (slots - 4) - (c.mode == 3 ? 136 : 256);
        Rng rng(c.bitrate);
        for (int frame = 0; frame < 24; ++frame) {
            Frame f(h);
            for (int k = 0; k < f.nGc; ++k) {
                const int bt = frame % 6 < 3 ? 0 : (frame + k / f.nCh) % 4;  // long runs, then 1, 2, 3, 0
                const double level = (frame + k) % 7 == 3 ? 0 : std::ldexp(1.0, rng.range(14, 31)) - 1;
                fill(f, k, f.nCh == 2 && c.mode == 1 ? frame % 6 < 3 ? 0 : 2 : bt, level, rng);
            }
            for (int& s : f.scfsi) s = frame % 5 == 1 && f.si[f.nCh].block_type == 0 ? rng.range(0, 1) : 0;
            f.state->blockType[0] = frame % 6 == 2 ? 2 : 0;
            if (c.mode == 1) {  // intensity: the right channel's upper bands zero, positions 0..6
                for (int gr = 0; gr < 2; ++gr) {
                    const bool sh = f.si[2 * gr + 1].block_type == 2;
                    const Zuf16s* b = sh ? zuft::sfb_short(5) : zuft::sfb_long(5);
                    f.bound[3 * gr] = f.bound[3 * gr + 1] = f.bound[3 * gr + 2] = sh ? 8 : 15;
                    for (int i = sh ? 3 * b[8] : b[15]; i < 576; ++i) f.xr[576 * (2 * gr + 1) + i] = 0;
                    for (int i = sh ? 24 : 15; i < (sh ? 36 : 21); ++i) f.sf[40 * (2 * gr + 1) + i] = rng.range(0, 6);
                }
            }
            const int R = r.bitsRemaining;
            ASSERT_EQ(f.run(&r, F), zufOk);
            int U = 0, stuffed = 0;
            for (int k = 0; k < f.nGc; ++k) {
                U += f.si[k].part2_3_length, stuffed += f.stuff[k];
                EXPECT_LE(f.si[k].part2_3_length, 4095);
                EXPECT_EQ(f.si[k].preflag, 0);
                for (int i = 0; i < 576; ++i) ASSERT_LE(std::abs(f.xr[576 * k + i]), 8191);
                expect_packs_and_decodes(f, k, f.sf + 40 * (k % f.nCh));
                if ((frame + k) % 7 == 3 && (c.mode != 1 || k % 2 == 0)) {
                    EXPECT_EQ(f.si[k].part2_3_length, f.stuff[k]);  // silent
                }
            }
            EXPECT_LE(U - stuffed, F + R) << "frame " << frame;
            EXPECT_EQ(r.bitsRemaining, R + F - U) << "frame " << frame;  // stuffing is what did not fit
            EXPECT_EQ(r.bitsRemaining % 8, 0);
            EXPECT_TRUE(r.bitsRemaining >= 0 && r.bitsRemaining <= r.maxBits);
        }
    }
}

TEST(Mp3Quant, EdgeCases) {
    Rng rng(3);
    Mp3BitReservoir r{0, 0};
    // 5000 stuffing bits in a silent two-granule stereo frame: 4095 to the first granule-channel.
    Frame f(zuft::make_header(1, 0, 0));
    for (int k = 0; k < 4; ++k) fill(f, k, 0, 0, rng);
    ASSERT_EQ(f.run(&r, 5000), zufOk);
    const int want[4] = {4095, 905, 0, 0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(f.si[k].part2_3_length, want[k]);
        EXPECT_EQ(f.stuff[k], want[k]);
        expect_packs_and_decodes(f, k, f.sf + 40 * (k % 2));
    }
    EXPECT_EQ(r.bitsRemaining, 0);
    // A full-scale line with a large budget: the step rises until the peak is at most 8191.
    Frame g(zuft::make_header(1, 0, 3));
    r = {4088, 4088};
    for (int k = 0; k < 2; ++k) fill(g, k, 0, 0, rng), g.xr[576 * k + 3] = k ? -0x7FFFFFFF : 0x7FFFFFFF;
    ASSERT_EQ(g.run(&r, 3000), zufOk);
    for (int k = 0; k < 2; ++k) {
        EXPECT_LE(std::abs(g.xr[576 * k + 3]), 8191);
        EXPECT_GE(quant_model(0x7FFFFFFF, g.si[k].global_gain - 211), 8192);  // one step finer is too large
    }
    // MPEG-2 (one granule, no scale-factor bits): part2_3_length is the Huffman count alone.
    Frame l(zuft::make_header(0, 1, 0));
    r = {0, 4088};
    for (int k = 0; k < 2; ++k) fill(l, k, 0, 1 << 28, rng);
    ASSERT_EQ(l.run(&r, 1500), zufOk);
    for (int k = 0; k < 2; ++k) {
        zuf::Mp3HuffmanChoice c;
        EXPECT_EQ(l.si[k].part2_3_length - l.stuff[k],
                  zuf::ownsCountSpectralBits_MP3(&l.xr[576 * k], zuft::sfb_long(1), 0, 0, &c));
    }
    // A mixed block is refused when its granule is reached; header checks.
    Frame m(zuft::make_header(1, 0, 3));
    m.si[1].window_switching_flag = 1, m.si[1].block_type = 2, m.si[1].mixed_block_flag = 1;
    EXPECT_EQ(m.run(&r, 3000), zufErrMp3SideInfo);
    m.h.sampling_frequency = 3;
    EXPECT_EQ(m.run(&r, 3000), zufErrMp3FrameHeader);
    m.h.sampling_frequency = 0, m.h.ID = 2;
    EXPECT_EQ(m.run(&r, 3000), zufErrMp3FrameHeader);
    zuft::expect_null_each(zufsQuantize_MP3_32s_I, m.xr.data(), m.sf, m.scfsi, m.count1, m.stuff,
                           static_cast<const Mp3FrameHeader*>(&m.h), m.si, static_cast<const Mp3PsyOutput*>(m.psy),
                           static_cast<const Mp3PsyState*>(m.state.get()), &r, 3000, static_cast<const int*>(m.bound),
                           m.work.data());
}

// The power functions against double math at several lengths and placements; SSE == scalar.
TEST(Mp3Quant, PowerFunctions) {
    Rng rng(11);
    for (int len : zuft::kLens) {
        for (int mis = 0; mis < 16; mis += 4) {
            zuft::Placed<Zuf32f> src(len, mis), dst(len, mis), ref(len, 0);
            zuft::Placed<Zuf16s> d16(len, mis / 2), r16(len, 0), s16(len, mis / 2);
            for (int i = 0; i < len; ++i) {
                src[i] = i % 9 == 8 ? zuft::random_bits<float>(rng)
                                    : rng.uniform(-1, 1) * std::ldexp(1.0f, rng.range(-20, 22));
                s16[i] = static_cast<Zuf16s>(rng.range(-32768, 32767));
            }
            const int warn = mis ? zufWarnMisaligned : zufOk;
            ASSERT_EQ(zufsPow34_32f(src.data(), dst.data(), len), warn);
            zuf::ownsPow34_32f_ref(src.data(), ref.data(), len);
            ASSERT_EQ(zufsPow34_32f16s(src.data(), d16.data(), len), warn);
            zuf::ownsPow34_32f16s_ref(src.data(), r16.data(), len);
            for (int i = 0; i < len; ++i) {
                ASSERT_TRUE(zuft::same_bits(dst[i], ref[i]) && r16[i] == d16[i]) << len << " " << mis << " " << i;
                const double e = std::pow(std::fabs(static_cast<double>(src[i])), 0.75);
                if (std::isfinite(e)) {
                    EXPECT_NEAR(dst[i], e, e * 2e-7);
                    EXPECT_LE(std::fabs(d16[i] - std::min(e, 32767.0)), 0.5 + 1e-3);
                }
            }
            EXPECT_TRUE(dst.guards_intact() && d16.guards_intact());
            const int inSf = rng.range(-4, 8), outSf = rng.range(-3, 3);
            ASSERT_EQ(zufsPow34_16s_Sfs(s16.data(), inSf, d16.data(), outSf, len), zufOk);
            ASSERT_EQ(zufsPow43_16s32f(s16.data(), dst.data(), len), zufOk);
            for (int i = 0; i < len; ++i) {
                const double v =
                    std::pow(std::ldexp(std::fabs(static_cast<double>(s16[i])), -inSf), 0.75) * std::ldexp(1.0, -outSf);
                EXPECT_EQ(d16[i], static_cast<int>(std::min(std::floor(v + 0.5), 32767.0))) << v;
                const int m = std::min(std::abs(static_cast<int>(s16[i])), 8206);
                EXPECT_EQ(dst[i], static_cast<float>(std::copysign(std::pow(m, 4.0 / 3), s16[i])));
            }
            std::vector<Zuf32f> x = src.vec();
            ASSERT_EQ(zufsScale_32f_I(src.data(), 0.75f, -3, len), zufOk);
            for (int i = 0; i < len; ++i) EXPECT_TRUE(zuft::same_bits(src[i], x[i] * 0.09375f));
        }
    }
    Zuf32f a[1];
    Zuf16s b[1];
    zuft::expect_status(zufErrSize,
                        {zufsPow34_32f(a, a, 0), zufsPow34_32f16s(a, b, 0), zufsPow34_16s_Sfs(nullptr, 0, b, 0, 0),
                         zufsPow43_16s32f(b, a, -1), zufsScale_32f_I(a, 1, 0, 0)});
    zuft::expect_status(zufErrNullPtr, {zufsPow34_32f(nullptr, a, 1), zufsPow34_32f16s(a, nullptr, 1),
                                        zufsPow34_16s_Sfs(b, 0, nullptr, 0, 1), zufsPow43_16s32f(nullptr, a, 0),
                                        zufsScale_32f_I(nullptr, 1, 0, 1)});
    EXPECT_EQ(zufsPow43_16s32f(b, a, 0), zufOk);
}

}  // namespace

// The SSE2 band quantiser equals its scalar reference for every step, at any offset and length,
// with lines whose y lands below and above 256 in one group of four; at step -100, y = x / 2
// rounded, so x = 0..511 gives every y below 256.
TEST(Mp3Quant, VectorBandQuantiserMatchesScalar) {
    Rng rng(11);
    std::vector<Zuf32s> x(600), a(600), b(600);
    for (int t = -120; t <= 60; ++t)
        for (int rep = 0; rep < 3; ++rep) {
            for (auto& v : x) v = static_cast<Zuf32s>(rng.u32() >> rng.range(1, 31));
            x[5] = 0x7FFFFFFF, x[6] = 0, x[7] = 1;
            const int off = rep, n = 576 - 2 * rep + (t & 3);
            const int pa = zuf::ownsQuantizeBand_MP3(x.data() + off, a.data() + off, n, t);
            const int pb = zuf::ownsQuantizeBand_MP3_ref(x.data() + off, b.data() + off, n, t);
            ASSERT_EQ(pa, pb) << t;
            ASSERT_TRUE(std::equal(a.begin() + off, a.begin() + off + n, b.begin() + off)) << t;
        }
    for (int i = 0; i < 512; ++i) x[i] = i;
    zuf::ownsQuantizeBand_MP3(x.data(), a.data(), 512, -100);
    zuf::ownsQuantizeBand_MP3_ref(x.data(), b.data(), 512, -100);
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 512, b.begin()));
}
