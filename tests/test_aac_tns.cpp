// Temporal noise shaping against a double-precision model of ISO/IEC 13818-7 8.8: reflection
// coefficients from the iqfac formula, the lattice-to-direct-form recursion, and the all-pole
// (decoder) / all-zero (encoder) filters over the band ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "aac/aac_band_tables.h"
#include "support/checkasm.h"
#include "zufack9/zuf_aac.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxBands[12][2] = {{31, 9},  {31, 9},  {34, 10}, {40, 14}, {42, 14}, {51, 14},
                                  {46, 14}, {46, 14}, {42, 14}, {42, 14}, {42, 14}, {39, 14}};

double reflection(int t, int res) {
    const double half = 1 << (res - 1);
    return std::sin(t / ((t >= 0 ? half - 0.5 : half + 0.5) / (kPi / 2)));
}

// tns_decode_coef: a[0] = 1; a[i] += k_m a[m - i] for i < m; a[m] = k_m.
std::vector<double> direct_form(const std::vector<int>& idx, int res) {
    std::vector<double> a(idx.size() + 1, 0.0);
    a[0] = 1;
    for (size_t m = 1; m <= idx.size(); ++m) {
        const double k = reflection(idx[m - 1], res);
        std::vector<double> b = a;
        for (size_t i = 1; i < m; ++i) b[i] = a[i] + k * a[m - i];
        b[m] = k;
        a = b;
    }
    return a;
}

// The filters of ISO/IEC 13818-7 8.8 over a range, from `first` stepping by `step`.
void model_filter(double* x, int size, int step, const std::vector<double>& a, bool encode) {
    std::vector<double> in(size);
    for (int n = 0; n < size; ++n) in[n] = x[n * step];
    for (int n = 0; n < size; ++n) {
        double y = in[n];
        for (size_t j = 1; j < a.size() && int(j) <= n; ++j) y += encode ? a[j] * in[n - j] : -a[j] * x[(n - j) * step];
        x[n * step] = y;
    }
}

struct Filt {
    int length, order, direction;
    std::vector<int> coef;
};
struct Win {
    int res;
    std::vector<Filt> filt;
};

// Flattens the per-window description into the argument arrays and runs the model.
struct TnsCase {
    std::vector<int> nFilt, length, order, res, direction;
    std::vector<Zuf8s> coef;
    TnsCase(const std::vector<Win>& wins) {
        for (const Win& w : wins) {
            nFilt.push_back(int(w.filt.size()));
            res.push_back(w.res);
            for (const Filt& f : w.filt) {
                length.push_back(f.length);
                order.push_back(f.order);
                if (f.order) {
                    direction.push_back(f.direction);
                    for (int c : f.coef) coef.push_back(Zuf8s(c));
                }
            }
        }
        length.resize(length.size() + 8), order.resize(order.size() + 8), direction.resize(direction.size() + 8);
        coef.resize(coef.size() + 16);
    }
};

void model_tns(std::vector<double>& x, const std::vector<Win>& wins, int maxSfb, int sri, int winLen, bool encode) {
    const bool isShort = winLen == 128;
    const Zuf16s* swb = isShort ? zuf::_pAACSwbOffsetTableShort[sri] : zuf::_pAACSwbOffsetTableLong[sri];
    const int numSwb = isShort ? zuf::_pAACNumSwbTableShort[sri] : zuf::_pAACNumSwbTableLong[sri];
    const int maxBand = std::min(maxSfb, kMaxBands[sri][isShort]);
    for (size_t w = 0; w < wins.size(); ++w) {
        int top = numSwb;
        for (const Filt& f : wins[w].filt) {
            const int bottom = std::max(top - f.length, 0);
            if (f.order) {
                const int start = swb[std::min(bottom, maxBand)], end = swb[std::min(top, maxBand)];
                if (end > start) {
                    double* base = x.data() + 128 * w;
                    model_filter(f.direction ? base + end - 1 : base + start, end - start, f.direction ? -1 : 1,
                                 direct_form(f.coef, wins[w].res), encode);
                }
            }
            top = bottom;
        }
    }
}

