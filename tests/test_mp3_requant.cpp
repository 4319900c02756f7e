// MP3 requantisation, joint stereo and short-block reordering against a double-precision model of
// ISO/IEC 11172-3 2.4.3.4.7-2.4.3.4.9 and ISO/IEC 13818-3 2.4.3.2:
//   xr = sign(is) |is|^(4/3) 2^((global_gain - 210) / 4) 2^(-(1 + scalefac_scale) / 2 (sf + preflag pretab))
//        2^(-2 subblock_gain)  (times 2^26 for the 26 fractional bits)
// M/S: L = (M + S) / sqrt(2), R = (M - S) / sqrt(2); MPEG-1 intensity: L = x r / (1 + r),
// R = x / (1 + r), r = tan(is_pos pi / 12); MPEG-2 intensity: one channel x, the other
// x 2^(-(is_pos + 1) / 2 (1 + intensity_scale) / 4).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "mp3/mp3_kernels.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

constexpr int kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};
constexpr double kQ26 = 67108864.0;

double pow43(int x) { return (x < 0 ? -1 : 1) * std::pow(std::fabs(static_cast<double>(x)), 4.0 / 3.0); }

// One granule of up to two channels in the requantiser's arguments.
struct Granule {
    Mp3FrameHeader h;
    Mp3SideInfo si[2];
    std::vector<Zuf32s> is = std::vector<Zuf32s>(1152, 0);
    Zuf8s sf[80] = {};
    int nz[2] = {0, 0};
    std::vector<Zuf32s> work = std::vector<Zuf32s>(576, 0);

    zufResult run() { return zufsReQuantize_MP3_32s_I(is.data(), nz, sf, si, &h, work.data()); }
};

// The model's output of both channels in the library's order (short blocks reordered: window w,
// frequency f at 18 (f / 6) + 6 w + f % 6), and the magnitude of the terms behind each line
// (sums and differences cancel, their errors do not). `bound`: the first intensity band (long
// blocks), or per window the first intensity short band.
struct Model {
    std::vector<double> out[2] = {std::vector<double>(576, 0.0), std::vector<double>(576, 0.0)};
    std::vector<double> scale = std::vector<double>(576, 0.0);

    Model(const Granule& g, const std::vector<Zuf32s>& in, int nch, const int* bound) {
        const int row = 3 * g.h.ID + g.h.sampling_frequency;
        const Zuf16s *L = zuft::sfb_long(row), *S = zuft::sfb_short(row);
        const bool shorts = g.si[0].block_type == 2, mixed = shorts && g.si[0].mixed_block_flag;
        const int nlong = !shorts ? 22 : mixed ? (g.h.ID ? 8 : 6) : 0, first = mixed ? 3 : 0;
        const bool joint = nch == 2 && g.h.mode == 1;
        const bool ms = joint && (g.h.mode_extension & 2), intensity = joint && (g.h.mode_extension & 1);
        const double r2 = std::sqrt(0.5);
        // `count` lines from input line `at`, scale-factor entry k, window w (-1: long band b).
        auto piece = [&](int at, int f0, int count, int k, int w, int b, bool above) {
            for (int j = 0; j < count; ++j) {
                double x[2] = {0.0, 0.0};
                for (int ch = 0; ch < nch; ++ch) {
                    const Mp3SideInfo& si = g.si[ch];
                    const double sfa = std::abs(g.sf[40 * ch + k]) + (w < 0 ? si.preflag * kPretab[b] : 0);
                    const double e = (si.global_gain - 210) / 4.0 - (1 + si.scalefac_scale) / 2.0 * sfa -
                                     (w < 0 ? 0.0 : 2.0 * si.subblock_gain[w]);
                    x[ch] = pow43(in[576 * ch + at + j]) * std::pow(2.0, e);
                }
                double l = ms ? (x[0] + x[1]) * r2 : x[0], r = ms ? (x[0] - x[1]) * r2 : x[1];
                const int pos = g.sf[40 + k];
                if (intensity && above && (g.h.ID ? pos != 7 : pos >= 0)) {  // else x[1] = 0 there
                    if (g.h.ID) {
                        const double t = std::tan(pos * M_PI / 12.0);
                        l = x[0] * t / (1 + t), r = x[0] / (1 + t);
                    } else {
                        const double att =
                            std::pow(2.0, -((pos + 1) / 2) * (1 + (g.si[1].scalefac_compress & 1)) / 4.0);
                        l = (pos & 1) ? x[0] * att : x[0], r = (pos & 1) ? x[0] : x[0] * att;
                    }
                }
                const size_t o = static_cast<size_t>(w < 0 ? f0 + j : 18 * ((f0 + j) / 6) + 6 * w + (f0 + j) % 6);
                out[0][o] = l, out[1][o] = r, scale[o] = std::fabs(x[0]) + std::fabs(x[1]);
            }
        };
        for (int b = 0; b < nlong; ++b) piece(L[b], L[b], L[b + 1] - L[b], b, -1, b, !shorts && b >= bound[0]);
        for (int s = first; shorts && s < 13; ++s)
            for (int w = 0, width = S[s + 1] - S[s]; w < 3; ++w)
                piece(3 * S[s] + w * width, S[s], width, nlong + 3 * (s - first) + w, w, 0, s >= bound[w]);
    }

