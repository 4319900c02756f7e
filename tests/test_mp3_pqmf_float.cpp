// Float polyphase banks of ISO/IEC 11172-3: analysis and synthesis against double evaluations of
// the standard's shift-register formulas (windows read from the published tables in
// tools/gen/data), the vector paths bit for bit against the scalar ones, the reach of an impulse,
// analysis followed by synthesis, and the library's fixed-point synthesis on the same samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sbr/mp3_pqmf_float.h"
#include "support/checkasm.h"
#include "support/test_util.h"
#include "zufack9/zuf_mp3.h"
#include "zufack9/zuf_sbr.h"

namespace {

std::vector<double> table(const char* name) {
    std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tools/gen/data/" + name);
    std::vector<double> v;
    for (std::string line; std::getline(f, line);)
        if (!line.empty() && line[0] != '#') v.push_back(std::stod(line));
    EXPECT_EQ(v.size(), 512u) << name;
    return v;
}

// The standard's analysis filter: 512-sample shift register, window C, matrixing M.
struct IsoAnalysis {
    std::vector<double> C = table("mp3_analysis_window_C.txt"), X = std::vector<double>(512, 0.0);
    void run(const float* pcm, double* S) {
        for (int i = 511; i >= 32; --i) X[i] = X[i - 32];
        for (int i = 31; i >= 0; --i) X[i] = pcm[31 - i] / 32768.0;
        double Y[64] = {};
        for (int k = 0; k < 64; ++k)
            for (int j = 0; j < 8; ++j) Y[k] += C[k + 64 * j] * X[k + 64 * j];
        for (int i = 0; i < 32; ++i) {
            S[i] = 0;
            for (int k = 0; k < 64; ++k) S[i] += std::cos((2 * i + 1) * (k - 16) * M_PI / 64) * Y[k];
        }
    }
};

// The standard's synthesis filter: 1024-value V, U from its halves, window D.
struct IsoSynthesis {
    std::vector<double> D = table("mp3_synthesis_window_D.txt"), V = std::vector<double>(1024, 0.0);
    void run(const double* S, double* out) {
        for (int i = 1023; i >= 64; --i) V[i] = V[i - 64];
        for (int i = 0; i < 64; ++i) {
            V[i] = 0;
            for (int k = 0; k < 32; ++k) V[i] += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * S[k];
        }
        double U[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) U[64 * i + j] = V[128 * i + j], U[64 * i + 32 + j] = V[128 * i + 96 + j];
        for (int j = 0; j < 32; ++j) {
            out[j] = 0;
            for (int i = 0; i < 16; ++i) out[j] += U[j + 32 * i] * D[j + 32 * i];
        }
    }
};

// Both banks over 48 calls in both modes, against the models; the scalar kernels on a copy of the
// context give the same bits.
TEST(Mp3PqmfFloat, AgainstIsoFormulas) {
    zuft::Rng rng(21);
    for (const int mode : {1, 2}) {
        AnalysisFilterContext_PQMF_MP3_32f* an = nullptr;
        SynthesisFilterContext_PQMF_MP3_32f* sy = nullptr;
        std::vector<Zuf8u> memA(2096), memS(2096), refA(2096), refS(2096);
        ASSERT_EQ(zufsAnalysisFilterInit_PQMF_MP3_32f(&an, memA.data() + 1), zufOk);
        ASSERT_EQ(zufsSynthesisFilterInitAlloc_PQMF_MP3_32f(&sy), zufOk);
        SynthesisFilterContext_PQMF_MP3_32f *ra = nullptr, *rs = nullptr;
        zufsSynthesisFilterInit_PQMF_MP3_32f(&ra, refA.data() + 7);
        zufsSynthesisFilterInit_PQMF_MP3_32f(&rs, refS.data() + 9);
        IsoAnalysis isoA;
        IsoSynthesis isoS;
        double worstA = 0, worstS = 0;
        for (int call = 0; call < 48; ++call) {
            std::vector<float> pcm(64, 99.0f), sb(32), outA(32), outS(64, 99.0f), refOutA(32), refOutS(64, 99.0f);
            for (int i = 0; i < 32; ++i) pcm[i * mode] = rng.uniform(-32768, 32767);
            for (float& v : sb) v = rng.uniform(-1, 1);
            ASSERT_EQ(zufsAnalysisFilter_PQMF_MP3_32f(pcm.data(), outA.data(), an, mode), zufOk);
            ASSERT_EQ(zufsSynthesisFilter_PQMF_MP3_32f(sb.data(), outS.data(), sy, mode), zufOk);
            zuf::sbr::ownsAnalysisPQMF_MP3_32f(pcm.data(), refOutA.data(), ra, mode, false);
            zuf::sbr::ownsSynthesisPQMF_MP3_32f(sb.data(), refOutS.data(), rs, mode, false);
            double S[32], out[32], sd[32];
            float one[32];
            for (int i = 0; i < 32; ++i) one[i] = pcm[i * mode];
            isoA.run(one, S);
            for (int i = 0; i < 32; ++i) sd[i] = sb[i];
            isoS.run(sd, out);
            for (int i = 0; i < 32; ++i) {
                ASSERT_TRUE(zuft::same_bits(outA[i], refOutA[i]));
                ASSERT_TRUE(zuft::same_bits(outS[i * mode], refOutS[i * mode]));
                worstA = std::max(worstA, std::fabs(outA[i] - S[i]));
                worstS = std::max(worstS, std::fabs(outS[i * mode] - out[i]));
                if (mode == 2) {
                    ASSERT_EQ(outS[2 * i + 1], 99.0f);  // the other channel untouched
                }
            }
        }
        // float keeps about 2^-24 of each term: the analysis sums taps of |C| <= 0.036 over samples
        // below 1 (|S| under 1, 5e-7), the synthesis 512 taps of |D| <= 1.15 over sub-band samples
        // below 1 through 32-term cosine sums (|out| up to about 20, 5e-6)
        EXPECT_LT(worstA, 5e-7) << "mode " << mode;
        EXPECT_LT(worstS, 5e-6) << "mode " << mode;
        std::printf("mode %d: analysis worst %.3g, synthesis worst %.3g (absolute)\n", mode, worstA, worstS);
        EXPECT_EQ(zufsSynthesisFilterFree_PQMF_MP3_32f(sy), zufOk);
        EXPECT_EQ(zufsAnalysisFilterFree_PQMF_MP3_32f(an), zufOk);
    }
}

// An impulse after Init reaches the outputs of exactly 16 calls, in either bank; the phase comes
// back to 15 after 16 calls.
TEST(Mp3PqmfFloat, ImpulseReachesSixteenCalls) {
    AnalysisFilterContext_PQMF_MP3_32f* an = nullptr;
    SynthesisFilterContext_PQMF_MP3_32f* sy = nullptr;
    ASSERT_EQ(zufsAnalysisFilterInitAlloc_PQMF_MP3_32f(&an), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInitAlloc_PQMF_MP3_32f(&sy), zufOk);
    for (int call = 0; call < 24; ++call) {
        float in[32] = {}, sb[32] = {}, a[32], s[32];
        in[0] = call == 0 ? 32767.0f : 0.0f;
        sb[5] = call == 0 ? 1.0f : 0.0f;
        zufsAnalysisFilter_PQMF_MP3_32f(in, a, an, 1);
        zufsSynthesisFilter_PQMF_MP3_32f(sb, s, sy, 1);
        bool anyA = false, anyS = false;
        for (int i = 0; i < 32; ++i) anyA |= a[i] != 0, anyS |= s[i] != 0;
        EXPECT_EQ(anyA, call < 16) << call;
        EXPECT_EQ(anyS, call < 16) << call;
        if (call == 15) {
            int32_t phase;
            std::memcpy(&phase, reinterpret_cast<Zuf8u*>(an) + 4, 4);
            EXPECT_EQ(phase, 15);
        }
    }
    zufsAnalysisFilterFree_PQMF_MP3_32f(an);
    zufsSynthesisFilterFree_PQMF_MP3_32f(sy);
}

// Analysis then synthesis: the input comes back, delayed by 481 samples, at 32768 times the scale.
// Also the fixed-point synthesis on the same sub-band samples in Q24 (1.0 = 16-bit full scale).
TEST(Mp3PqmfFloat, ReconstructionAndFixedPointSynthesis) {
    AnalysisFilterContext_PQMF_MP3_32f* an = nullptr;
    SynthesisFilterContext_PQMF_MP3_32f* sy = nullptr;
    ASSERT_EQ(zufsAnalysisFilterInitAlloc_PQMF_MP3_32f(&an), zufOk);
    ASSERT_EQ(zufsSynthesisFilterInitAlloc_PQMF_MP3_32f(&sy), zufOk);
    std::vector<Zuf32s> hist(512, 0);
    int pos = 0;
    zuft::Rng rng(22);
    const int calls = 200, delay = 481;
    std::vector<float> in(32 * calls), out(32 * calls);
    for (size_t n = 0; n < in.size(); ++n)
        in[n] =
            static_cast<float>(8000 * std::sin(0.05 * n) + 6000 * std::sin(0.71 * n + 1) + rng.uniform(-2000, 2000));
    double sig = 0, err = 0;
    int worstFixed = 0;
    for (int c = 0; c < calls; ++c) {
        float sb[32];
        zufsAnalysisFilter_PQMF_MP3_32f(&in[32 * c], sb, an, 1);
        zufsSynthesisFilter_PQMF_MP3_32f(sb, &out[32 * c], sy, 1);
        Zuf32s q[32];
        Zuf16s pcm[32];
        for (int i = 0; i < 32; ++i) q[i] = static_cast<Zuf32s>(std::lrint(std::ldexp(sb[i], 24)));
        ASSERT_EQ(zufsSynthPQMF_MP3_32s16s(q, pcm, hist.data(), &pos, 1), zufOk);
        for (int i = 0; i < 32; ++i) {
            // the float bank on the same rounded samples would differ by at most 2^-24 * 32768 *
            // sum |D| (about 0.02); the 16-bit output rounds (0.5) and the fixed-point kernel
            // truncates its Q-format products (under 1): 2 units
            const float ref = out[32 * c + i] * 32768.0f;
            worstFixed = std::max(worstFixed, static_cast<int>(std::ceil(std::fabs(pcm[i] - ref))));
        }
    }
    for (int n = delay + 512; n < 32 * calls; ++n) {
        const double e = out[n] * 32768.0 - in[n - delay];
        sig += double(in[n - delay]) * in[n - delay], err += e * e;
    }
    const double snr = 10 * std::log10(sig / err);
    // the standard's pseudo-QMF is not perfectly reconstructing: its aliasing and ripple sit
    // near -90 dB
    EXPECT_GT(snr, 80.0);
    EXPECT_LE(worstFixed, 2);
    std::printf("analysis+synthesis SNR %.2f dB, fixed-point synthesis worst %d LSB\n", snr, worstFixed);
    zufsAnalysisFilterFree_PQMF_MP3_32f(an);
    zufsSynthesisFilterFree_PQMF_MP3_32f(sy);
}

TEST(Mp3PqmfFloat, ContextsAndStatuses) {
    int size = 0;
    EXPECT_EQ(zufsAnalysisFilterGetSize_PQMF_MP3_32f(&size), zufOk);
    EXPECT_EQ(size, 2091);
    EXPECT_EQ(zufsSynthesisFilterGetSize_PQMF_MP3_32f(&size), zufOk);
    EXPECT_EQ(size, 2091);
    std::vector<Zuf8u> mem(2091, 0xEE);
    AnalysisFilterContext_PQMF_MP3_32f* an = nullptr;
    SynthesisFilterContext_PQMF_MP3_32f* sy = nullptr;
    ASSERT_EQ(zufsAnalysisFilterInit_PQMF_MP3_32f(&an, mem.data() + 5), zufOk);
    // header at the aligned address: ID, phase 15, ownership 0, the history behind the header
    const auto* h = reinterpret_cast<const SynthesisFilterContext_PQMF_MP3_32f*>(an);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(an) % 16, 0u);
    EXPECT_TRUE(h->id == 0x434D4168u && h->phase == 15 && h->allocated == 0);
    EXPECT_EQ(reinterpret_cast<const Zuf8u*>(h->history), reinterpret_cast<const Zuf8u*>(h) + sizeof(*h));
    for (int i = 0; i < 512; ++i) ASSERT_EQ(h->history[i], 0.0f);
    EXPECT_LE(reinterpret_cast<const Zuf8u*>(h->history + 512), mem.data() + mem.size());
    float src[64] = {}, dst[64];
    zuft::expect_status(
        zufErrNullPtr,
        {zufsAnalysisFilterGetSize_PQMF_MP3_32f(nullptr), zufsSynthesisFilterInit_PQMF_MP3_32f(nullptr, mem.data()),
         zufsAnalysisFilterInit_PQMF_MP3_32f(&an, nullptr), zufsAnalysisFilterInitAlloc_PQMF_MP3_32f(nullptr),
         zufsSynthesisFilterFree_PQMF_MP3_32f(nullptr), zufsAnalysisFilter_PQMF_MP3_32f(src, nullptr, an, 7),
         zufsSynthesisFilter_PQMF_MP3_32f(nullptr, dst, sy, 1)});
    // mode before the context
    SynthesisFilterContext_PQMF_MP3_32f* wrongS = reinterpret_cast<SynthesisFilterContext_PQMF_MP3_32f*>(an);
    zuft::expect_status(zufErrBadArg, {zufsAnalysisFilter_PQMF_MP3_32f(src, dst, an, 0),
                                       zufsSynthesisFilter_PQMF_MP3_32f(src, dst, wrongS, 3)});
    zuft::expect_status(zufErrContext, {zufsSynthesisFilter_PQMF_MP3_32f(src, dst, wrongS, 1),
                                        zufsSynthesisFilterFree_PQMF_MP3_32f(wrongS)});
    EXPECT_EQ(zufsAnalysisFilterFree_PQMF_MP3_32f(an), zufOk);
    EXPECT_EQ(zufsAnalysisFilter_PQMF_MP3_32f(src, dst, an, 1), zufErrContext);
}

}  // namespace
