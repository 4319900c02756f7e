// MP3 encoder front: the analysis bank and the forward hybrid transform against double
// evaluations of the ISO/IEC 11172-3 formulas, the whole chain analysis -> forward MDCT ->
// the library's decoder (inverse MDCT, synthesis) reconstructing its input, joint stereo against
// a double model, and the fixed-point math routines against double math over their whole ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mp3/mp3_enc_kernels.h"
#include "mp3/mp3_enc_math.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

const double kPi = 3.14159265358979323846;

// The analysis window C of ISO/IEC 11172-3 Table 3-C.1, from its plain-text copy.
const std::vector<double>& window_c() {
    static const std::vector<double> c = [] {
        std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tools/gen/data/mp3_analysis_window_C.txt");
        std::vector<double> v;
        for (std::string line; std::getline(f, line);)
            if (!line.empty() && line[0] != '#') v.push_back(std::stod(line));
        return v;
    }();
    return c;
}

// A test signal: two sines, a chirp and noise, about -8 dBFS, with an attack at `attack`.
std::vector<Zuf16s> signal(int n, uint32_t seed, int attack = -1) {
    zuft::Rng rng(seed);
    std::vector<Zuf16s> s(n);
    for (int i = 0; i < n; ++i) {
        double v = 5000 * std::sin(0.031 * i) + 3000 * std::sin(0.9 * i + 1e-5 * i * i) + rng.range(-500, 500);
        if (attack >= 0 && i >= attack) v += 12000 * std::sin(2.3 * i) * std::exp(-(i - attack) / 900.0);
        s[i] = static_cast<Zuf16s>(std::lround(v));
    }
    return s;
}

// ISO/IEC 11172-3 Annex C.1.3 in double: S_k = sum_i M_ki sum_j C_(i+64j) X_(i+64j), X[i] = the
// i-th newest sample / 32768, times 2^24 (the subband format).
void analysis_model(const Zuf16s* pcm, int step, double* s) {
    double y[64] = {};
    for (int i = 0; i < 512; ++i) y[i % 64] += window_c().at(i) * pcm[(511 - i) * step] / 32768.0;
    for (int k = 0; k < 32; ++k) {
        s[k] = 0;
        for (int i = 0; i < 64; ++i) s[k] += std::cos((2 * k + 1) * (i - 16) * kPi / 64) * y[i] * 16777216.0;
    }
}

TEST(Mp3Analysis, MatchesTheStandardFormulaAndTheScalarReference) {
    zuft::Rng rng(7);
    double worst = 0;
    for (int rep = 0; rep < 400; ++rep) {
        const int step = 1 + rep % 2;
        zuft::Placed<Zuf16s> pcm(512 * step, 2 * (rep % 8));
        for (size_t i = 0; i < pcm.size(); ++i)  // full-scale noise, extremes, or quiet
            pcm[i] = rep % 3 == 0   ? static_cast<Zuf16s>(rng.u32())
                     : rep % 3 == 1 ? (rng.u32() & 1 ? 32767 : -32768)
                                    : static_cast<Zuf16s>(rng.range(-40, 40));
        Zuf32s out[32], y_ref[64], y_vec[64];
        ASSERT_EQ(zufsAnalysisPQMF_MP3_16s32s(pcm.data(), out, step), zufOk);
        double model[32];
        analysis_model(pcm.data(), step, model);
        for (int k = 0; k < 32; ++k) worst = std::max(worst, std::fabs(out[k] - model[k]));
        zuf::ownsAnalysisWindow_MP3_ref(pcm.data(), step, y_ref);
        zuf::ownsAnalysisWindow_MP3_sse2(pcm.data(), step, y_vec);
        ASSERT_TRUE(std::equal(y_ref, y_ref + 64, y_vec)) << "rep " << rep;
        ASSERT_TRUE(pcm.guards_intact());
        // The SSE2 matrixing on these windowed values and on any |Y| < 2^21, extremes included.
        if (rep % 4 == 3)
            for (auto& v : y_ref)
                v = rep % 8 == 3 ? rng.range(-(1 << 21) + 1, (1 << 21) - 1)
                                 : (rng.u32() & 1 ? 1 : -1) * ((1 << 21) - 1);
        Zuf32s s_ref[32], s_vec[32];
        zuf::ownsDCTInv32_MP3_32s_ref(y_ref, s_ref);
        zuf::ownsDCTInv32_MP3_32s_sse2(y_ref, s_vec);
        ASSERT_TRUE(std::equal(s_ref, s_ref + 32, s_vec)) << "rep " << rep;
    }
    std::printf("analysis bank: max |error| %.2f LSB of 2^-24 against the double formula\n", worst);
    EXPECT_LT(worst, 4.0);
    Zuf16s pcm[1024] = {};
    Zuf32s out[32];
    zuft::expect_null_each(zufsAnalysisPQMF_MP3_16s32s, pcm, out, 1);
    EXPECT_EQ(zufsAnalysisPQMF_MP3_16s32s(pcm, out, 0), zufErrBadArg);
    EXPECT_EQ(zufsAnalysisPQMF_MP3_16s32s(pcm, out, 3), zufErrBadArg);
}

