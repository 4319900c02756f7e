// Perceptual noise substitution against an independent model: the seed sequence of the
// standard's linear congruential generator, normalised to unit energy in double precision and
// scaled to 2^(n/4) per window (ISO/IEC 14496-3 4.6.13), on the grouped, interleaved layout.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/aac_bitwriter.h"
#include "support/checkasm.h"
#include "zufack9/zuf_aac.h"

namespace {

using zuft::aac::for_each_band;

uint32_t lcg(uint32_t s) { return s * 1664525u + 1013904223u; }

// Model of one window of one noise band: w values from the seed, returns the advanced seed.
uint32_t model_noise(uint32_t seed, int w, int energy, double* out) {
    double e = 0;
    for (int i = 0; i < w; ++i) {
        seed = lcg(seed);
        out[i] = static_cast<int32_t>(seed);
        e += out[i] * out[i];
    }
    const double g = 8 * std::exp2(energy / 4.0) / std::sqrt(e);
    for (int i = 0; i < w; ++i) out[i] *= g;
    return seed;
}

struct Layout {
    int sri, winLen, numGrp, grp[8], maxSfb;
};

// Runs the model over a frame; `seedFor(g, b)` may override the seed of a band (nullptr: run on).
template <class SeedFor>
uint32_t model_frame(const Layout& lay, const std::vector<Zuf8u>& cb, const std::vector<Zuf16s>& nrg, uint32_t seed,
                     std::vector<double>& out, SeedFor seedFor) {
    for_each_band(lay.sri, lay.winLen, lay.numGrp, lay.grp, lay.maxSfb, [&](int g, int b, int p, int w, int n) {
        const int idx = g * lay.maxSfb + b;
        if (cb[idx] != 13) return;
        uint32_t* s = seedFor(g, b);
        uint32_t local = s ? *s : seed;
        for (int k = 0; k < n; ++k) local = model_noise(local, w, nrg[idx], &out[p + k * w]);
        if (!s) seed = local;
    });
    return seed;
}

// Per band window: the generated noise matches the model up to the common gain error of the
// quadratic inverse square root (0.51% at most) and the truncation of each value (< 2 units).
void expect_noise(const std::vector<int32_t>& got, const std::vector<double>& ref, const Layout& lay,
                  const std::vector<Zuf8u>& cb) {
    for_each_band(lay.sri, lay.winLen, lay.numGrp, lay.grp, lay.maxSfb, [&](int g, int b, int p, int w, int n) {
        for (int k = 0; k < n && cb[g * lay.maxSfb + b] == 13; ++k, p += w) {
            double eg = 0, er = 0, sa = 0;
            for (int i = p; i < p + w; ++i) {
                eg += double(got[i]) * got[i], er += ref[i] * ref[i], sa += std::fabs(ref[i]);
                EXPECT_NEAR(got[i], ref[i], 0.0052 * std::fabs(ref[i]) + 2) << i;
            }
            EXPECT_NEAR(eg, er, 0.0105 * er + 4.1 * sa + 4 * w) << "group " << g << " band " << b << " window " << k;
        }
    });
}

}  // namespace

TEST(AacPns, NoiseBandsMatchTheModelInLevelShapeAndSeedSteps) {
    zuft::Rng rng(31);
    const Layout layouts[] = {
        {4, 1024, 1, {1}, 49}, {11, 1024, 1, {1}, 40}, {3, 128, 3, {3, 1, 4}, 14}, {8, 128, 1, {8}, 15}};
    for (const Layout& lay : layouts) {
        const int n = lay.numGrp * lay.maxSfb;
        std::vector<Zuf8u> cb(n);
        std::vector<Zuf16s> nrg(n);
        for (int i = 0; i < n; ++i) cb[i] = Zuf8u(rng.range(0, 2) ? 13 : 5), nrg[i] = Zuf16s(rng.range(0, 83));
        std::vector<int32_t> x(1024, 1234567);
        std::vector<int> ltp(52, 1);
        uint32_t seed = 0x2468ACE1u;
        std::vector<double> ref(1024, 1234567.0);
        const uint32_t refSeed = model_frame(lay, cb, nrg, seed, ref, [](int, int) -> uint32_t* { return nullptr; });
        ASSERT_EQ(zufsDecodePNS_AAC_32s(x.data(), ltp.data(), cb.data(), nrg.data(), lay.maxSfb, lay.numGrp, lay.grp,
                                        lay.sri, lay.winLen, &seed),
                  zufOk);
        EXPECT_EQ(seed, refSeed);  // one step per generated value
        expect_noise(x, ref, lay, cb);
        for (int i = 0; i < 1024; ++i) EXPECT_TRUE(ref[i] != 1234567.0 || x[i] == 1234567) << "non-noise value " << i;
        for (int b = 0; b < lay.maxSfb; ++b)
            EXPECT_EQ(ltp[b + 1], lay.numGrp == 1 && cb[b] == 13 ? 0 : 1) << "ltp flag of band " << b;
        EXPECT_EQ(ltp[0], 1);
    }
}