    // The library's result may differ from the real value by the rounding of its 14-bit
    // |x|^(4/3) table, the truncated Q30 quarter-step factor and the final truncation.
    void expect(const Granule& g, int nch) const {
        for (int ch = 0; ch < nch; ++ch) {
            for (size_t i = 0; i < 576; ++i) {
                const double want = out[ch][i] * kQ26, got = g.is[576 * ch + i];
                const double tol = std::fmax(std::fabs(want), scale[i] * kQ26) * 4e-5 + 2.0;
                if (std::fabs(want) >= 2147483647.0)
                    ASSERT_EQ(got, want > 0 ? 0x7FFFFFFF : -0x7FFFFFFF) << "channel " << ch << " line " << i;
                else
                    ASSERT_NEAR(got, want, tol) << "channel " << ch << " line " << i;
            }
            int n = 576;
            while (n > 0 && g.is[576 * ch + n - 1] == 0) --n;
            EXPECT_EQ(g.nz[ch], n) << "bound of channel " << ch;
        }
    }
};

int draw_value(zuft::Rng& rng) {
    const int k = rng.range(0, 9);
    const int v = k < 3 ? 0 : k < 8 ? rng.range(1, 15) : rng.range(16, 8206);
    return rng.range(0, 1) ? -v : v;
}

// Single-channel frames (values up to 8206, gains that saturate), and M/S, intensity and both in
// MPEG-1 and MPEG-2: the right channel holds data below its bound (per window in short blocks;
// all of the long part of a mixed block, so that intensity starts in the short part), legal and
// illegal intensity positions above it.
TEST(Mp3Requant, EveryModeAndBlockKindAgainstTheModel) {
    zuft::Rng rng(35);
    for (int rep = 0; rep < 192; ++rep) {
        const int id = rep & 1, sfreq = (rep / 2) % 3, mode_ext = (rep / 6) % 4, kind = (rep / 24) % 4;
        const int nch = mode_ext ? 2 : 1, row = 3 * id + sfreq, iscale = rep / 96;
        Granule g;
        g.h = zuft::make_header(id, sfreq, nch == 1 ? 3 : 1, mode_ext);
        const Zuf16s *L = zuft::sfb_long(row), *S = zuft::sfb_short(row);
        for (int ch = 0; ch < 2; ++ch) {
            Mp3SideInfo& si = g.si[ch];
            si = zuft::make_side_info();
            si.window_switching_flag = kind != 0;  // kinds: long, start (requantised as long), short, mixed
            si.block_type = kind == 0 ? 0 : kind == 1 ? 1 : 2;
            si.mixed_block_flag = kind == 3;
            si.global_gain = nch == 1 ? rng.range(100, 255) : rng.range(150, 200);
            si.scalefac_scale = rng.range(0, 1);
            si.preflag = kind < 2 ? rng.range(0, 1) : 0;
            for (auto& sbg : si.subblock_gain) sbg = kind < 2 ? 0 : rng.range(0, 7);
            si.scalefac_compress = 2 * rng.range(0, 100) + (ch ? iscale : 0);
        }
        g.nz[0] = nch == 1 ? rng.range(0, 576) : 576;
        for (int i = 0; i < g.nz[0]; ++i) g.is[i] = nch == 1 ? draw_value(rng) : rng.range(-9, 9);
        const int first = kind == 3 ? 3 : 0;
        int bound[3] = {rng.range(0, 21), 0, 0}, nz1 = 0;
        auto put = [&](int at, int v) {
            g.is[576 + at] = v;
            nz1 = std::max(nz1, at + 1);
        };
        if (nch == 2 && kind < 2) {
            for (int i = 0; i < L[bound[0]]; ++i) put(i, i + 1 == L[bound[0]] ? 5 : rng.range(-9, 9));
        } else if (nch == 2) {
            for (int i = 0; i < 3 * S[first]; ++i) put(i, i == 35 ? 2 : rng.range(-9, 9));
            for (int w = 0; w < 3; ++w) bound[w] = rng.range(first, 12);
            for (int s = first; s < 13; ++s)
                for (int w = 0, width = S[s + 1] - S[s]; w < 3; ++w)
                    for (int j = 0; j < width && s < bound[w]; ++j)
                        put(3 * S[s] + w * width + j, j ? rng.range(-5, 5) : 3);
        }
        g.nz[1] = nz1;
        for (int k = 0; k < 40; ++k) {
            g.sf[k] = static_cast<Zuf8s>(rng.range(0, nch == 1 ? 15 : 7));
            g.sf[40 + k] = static_cast<Zuf8s>(id ? rng.range(0, 7) : (rng.range(0, 3) == 0 ? -7 : rng.range(0, 14)));
            if (kind < 2 && k >= 21) g.sf[k] = g.sf[40 + k] = 0;  // long band 21 has no scale factor
        }
        const std::vector<Zuf32s> in = g.is;
        ASSERT_EQ(g.run(), zufOk) << rep;
        Model(g, in, nch, bound).expect(g, nch);
    }
}

