// MP3 requantisation, joint stereo and short-block reordering against double-precision models of
// ISO/IEC 11172-3 2.4.3.4.7-2.4.3.4.9 and ISO/IEC 13818-3 2.4.3.2:
//   xr = sign(is) |is|^(4/3) 2^((global_gain - 210) / 4) 2^(-(1 + scalefac_scale) / 2 (sf + preflag pretab))
//        2^(-2 subblock_gain)  (times 2^26 for the 26 fractional bits)
// M/S: L = (M + S) / sqrt(2), R = (M - S) / sqrt(2); MPEG-1 intensity: L = x r / (1 + r),
// R = x / (1 + r), r = tan(is_pos pi / 12); MPEG-2 intensity: one channel x, the other
// x 2^(-(is_pos + 1) / 2 (1 + intensity_scale) / 4).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

// Gain of a long band (no M/S), in the real domain.
double long_gain(const Mp3SideInfo& g, int sf, int band) {
    const double sfa = std::abs(sf) + g.preflag * kPretab[band];
    return std::pow(2.0, (g.global_gain - 210) / 4.0) * std::pow(2.0, -(1 + g.scalefac_scale) / 2.0 * sfa);
}

double short_gain(const Mp3SideInfo& g, int sf, int w) {
    return std::pow(2.0, (g.global_gain - 210) / 4.0) * std::pow(2.0, -(1 + g.scalefac_scale) / 2.0 * std::abs(sf)) *
           std::pow(2.0, -2.0 * g.subblock_gain[w]);
}

// The library's result may differ from the real value by the rounding of its 14-bit
// |x|^(4/3) table, the truncated Q30 quarter-step factor and the final truncation.
// `scale` bounds the magnitude of the terms that made the model value (sums and differences can
// cancel, their errors do not).
void expect_near_model(Zuf32s got, double model, const char* what, int line, double scale = 0.0) {
    const double want = model * kQ26;
    if (want >= 2147483647.0) {
        ASSERT_EQ(got, 0x7FFFFFFF) << what << " line " << line;
        return;
    }
    if (want <= -2147483647.0) {
        ASSERT_EQ(got, -0x7FFFFFFF) << what << " line " << line;
        return;
    }
    const double tol = std::fmax(std::fabs(want), scale * kQ26) * 4e-5 + 2.0;
    ASSERT_NEAR(got, want, tol) << what << " line " << line;
}

int draw_value(zuft::Rng& rng) {
    const int k = rng.range(0, 9);
    const int v = k < 3 ? 0 : k < 8 ? rng.range(1, 15) : rng.range(16, 8206);
    return rng.range(0, 1) ? -v : v;
}

int bound_of(const Zuf32s* x) {
    int n = 576;
    while (n > 0 && x[n - 1] == 0) --n;
    return n;
}

TEST(Mp3Requant, DocumentedValues) {
    Granule g;
    g.h = zuft::make_header(1, 0, 3);
    g.si[0] = zuft::make_side_info();  // global_gain 210, scale factors 0
    g.is[0] = 1;
    g.is[1] = 8;
    g.is[2] = -8206;
    g.nz[0] = 3;
    ASSERT_EQ(g.run(), zufOk);
    EXPECT_EQ(g.is[0], 1 << 26);
    EXPECT_EQ(g.is[1], 16 << 26);
    EXPECT_EQ(g.is[2], -0x7FFFFFFF);  // 8206^(4/3) > 32: saturated
    EXPECT_EQ(g.nz[0], 3);

    Granule r;
    r.h = zuft::make_header(1, 0, 3);
    r.si[0] = zuft::make_side_info();
    r.is[100] = 8207;
    r.nz[0] = 101;
    EXPECT_EQ(r.run(), zufErrRange);
}

