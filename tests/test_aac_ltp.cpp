// AAC long-term prediction against direct evaluations in double precision: the predicted signal
// x_est = coef x(n - lag) of ISO/IEC 14496-3 4.6.6, the band-wise addition of the predicted
// spectrum, and the history update through the IMDCT of ISO/IEC 13818-7 with the frame's windows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "aac/aac_band_tables.h"
#include "aac/aac_filterbank_tables.h"
#include "support/test_util.h"
#include "zufack9/zuf_aac.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(AacLtp, PredictFromHistory) {
    zuft::Rng rng(5);
    std::vector<Zuf32s> h(3072);
    for (auto& v : h) v = rng.range(-300000, 300000);
    struct Case {
        int seq, lag;
        Zuf16s coef;
        int used, shortLag;  // used: bit w flags short window w
    } const cases[] = {{0, 0, 16384, 0, 0},    {1, 700, 9352, 0, 0},   {3, 1024, 22438, 0, 0},
                       {0, 2047, 12000, 0, 0}, {2, 0, 16384, 0xA5, 0}, {2, 0, 13000, 0xFF, 600}};
    for (const Case& c : cases) {
        AacLtpInfo info{};
        info.ltp_lag = c.lag;
        info.ltp_coef = c.coef;
        for (int w = 0; w < 8; ++w) info.ltp_short_used[w] = c.used >> w & 1, info.ltp_short_lag[w] = c.shortLag + w;
        std::vector<Zuf32s> dst(2048, 77);
        ASSERT_EQ(zufsLongTermPredict_AAC_32s(h.data(), dst.data(), &info, c.seq), zufOk);
        for (int n = 0; n < 2048; ++n) {
            // Sample n of the frame pair lies lag samples back from the end of the history's frames.
            const int w = n / 256, lag = c.seq == 2 ? c.shortLag + w : c.lag;
            const int at = c.seq == 2 ? 2816 - lag + n % 256 : 2048 - lag + n;
            double want = at < 3072 ? std::floor(h[at] * (c.coef / 16384.0)) : 0;
            if (c.seq == 2 && !(c.used >> w & 1)) want = 77;
            ASSERT_EQ(dst[n], want) << "seq " << c.seq << " n " << n;
        }
    }
}

TEST(AacLtp, ReconstructAddsFlaggedBands) {
    zuft::Rng rng(9);
    for (int seq : {0, 2})
        for (int rate : {3, 11, 12}) {
            std::vector<Zuf32s> est(1024), spec(1024), orig;
            for (int k = 0; k < 1024; ++k) est[k] = rng.range(-1000, 1000), spec[k] = rng.range(-1000, 1000);
            orig = spec;
            int flag[41];
            for (int& f : flag) f = rng.range(0, 1);
            ASSERT_EQ(zufsLongTermReconstruct_AAC_32s(est.data(), spec.data(), flag, seq, rate), zufOk);
            const Zuf16s* off =
                (seq == 2 ? zuf::_pAACSwbOffsetTableShort
                          : zuf::_pAACSwbOffsetTableLong)[rate == 12 ? 11 : rate];  // 7350 Hz uses the 8000 Hz bands
            for (int k = 0; k < 1024; ++k) {
                const int bin = seq == 2 ? k % 128 : k;
                int band = 0;
                while (off[band + 1] <= bin) ++band;
                const bool used = seq == 2 ? flag[k / 128] && band < 8 : band < 40 && flag[band + 1];
                ASSERT_EQ(spec[k], orig[k] + (used ? est[k] : 0)) << seq << " " << rate << " " << k;
            }
        }
}

// History update against the IMDCT y = 2/N' sum X cos(...) windowed in double (window tables
// read as exact values), over long, start, short and stop frames.
TEST(AacLtp, UpdateMatchesWindowedImdct) {
    const int seqs[] = {0, 1, 2, 3}, shapes[] = {1, 0, 1, 0};
    std::vector<Zuf32s> h(3072, 0), work(6144), spec(1024);
    std::vector<double> model(3072, 0);
    zuft::Rng rng(2);
    int prev = 0;
    double worst = 0;
    for (int f = 0; f < 4; ++f) {
        for (auto& v : spec) v = rng.range(-20000, 20000);
        ASSERT_EQ(zufsLtpUpdate_AAC_32s(spec.data(), h.data(), seqs[f], shapes[f], prev, work.data()), zufOk);
        std::vector<double> next(3072, 0);
        std::copy(model.begin() + 1024, model.end(), next.begin());
        const int blocks = seqs[f] == 2 ? 8 : 1, n = 1024 / blocks;
        for (int b = 0; b < blocks; ++b) {
            const int at = seqs[f] == 2 ? 1472 + 128 * b : 1024;
            const Zuf32s* lw[2] = {zuf::pWinSINLong, zuf::pWinKBDLong};
            const Zuf32s* sw[2] = {zuf::pWinSINShort, zuf::pWinKBDShort};
            for (int p = 0; p < 2 * n; ++p) {
                double y = 0;
                for (int k = 0; k < n; ++k)
                    y += spec[n * b + k] * std::cos(2 * kPi / (2 * n) * (p + (n + 1) / 2.0) * (k + 0.5));
                y /= n;
                const int rise = b == 0 ? prev : shapes[f], s = seqs[f], m = p - 1024;
                double w = 1;
                if (s == 2)
                    w = (p < 128 ? sw[rise][p] : sw[shapes[f]][255 - p]) / 2147483648.0;
                else if (p < 1024)
                    w = s == 3 ? (p < 448   ? 0
                                  : p < 576 ? sw[prev][p - 448] / 2147483648.0
                                            : 1)
                               : lw[prev][p] / 2147483648.0;
                else
                    w = s == 1 ? (m < 448   ? 1
                                  : m < 576 ? sw[shapes[f]][575 - m] / 2147483648.0
                                            : 0)
                               : lw[shapes[f]][1023 - m] / 2147483648.0;
                next[at + p] += y * w;
            }
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
    AacLtpInfo info{};
    struct Case {
        bool null;
        int seq, shape, rate;
        zufResult predict, recon, update;
    } const cases[] = {
        {true, 9, 9, 99, zufErrNullPtr, zufErrNullPtr, zufErrNullPtr},
        {false, 4, 0, 0, zufErrAacWinSeq, zufErrAacWinSeq, zufErrAacWinSeq},
        {false, 0, 2, 13, zufOk, zufErrAacSmplRateIdx, zufErrAacWinShape},
        {false, 2, 1, 12, zufOk, zufOk, zufOk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zufsLongTermPredict_AAC_32s(a, c.null ? nullptr : b, &info, c.seq), c.predict);
        EXPECT_EQ(zufsLongTermReconstruct_AAC_32s(a, b, c.null ? nullptr : flag, c.seq, c.rate), c.recon);
        EXPECT_EQ(zufsLtpUpdate_AAC_32s(a, b, c.seq, c.shape, 0, c.null ? nullptr : a), c.update);
    }
}

}  // namespace