// ---------------------------------------------------------------- forward hybrid transform

double long_window(int bt, int i) {
    auto s36 = [](int n) { return std::sin(kPi / 36 * (n + 0.5)); };
    auto s12 = [](int n) { return std::sin(kPi / 12 * (n + 0.5)); };
    if (bt == 1) return i < 18 ? s36(i) : i < 24 ? 1 : i < 30 ? s12(i - 18) : 0;
    if (bt == 3) return i < 6 ? 0 : i < 12 ? s12(i - 6) : i < 18 ? 1 : s36(i);
    return s36(i);
}

const Zuf16s* short_bands(const Mp3FrameHeader& h) {
    return _zuf_pMP3SfbTableShort + 14 * (3 * h.ID + h.sampling_frequency);
}

// ISO/IEC 11172-3 Annex C.1.5.3.3 in double, scaled to our formats (times 2^2 2 / (n/2)): MDCT per
// subband, short lines in band order, butterflies a cs + b ca, b cs - a ca.
std::vector<double> mdct_model(const Zuf32s* prev, const Zuf32s* cur, int bt, int mixed, const Mp3FrameHeader& h) {
    std::vector<double> x(576), tri(576);
    for (int sb = 0; sb < 32; ++sb) {
        double z[36];
        for (int t = 0; t < 36; ++t)
            z[t] = (t < 18 ? prev[32 * t + sb] : cur[32 * (t - 18) + sb]) * ((sb & t & 1) ? -1 : 1);
        const bool is_short = bt == 2 && !(mixed && sb < 2);
        for (int k = 0; k < 18; ++k) {
            double s = 0;
            if (!is_short) {
                for (int i = 0; i < 36; ++i)
                    s += long_window(mixed && sb < 2 ? 0 : bt, i) * z[i] *
                         std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1));
                s *= 8.0 / 18;
            } else {
                for (int i = 0; i < 12; ++i)
                    s += std::sin(kPi / 12 * (i + 0.5)) * z[6 + 6 * (k / 6) + i] *
                         std::cos(kPi / 24 * (2 * i + 7) * (2 * (k % 6) + 1));
                s *= 8.0 / 6;
            }
            (is_short ? tri : x)[18 * sb + k] = s;
        }
    }
    if (bt == 2)
        for (int b = mixed ? 3 : 0, n = 3 * short_bands(h)[b]; b < 13; ++b)
            for (int w = 0; w < 3; ++w)
                for (int f = short_bands(h)[b]; f < short_bands(h)[b + 1]; ++f)
                    x[n++] = tri[18 * (f / 6) + 6 * w + f % 6];
    const double ci[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int sb = 1; sb <= (bt != 2 ? 31 : mixed ? 1 : 0); ++sb)
        for (int i = 0; i < 8; ++i) {
            const double cs = 1 / std::sqrt(1 + ci[i] * ci[i]), ca = ci[i] * cs;
            const double a = x[18 * sb - 1 - i], b = x[18 * sb + i];
            x[18 * sb - 1 - i] = a * cs + b * ca;
            x[18 * sb + i] = b * cs - a * ca;
        }
    return x;
}