TEST(Mp3Requant, LongBlocksAgainstTheFormula) {
    zuft::Rng rng(31);
    for (int rep = 0; rep < 40; ++rep) {
        Granule g;
        const int id = rep & 1, sfreq = rep % 3;
        g.h = zuft::make_header(id, sfreq, 3);
        Mp3SideInfo& si = g.si[0];
        si = zuft::make_side_info();
        si.global_gain = rng.range(100, 255);
        si.scalefac_scale = rng.range(0, 1);
        si.preflag = rng.range(0, 1);
        si.block_type = rep % 4 == 3 ? 1 : 0;  // start blocks requantise as long blocks
        for (int b = 0; b < 22; ++b) g.sf[b] = static_cast<Zuf8s>(b < 21 ? rng.range(0, 15) : 0);
        const int nz = rng.range(0, 576);
        for (int i = 0; i < nz; ++i) g.is[static_cast<size_t>(i)] = draw_value(rng);
        const std::vector<Zuf32s> in(g.is.begin(), g.is.begin() + 576);
        g.nz[0] = nz;
        ASSERT_EQ(g.run(), zufOk);
        const int* L = zuft::kSfbLong[3 * id + sfreq];
        for (int b = 0; b < 22; ++b)
            for (int i = L[b]; i < L[b + 1]; ++i)
                expect_near_model(g.is[static_cast<size_t>(i)],
                                  pow43(in[static_cast<size_t>(i)]) * long_gain(si, g.sf[b], b), "long", i);
        EXPECT_EQ(g.nz[0], bound_of(g.is.data()));
    }
}

// Window w, frequency f of a short block in the reordered layout.
int reordered(int w, int f) { return 18 * (f / 6) + 6 * w + f % 6; }

TEST(Mp3Requant, ShortAndMixedBlocksAreRequantisedAndReordered) {
    zuft::Rng rng(32);
    for (int rep = 0; rep < 40; ++rep) {
        Granule g;
        const int id = rep & 1, sfreq = rep % 3, row = 3 * id + sfreq;
        const bool mixed = rep % 4 >= 2;
        g.h = zuft::make_header(id, sfreq, 3);
        Mp3SideInfo& si = g.si[0];
        si = zuft::make_side_info();
        si.window_switching_flag = 1;
        si.block_type = 2;
        si.mixed_block_flag = mixed;
        si.global_gain = rng.range(120, 230);
        si.scalefac_scale = rng.range(0, 1);
        for (int& s : si.subblock_gain) s = rng.range(0, 7);
        const int nlong = mixed ? (id ? 8 : 6) : 0, first = mixed ? 3 : 0;
        for (int k = 0; k < 40; ++k) g.sf[k] = static_cast<Zuf8s>(rng.range(0, 15));
        const int* S = zuft::kSfbShort[row];
        const int* L = zuft::kSfbLong[row];
        const int nz = rng.range(0, 576);
        for (int i = 0; i < nz; ++i) g.is[static_cast<size_t>(i)] = draw_value(rng);
        const std::vector<Zuf32s> in(g.is.begin(), g.is.begin() + 576);
        g.nz[0] = nz;
        ASSERT_EQ(g.run(), zufOk);
        std::vector<double> want(576, 0.0);
        for (int b = 0; b < nlong; ++b)
            for (int i = L[b]; i < L[b + 1]; ++i)
                want[static_cast<size_t>(i)] = pow43(in[static_cast<size_t>(i)]) * long_gain(si, g.sf[b], b);
        for (int s = first; s < 13; ++s) {
            const int width = S[s + 1] - S[s];
            for (int w = 0; w < 3; ++w)
                for (int j = 0; j < width; ++j) {
                    const int k = nlong + 3 * (s - first) + w;
                    const double v =
                        pow43(in[static_cast<size_t>(3 * S[s] + w * width + j)]) * short_gain(si, g.sf[k], w);
                    want[static_cast<size_t>(reordered(w, S[s] + j))] = v;
                }
        }
        for (int i = 0; i < 576; ++i)
            expect_near_model(g.is[static_cast<size_t>(i)], want[static_cast<size_t>(i)], "short", i);
        EXPECT_EQ(g.nz[0], bound_of(g.is.data()));
    }
}