// The vector run against the scalar one, bit for bit: every attenuation from saturating gains
// to runs that shift out completely, any length, values up to and beyond 8206.
TEST(Mp3Requant, VectorRunMatchesTheScalarOne) {
    zuft::Rng rng(36);
    for (int rep = 0; rep < 4000; ++rep) {
        const int n = rng.range(0, 40);
        const int e = rng.range(-60, 300);
        std::vector<Zuf32s> in(n);
        for (auto& v : in) {
            const int k = rng.range(0, 20);
            v = rep % 4 == 0 ? rng.range(-1, 1)  // count1-like runs
                : k < 6      ? 0
                : k < 16     ? rng.range(-15, 15)
                : k < 19     ? rng.range(-8206, 8206)
                             : rng.s32();
        }
        std::vector<Zuf32s> a(in.size()), b(in.size());
        const bool ok_a = zuf::ownsRequantRun_MP3_ref(in.data(), a.data(), n, e);
        const bool ok_b = zuf::ownsRequantRun_MP3_sse2(in.data(), b.data(), n, e);
        ASSERT_EQ(ok_a, ok_b) << "rep " << rep;
        ASSERT_EQ(a, b) << "rep " << rep << " e " << e;
    }
}

TEST(Mp3Requant, Statuses) {
    Granule s;
    s.h = zuft::make_header(1, 0, 1, 2);
    s.si[0] = s.si[1] = zuft::make_side_info();
    zuft::expect_null_each(zufsReQuantize_MP3_32s_I, s.is.data(), s.nz, s.sf, s.si, &s.h, s.work.data());
    zuft::expect_null_each(zufsReQuantizeSfb_MP3_32s_I, s.is.data(), s.nz, s.sf, s.si, &s.h, s.work.data(),
                           _zuf_pMP3SfbTableLong, _zuf_pMP3SfbTableShort);
    const struct {
        void (*fault)(Granule&);
        zufResult want;
    } kCases[] = {
        {[](Granule& x) { x.h.ID = 2; }, zufErrMp3FrameHeader},
        {[](Granule& x) { x.h.sampling_frequency = 3; }, zufErrMp3FrameHeader},
        {[](Granule& x) { x.h.mode_extension = 4; }, zufErrMp3FrameHeader},
        {[](Granule& x) { x.si[1].block_type = 1; }, zufErrMp3SideInfo},  // joint stereo: types differ
        {[](Granule& x) { x.si[1].mixed_block_flag = 1; }, zufErrMp3SideInfo},
        {[](Granule& x) { x.si[0].mixed_block_flag = x.si[1].mixed_block_flag = 2; }, zufErrMp3SideInfo},
        {[](Granule& x) { x.nz[1] = 577; }, zufErrBadArg},
        {[](Granule& x) { x.si[0].global_gain = 256; }, zufErrMp3SideInfo},
        {[](Granule& x) { x.si[0].preflag = 2; }, zufErrMp3SideInfo},
        {[](Granule& x) { x.si[0].scalefac_scale = -1; }, zufErrMp3SideInfo},
        {[](Granule& x) { x.si[0].block_type = x.si[1].block_type = 2, x.si[0].subblock_gain[1] = 8; }, zufErrRange},
        {[](Granule& x) { x.is[100] = 8207, x.nz[0] = 101; }, zufErrRange},
        {[](Granule& x) { x.h.mode_extension = 1, x.is[10] = 8, x.nz[0] = 11, x.sf[42] = 8; }, zufErrRange},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        Granule x = s;
        kCases[i].fault(x);
        EXPECT_EQ(x.run(), kCases[i].want) << "case " << i;
    }
    // A single-channel frame needs no agreement between the records and applies no stereo.
    s.h.mode = 3;
    s.si[1].block_type = 2;
    s.is[0] = s.nz[0] = 1;
    EXPECT_EQ(s.run(), zufOk);
    EXPECT_EQ(s.is[0], 1 << 26);
}

}  // namespace