zufResult run(bool encode, std::vector<int32_t>& x, const TnsCase& c, int maxSfb, int sri, int winLen,
              int profile = 1) {
    auto fn = encode ? zufsEncodeTNS_AAC_32s_I : zufsDecodeTNS_AAC_32s_I;
    return fn(x.data(), c.nFilt.data(), c.length.data(), c.order.data(), c.res.data(), c.coef.data(),
              c.direction.data(), maxSfb, profile, sri, winLen);
}

// Reflection coefficients of the size real encoders send: the first two up to about 0.8, the
// later ones small (a random full-range set makes near-resonant all-pole filters whose gain
// would amplify any rounding beyond what a comparison can bound).
std::vector<int> realistic_coefs(zuft::Rng& rng, int order, int res) {
    std::vector<int> c(order);
    for (int m = 0; m < order; ++m) {
        const int lim = (m < 2 ? 2 : 1) * (res == 4 ? 2 : 1);
        c[m] = rng.range(-lim, lim);
    }
    return c;
}

// Random case: long windows up to three filters of order up to 12, short windows one filter of
// order up to 7; both directions, both resolutions, occasional order-0 filters (which consume a
// length and an order only), filters partly or wholly above max_sfb.
std::vector<Win> random_case(zuft::Rng& rng, int winLen) {
    const bool isShort = winLen == 128;
    std::vector<Win> wins(isShort ? 8 : 1);
    for (Win& w : wins) {
        w.res = rng.range(3, 4);
        const int nf = rng.range(0, isShort ? 1 : 3);
        for (int f = 0; f < nf; ++f) {
            const int order = rng.range(0, 8) == 0 ? 0 : rng.range(1, isShort ? 7 : 12);
            w.filt.push_back(
                {rng.range(1, isShort ? 10 : 30), order, rng.range(0, 1), realistic_coefs(rng, order, w.res)});
        }
    }
    return wins;
}

}  // namespace

TEST(AacTns, DecoderAndEncoderMatchTheModel) {
    zuft::Rng rng(42);
    for (int it = 0; it < 120; ++it) {
        const int winLen = it % 3 == 2 ? 128 : 1024, sri = rng.range(0, 11);
        const int numSwb = winLen == 128 ? zuf::_pAACNumSwbTableShort[sri] : zuf::_pAACNumSwbTableLong[sri];
        const int maxSfb = rng.range(0, numSwb);
        const std::vector<Win> wins = random_case(rng, winLen);
        const TnsCase c(wins);
        for (bool encode : {false, true}) {
            std::vector<int32_t> x(1024);
            for (auto& v : x) v = rng.range(-(1 << 20), 1 << 20);
            std::vector<double> ref(x.begin(), x.end());
            model_tns(ref, wins, maxSfb, sri, winLen, encode);
            ASSERT_EQ(run(encode, x, c, maxSfb, sri, winLen), zufOk);
            double maxRef = 0, maxErr = 0;
            for (int i = 0; i < 1024; ++i) {
                maxRef = std::max(maxRef, std::fabs(ref[i]));
                maxErr = std::max(maxErr, std::fabs(x[i] - ref[i]));
            }
            // Coefficients carry about 21 bits; each output is truncated once (the decoder feeds
            // that back through its poles).
            EXPECT_LE(maxErr, 16 + 1e-4 * maxRef) << (encode ? "encoder" : "decoder") << " case " << it;
        }
    }
}

// Long windows filter no line above the TNS top band of their rate (kMaxBands): an impulse two
// lines below that band's start spreads into the line below it, an impulse at the start stays.
TEST(AacTns, FilterStopsAtTheTopBandOfEachRate) {
    for (int sri = 0; sri < 12; ++sri) {
        const Zuf16s* offset = zuf::_pAACSwbOffsetTableLong[sri];
        const int bands = zuf::_pAACNumSwbTableLong[sri], top = kMaxBands[sri][0];
        if (top >= bands) continue;
        const int edge = offset[top];
        std::vector<int32_t> x(1024, 0);
        x[edge - 2] = x[edge] = 1 << 20;
        const int nf[8] = {1}, len[3] = {bands}, ord[3] = {1}, res[8] = {4}, dir[3] = {0};
        const Zuf8s cf[8] = {4};
        ASSERT_EQ(zufsDecodeTNS_AAC_32s_I(x.data(), nf, len, ord, res, cf, dir, bands, 0, sri, 1024), zufOk);
        EXPECT_NE(x[edge - 1], 0) << "rate " << sri << ": the last line below the top band is filtered";
        EXPECT_EQ(x[edge], 1 << 20) << "rate " << sri;
        EXPECT_EQ(x[edge + 1], 0) << "rate " << sri;
    }
}