TEST(Mp3Requant, MidSideLongBlocks) {
    zuft::Rng rng(33);
    for (int rep = 0; rep < 20; ++rep) {
        Granule g;
        g.h = zuft::make_header(rep & 1, rep % 3, 1, 2);
        for (int ch = 0; ch < 2; ++ch) {
            g.si[ch] = zuft::make_side_info();
            g.si[ch].global_gain = rng.range(150, 200);  // no value saturates on its own
            g.nz[ch] = rng.range(0, 576);
            for (int i = 0; i < g.nz[ch]; ++i) g.is[static_cast<size_t>(576 * ch + i)] = draw_value(rng) % 20;
        }
        const std::vector<Zuf32s> in = g.is;
        ASSERT_EQ(g.run(), zufOk);
        const double r2 = std::sqrt(0.5);
        for (int i = 0; i < 576; ++i) {
            const double m = pow43(in[static_cast<size_t>(i)]) * long_gain(g.si[0], 0, 0) * r2;
            const double s = pow43(in[static_cast<size_t>(576 + i)]) * long_gain(g.si[1], 0, 0) * r2;
            expect_near_model(g.is[static_cast<size_t>(i)], m + s, "M+S", i, std::fabs(m) + std::fabs(s));
            expect_near_model(g.is[static_cast<size_t>(576 + i)], m - s, "M-S", i, std::fabs(m) + std::fabs(s));
        }
        EXPECT_EQ(g.nz[0], bound_of(g.is.data()));
        EXPECT_EQ(g.nz[1], bound_of(g.is.data() + 576));
    }
}

// Intensity stereo in long blocks, MPEG-1 and MPEG-2, with and without M/S below the bound.
TEST(Mp3Requant, IntensityLongBlocks) {
    zuft::Rng rng(34);
    const double r2 = std::sqrt(0.5);
    for (int rep = 0; rep < 48; ++rep) {
        const int id = rep & 1, sfreq = (rep / 2) % 3, row = 3 * id + sfreq;
        const bool ms = (rep / 6) % 2;
        const int iscale = (rep / 12) % 2;
        Granule g;
        g.h = zuft::make_header(id, sfreq, 1, ms ? 3 : 1);
        const int* L = zuft::kSfbLong[row];
        const int bound_band = rng.range(0, 20);  // first intensity band
        for (int ch = 0; ch < 2; ++ch) {
            g.si[ch] = zuft::make_side_info();
            g.si[ch].global_gain = 200;
            g.si[ch].scalefac_compress = 2 * rng.range(0, 200) + (ch ? iscale : 0);
        }
        g.nz[0] = 576;
        for (int i = 0; i < 576; ++i) g.is[static_cast<size_t>(i)] = rng.range(-9, 9);
        // Channel 1: data below the bound band, its last band ending with a non-zero line.
        const int nz1 = L[bound_band];
        for (int i = 0; i < nz1; ++i) g.is[static_cast<size_t>(576 + i)] = rng.range(-9, 9);
        if (nz1 > 0) g.is[static_cast<size_t>(576 + nz1 - 1)] = 5;
        g.nz[1] = nz1;
        // Intensity positions: legal ones, and the illegal one (7, or the negated marker).
        int pos[22];
        for (int b = 0; b < 22; ++b) {
            pos[b] = id ? rng.range(0, 7) : (rng.range(0, 4) == 0 ? -7 : rng.range(0, 14));
            g.sf[40 + b] = static_cast<Zuf8s>(pos[b]);
        }
        // Long band 21 has no scale factor of its own: its entry is 0.
        pos[21] = 0;
        g.sf[40 + 21] = 0;
        const std::vector<Zuf32s> in = g.is;
        ASSERT_EQ(g.run(), zufOk) << rep;
        for (int b = 0; b < 22; ++b)
            for (int i = L[b]; i < L[b + 1]; ++i) {
                const double x0 = pow43(in[static_cast<size_t>(i)]) * long_gain(g.si[0], 0, b);
                const double x1 = pow43(in[static_cast<size_t>(576 + i)]) * long_gain(g.si[1], pos[b], b);
                double l, r;
                if (b < bound_band) {  // the right channel's entries are its scale factors here
                    l = ms ? (x0 + x1) * r2 : x0;
                    r = ms ? (x0 - x1) * r2 : x1;
                } else if (id == 1 && pos[b] == 7) {
                    l = ms ? x0 * r2 : x0;
                    r = ms ? x0 * r2 : 0.0;
                } else if (id == 1) {
                    const double t = std::tan(pos[b] * M_PI / 12.0);
                    l = x0 * t / (1 + t);
                    r = x0 / (1 + t);
                } else if (pos[b] < 0) {
                    l = ms ? x0 * r2 : x0;
                    r = ms ? x0 * r2 : 0.0;
                } else {
                    const double att = std::pow(2.0, -((pos[b] + 1) / 2) * (1 + iscale) / 4.0);
                    l = (pos[b] & 1) ? x0 * att : x0;
                    r = (pos[b] & 1) ? x0 : x0 * att;
                }
                const double scale = std::fabs(x0) + std::fabs(x1);
                expect_near_model(g.is[static_cast<size_t>(i)], l, "left", i, scale);
                expect_near_model(g.is[static_cast<size_t>(576 + i)], r, "right", i, scale);
            }
    }
}

