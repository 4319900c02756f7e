// FIR block filter: history across calls against direct-form models, the fixed summation
// order bit for bit, statuses, and allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <tuple>
#include <vector>

#include "common/context.h"
#include "frame/vec_kernels.h"
#include "support/alloc_hooks.h"
#include "support/checkasm.h"
#include "support/test_util.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::Placed;

struct Ctx {
    FirBlockContext_32f* p = nullptr;
    Ctx(int taps, int block) { EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, taps, block), zufOk); }
    ~Ctx() { EXPECT_EQ(p ? zufsFIRBlockFree_32f(p) : zufOk, zufOk); }
};

TEST(FirBlock, AgainstModelsOverManyCalls) {
    zuft::Rng rng(41);
    for (int taps : {1, 2, 3, 4, 5, 8, 13}) {
        for (int block : {1, 3, 4, 7, 16, 17, 33, 64, 70}) {
            Ctx vec(taps, block), ref(taps, block);
            std::vector<float> h(taps);
            for (float& v : h) v = rng.uniform(-1, 1);
            Placed<Zuf32f> ph(taps, (taps * 4) % 16);
            ph.assign(h);
            // The whole input history, newest block last; x(k, j) is the block k calls back,
            // zeros before the first call.
            std::vector<std::vector<float>> hist;
            auto x = [&](int k, int j) {
                const int n = static_cast<int>(hist.size()) - 1 - k;
                return n < 0 ? 0.0f : hist[n][j];
            };
            for (int call = 0; call < 3 * taps + 4; ++call) {
                const std::size_t ms = 4 * (call % 4), md = 4 * ((call / 4) % 4);
                Placed<Zuf32f> src(block, ms), dst(block, md), dref(block, 0);
                for (int j = 0; j < block; ++j) src[j] = rng.uniform(-100, 100);
                hist.push_back(src.vec());
                const bool aligned = ms == 0 && md == 0 && taps % 4 == 0;
                ASSERT_EQ(zufsFIRBlockOne_32f(src.data(), dst.data(), vec.p, ph.data()),
                          aligned ? zufOk : zufWarnMisaligned);
                zuf::ownsFIRBlockOne_32f_ref(src.data(), dref.data(), ref.p, ph.data());
                for (int j = 0; j < block; ++j) {
                    // Single precision in the documented order: last tap times the oldest block
                    // plus the first tap times the current one, then taps 1 .. T-2 in turn.
                    float acc = taps == 1 ? h[0] * x(0, j) : h[taps - 1] * x(taps - 1, j) + h[0] * x(0, j);
                    for (int k = 1; k <= taps - 2; ++k) acc += h[k] * x(k, j);
                    // The convolution in double, with the size of its terms for a tolerance.
                    double y = 0, mag = 0;
                    for (int k = 0; k < taps; ++k)
                        y += double(h[k]) * x(k, j), mag += std::fabs(double(h[k]) * x(k, j));
                    ASSERT_EQ(bits_of(dst[j]), bits_of(acc))
                        << "taps " << taps << " block " << block << " call " << call;
                    ASSERT_EQ(bits_of(dref[j]), bits_of(dst[j]));
                    ASSERT_NEAR(dst[j], y, mag * 1e-6 + 1e-30);
                }
                ASSERT_TRUE(dst.guards_intact());
                ASSERT_EQ(vec.p->delayIndex, ref.p->delayIndex);
            }
        }
    }
}

// In place (pDst == pSrc): each input is consumed before its output replaces it.
TEST(FirBlock, InPlace) {
    zuft::Rng rng(42);
    Ctx a(4, 37), b(4, 37);
    alignas(16) const float h[4] = {0.5f, -0.25f, 2.0f, 0.125f};
    for (int call = 0; call < 9; ++call) {
        alignas(16) float x[37], y[37];
        for (float& v : x) v = rng.uniform(-1, 1);
        ASSERT_EQ(zufsFIRBlockOne_32f(x, y, a.p, h), zufOk);
        ASSERT_EQ(zufsFIRBlockOne_32f(x, x, b.p, h), zufOk);
        ASSERT_EQ(std::memcmp(x, y, sizeof x), 0);
    }
}

