// AAC forward MDCT against the MDCT sum of ISO/IEC 13818-7 evaluated in double precision on the
// same windows, and through the library's synthesis filter bank: analysis then synthesis with
// overlap-add must give the input back (time-domain alias cancellation) over a sequence of
// long, start, eight short and stop frames.
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

// Window factor of input sample p from the Q31 tables (1 and 0 where the sequence says so).
double factor(int seq, int p, int shape, int prev) {
    const Zuf32s* lw[2] = {zuf::pWinSINLong, zuf::pWinKBDLong};
    const Zuf32s* sw[2] = {zuf::pWinSINShort, zuf::pWinKBDShort};
    auto q = [](Zuf32s v) { return v / 2147483648.0; };
    if (seq == kShort) return q(p < 128 ? sw[prev][p] : sw[shape][255 - p]);
    if (p < 1024) return seq == kStop ? (p < 448 ? 0 : p < 576 ? q(sw[prev][p - 448]) : 1) : q(lw[prev][p]);
    const int m = p - 1024;
    return seq == kStart ? (m < 448 ? 1 : m < 576 ? q(sw[shape][575 - m]) : 0) : q(lw[shape][1023 - m]);
}

// X[k] = 2 sum_n z[n] cos(2 pi / N' (n + n_0)(k + 1/2)), z the windowed input.
// `bias` is added to every windowed sample whose factor is neither 0 nor 1: the mean error of the
// truncating window products, which the transform would otherwise concentrate in a few bins.
std::vector<double> mdct_model(const Zuf32s* x, int seq, int shape, int prev, double bias) {
    const int n2 = seq == kShort ? 256 : 2048, n = n2 / 2;
    const double n0 = (n2 / 2.0 + 1) / 2;
    std::vector<double> out(n);
    for (int k = 0; k < n; ++k) {
        double s = 0;
        for (int i = 0; i < n2; ++i) {
            const double f = factor(seq, i, shape, prev);
            s += (x[i] * f + (f == 0 || f == 1 ? 0 : bias)) * std::cos(2 * kPi / n2 * (i + n0) * (k + 0.5));
        }
        out[k] = 2 * s;
    }
    return out;
}

TEST(AacMdctFwd, MatchesDoubleModel) {
    zuft::Rng rng(7);
    double worst = 0, worstI = 0;
    for (int seq = 0; seq < 4; ++seq)
        for (int shapes = 0; shapes < 4; ++shapes) {
            const int shape = shapes & 1, prev = shapes >> 1, n = seq == kShort ? 128 : 1024;
            std::vector<Zuf32s> x(2048), dst(1024), work(2048), inplace;
            for (auto& v : x) v = rng.range(-65536, 65536);  // leaves the unscaled transform headroom
            const Zuf32s reserved = 0;
            ASSERT_EQ(zufsMDCTFwd_AAC_32s(x.data(), dst.data(), &reserved, seq, shape, prev, work.data()), zufOk);
            inplace = x;
            ASSERT_EQ(zufsMDCTFwd_AAC_32s_I(inplace.data(), seq, shape, prev, 2048), zufOk);
            const std::vector<double> ref = mdct_model(x.data(), seq, shape, prev, -0.5);
            const std::vector<double> refI = mdct_model(x.data(), seq, shape, prev, 0);
            for (int k = 0; k < n; ++k) {
                worst = std::max(worst, std::fabs(dst[k] - ref[k]));
                worstI = std::max(worstI, std::fabs(inplace[k] - refI[k] / (4 * n)));
            }
        }
    std::printf("max |error|: unit gain %.1f (spectrum ~2^22), in place %.2f\n", worst, worstI);
    EXPECT_LT(worst, 256);  // about 2^-13 of the spectrum's RMS (2^21)

    EXPECT_LT(worstI, 2.5);  // a few units after the block scaling
}

// Analysis of a 16-bit signal in Q3, synthesis with the 16-bit filter bank: frame i analyses
// x[1024 (i - 1) .. 1024 (i + 1)) and gives back x[1024 (i - 1) .. 1024 i).
TEST(AacMdctFwd, AnalysisSynthesisReconstructs) {
    const int seqs[] = {kLong, kStart, kShort, kStop, kLong, kLong, kStart, kShort, kShort, kStop, kLong};
    const int shapes[] = {0, 1, 1, 0, 1, 0, 0, 1, 0, 0, 1};
    const int frames = 11;
    std::vector<Zuf32s> x(1024 * (frames + 1), 0);
    zuft::Rng rng(3);
    for (size_t i = 1024; i < x.size(); ++i)
        x[i] = static_cast<Zuf32s>(8 * (6000 * std::sin(0.01 * i) + rng.range(-4000, 4000)));
    std::vector<Zuf32s> overlap(1024, 0), spec(1024), work(2048);
    std::vector<Zuf16s> pcm(1024);
    const Zuf32s reserved = 0;
    int worst = 0, prevShape = 0;
    for (int f = 0; f < frames; ++f) {
        const Zuf32s* frame = x.data() + 1024 * f;  // x[1024 (f - 1) + 1024 ..]: padded by one frame
        if (seqs[f] == kShort) {
            for (int w = 0; w < 8; ++w)
                ASSERT_EQ(zufsMDCTFwd_AAC_32s(frame + 448 + 128 * w, spec.data() + 128 * w, &reserved, kShort,
                                              shapes[f], w == 0 ? prevShape : shapes[f], work.data()),
                          zufOk);
        } else {
            ASSERT_EQ(zufsMDCTFwd_AAC_32s(frame, spec.data(), &reserved, seqs[f], shapes[f], prevShape, work.data()),
                      zufOk);
        }
        ASSERT_EQ(zufsMDCTInv_AAC_32s16s(spec.data(), pcm.data(), overlap.data(), seqs[f], shapes[f], prevShape, 1),
                  zufOk);
        prevShape = shapes[f];
        if (f == 0) continue;  // the first frame completes only the zero padding
        for (int n = 0; n < 1024; ++n) worst = std::max(worst, std::abs(pcm[n] - frame[n] / 8));
    }
    std::printf("round trip: max |error| %d LSB of 16 bits\n", worst);
    EXPECT_LE(worst, 2);
}

TEST(AacMdctFwd, Statuses) {
    Zuf32s buf[2048] = {}, dst[1024], work[2048];
    struct Case {
        bool nullSrc, nullRes;
        int seq, shape, prev, len;
        zufResult fwd, inplace;
    } const cases[] = {
        {false, false, 0, 0, 0, 2048, zufOk, zufOk},
        {true, false, 0, 0, 0, 2048, zufErrNullPtr, zufErrNullPtr},
        {false, true, 9, 0, 0, 2048, zufErrNullPtr, zufErrAacWinSeq},
        {false, false, 4, 2, 0, 1024, zufErrAacWinSeq, zufErrAacWinSeq},
        {false, false, 2, 0, -1, 1024, zufErrAacWinShape, zufErrAacWinShape},
        {false, false, 3, 1, 1, 1024, zufOk, zufErrSize},
    };
    for (const Case& c : cases) {
        Zuf32s* src = c.nullSrc ? nullptr : buf;
        EXPECT_EQ(zufsMDCTFwd_AAC_32s(src, dst, c.nullRes ? nullptr : buf, c.seq, c.shape, c.prev, work), c.fwd);
        EXPECT_EQ(zufsMDCTFwd_AAC_32s_I(src, c.seq, c.shape, c.prev, c.len), c.inplace);
    }
    EXPECT_EQ(zufsMDCTFwd_AAC_32s(buf, dst, buf, 0, 0, 0, nullptr), zufErrNullPtr);
}

}  // namespace