TEST(Mp3Requant, IntensityDocumentedCases) {
    // MPEG-1, position 7 with M/S: right equals left over the band.
    {
        Granule g;
        g.h = zuft::make_header(1, 0, 1, 3);
        g.si[0] = g.si[1] = zuft::make_side_info();
        for (int i = 0; i < 576; ++i) g.is[static_cast<size_t>(i)] = (i % 7) - 3;
        g.nz[0] = 576;
        for (int b = 0; b < 22; ++b) g.sf[40 + b] = 7;
        ASSERT_EQ(g.run(), zufOk);
        for (int i = 0; i < 576; ++i) ASSERT_EQ(g.is[static_cast<size_t>(576 + i)], g.is[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(g.nz[1], g.nz[0]);
    }
    // MPEG-2, position 1, intensity_scale 0: left = x 2^(-1/4), right = x.
    {
        Granule g;
        g.h = zuft::make_header(0, 0, 1, 1);
        g.si[0] = g.si[1] = zuft::make_side_info();
        g.is[10] = 8;
        g.nz[0] = 11;
        for (int b = 0; b < 22; ++b) g.sf[40 + b] = 1;
        ASSERT_EQ(g.run(), zufOk);
        EXPECT_EQ(g.is[576 + 10], 16 << 26);
        EXPECT_NEAR(g.is[10], 16 * kQ26 * std::pow(2.0, -0.25), 2.0);
    }
    // MPEG-1 position above 7: zufErrRange.
    {
        Granule g;
        g.h = zuft::make_header(1, 0, 1, 1);
        g.si[0] = g.si[1] = zuft::make_side_info();
        g.is[10] = 8;
        g.nz[0] = 11;
        g.sf[40 + 2] = 8;
        EXPECT_EQ(g.run(), zufErrRange);
    }
}

// Short blocks in joint stereo: per window, M/S below the right channel's last band and
// intensity from there.
TEST(Mp3Requant, ShortBlockStereoPerWindow) {
    zuft::Rng rng(35);
    const double r2 = std::sqrt(0.5);
    for (int rep = 0; rep < 24; ++rep) {
        const int id = rep & 1, sfreq = (rep / 2) % 3, row = 3 * id + sfreq;
        const bool ms = (rep / 6) % 2, mixed = (rep / 12) % 2;
        Granule g;
        g.h = zuft::make_header(id, sfreq, 1, ms ? 3 : 1);
        const int* S = zuft::kSfbShort[row];
        const int* L = zuft::kSfbLong[row];
        const int nlong = mixed ? (id ? 8 : 6) : 0, first = mixed ? 3 : 0;
        for (int ch = 0; ch < 2; ++ch) {
            g.si[ch] = zuft::make_side_info();
            g.si[ch].window_switching_flag = 1;
            g.si[ch].block_type = 2;
            g.si[ch].mixed_block_flag = mixed;
            g.si[ch].global_gain = 190;
            g.si[ch].scalefac_compress = 2 * rng.range(0, 100);
        }
        // Channel 0: everything; channel 1: per window up to a band of its own (all of the long
        // part of a mixed block, so that intensity starts in the short part).
        g.nz[0] = 576;
        for (int i = 0; i < 576; ++i) g.is[static_cast<size_t>(i)] = rng.range(-5, 5);
        int end1[3];
        for (int w = 0; w < 3; ++w) end1[w] = rng.range(first, 12);
        for (int i = 0; i < 3 * S[first]; ++i) g.is[static_cast<size_t>(576 + i)] = rng.range(-5, 5);
        int nz1 = 3 * S[first];
        for (int s = first; s < 13; ++s) {
            const int width = S[s + 1] - S[s];
            for (int w = 0; w < 3; ++w)
                if (s < end1[w]) {
                    for (int j = 0; j < width; ++j)
                        g.is[static_cast<size_t>(576 + 3 * S[s] + w * width + j)] = rng.range(-5, 5);
                    g.is[static_cast<size_t>(576 + 3 * S[s] + w * width)] = 3;  // the band is non-zero
                    nz1 = 3 * S[s] + (w + 1) * width;
                }
        }
        if (mixed) g.is[576 + 35] = 2;
        g.nz[1] = nz1 > 3 * S[first] ? nz1 : (mixed ? 36 : 0);
        int pos[40];
        for (int k = 0; k < 40; ++k) {
            pos[k] = id ? rng.range(0, 7) : (rng.range(0, 3) == 0 ? -3 : rng.range(0, 6));
            g.sf[40 + k] = static_cast<Zuf8s>(pos[k]);
        }
        const std::vector<Zuf32s> in = g.is;
        ASSERT_EQ(g.run(), zufOk) << rep;
        std::vector<double> wl(576, 0.0), wr(576, 0.0), scale(576, 0.0);
        auto xr = [&](int ch, int idx, double gain) { return pow43(in[static_cast<size_t>(576 * ch + idx)]) * gain; };
        for (int b = 0; b < nlong; ++b)  // the long part lies entirely below the bound
            for (int i = L[b]; i < L[b + 1]; ++i) {
                const double m = xr(0, i, long_gain(g.si[0], 0, b)), s = xr(1, i, long_gain(g.si[1], pos[b], b));
                wl[static_cast<size_t>(i)] = ms ? (m + s) * r2 : m;
                wr[static_cast<size_t>(i)] = ms ? (m - s) * r2 : s;
                scale[static_cast<size_t>(i)] = std::fabs(m) + std::fabs(s);
            }
        for (int s = first; s < 13; ++s) {
            const int width = S[s + 1] - S[s];
            for (int w = 0; w < 3; ++w) {
                const int k = nlong + 3 * (s - first) + w;
                for (int j = 0; j < width; ++j) {
                    const int at = 3 * S[s] + w * width + j;
                    const double x0 = xr(0, at, short_gain(g.si[0], 0, w));
                    const double x1 = xr(1, at, short_gain(g.si[1], pos[k], w));
                    double l, r;
                    if (s < end1[w]) {
                        l = ms ? (x0 + x1) * r2 : x0;
                        r = ms ? (x0 - x1) * r2 : x1;
                    } else if ((id == 1 && pos[k] == 7) || (id == 0 && pos[k] < 0)) {
                        l = ms ? x0 * r2 : x0;
                        r = ms ? x0 * r2 : 0.0;
                    } else if (id == 1) {
                        const double t = std::tan(pos[k] * M_PI / 12.0);
                        l = x0 * t / (1 + t);
                        r = x0 / (1 + t);
                    } else {
                        const double att = std::pow(2.0, -((pos[k] + 1) / 2) / 4.0);
                        l = (pos[k] & 1) ? x0 * att : x0;
                        r = (pos[k] & 1) ? x0 : x0 * att;
                    }
                    wl[static_cast<size_t>(reordered(w, S[s] + j))] = l;
                    wr[static_cast<size_t>(reordered(w, S[s] + j))] = r;
                    scale[static_cast<size_t>(reordered(w, S[s] + j))] = std::fabs(x0) + std::fabs(x1);
                }
            }
        }
        for (int i = 0; i < 576; ++i) {
            expect_near_model(g.is[static_cast<size_t>(i)], wl[static_cast<size_t>(i)], "short left", i,
                              scale[static_cast<size_t>(i)]);
            expect_near_model(g.is[static_cast<size_t>(576 + i)], wr[static_cast<size_t>(i)], "short right", i,
                              scale[static_cast<size_t>(i)]);
        }
        EXPECT_EQ(g.nz[0], bound_of(g.is.data()));
        EXPECT_EQ(g.nz[1], bound_of(g.is.data() + 576));
    }
}

// The vector run against the scalar one, bit for bit: every attenuation from saturating gains
// to runs that shift out completely, any length, values up to and beyond 8206.
TEST(Mp3Requant, VectorRunMatchesTheScalarOne) {
    zuft::Rng rng(36);
    for (int rep = 0; rep < 4000; ++rep) {
        const int n = rng.range(0, 40);
        const int e = rng.range(-60, 300);
        std::vector<Zuf32s> in(static_cast<size_t>(n));
        for (auto& v : in) {
            const int k = rng.range(0, 20);
            v = k < 6 ? 0 : k < 16 ? rng.range(-15, 15) : k < 19 ? rng.range(-8206, 8206) : rng.s32();
        }
        std::vector<Zuf32s> a(in.size()), b(in.size());
        const bool ok_a = zuf::ownsRequantRun_MP3_ref(in.data(), a.data(), n, e);
        const bool ok_b = zuf::ownsRequantRun_MP3_sse2(in.data(), b.data(), n, e);
        ASSERT_EQ(ok_a, ok_b) << "rep " << rep;
        ASSERT_EQ(a, b) << "rep " << rep << " e " << e;
    }
}

TEST(Mp3Requant, Statuses) {
    Granule g;
    g.h = zuft::make_header(1, 0, 1, 2);
    g.si[0] = g.si[1] = zuft::make_side_info();
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(nullptr, g.nz, g.sf, g.si, &g.h, g.work.data()), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(g.is.data(), nullptr, g.sf, g.si, &g.h, g.work.data()), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(g.is.data(), g.nz, nullptr, g.si, &g.h, g.work.data()), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(g.is.data(), g.nz, g.sf, nullptr, &g.h, g.work.data()), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(g.is.data(), g.nz, g.sf, g.si, nullptr, g.work.data()), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantize_MP3_32s_I(g.is.data(), g.nz, g.sf, g.si, &g.h, nullptr), zufErrNullPtr);
    EXPECT_EQ(zufsReQuantizeSfb_MP3_32s_I(g.is.data(), g.nz, g.sf, g.si, &g.h, g.work.data(), nullptr,
                                          _zuf_pMP3SfbTableShort),
              zufErrNullPtr);
    auto expect = [&](zufResult want, const char* what) { EXPECT_EQ(g.run(), want) << what; };
    g.h.ID = 2;
    expect(zufErrMp3FrameHeader, "ID");
    g.h.ID = 1;
    g.h.sampling_frequency = 3;
    expect(zufErrMp3FrameHeader, "sampling_frequency");
    g.h.sampling_frequency = 0;
    g.h.mode_extension = 4;
    expect(zufErrMp3FrameHeader, "mode_extension");
    g.h.mode_extension = 2;
    g.si[1].block_type = 1;
    expect(zufErrMp3SideInfo, "joint stereo with different block types");
    g.si[1].block_type = 0;
    g.si[1].mixed_block_flag = 1;
    expect(zufErrMp3SideInfo, "joint stereo with different mixed flags");
    g.si[0].mixed_block_flag = g.si[1].mixed_block_flag = 2;
    expect(zufErrMp3SideInfo, "mixed_block_flag");
    g.si[0].mixed_block_flag = g.si[1].mixed_block_flag = 0;
    g.nz[1] = 577;
    expect(zufErrBadArg, "bound");
    g.nz[1] = 0;
    g.si[0].global_gain = 256;
    expect(zufErrMp3SideInfo, "global_gain");
    g.si[0].global_gain = 210;
    g.si[0].preflag = 2;
    expect(zufErrMp3SideInfo, "preflag");
    g.si[0].preflag = 0;
    g.si[0].scalefac_scale = -1;
    expect(zufErrMp3SideInfo, "scalefac_scale");
    g.si[0].scalefac_scale = 0;
    g.si[0].block_type = g.si[1].block_type = 2;
    g.si[0].subblock_gain[1] = 8;
    expect(zufErrRange, "subblock_gain");
    // A single-channel frame needs no agreement between the records and applies no stereo.
    Granule m;
    m.h = zuft::make_header(1, 0, 3, 3);
    m.si[0] = zuft::make_side_info();
    m.si[1] = zuft::make_side_info();
    m.si[1].block_type = 2;
    m.is[0] = 1;
    m.nz[0] = 1;
    EXPECT_EQ(m.run(), zufOk);
    EXPECT_EQ(m.is[0], 1 << 26);
}

}  // namespace
