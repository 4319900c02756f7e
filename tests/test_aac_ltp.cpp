// AAC forward MDCT and long-term prediction against double-precision evaluations: the MDCT and
// IMDCT sums of ISO/IEC 13818-7 on the frame's windows (the Q31 tables read as exact values),
// x_est = coef x(n - lag) of ISO/IEC 14496-3 4.6.6, and analysis followed by the library's
// synthesis filter bank (time-domain alias cancellation gives the input back). The band-wise
// reconstruction is checked end to end by the LTP decoder vectors (test_aac_decode.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "aac/aac_filterbank_tables.h"
#include "support/test_util.h"
#include "zufack9/zuf_aac.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
enum { kLong = 0, kStart = 1, kShort = 2, kStop = 3 };

// Window factor of sample p of the 2N samples of one transform (1 and 0 where the sequence says).
double factor(int seq, int p, int shape, int prev) {
    const Zuf32s* lw[2] = {zuf::pWinSINLong, zuf::pWinKBDLong};
    const Zuf32s* sw[2] = {zuf::pWinSINShort, zuf::pWinKBDShort};
    auto q = [](Zuf32s v) { return v / 2147483648.0; };
    if (seq == kShort) return q(p < 128 ? sw[prev][p] : sw[shape][255 - p]);
    if (p < 1024) return seq == kStop ? (p < 448 ? 0 : p < 576 ? q(sw[prev][p - 448]) : 1) : q(lw[prev][p]);
    const int m = p - 1024;
    return seq == kStart ? (m < 448 ? 1 : m < 576 ? q(sw[shape][575 - m]) : 0) : q(lw[shape][1023 - m]);
}
double kernel(int n, int i, int k) { return std::cos(kPi / n * (i + (n + 1) / 2.0) * (k + 0.5)); }

// X[k] = 2 sum z[n] cos(...); the unit-gain window products truncate, a mean error of -1/2 per
// sample that the model adds (`bias`) rather than let it dominate the few lowest bins.
TEST(AacMdctFwd, MatchesDoubleModel) {
    zuft::Rng rng(7);
    double worst = 0, worstI = 0;
    for (int seq = 0; seq < 4; ++seq)
        for (int shapes = 0; shapes < 4; ++shapes) {
            const int shape = shapes & 1, prev = shapes >> 1, n = seq == kShort ? 128 : 1024;
            std::vector<Zuf32s> x(2048), dst(1024), work(2048), in(2048);
            for (auto& v : x) v = rng.range(-65536, 65536);  // leaves the unscaled transform headroom
            ASSERT_EQ(zufsMDCTFwd_AAC_32s(x.data(), dst.data(), x.data(), seq, shape, prev, work.data()), zufOk);
            in = x;
            ASSERT_EQ(zufsMDCTFwd_AAC_32s_I(in.data(), seq, shape, prev, 2048), zufOk);
            for (int k = 0; k < n; ++k) {
                double s = 0, bias = 0;
                for (int i = 0; i < 2 * n; ++i) {
                    const double f = factor(seq, i, shape, prev), c = kernel(n, i, k);
                    s += x[i] * f * c;
                    bias -= f == 0 || f == 1 ? 0 : 0.5 * c;
                }
                worst = std::max(worst, std::fabs(dst[k] - 2 * (s + bias)));
                worstI = std::max(worstI, std::fabs(in[k] - s / (2 * n)));
            }
        }
    std::printf("max |error|: unit gain %.1f (spectrum RMS ~2^21), in place (X / 4N) %.2f\n", worst, worstI);
    EXPECT_LT(worst, 256);
    EXPECT_LT(worstI, 2.5);
}

// A Q3 signal through analysis and 16-bit synthesis: frame f analyses x[1024 (f - 1) ..
// 1024 (f + 1)) (one frame of zeros first) and gives back x[1024 (f - 1) .. 1024 f).
TEST(AacMdctFwd, AnalysisSynthesisReconstructs) {
    const int seqs[] = {kLong, kStart, kShort, kStop, kLong, kLong, kStart, kShort, kShort, kStop, kLong};
    const int shapes[] = {0, 1, 1, 0, 1, 0, 0, 1, 0, 0, 1};
    std::vector<Zuf32s> x(1024 * 12, 0), overlap(1024, 0), coefs(1024), work(2048);
    std::vector<Zuf16s> pcm(1024);
    zuft::Rng rng(3);
    for (size_t i = 1024; i < x.size(); ++i)
        x[i] = 8 * static_cast<int>(6000 * std::sin(0.01 * i) + rng.range(-4000, 4000));
    int worst = 0, prev = 0;
    for (int f = 0; f < 11; ++f) {
        const Zuf32s* in = x.data() + 1024 * f;
        for (int w = 0; w < (seqs[f] == kShort ? 8 : 1); ++w)
            ASSERT_EQ(zufsMDCTFwd_AAC_32s(seqs[f] == kShort ? in + 448 + 128 * w : in, coefs.data() + 128 * w, in,
                                          seqs[f], shapes[f], w == 0 ? prev : shapes[f], work.data()),
                      zufOk);
        ASSERT_EQ(zufsMDCTInv_AAC_32s16s(coefs.data(), pcm.data(), overlap.data(), seqs[f], shapes[f], prev, 1), zufOk);
        prev = shapes[f];
        for (int n = 0; n < 1024 && f > 0; ++n) worst = std::max(worst, std::abs(pcm[n] - in[n] / 8));
    }
    std::printf("round trip: max |error| %d LSB of 16 bits\n", worst);
    EXPECT_LE(worst, 2);
}