TEST(FirBlock, ContextLayoutAndStatuses) {
    Ctx c(3, 5);
    ASSERT_NE(c.p, nullptr);
    const auto fields = std::make_tuple(c.p->tapsLen, c.p->blockLen, c.p->blockStride, c.p->delayIndex, c.p->idCtx);
    EXPECT_EQ(fields, (std::make_tuple<int16_t, int16_t, int16_t, int16_t, uint32_t>(3, 5, 8, 0, 58)));
#if defined(__i386__)
    EXPECT_EQ(sizeof(FirBlockContext_32f), 16u);
    EXPECT_EQ(zuf::context_word(c.p, 3), 58u);  // the fourth word
#endif
    alignas(16) float x[8] = {1, 2, 3, 4, 5}, y[8] = {}, h[4] = {1, 1, 1};
    zuft::expect_status(zufErrNullPtr, {zufsFIRBlockOne_32f(nullptr, y, c.p, h),
                                        zufsFIRBlockOne_32f(x, nullptr, c.p, h), zufsFIRBlockOne_32f(x, y, nullptr, h),
                                        zufsFIRBlockOne_32f(x, y, c.p, nullptr), zufsFIRBlockFree_32f(nullptr)});
    // A damaged ID is refused before the lengths are looked at.
    c.p->idCtx = 57;
    c.p->tapsLen = 0;
    zuft::expect_status(zufErrContext, {zufsFIRBlockOne_32f(x, y, c.p, h), zufsFIRBlockFree_32f(c.p)});
    c.p->idCtx = 58;
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, h), zufErrFirLen);
    c.p->tapsLen = 3;
    c.p->blockLen = -1;
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, h), zufErrFirLen);
    c.p->blockLen = 5;
    for (int bad : {-1, 3, 100}) {
        c.p->delayIndex = static_cast<int16_t>(bad);
        EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, h), zufErrFirLen) << bad;
    }
    c.p->delayIndex = 2;  // tapsLen - 1 is still accepted; the ring wraps from it
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, h), zufOk);
    EXPECT_TRUE(c.p->delayIndex == 1 && y[0] == 1.0f);  // all history still zero
    // Misalignment of any of the three arrays is reported, and the work is done.
    alignas(16) float big[12] = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(zufsFIRBlockOne_32f(big + 1, y, c.p, h), zufWarnMisaligned);
    EXPECT_EQ(y[0], 1.0f + 1.0f);
    zuft::expect_status(zufWarnMisaligned,
                        {zufsFIRBlockOne_32f(x, big + 2, c.p, h), zufsFIRBlockOne_32f(x, y, c.p, big + 3)});
}

TEST(FirBlock, InitAllocAndFree) {
    static int marker_word;
    FirBlockContext_32f* const marker = reinterpret_cast<FirBlockContext_32f*>(&marker_word);
    FirBlockContext_32f* p = marker;
    zuft::CountingHooks hooks;
    zuft::expect_status(zufErrNullPtr, {zufsFIRBlockInitAlloc_32f(nullptr, 0, 0)});
    zuft::expect_status(zufErrFirLen, {zufsFIRBlockInitAlloc_32f(&p, 0, 4), zufsFIRBlockInitAlloc_32f(&p, 4, -1)});
    zuft::expect_status(zufErrSize, {zufsFIRBlockInitAlloc_32f(&p, 32768, 4), zufsFIRBlockInitAlloc_32f(&p, 4, 32765)});
    EXPECT_TRUE(hooks.mallocs == 0 && p == marker);
    for (int fail : {1, 2}) {  // the context, then the delay buffer
        zuft::CountingHooks failing(fail);
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 4, 10), zufErrNoMemory);
        // The context is released again; the caller's pointer stays as it was.
        EXPECT_TRUE(failing.mallocs == fail && failing.frees == fail - 1 && p == marker) << fail;
    }
    zuft::CountingHooks counted;
    ASSERT_EQ(zufsFIRBlockInitAlloc_32f(&p, 5, 10), zufOk);
    EXPECT_EQ(counted.mallocs, 2);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p->pDelay) % 32, 0u);
    for (int i = 0; i < 5 * 12; ++i) ASSERT_EQ(p->pDelay[i], 0.0f);  // tapsLen x blockStride, zeroed
    EXPECT_EQ(zufsFIRBlockFree_32f(p), zufOk);
    EXPECT_EQ(counted.frees, 2);
    // The largest context the 16-bit fields hold passes the checks (allocation may still fail).
    const zufResult big = zufsFIRBlockInitAlloc_32f(&p, 2, 32764);
    ASSERT_TRUE(big == zufOk || big == zufErrNoMemory);
    if (big == zufOk) {
        EXPECT_EQ(p->blockStride, 32764);
        EXPECT_EQ(zufsFIRBlockFree_32f(p), zufOk);
    }
    EXPECT_EQ(counted.mallocs, counted.frees);
}

}  // namespace
