// SBR prediction and encoder analysis: the covariance coefficients (float, all bands; fixed point,
// one band) against a double-precision solution, the vector path bit for bit against the scalar
// one, the fixed-point reciprocal, the encoder analysis bank against the double sum, and the
// transient detector and tonality estimate against double models of their formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdint>
#include <vector>

#include "sbr/sbr_internal.h"
#include "support/checkasm.h"
#include "support/test_util.h"
#include "zufack9/zuf_sbr.h"

namespace {

using cd = std::complex<double>;
using zuft::same_bits;

// The covariance method in double: phi over slots 2..len+1, d with the relaxation `relax`,
// both coefficients cleared at |alpha|^2 >= 16 when `limit`.
struct Cov {
    cd p00, p01, p02, p11, p12, p22, a0, a1;
};
Cov covariance(const std::vector<cd>& x, int first, int len, double relax, bool limit) {
    Cov c{};
    for (int n = first + 2; n <= first + len + 1; ++n) {
        c.p00 += x[n] * std::conj(x[n]);
        c.p01 += x[n] * std::conj(x[n - 1]);
        c.p02 += x[n] * std::conj(x[n - 2]);
        c.p11 += x[n - 1] * std::conj(x[n - 1]);
        c.p12 += x[n - 1] * std::conj(x[n - 2]);
        c.p22 += x[n - 2] * std::conj(x[n - 2]);
    }
    const double d = c.p22.real() * c.p11.real() - relax * std::norm(c.p12);
    if (d != 0) c.a1 = (c.p01 * c.p12 - c.p02 * c.p11) / d;
    if (c.p11.real() > 0) c.a0 = -(c.p01 + c.a1 * std::conj(c.p12)) / c.p11;
    if (limit && (std::norm(c.a0) >= 16 || std::norm(c.a1) >= 16)) c.a0 = c.a1 = 0;
    return c;
}

// Band kinds: random, silent, d = 0 (only the last two slots), phi(1,1) = 0 (only the last slot),
// and a growing two-pole tone with alpha1 = 2.1^2 (beyond the limit).
std::vector<cd> band(zuft::Rng& rng, int kind, int rows, bool complex) {
    std::vector<cd> x(rows);
    const double im = complex ? 1 : 0;
    for (int n = 0; n < rows; ++n) {
        const double r = std::pow(2.1, n - rows + 1);  // at most 1
        const cd v[5] = {{rng.uniform(-1, 1), im * rng.uniform(-1, 1)},
                         0.0,
                         n >= rows - 2 ? cd(0.75 - n % 2, 0.5 * im) : 0.0,
                         n == rows - 1 ? cd(0.75, 0.25 * im) : 0.0,
                         {r * std::cos(0.7 * n), im * 0.3 * r * std::sin(0.7 * n)}};
        x[n] = v[kind];
    }
    return x;
}

// All bands of one layout, as interleaved, split and real rows (each row one float past a 16-byte
// boundary), run through the exported functions and through the kernels' scalar and vector paths.
struct Rows {
    int nb, rows;
    std::vector<std::vector<cd>> bands;
    std::vector<float> re, im, ri;
    std::vector<const float*> pRe, pIm;
    std::vector<const Zuf32fc*> pC;
    Rows(int nBands, int nRows, bool complex, zuft::Rng& rng, int kindOf0 = -1) : nb(nBands), rows(nRows) {
        const int stride = 4 * nb + 8;
        re.assign(stride * rows, 0), im = re, ri.assign(2 * stride * rows, 0);
        for (int k = 0; k < nb; ++k) bands.push_back(band(rng, kindOf0 >= 0 ? kindOf0 : k % 5, rows, complex));
        for (int n = 0; n < rows; ++n) {
            for (int k = 0; k < nb; ++k) {
                re[stride * n + 1 + k] = static_cast<float>(bands[k][n].real());
                im[stride * n + 1 + k] = static_cast<float>(bands[k][n].imag());
                ri[2 * stride * n + 2 + 2 * k] = re[stride * n + 1 + k];
                ri[2 * stride * n + 3 + 2 * k] = im[stride * n + 1 + k];
            }
            pRe.push_back(&re[stride * n + 1]);
            pIm.push_back(&im[stride * n + 1]);
            pC.push_back(reinterpret_cast<const Zuf32fc*>(&ri[2 * stride * n + 2]));
        }
    }
};

// Float coefficients of every variant: against the model, and the vector path against the scalar one.
TEST(SbrPredict, FloatAgainstDoubleModel) {
    zuft::Rng rng(3);
    const double relax = static_cast<double>(0.99999905f);
    for (const int len : {1, 2, 7, 38}) {
        for (const int nb : {1, 3, 4, 5, 13, 64}) {
            for (const bool complex : {false, true}) {
                Rows r(nb, len + 2, complex, rng);
                std::vector<float> out[2][6];  // [vector][a0re, a0im, a1re, a1im, split.., real]
                std::vector<Zuf32fc> c0[2], c1[2];
                for (int v = 0; v < 2; ++v) {
                    for (auto& o : out[v]) o.assign(nb, 7.0f);
                    c0[v].assign(nb, {7, 7}), c1[v] = c0[v];
                    zuf::sbr::ownsPredictCoef_SBR_C_32fc(r.pC.data(), c0[v].data(), c1[v].data(), nb, len, v);
                    zuf::sbr::ownsPredictCoef_SBR_C_32f(r.pRe.data(), r.pIm.data(), out[v][0].data(), out[v][1].data(),
                                                        out[v][2].data(), out[v][3].data(), nb, len, v);
                    if (!complex)
                        zuf::sbr::ownsPredictCoef_SBR_R_32f(r.pRe.data(), out[v][4].data(), out[v][5].data(), nb, len,
                                                            v);
                }
                // the exported shells run the vector path
                std::vector<Zuf32fc> e0(nb), e1(nb);
                ASSERT_EQ(zufsPredictCoef_SBR_C_32fc_D2L(r.pC.data(), e0.data(), e1.data(), nb, len), zufOk);
                for (int k = 0; k < nb; ++k) {
                    SCOPED_TRACE(testing::Message() << "len " << len << " nb " << nb << " band " << k);
                    ASSERT_TRUE(same_bits(e0[k], c0[1][k]) && same_bits(e1[k], c1[1][k]));
                    for (int i = 0; i < 6; ++i) ASSERT_TRUE(same_bits(out[0][i][k], out[1][i][k])) << i;
                    ASSERT_TRUE(same_bits(c0[0][k], c0[1][k]) && same_bits(c1[0][k], c1[1][k]));
                    const Cov m = covariance(r.bands[k], 0, len, relax, true);
                    // float sums of len terms and one 2x2 solve: relative error a few 1e-6 for the
                    // random bands, which are well conditioned from len = 7 (below, d is the
                    // rounding noise of a rank-one covariance, random or tone)
                    if ((k % 5 == 0 || k % 5 == 4) && len < 7) continue;
                    auto near = [&](double got, double want) {
                        EXPECT_NEAR(got, want, 2e-4 * (1 + std::fabs(want)));
                        if (want == 0 && k % 5 != 0) {
                            EXPECT_EQ(got, 0.0);  // the exact cases
                        }
                    };
                    const cd g0[3] = {{c0[0][k].re, c0[0][k].im}, {out[0][0][k], out[0][1][k]}, {out[0][4][k], 0.0}};
                    const cd g1[3] = {{c1[0][k].re, c1[0][k].im}, {out[0][2][k], out[0][3][k]}, {out[0][5][k], 0.0}};
                    for (int i = 0; i < (complex ? 2 : 3); ++i) {
                        near(g0[i].real(), m.a0.real()), near(g0[i].imag(), m.a0.imag());
                        near(g1[i].real(), m.a1.real()), near(g1[i].imag(), m.a1.imag());
                    }
                }
            }
        }
    }
}

TEST(SbrPredict, FloatStatuses) {
    const float row[4] = {1, 2, 3, 4};
    const float* rows[3] = {row, row, row};
    float a[2] = {5, 5}, b[2] = {5, 5};
    zuft::expect_status(zufErrNullPtr, {zufsPredictCoef_SBR_R_32f_D2L(nullptr, a, b, 1, 1),
                                        zufsPredictCoef_SBR_R_32f_D2L(rows, a, nullptr, 1, 0),
                                        zufsPredictCoef_SBR_C_32fc_D2L(nullptr, nullptr, nullptr, 1, 1),
                                        zufsPredictCoef_SBR_C_32f_D2L(rows, rows, a, b, a, nullptr, 1, 1)});
    // len < 1: nothing written
    EXPECT_EQ(zufsPredictCoef_SBR_R_32f_D2L(rows, a, b, 2, 0), zufOk);
    EXPECT_EQ(zufsPredictCoef_SBR_C_32f_D2L(rows, rows, a, b, a, b, 2, -3), zufOk);
    EXPECT_TRUE(a[0] == 5 && a[1] == 5 && b[0] == 5 && b[1] == 5);
}

// Fixed point, one band per call: Q29 coefficients against the double solution without the
// relaxation. Error budget, relative: the reciprocal (below 2.4e-6, see InvWrap), the samples'
// dropped low bits and the 30-bit covariance elements (2^-27), mulhi truncations (2^-28 of
// 2^28-scale terms), times the conditioning of d / (phi11 phi22) (at least 1/4 for these random
// bands): alpha0 carries its own reciprocal and alpha1's error, so 6e-6 (1 + |alpha|) bounds it.
TEST(SbrPredict, FixedPointAgainstDoubleModel) {
    zuft::Rng rng(5);
    double worst = 0;
    for (const int len : {1, 7, 16, 38}) {
        for (const int bits : {6, 14, 22, 27, 31}) {
            for (int trial = 0; trial < 10; ++trial) {
                const int kind = trial % 5, k = trial % 3;
                // rank-one covariances (len 1) and coarsely quantised tones are ill-conditioned;
                // full-scale rows keep the 64-bit sums in range over 16 slots
                if ((len == 1 && (kind == 0 || kind == 4)) || (kind == 4 && bits < 27) || (bits == 31 && len > 14))
                    continue;
                const double amp = std::ldexp(1.0, bits) - 1;
                std::vector<std::vector<Zuf32sc>> rows(len + 2, std::vector<Zuf32sc>(3));
                std::vector<std::vector<Zuf32s>> real(len + 2, std::vector<Zuf32s>(3));
                std::vector<cd> xc(len + 2), xr(len + 2);
                for (int b = 0; b < 3; ++b) {
                    const std::vector<cd> x = band(rng, b == k ? kind : 0, len + 2, true);
                    for (int n = 0; n < len + 2; ++n) {
                        rows[n][b] = {static_cast<Zuf32s>(amp * x[n].real()), static_cast<Zuf32s>(amp * x[n].imag())};
                        real[n][b] = rows[n][b].re;
                    }
                }
                for (int n = 0; n < len + 2; ++n)
                    xc[n] = {double(rows[n][k].re), double(rows[n][k].im)}, xr[n] = xc[n].real();
                std::vector<const Zuf32sc*> pc;
                std::vector<const Zuf32s*> pr;
                for (int n = 0; n < len + 2; ++n) pc.push_back(rows[n].data()), pr.push_back(real[n].data());
                Zuf32sc a0{9, 9}, a1{9, 9};
                Zuf32s r0 = 9, r1 = 9;
                ASSERT_EQ(zufsPredictOneCoef_SBRHQ_32sc_D2L(pc.data(), &a0, &a1, k, len), zufOk);
                ASSERT_EQ(zufsPredictOneCoef_SBRLP_32s_D2L(pr.data(), &r0, &r1, k, len), zufOk);
                const Cov mc = covariance(xc, 0, len, 1.0, true), mr = covariance(xr, 0, len, 1.0, true);
                const double q = std::ldexp(1.0, -29);
                const double got[6] = {a0.re * q, a0.im * q, a1.re * q, a1.im * q, r0 * q, r1 * q};
                const double want[6] = {mc.a0.real(), mc.a0.imag(), mc.a1.real(),
                                        mc.a1.imag(), mr.a0.real(), mr.a1.real()};
                for (int i = 0; i < 6; ++i) {
                    worst = std::max(worst, std::fabs(got[i] - want[i]) / (1 + std::fabs(want[i])));
                    EXPECT_NEAR(got[i], want[i], 6e-6 * (1 + std::fabs(want[i])))
                        << "len " << len << " bits " << bits << " trial " << trial << " value " << i;
                    if (want[i] == 0) {
                        EXPECT_EQ(got[i], 0.0);  // silent, d = 0, phi(1,1) = 0, beyond the limit
                    }
                }
            }
        }
    }
    std::printf("fixed-point Q29 worst error %.3g (relative to 1 + |alpha|)\n", worst);
}

TEST(SbrPredict, InvWrap) {
    int s = -1;
    EXPECT_EQ(zufsInvWrap_32s_Sf(0x60000000, &s), 715827872);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(zufsInvWrap_32s_Sf(3, &s), 715827872);
    EXPECT_EQ(s, 29);
    // Sweep over the mantissa range: y against 2^60 / x', and the scale factor of x' = x << s.
    double worst = 0;
    for (int64_t xp = int64_t{1} << 30; xp < (int64_t{1} << 31); xp += 65537) {
        const int shift = static_cast<int>(xp % 31);
        const Zuf32s x = static_cast<Zuf32s>(xp >> shift);
        const int64_t xs = int64_t{x} << (30 - static_cast<int>(std::floor(std::log2(double(x)))));
        const Zuf32s y = zufsInvWrap_32s_Sf(x, &s);
        ASSERT_EQ(int64_t{x} << s, xs) << x;
        worst = std::max(worst, std::fabs(y - std::ldexp(1.0, 60) / double(xs)) / y);
    }
    // the linear first estimate (4/3)(2^29 - x'/12) is 0.56 of 2^60/x' at x' = 2^30; four
    // quadratic steps leave 0.44^16 = 2.3e-6 there, and much less mid-range
    EXPECT_LT(worst, 2.4e-6);
    std::printf("InvWrap worst relative error %.3g\n", worst);
}

// The encoder bank against the double sum, over several calls with one context.
TEST(SbrEncAnalysis, AgainstDoubleSum) {
    int specSize = 0, initSize = 0;
    ASSERT_EQ(zufsAnalysisFilterEncGetSize_SBR_32f(&specSize, &initSize), zufOk);
    std::vector<Zuf8u> mem(specSize + 8), init(initSize);
    Zuf8u* base = mem.data() + 3;
    ASSERT_EQ(zufsAnalysisFilterEncInit_SBR_32f(base, init.data()), zufOk);
    auto* ctx = reinterpret_cast<AnalysisFilterEncContext_SBR_32f*>(base);
    AnalysisFilterEncContext_SBR_32f* alloc = nullptr;
    ASSERT_EQ(zufsAnalysisFilterEncInitAlloc_SBR_32f(&alloc), zufOk);
    zuft::Rng rng(8);
    double worst = 0;
    for (int call = 0; call < 6; ++call) {
        std::vector<float> src(640);
        for (float& v : src) v = rng.uniform(-32768, 32768);
        std::vector<Zuf32fc> out(64), out2(64);
        ASSERT_EQ(zufsAnalysisFilterEnc_SBR_32f32fc(src.data(), out.data(), call % 2 ? ctx : alloc), zufOk);
        double u[128], mag = 0;
        for (int n = 0; n < 128; ++n) {
            u[n] = 0;
            for (int j = 0; j < 5; ++j) u[n] += double(SBR_TAB_QMF_WINDOW_640_FP[n + 128 * j]) * src[639 - 128 * j - n];
            mag += std::fabs(u[n]);
        }
        for (int k = 0; k < 64; ++k) {
            cd x = 0;
            for (int n = 0; n < 128; ++n) x += u[n] * std::polar(1.0, M_PI * (k + 0.5) * (2 * n + 1) / 128);
            worst = std::max(worst, std::abs(cd(out[k].re, out[k].im) - x) / mag);
        }
    }
    // float windowing, a 64-point FFT (6 stages) and two rotations: a few 2^-24 of the sum of |u|
    EXPECT_LT(worst, 3e-7);
    std::printf("encoder bank worst error %.3g of the sum of |u|\n", worst);
    // checks: null pointers, then the ID at the aligned address
    std::vector<float> src(640);
    Zuf32fc dst[64];
    int i = 0;
    zuft::expect_status(
        zufErrNullPtr,
        {zufsAnalysisFilterEncGetSize_SBR_32f(nullptr, &i), zufsAnalysisFilterEncInit_SBR_32f(base, nullptr),
         zufsAnalysisFilterEncInitAlloc_SBR_32f(nullptr), zufsAnalysisFilterEncFree_SBR_32f(nullptr),
         zufsAnalysisFilterEnc_SBR_32f32fc(src.data(), nullptr, ctx)});
    EXPECT_EQ(zufsAnalysisFilterEncFree_SBR_32f(ctx), zufOk);
    EXPECT_EQ(zufsAnalysisFilterEnc_SBR_32f32fc(src.data(), dst, ctx), zufErrContext);
    EXPECT_EQ(zufsAnalysisFilterEncFree_SBR_32f(ctx), zufErrContext);
    EXPECT_EQ(zufsAnalysisFilterEncFree_SBR_32f(alloc), zufOk);
}

// The transient detector against a double model of its formula, over a run of calls.
TEST(SbrEncAnalysis, TransientAgainstModel) {
    zuft::Rng rng(9);
    float thr = 0;
    double thrD = 0;
    std::vector<float> tr(64, 0.0f);
    std::vector<double> trD(64, 0.0);
    for (int call = 0; call < 40; ++call) {
        std::vector<float> e(64);
        const float peak = call % 4 == 3 ? 4e6f : (call % 4 == 0 ? 2e5f : 1e4f);
        for (float& v : e) v = rng.uniform(0, 1e5f);
        for (int a = 12; a < 64; ++a)
            if (rng.range(0, 7) == 0) e[a] += peak;
        const std::vector<float> before = tr;
        ASSERT_EQ(zufsDetectTransient_SBR_32f(e.data(), &thr, tr.data()), zufOk);
        double m = 0, q = 0;
        for (int a = 16; a < 64; ++a) m += e[a] / 48.0;
        for (int a = 16; a < 64; ++a) q += (e[a] - m) * (e[a] - m) / 47.0;
        thrD = std::max(0.34 * std::sqrt(q) + 0.66 * thrD, 128000.0);
        auto Q = [&](int a) { return (double(e[a]) + e[a + 1]) / 2; };
        auto add = [&](double d, int t) { trD[t] += d > thrD ? d / thrD - 1 : 0; };
        add(Q(16) - Q(14), 16), add(Q(16) + Q(18) - 2 * Q(14), 16), add(Q(16) + 2 * Q(18) - 2 * Q(14) - Q(12), 16);
        for (int t = 17; t <= 59; t += 2) {
            const int a = t + 1;
            add(Q(a) - Q(a - 2), t), add(Q(a) - Q(a - 2), t + 1);
            add(2 * Q(a) - Q(a - 2) - Q(a - 4), t), add(2 * Q(a) + Q(a + 2) - Q(a - 2) - 2 * Q(a - 4), t);
            add(Q(a) + Q(a + 2) - 2 * Q(a - 2), t + 1), add(Q(a) + 2 * Q(a + 2) - 2 * Q(a - 2) - Q(a - 4), t + 1);
        }
        EXPECT_NEAR(thr, thrD, 1e-5 * thrD);
        EXPECT_GE(thr, 128000.0f);
        for (int t = 0; t < 64; ++t) {
            EXPECT_NEAR(tr[t], trD[t], 1e-4 * (1 + trD[t])) << "call " << call << " t " << t;
            if (peak < 128000.0f) {
                EXPECT_EQ(tr[t], before[t]);  // nothing reaches the floor
            }
        }
    }
    EXPECT_EQ(zufsDetectTransient_SBR_32f(tr.data(), nullptr, tr.data()), zufErrNullPtr);
}

// Tonality against the double model: random blocks, a predictable tone (1e6), a silent block.
TEST(SbrEncAnalysis, TnrAgainstModel) {
    zuft::Rng rng(10);
    const double relax = static_cast<double>(0.99999905f);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<Zuf32fc> x(32);
        std::vector<cd> xd(32);
        for (int n = 0; n < 32; ++n) {
            const int kind = trial < 3 ? trial : 3;  // tone, silent + random, random
            const cd v = kind == 0 ? std::polar(1000.0, 0.3 * n)
                         : (kind == 1 && n < 16)
                             ? cd(0)
                             : cd(rng.uniform(-1, 1), rng.uniform(-1, 1)) + std::polar(2.0 * (trial % 3), 0.9 * n);
            x[n] = {static_cast<float>(v.real()), static_cast<float>(v.imag())};
            xd[n] = {x[n].re, x[n].im};
        }
        float t0 = 5, t1 = 5, nrg = 5;
        ASSERT_EQ(zufsEstimateTNR_SBR_32f(x.data(), &t0, &t1, &nrg), zufOk);
        double tnr[2], e[2];
        for (int b = 0; b < 2; ++b) {
            Cov c = covariance(xd, 16 * b, 14, relax, false);
            const double d = c.p22.real() * c.p11.real() - relax * std::norm(c.p12);
            if (d == 0) c.a0 = 0;
            e[b] = c.p00.real();
            const double g = e[b] == 0 ? 0 : -(c.a0 * std::conj(c.p01) + c.a1 * std::conj(c.p02)).real() / e[b];
            tnr[b] = e[b] == 0 ? 0 : std::fabs(1 - g) > 1e-6 ? g / (1.000001 - g) : 1e6;
        }
        SCOPED_TRACE(trial);
        if (trial == 0) {
            EXPECT_TRUE(t0 == 1e6f && t1 == 1e6f) << t0 << " " << t1;
        }
        if (trial == 1) {
            EXPECT_EQ(t0, 0.0f);
        }
        if (trial > 0) {
            EXPECT_NEAR(t0, tnr[0], 1e-3 * (1 + std::fabs(tnr[0])));
            EXPECT_NEAR(t1, tnr[1], 1e-3 * (1 + std::fabs(tnr[1])));
        }
        EXPECT_NEAR(nrg, (e[0] + e[1]) / 2, 1e-6 * (e[0] + e[1]));
    }
    float f = 0;
    EXPECT_EQ(zufsEstimateTNR_SBR_32f(nullptr, &f, &f, &f), zufErrNullPtr);
}

}  // namespace