TEST(AacLtp, PredictFromHistory) {
    zuft::Rng rng(5);
    std::vector<Zuf32s> h(3072), dst(2048);
    for (auto& v : h) v = rng.range(-300000, 300000);
    struct Case {
        int seq, lag, coef, used, shortLag;  // used: bit w flags short window w
    } const cases[] = {{0, 0, 16384, 0, 0},    {1, 700, 9352, 0, 0},   {3, 1024, 22438, 0, 0},
                       {0, 2047, 12000, 0, 0}, {2, 0, 16384, 0xA5, 0}, {2, 0, 13000, 0xFF, 600}};
    for (const Case& c : cases) {
        AacLtpInfo info{};
        info.ltp_lag = c.lag;
        info.ltp_coef = static_cast<Zuf16s>(c.coef);
        for (int w = 0; w < 8; ++w) info.ltp_short_used[w] = c.used >> w & 1, info.ltp_short_lag[w] = c.shortLag + w;
        std::fill(dst.begin(), dst.end(), 77);
        ASSERT_EQ(zufsLongTermPredict_AAC_32s(h.data(), dst.data(), &info, c.seq), zufOk);
        for (int n = 0; n < 2048; ++n) {  // sample n of the frame pair, lag samples back in time
            const int w = n / 256, at = c.seq == kShort ? 2816 - c.shortLag - w + n % 256 : 2048 - c.lag + n;
            const double want = c.seq == kShort && !(c.used >> w & 1) ? 77
                                : at < 3072                           ? std::floor(h[at] * (c.coef / 16384.0))
                                                                      : 0;
            ASSERT_EQ(dst[n], want) << "seq " << c.seq << " n " << n;
        }
    }
}

// The history after long, start, short and stop frames against y = 2/N' sum X cos(...) windowed
// and overlapped in double.
TEST(AacLtp, UpdateMatchesWindowedImdct) {
    const int seqs[] = {kLong, kStart, kShort, kStop}, shapes[] = {1, 0, 1, 0};
    std::vector<Zuf32s> h(3072, 0), work(6144), coefs(1024);
    std::vector<double> model(3072, 0);
    zuft::Rng rng(2);
    int prev = 0;
    double worst = 0;
    for (int f = 0; f < 4; ++f) {
        for (auto& v : coefs) v = rng.range(-20000, 20000);
        ASSERT_EQ(zufsLtpUpdate_AAC_32s(coefs.data(), h.data(), seqs[f], shapes[f], prev, work.data()), zufOk);
        std::vector<double> next(model.begin() + 1024, model.end());
        next.resize(3072, 0);
        const int blocks = seqs[f] == kShort ? 8 : 1, n = 1024 / blocks;
        for (int b = 0; b < blocks; ++b)
            for (int p = 0; p < 2 * n; ++p) {
                double y = 0;
                for (int k = 0; k < n; ++k) y += coefs[n * b + k] * kernel(n, p, k) / n;
                next[(blocks == 8 ? 1472 + 128 * b : 1024) + p] +=
                    y * factor(seqs[f], p, shapes[f], b ? shapes[f] : prev);
            }
        model = next;
        prev = shapes[f];
        for (int i = 0; i < 3072; ++i) worst = std::max(worst, std::fabs(h[i] - model[i]));
    }
    std::printf("history update: max |error| %.2f\n", worst);
    EXPECT_LT(worst, 4);
}

TEST(AacLtp, Statuses) {
    Zuf32s a[6144] = {}, b[3072] = {};
    int flag[41] = {};
    const AacLtpInfo info{};
    struct Case {
        Zuf32s* p;
        int seq, shape, n;  // n: rate index (reconstruction) and len (in-place MDCT)
        zufResult predict, recon, update, fwd, fwdI;
    } const cases[] = {
        {nullptr, 9, 9, 99, zufErrNullPtr, zufErrNullPtr, zufErrNullPtr, zufErrNullPtr, zufErrNullPtr},
        {b, 4, 2, 1024, zufErrAacWinSeq, zufErrAacWinSeq, zufErrAacWinSeq, zufErrAacWinSeq, zufErrAacWinSeq},
        {b, 0, -1, 13, zufOk, zufErrAacSmplRateIdx, zufErrAacWinShape, zufErrAacWinShape, zufErrAacWinShape},
        {b, 3, 1, 1024, zufOk, zufErrAacSmplRateIdx, zufOk, zufOk, zufErrSize},
        {b, 2, 1, 12, zufOk, zufOk, zufOk, zufOk, zufErrSize},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zufsLongTermPredict_AAC_32s(a, c.p, &info, c.seq), c.predict);
        EXPECT_EQ(zufsLongTermReconstruct_AAC_32s(a, b, c.p ? flag : nullptr, c.seq, c.n), c.recon);
        EXPECT_EQ(zufsLtpUpdate_AAC_32s(a, b, c.seq, c.shape, 0, c.p ? a : nullptr), c.update);
        EXPECT_EQ(zufsMDCTFwd_AAC_32s(a, b, c.p, c.seq, c.shape, 0, a), c.fwd);
        EXPECT_EQ(zufsMDCTFwd_AAC_32s_I(c.p, c.seq, c.shape, 0, c.n), c.fwdI);
    }
}

}  // namespace