TEST(Mp3MDCTFwd, EveryBlockTypeMatchesTheStandardFormula) {
    const struct {
        int bt, mixed, id, sf;
    } kCases[] = {{0, 0, 1, 0}, {1, 0, 1, 1}, {3, 0, 1, 2}, {2, 0, 1, 0}, {2, 0, 0, 1}, {2, 1, 1, 2}, {2, 1, 0, 0}};
    zuft::Rng rng(11);
    for (int rep = 0; rep < 3 * 7; ++rep) {  // rep >= 7: any 32-bit input (saturation), SSE2 against scalar only
        const auto& c = kCases[rep % 7];
        Mp3FrameHeader h = {};
        h.ID = c.id, h.sampling_frequency = c.sf;
        std::vector<Zuf32s> hist(576), prev(576), cur(576), out(576), out_ref(576);
        for (int i = 0; i < 576; ++i)
            prev[i] = rep < 7 ? rng.range(-(1 << 24), 1 << 24) : rng.s32(), cur[i] = rng.range(-(1 << 24), 1 << 24);
        std::vector<Zuf32s> hist_ref = hist = prev;
        ASSERT_EQ(zufsMDCTFwd_MP3_32s(cur.data(), out.data(), c.bt, c.mixed, &h, hist.data()), zufOk);
        zuf::ownsMDCTFwd_MP3_ref(cur.data(), out_ref.data(), c.bt, c.mixed, short_bands(h), hist_ref.data());
        EXPECT_EQ(out, out_ref);
        EXPECT_EQ(hist, cur);
        if (rep >= 7) continue;
        const std::vector<double> model = mdct_model(prev.data(), cur.data(), c.bt, c.mixed, h);
        double worst = 0;
        for (int i = 0; i < 576; ++i) worst = std::max(worst, std::fabs(out[i] - model[i]));
        std::printf("forward MDCT block type %d%s: max |error| %.2f LSB\n", c.bt, c.mixed ? " mixed" : "", worst);
        EXPECT_LT(worst, 1.5) << "block type " << c.bt << " mixed " << c.mixed;
    }
    Zuf32s buf[576] = {};
    Mp3FrameHeader h = {};
    zuft::expect_null_each(zufsMDCTFwd_MP3_32s, buf, buf, 0, 0, &h, buf);
}

// Analysis -> forward MDCT -> zufsMDCTInv_MP3_32s -> zufsSynthPQMF_MP3_32s16s over a sequence of
// block types: SNR of the output against the input at the chain's delay.
double round_trip_snr(const std::vector<int>& types, int mixed, int attack) {
    const int granules = static_cast<int>(types.size()), n = 576 * granules;
    const std::vector<Zuf16s> in = signal(n, 3, attack);
    std::vector<Zuf16s> padded(480, 0), out(n);
    padded.insert(padded.end(), in.begin(), in.end());
    Mp3FrameHeader h = {};
    h.ID = 1;
    std::vector<Zuf32s> sub(576), xr(576), dec(576), y(576), fwd_hist(576, 0), overlap(576, 0), synth(512, 0);
    int prev = 0, pos = 0;
    for (int g = 0; g < granules; ++g) {
        for (int t = 0; t < 18; ++t)
            EXPECT_EQ(zufsAnalysisPQMF_MP3_16s32s(&padded[32 * (18 * g + t)], &sub[32 * t], 1), zufOk);
        EXPECT_EQ(zufsMDCTFwd_MP3_32s(sub.data(), xr.data(), types[g], mixed, &h, fwd_hist.data()), zufOk);
        dec = xr;  // the decoder takes short lines per subband (18 q + 6 w + j = window w, line 6 q + j)
        const Zuf16s* sfb = short_bands(h);
        if (types[g] == 2)
            for (int b = mixed ? 3 : 0, k = 3 * sfb[b]; b < 13; ++b)
                for (int w = 0; w < 3; ++w)
                    for (int f = sfb[b]; f < sfb[b + 1]; ++f) dec[18 * (f / 6) + 6 * w + f % 6] = xr[k++];
        EXPECT_EQ(zufsMDCTInv_MP3_32s(dec.data(), y.data(), overlap.data(), 576, &prev, types[g], mixed), zufOk);
        for (int t = 0; t < 18; ++t)
            EXPECT_EQ(zufsSynthPQMF_MP3_32s16s(&y[32 * t], &out[576 * g + 32 * t], synth.data(), &pos, 1), zufOk);
    }
    double best = -1e9;
    int best_d = 0;
    for (int d = 900; d < 1200; ++d) {
        double sig = 0, err = 0;
        for (int i = 2 * 576 + d; i < n; ++i)
            sig += double(in[i - d]) * in[i - d], err += std::pow(out[i] - in[i - d], 2.0);
        const double snr = 10 * std::log10(sig / std::max(err, 1e-9));
        if (snr > best) best = snr, best_d = d;
    }
    EXPECT_EQ(best_d, 576 + 481);  // one granule of MDCT plus the polyphase banks' 481 samples
    return best;
}