TEST(AacTns, ChecksInOrderAndWalkFailures) {
    std::vector<int32_t> x(1024, 5);
    const TnsCase ok(std::vector<Win>{{4, {{10, 1, 0, {1}}}}});
    const int* res = ok.res.data();
    const Zuf8s* cf = ok.coef.data();
    auto call = [&](bool enc, const int* r, const Zuf8s* c, int maxSfb, int profile, int sri, int winLen) {
        return (enc ? zufsEncodeTNS_AAC_32s_I : zufsDecodeTNS_AAC_32s_I)(x.data(), ok.nFilt.data(), ok.length.data(),
                                                                         ok.order.data(), r, c, ok.direction.data(),
                                                                         maxSfb, profile, sri, winLen);
    };
    // Each call is also wrong in every argument checked after the one whose status it expects.
    zuft::expect_status(zufErrNullPtr, {call(0, res, nullptr, 99, 0, 99, 7), call(1, nullptr, cf, 99, 0, 99, 7)});
    zuft::expect_status(zufErrAacWinLen, {call(1, res, cf, 99, 0, 99, 7)});
    zuft::expect_status(zufErrAacTnsProfile, {call(1, res, cf, 99, 0, 99, 1024)});
    zuft::expect_status(zufErrAacSmplRateIdx, {call(0, res, cf, 99, 0, 12, 1024), call(1, res, cf, 99, 1, 12, 1024)});
    zuft::expect_status(zufErrAacMaxSfb, {call(0, res, cf, 52, 0, 3, 1024), call(0, res, cf, 50, 0, 3, 1024),
                                          call(0, res, cf, 15, 0, 3, 128)});
    // Walk failures, each after a first filter that has already been applied.
    const Filt good = {49, 2, 0, {3, -3}};
    const std::tuple<std::vector<Win>, int, zufResult> bad[] = {
        {{{4, {good, good, good, good}}}, 1024, zufErrAacTnsNumFilt},
        {{{4, {good, {52, 1, 0, {1}}}}}, 1024, zufErrAacTnsLength},
        {{{4, {good, {-1, 1, 0, {1}}}}}, 1024, zufErrAacTnsLength},
        {{{4, {good, {1, 13, 0, std::vector<int>(13, 1)}}}}, 1024, zufErrAacTnsOrder},
        {{{4, {good, {1, -1, 0, {}}}}}, 1024, zufErrAacTnsOrder},
        {{{4, {good, {1, 1, 0, {8}}}}}, 1024, zufErrAacTnsCoef},
        {{{4, {good, {1, 1, 2, {1}}}}}, 1024, zufErrAacTnsDirect},
        {{{4, {{14, 2, 0, {3, -3}}}}, {4, {{1, 8, 0, std::vector<int>(8, 1)}}}}, 128, zufErrAacTnsOrder},
        {{{4, {{14, 2, 0, {3, -3}}}}, {4, {{1, 1, 0, {1}}, {1, 1, 0, {1}}}}}, 128, zufErrAacTnsNumFilt},
        {{{4, {{14, 2, 0, {3, -3}}}}, {5, {{1, 1, 0, {1}}}}}, 128, zufErrAacTnsCoefRes},
    };
    for (const auto& [wins, winLen, st] : bad) {
        TnsCase c(wins);
        c.nFilt.resize(8, 0);
        std::vector<int32_t> y(1024);
        for (int i = 0; i < 1024; ++i) y[i] = (i * 37) % 1001 - 500;
        const std::vector<int32_t> before = y;
        EXPECT_EQ(run(false, y, c, winLen == 128 ? 14 : 51, 5, winLen), st);
        // n_filt is tested before any filter of its window runs.
        EXPECT_EQ(y == before, winLen == 1024 && st == zufErrAacTnsNumFilt) << "the first filter stays applied, " << st;
    }
    // coef_res 3 with an index outside -4..3 is accepted (mirrored table entries).
    const TnsCase mirrored(std::vector<Win>{{3, {{10, 2, 0, {7, -8}}}}});
    EXPECT_EQ(run(false, x, mirrored, 49, 4, 1024), zufOk);
}