TEST(AacMsPns, PairSharesNoiseInMsBandsThroughTheSavedSeeds) {
    zuft::Rng rng(32);
    for (const Layout& lay : {Layout{4, 1024, 1, {1}, 49}, Layout{6, 128, 3, {2, 2, 4}, 15}}) {
        const int n = lay.numGrp * lay.maxSfb;
        std::vector<Zuf8u> cb(n, 13), used(8 * 60, 0);
        std::vector<Zuf16s> nrgL(n), nrgR(n);
        for (int i = 0; i < n; ++i) nrgL[i] = Zuf16s(rng.range(10, 60)), nrgR[i] = nrgL[i];
        for (int g = 0; g < lay.numGrp; ++g)
            for (int b = 0; b < lay.maxSfb; ++b) used[g * 60 + b] = Zuf8u(rng.range(0, 1));
        std::vector<int32_t> l(1024, 0), r(1024, 0);
        std::vector<int> ltp(52);
        std::vector<Zuf32u> state(n, 0);
        uint32_t seed = 99;
        ASSERT_EQ(zufsDecodeMsPNS_AAC_32s(l.data(), ltp.data(), cb.data(), nrgL.data(), lay.maxSfb, lay.numGrp, lay.grp,
                                          lay.sri, lay.winLen, &seed, 0, used.data(), state.data()),
                  zufOk);
        const uint32_t afterLeft = seed;
        ASSERT_EQ(zufsDecodeMsPNS_AAC_32s(r.data(), ltp.data(), cb.data(), nrgR.data(), lay.maxSfb, lay.numGrp, lay.grp,
                                          lay.sri, lay.winLen, &seed, 1, used.data(), state.data()),
                  zufOk);
        // Model of the right channel: saved seeds in ms bands, the running seed elsewhere.
        std::vector<double> ref(1024, 0.0);
        uint32_t leftSeed = 99;
        std::vector<uint32_t> saved(n);
        // Replay the left channel to learn each band's starting seed.
        for_each_band(lay.sri, lay.winLen, lay.numGrp, lay.grp, lay.maxSfb, [&](int g, int b, int, int w, int n) {
            saved[g * lay.maxSfb + b] = leftSeed;
            for (int k = 0; k < w * n; ++k) leftSeed = lcg(leftSeed);
        });
        EXPECT_EQ(leftSeed, afterLeft);
        EXPECT_EQ(std::vector<uint32_t>(state.begin(), state.end()), saved);
        const uint32_t rightSeed = model_frame(lay, cb, nrgR, afterLeft, ref, [&](int g, int b) -> uint32_t* {
            return used[g * 60 + b] ? &saved[g * lay.maxSfb + b] : nullptr;
        });
        EXPECT_EQ(seed, rightSeed);
        expect_noise(r, ref, lay, cb);
        // Same energies: the ms bands of both channels are identical.
        for_each_band(lay.sri, lay.winLen, lay.numGrp, lay.grp, lay.maxSfb, [&](int g, int b, int p, int w, int n) {
            for (int i = p; i < p + w * n; ++i) EXPECT_TRUE(!used[g * 60 + b] || l[i] == r[i]) << i;
        });
    }
}

TEST(AacPnsChecks, InOrder) {
    std::vector<int32_t> x(1024);
    std::vector<int> ltp(52);
    std::vector<Zuf8u> cb(8 * 51), used(480);
    std::vector<Zuf16s> e(8 * 51);
    std::vector<Zuf32u> st(8 * 51);
    Zuf32u seed = 1;
    const int g[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    auto pns = [&](int* l, Zuf32u* s, int max_sfb, int grp, int sri, int win_len) {
        return zufsDecodePNS_AAC_32s(x.data(), l, cb.data(), e.data(), max_sfb, grp, g, sri, win_len, s);
    };
    int* l = ltp.data();
    // Each call is also wrong in every argument checked after the one whose status it expects.
    zuft::expect_status(zufErrNullPtr, {pns(l, nullptr, 99, 0, 99, 5), pns(nullptr, &seed, 99, 0, 99, 5)});
    zuft::expect_status(zufErrAacMaxSfb, {pns(l, &seed, 52, 0, 99, 5), pns(l, &seed, 51, 1, 3, 1024)});
    zuft::expect_status(zufErrAacWinGrp, {pns(l, &seed, 51, 9, 99, 5), pns(l, &seed, 51, 2, 0, 1024)});
    zuft::expect_status(zufErrAacSmplRateIdx, {pns(l, &seed, 51, 1, 12, 5)});
    zuft::expect_status(zufErrAacWinLen, {pns(l, &seed, 51, 1, 0, 5)});
    EXPECT_EQ(pns(l, &seed, 49, 1, 3, 1024), zufOk);
    EXPECT_EQ(seed, 1u);  // no noise band: the seed stays
    // The pair form: the noise state for channel 0, state and mask for channel 1, neither otherwise.
    auto ms = [&](int max_sfb, int channel, Zuf8u* u, Zuf32u* state) {
        return zufsDecodeMsPNS_AAC_32s(x.data(), ltp.data(), cb.data(), e.data(), max_sfb, 8, g, 3, 128, &seed, channel,
                                       u, state);
    };
    zuft::expect_status(zufErrNullPtr, {ms(9, 0, used.data(), nullptr), ms(9, 1, nullptr, st.data())});
    zuft::expect_status(zufOk, {ms(9, 2, nullptr, nullptr)});
    zuft::expect_status(zufErrAacMaxSfb, {ms(15, 0, used.data(), st.data())});
}