TEST(Mp3MDCTFwd, ChainThroughTheDecoderReconstructsTheInput) {
    const double long_snr = round_trip_snr(std::vector<int>(12, 0), 0, -1);
    const double switch_snr = round_trip_snr({0, 0, 0, 1, 2, 2, 3, 0, 1, 2, 3, 0, 0}, 0, 576 * 4 + 100);
    const double mixed_snr = round_trip_snr(std::vector<int>(12, 2), 1, 576 * 4 + 100);
    std::printf("round trip SNR: long %.1f dB, start/short/stop %.1f dB, mixed %.1f dB\n", long_snr, switch_snr,
                mixed_snr);
    EXPECT_GT(long_snr, 70);
    EXPECT_GT(switch_snr, 70);
    EXPECT_GT(mixed_snr, 70);
}

// ---------------------------------------------------------------- joint stereo

struct StereoCase {
    int mode, ext, bt0, bt1;
    int bound[3];
};

TEST(Mp3JointStereo, MidSideIntensityAndBounds) {
    zuft::Rng rng(5);
    const StereoCase kCases[] = {{1, 3, 0, 0, {8, 0, 0}}, {1, 1, 2, 2, {4, 7, 12}}, {1, 3, 2, 2, {0, 5, 13}},
                                 {1, 2, 0, 0, {3, 0, 0}}, {1, 2, 2, 2, {1, 1, 1}},  {0, 3, 0, 2, {5, 5, 5}},
                                 {2, 3, 2, 2, {5, 5, 5}}, {1, 0, 0, 0, {5, 5, 5}},  {1, 1, 0, 0, {22, 0, 0}}};
    const double kThr[7] = {0, 0.01733, 0.17157, 0.58879, 1.69839, 5.82843, 57.69548};  // tan^2((2k - 1) pi / 24)
    for (int rep = 0; rep < 200; ++rep) {
        const StereoCase& c = kCases[rep % 9];
        Mp3FrameHeader h = {};
        h.ID = 1, h.sampling_frequency = rep % 3, h.mode = c.mode, h.mode_extension = c.ext;
        Mp3SideInfo si[2] = {};
        si[0].block_type = c.bt0, si[1].block_type = c.bt1;
        std::vector<Zuf32s> l(576), r(576);
        for (int i = 0; i < 576; ++i) {  // per band a random level ratio; some bands with a silent right
            const int band = i / 12, shift = 8 + (band * 7 + rep) % 14;
            l[i] = rng.s32() >> shift;
            r[i] = band % 5 == 2   ? 0
                   : band % 4 == 0 ? ((rep & 1) ? l[i] : -l[i])
                                   : rng.s32() >> (8 + (band * 3 + rep) % 16);
        }
        const std::vector<Zuf32s> l0 = l, r0 = r;
        Zuf8u sf[40];
        std::fill(sf, sf + 40, 0xEE);
        int bound[3] = {c.bound[0], c.bound[1], c.bound[2]};
        const bool ms = c.mode == 1 && (c.ext & 2), is = c.mode == 1 && (c.ext & 1), shrt = c.bt0 == 2;
        ASSERT_EQ(zufsJointStereoEncode_MP3_32s_I(l.data(), r.data(), sf, &h, si, bound), zufOk);
        EXPECT_TRUE(is || (shrt ? bound[0] == 13 && bound[1] == 13 && bound[2] == 13 : bound[0] == 22));
        const Zuf16s* lg = _zuf_pMP3SfbTableLong + 23 * (3 + h.sampling_frequency);
        const Zuf16s* sh = short_bands(h);
        // Each line's band and window: below the bound M/S (if on), from it intensity (if on).
        for (int w = 0; w < (shrt ? 3 : 1); ++w)
            for (int b = 0; b < (shrt ? 13 : 22); ++b) {
                const int width = shrt ? sh[b + 1] - sh[b] : lg[b + 1] - lg[b],
                          start = shrt ? 3 * sh[b] + w * width : lg[b];
                const bool in_is = is && b >= bound[w];
                double el = 0, er = 0;
                for (int i = start; i < start + width; ++i) {
                    const double a = l0[i], d = r0[i];
                    el += a * a, er += d * d;
                    if (in_is) {
                        const double m = std::fabs(a) + std::fabs(d);
                        EXPECT_EQ(l[i], (std::fabs(a) > std::fabs(d) ? a < 0 : d < 0) ? -m : m);
                        EXPECT_EQ(r[i], 0);
                    } else if (ms && b < bound[w]) {
                        EXPECT_NEAR(l[i], (a + d) / std::sqrt(2.0), 1.001);  // truncated, constant rounded up
                        EXPECT_NEAR(r[i], (a - d) / std::sqrt(2.0), 1.001);
                        EXPECT_TRUE(a != d || r[i] == 0);
                    } else {
                        EXPECT_EQ(l[i], a);
                        EXPECT_EQ(r[i], d);
                    }
                }
                if (!in_is) continue;
                const double ratio = er == 0 ? 1e300 : el / er;  // a silent right: position 6
                int pos = 0;
                while (pos < 6 && ratio >= kThr[pos + 1]) ++pos;
                const bool near =
                    std::any_of(kThr + 1, kThr + 7, [&](double t) { return std::fabs(ratio / t - 1) < 1e-4; });
                EXPECT_TRUE(near || sf[shrt ? 3 * b + w : b] == pos)
                    << "band " << b << " window " << w << " ratio " << ratio;
            }
    }
    Zuf32s l[576] = {}, r[576] = {};
    Zuf8u sf[40];
    Mp3FrameHeader h = {};
    h.mode = 1, h.mode_extension = 2;
    Mp3SideInfo si[2] = {};
    si[1].block_type = 2;
    int bound[3] = {};
    EXPECT_EQ(zufsJointStereoEncode_MP3_32s_I(l, r, sf, &h, si, bound), zufErrMp3SideInfo);
    zuft::expect_null_each(zufsJointStereoEncode_MP3_32s_I, l, r, sf, &h, si, bound);
}

