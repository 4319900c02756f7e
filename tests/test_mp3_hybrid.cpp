// MP3 hybrid synthesis: the vector kernels and the vector inverse hybrid transform against their
// scalar references bit for bit, the transform count carried on, saturation and statuses. Their
// accuracy is the compliance streams' (test_mp3_decode.cpp), which hold every block type, mixed
// blocks included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "mp3/mp3_kernels.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

TEST(Mp3Imdct, Statuses) {
    std::vector<Zuf32s> xr(576, 0), y(576), overlap(576, 0);
    int prev = 0;
    zuft::expect_null_each(zufsMDCTInv_MP3_32s, xr.data(), y.data(), overlap.data(), 0, &prev, 0, 0);
    const int kBad[][4] = {{577, 0, 0, 0}, {-1, 0, 0, 0}, {0, 4, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 33}};
    for (const auto& b : kBad) {  // nonZeroBound, blockType, mixedBlock, *pPrevNumOfImdct
        prev = b[3];
        EXPECT_EQ(zufsMDCTInv_MP3_32s(xr.data(), y.data(), overlap.data(), b[0], &prev, b[1], b[2]), zufErrBadArg);
        EXPECT_EQ(prev, b[3]);
    }
}

// ---------------------------------------------------------------- vector kernels

// Each SSE2 kernel against its scalar reference, bit for bit, at every level from silence to
// values that saturate; the inverse hybrid transform with its vector kernels against the
// all-scalar one, over granule sequences with every block type, mixed blocks and varying bounds.
TEST(Mp3Kernels, VectorKernelsMatchTheirScalarReferences) {
    zuft::Rng rng(45);
    std::vector<Zuf32s> ov_a(576, 0), ov_b(576, 0), y_a(576), y_b(576);
    int prev_a = 0, prev_b = 0;
    for (int rep = 0; rep < 3000; ++rep) {
        const int shift = rep % 31;
        Zuf32s src[64], a[36], b[36], c[36], hist[512];
        for (auto& v : src) v = rng.s32() >> shift;
        zuf::ownsDct32_MP3_ref(src, a);
        zuf::ownsDct32_MP3_sse2(src, b);
        ASSERT_EQ(0, std::memcmp(a, b, 32 * sizeof(Zuf32s))) << "matrixing, rep " << rep;
        for (auto& v : hist) v = rng.s32() >> (rng.u32() % 31);
        zuf::ownsSynthWindow_MP3_ref(hist, rep % 16, a);
        zuf::ownsSynthWindow_MP3_sse2(hist, rep % 16, b);
        ASSERT_EQ(0, std::memcmp(a, b, 32 * sizeof(Zuf32s))) << "window, rep " << rep;

        const int bt = rep % 4, mixed = rng.range(0, 1), nz = rng.range(0, 576);
        Zuf32s w[72], pair[72];
        zuf::ownsImdctPair_MP3_sse2(src, w, bt);
        ASSERT_EQ(zufsMDCTInvWindow_MP3_32s(src, a, bt), zufOk);  // the exported scalar transform
        ASSERT_EQ(zufsMDCTInvWindow_MP3_32s(src + 18, c, bt), zufOk);
        for (int i = 0; i < 36; ++i) pair[2 * i] = a[i], pair[2 * i + 1] = c[i];  // subbands interleaved
        ASSERT_EQ(0, std::memcmp(w, pair, sizeof w)) << "imdct, rep " << rep;

        std::vector<Zuf32s> xr(576, 0);
        for (int i = 0; i < nz; ++i) xr[i] = rng.s32() >> shift;
        auto xb = xr;
        zuf::ownsMDCTInv_MP3(xr.data(), y_a.data(), ov_a.data(), nz, &prev_a, bt, mixed);
        zuf::ownsMDCTInv_MP3_ref(xb.data(), y_b.data(), ov_b.data(), nz, &prev_b, bt, mixed);
        ASSERT_EQ(std::tie(xr, y_a, ov_a, prev_a), std::tie(xb, y_b, ov_b, prev_b)) << "hybrid, rep " << rep;
        // The transforms carried to the next granule: the subbands that hold lines, and below 32
        // long blocks the one that alias reduction spills into; mixed blocks at least their 2 long ones.
        const int n = bt == 2 ? std::max((nz + 17) / 18, mixed ? 2 : 0) : std::min(32, (nz + 8) / 18 + 1);
        EXPECT_EQ(prev_a, n) << "rep " << rep;
    }
}

// ---------------------------------------------------------------- synthesis

TEST(Mp3Synthesis, SaturationAndStatuses) {
    std::vector<Zuf32s> hist(512, 0);
    int pos = 5;
    Zuf32s in[32] = {1 << 28};
    Zuf16s pcm[32];
    // A DC level far above full scale saturates; after 16 slots the history is full of it.
    for (int s = 0; s < 16; ++s) zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, 1);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], 32767) << j;
    // Interleaved (step 2): every other entry, the others stay.
    in[0] = -(1 << 28);
    Zuf16s pcm2[64];
    std::fill(pcm2, pcm2 + 64, 1234);
    for (int s = 0; s < 16; ++s) zufsSynthPQMF_MP3_32s16s(in, pcm2, hist.data(), &pos, 2);
    for (int j = 0; j < 32; ++j) EXPECT_TRUE(pcm2[2 * j] == -32768 && pcm2[2 * j + 1] == 1234) << j;

    zuft::expect_null_each(zufsSynthPQMF_MP3_32s16s, static_cast<const Zuf32s*>(in), pcm, hist.data(), &pos, 1);
    for (auto [p, step] : {std::pair{0, 3}, {0, 0}, {16, 1}, {-1, 1}}) {  // *pHistoryPos, step
        pos = p;
        EXPECT_EQ(zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, step), zufErrBadArg);
        EXPECT_EQ(pos, p);
    }
}

}  // namespace