// ---------------------------------------------------------------- math routines

// Every magnitude: for each bit length 1..31, its extremes and random values between.
std::vector<Zuf32s> all_magnitudes(zuft::Rng& rng, int per_length = 3000) {
    std::vector<Zuf32s> v;
    for (int len = 1; len <= 31; ++len) {
        const int64_t lo = int64_t{1} << (len - 1), hi = (int64_t{1} << len) - 1;
        v.push_back(static_cast<Zuf32s>(lo)), v.push_back(static_cast<Zuf32s>(hi));
        for (int k = 0; k < per_length && len > 12; ++k)
            v.push_back(static_cast<Zuf32s>(lo + rng.u32() % (hi - lo + 1)));
        for (int64_t x = lo + 1; len <= 12 && x < hi; ++x) v.push_back(static_cast<Zuf32s>(x));
    }
    return v;
}

TEST(Mp3EncMath, RoutinesAgainstDoubleMathOverTheirWholeRanges) {
    zuft::Rng rng(9);
    double w_rec = 0, w_sqrt = 0, w_log = 0, w_log26 = 0, w_pow2 = 0, w_pow = 0;
    for (const Zuf32s x : all_magnitudes(rng)) {
        int e;
        const double sq = std::sqrt(double(x));
        const Zuf32s m = zuf::ownsSqrt_Audio_32s(x, &e);
        ASSERT_TRUE(m >= (1 << 30) - 4 && e >= -31 && e <= -15) << x;
        w_sqrt = std::max(w_sqrt, std::fabs(std::ldexp(m, e) / sq - 1));
        for (int ex = -40; ex <= 40; ex += 7) {  // mantissa/exponent inputs
            const Zuf32s mm = zuf::ownsSqrtNorm_Audio_32s(x, ex, &e);
            w_sqrt = std::max(w_sqrt, std::fabs(std::ldexp(mm, e) / (sq * std::pow(2.0, ex / 2.0)) - 1));
        }
        w_log = std::max(w_log, std::fabs(zuf::ownsLog2_Audio_32s(x) - std::log2(double(x)) * 65536));
        w_log26 = std::max(w_log26, std::fabs(zuf::ownsLog2Q26_Audio_32s(x) - std::log2(double(x)) * 67108864));
        const double pw = std::pow(x / 2147483648.0, 1.18813) * 2147483648.0;
        w_pow = std::max(w_pow, (std::fabs(zuf::ownsPow118813_Audio_32s(x) - pw) - 0.5) / pw);  // beyond the rounding
        if (x >= (1 << 30))
            w_rec = std::max(w_rec, std::fabs(zuf::ownsReciprocal_Audio_32s(x) - std::ldexp(1.0, 61) / x));
        for (const Zuf32s arg : {x, -x}) {  // 2^(arg / 2^26), exponents -32 .. 32
            const Zuf32s p = zuf::ownsPow2_Audio_32s(arg, &e);
            ASSERT_TRUE(p >= (1 << 30)) << arg;
            w_pow2 = std::max(w_pow2, std::fabs(std::ldexp(p, e) / std::exp2(arg / 67108864.0) - 1));
        }
    }
    // The paired forms give each value's single result, whatever it is paired with.
    const std::vector<Zuf32s> xs = all_magnitudes(rng);
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
        const Zuf32s x = xs[i], y = xs[xs.size() - 1 - i];
        Zuf32s a, b;
        zuf::ownsLog2Pair_Audio_32s(x, y, &a, &b);
        ASSERT_TRUE(a == zuf::ownsLog2_Audio_32s(x) && b == zuf::ownsLog2_Audio_32s(y)) << x << " " << y;
        if (x < (1 << 30) || y < (1 << 30)) continue;
        zuf::ownsReciprocalPair_Audio_32s(x, y, &a, &b);
        ASSERT_TRUE(a == zuf::ownsReciprocal_Audio_32s(x) && b == zuf::ownsReciprocal_Audio_32s(y)) << x << " " << y;
    }
    std::printf(
        "math: reciprocal %.2f units, sqrt %.2e rel, log2 Q16 %.2f units, log2 Q26 %.2f units, pow2 %.2e rel,"
        " pow1.18813 %.2e rel\n",
        w_rec, w_sqrt, w_log, w_log26, w_pow2, w_pow);
    EXPECT_LE(w_rec, 3.0);
    EXPECT_LT(w_sqrt, 4e-9);
    EXPECT_LE(w_log, 1.0);
    EXPECT_LE(w_log26, 2.0);
    EXPECT_LT(w_pow2, 3e-9);
    EXPECT_LT(w_pow, std::ldexp(1.0, -26));
    EXPECT_EQ(zuf::ownsLog2_Audio_32s(0), INT32_MIN);
    EXPECT_EQ(zuf::ownsPow118813_Audio_32s(0), 0);
    // Normalisation: x = m 2^e + r with 0 <= r < 2^e, m without a redundant sign bit.
    for (int k = 0; k < 20000; ++k) {
        const int64_t x = static_cast<int64_t>((uint64_t{rng.u32()} << 32) | rng.u32()) >> (k % 64);
        int e;
        const Zuf32s m = zuf::ownsNorm64_Audio_64s32s(x, &e);
        ASSERT_TRUE(x == 0 ? m == 0 && e == 0 : (m >= (1 << 30) || m < -(1 << 30))) << x;
        const int64_t r = e > 0 ? x - (int64_t{m} << e) : x - (int64_t{m} >> -e);
        ASSERT_TRUE(e > 0 ? r >= 0 && r < (int64_t{1} << e) : r == 0 && (int64_t{m} >> -e << -e) == m) << x;
    }
}

}  // namespace
