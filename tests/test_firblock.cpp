// FIR block filter: history across calls against direct-form models, the fixed summation
// order bit for bit, the identity and pure-delay filters, statuses, and allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "common/context.h"
#include "frame/vec_kernels.h"
#include "test_vector_helpers.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::Placed;
using zuft::Rng;

struct Ctx {
    FirBlockContext_32f* p = nullptr;
    Ctx(int taps, int block) { EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, taps, block), zufOk); }
    ~Ctx() {
        if (p) {
            EXPECT_EQ(zufsFIRBlockFree_32f(p), zufOk);
        }
    }
};

// The whole input history, newest block last; x(k) is the block k calls back, zeros before
// the first call.
struct History {
    int block;
    std::vector<std::vector<float>> blocks;
    float x(int k, int j) const {
        const int n = static_cast<int>(blocks.size()) - 1 - k;
        return n < 0 ? 0.0f : blocks[n][j];
    }
};

// Single precision in the documented order: last tap times the oldest block plus the first tap
// times the current one, then taps 1 .. T-2 in turn.
float model_ordered(const History& h, const std::vector<float>& taps, int j) {
    const int t = static_cast<int>(taps.size());
    if (t == 1) return taps[0] * h.x(0, j);
    float acc = taps[t - 1] * h.x(t - 1, j) + taps[0] * h.x(0, j);
    for (int k = 1; k <= t - 2; ++k) acc += taps[k] * h.x(k, j);
    return acc;
}

// The convolution in double, with the size of its terms for a tolerance.
double model_direct(const History& h, const std::vector<float>& taps, int j, double* mag) {
    double y = 0;
    *mag = 0;
    for (std::size_t k = 0; k < taps.size(); ++k) {
        y += static_cast<double>(taps[k]) * h.x(static_cast<int>(k), j);
        *mag += std::fabs(static_cast<double>(taps[k]) * h.x(static_cast<int>(k), j));
    }
    return y;
}

TEST(FirBlock, AgainstModelsOverManyCalls) {
    Rng rng(41);
    for (int taps : {1, 2, 3, 4, 5, 8, 13}) {
        for (int block : {1, 3, 4, 7, 16, 17, 33, 64, 70}) {
            Ctx vec(taps, block), ref(taps, block);
            std::vector<float> h(taps);
            for (float& v : h) v = rng.uniform(-1, 1);
            Placed<Zuf32f> ph(taps, (taps * 4) % 16);
            ph.assign(h);
            History hist{block, {}};
            for (int call = 0; call < 3 * taps + 4; ++call) {
                const std::size_t ms = vt::kMis32[call % 4], md = vt::kMis32[(call / 4) % 4];
                Placed<Zuf32f> src(block, ms), dst(block, md), dref(block, 0);
                std::vector<float> x(block);
                for (float& v : x) v = rng.uniform(-100, 100);
                src.assign(x);
                hist.blocks.push_back(x);
                const bool aligned = ms == 0 && md == 0 && taps % 4 == 0;
                ASSERT_EQ(zufsFIRBlockOne_32f(src.data(), dst.data(), vec.p, ph.data()),
                          aligned ? zufOk : zufWarnMisaligned);
                zuf::ownsFIRBlockOne_32f_ref(src.data(), dref.data(), ref.p, ph.data());
                for (int j = 0; j < block; ++j) {
                    ASSERT_EQ(bits_of(dst[j]), bits_of(model_ordered(hist, h, j)))
                        << "taps " << taps << " block " << block << " call " << call << " j " << j;
                    ASSERT_EQ(bits_of(dref[j]), bits_of(dst[j]));
                    double mag;
                    const double want = model_direct(hist, h, j, &mag);
                    ASSERT_NEAR(dst[j], want, mag * 1e-6 + 1e-30);
                }
                ASSERT_TRUE(dst.guards_intact());
                ASSERT_EQ(vec.p->delayIndex, ref.p->delayIndex);
            }
        }
    }
}

// In place (pDst == pSrc): each input is consumed before its output replaces it.
TEST(FirBlock, InPlace) {
    Rng rng(42);
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

TEST(FirBlock, IdentityAndTwoBlockDelay) {
    alignas(16) const float ident[3] = {1, 0, 0}, delay2[3] = {0, 0, 1};
    Ctx a(3, 6), b(3, 6);
    std::vector<std::vector<float>> inputs;
    for (int call = 0; call < 6; ++call) {
        alignas(16) float x[6], ya[6], yb[6];
        for (int j = 0; j < 6; ++j) x[j] = static_cast<float>(call * 10 + j + 1);
        inputs.emplace_back(x, x + 6);
        ASSERT_EQ(zufsFIRBlockOne_32f(x, ya, a.p, ident), zufOk);
        ASSERT_EQ(zufsFIRBlockOne_32f(x, yb, b.p, delay2), zufOk);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(ya[j], x[j]);
            EXPECT_EQ(yb[j], call < 2 ? 0.0f : inputs[call - 2][j]) << "call " << call;
        }
    }
    // One tap: a plain gain, no history.
    Ctx c(1, 5);
    alignas(16) const float g[4] = {-3.0f};
    alignas(16) float x[5] = {1, 2, 3, 4, 5}, y[5];
    for (int call = 0; call < 3; ++call) {
        ASSERT_EQ(zufsFIRBlockOne_32f(x, y, c.p, g), zufOk);
        for (int j = 0; j < 5; ++j) EXPECT_EQ(y[j], -3.0f * x[j]);
        EXPECT_EQ(c.p->delayIndex, 0);
    }
}

TEST(FirBlock, ContextLayoutAndStatuses) {
    Ctx c(3, 5);
    ASSERT_NE(c.p, nullptr);
    EXPECT_EQ(c.p->tapsLen, 3);
    EXPECT_EQ(c.p->blockLen, 5);
    EXPECT_EQ(c.p->blockStride, 8);
    EXPECT_EQ(c.p->delayIndex, 0);
    EXPECT_EQ(c.p->idCtx, 58u);
#if defined(__i386__)
    EXPECT_EQ(sizeof(FirBlockContext_32f), 16u);
    EXPECT_EQ(zuf::context_word(c.p, 3), 58u);  // the fourth word
#endif
    alignas(16) float x[8] = {1, 2, 3, 4, 5}, y[8] = {}, h[4] = {1, 1, 1};
    EXPECT_EQ(zufsFIRBlockOne_32f(nullptr, y, c.p, h), zufErrNullPtr);
    EXPECT_EQ(zufsFIRBlockOne_32f(x, nullptr, c.p, h), zufErrNullPtr);
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, nullptr, h), zufErrNullPtr);
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, nullptr), zufErrNullPtr);
    // A damaged ID is refused before the lengths are looked at.
    c.p->idCtx = 57;
    c.p->tapsLen = 0;
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, h), zufErrContext);
    EXPECT_EQ(zufsFIRBlockFree_32f(c.p), zufErrContext);
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
    EXPECT_EQ(c.p->delayIndex, 1);
    EXPECT_EQ(y[0], 1.0f);  // all history still zero
    // Misalignment of any of the three arrays is reported, and the work is done.
    alignas(16) float big[12] = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(zufsFIRBlockOne_32f(big + 1, y, c.p, h), zufWarnMisaligned);
    EXPECT_EQ(y[0], 1.0f + 1.0f);
    EXPECT_EQ(zufsFIRBlockOne_32f(x, big + 2, c.p, h), zufWarnMisaligned);
    EXPECT_EQ(zufsFIRBlockOne_32f(x, y, c.p, big + 3), zufWarnMisaligned);
    EXPECT_EQ(zufsFIRBlockFree_32f(nullptr), zufErrNullPtr);
}

// ---------------------------------------------------------------- allocation

int g_mallocs, g_frees, g_fail_at;
void* counting_malloc(size_t n) {
    if (++g_mallocs == g_fail_at) return nullptr;
    return std::malloc(n);
}
void counting_free(void* p) {
    ++g_frees;
    std::free(p);
}

struct HookGuard {
    void* (*m)(size_t) = i_malloc;
    void (*f)(void*) = i_free;
    HookGuard() {
        g_mallocs = g_frees = 0;
        g_fail_at = 0;
        i_malloc = counting_malloc;
        i_free = counting_free;
    }
    ~HookGuard() {
        i_malloc = m;
        i_free = f;
    }
};

TEST(FirBlock, InitAllocAndFree) {
    FirBlockContext_32f* p = reinterpret_cast<FirBlockContext_32f*>(&g_mallocs);  // a marker
    FirBlockContext_32f* const marker = p;
    {
        HookGuard g;
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(nullptr, 0, 0), zufErrNullPtr);
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 0, 4), zufErrFirLen);
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 4, -1), zufErrFirLen);
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 32768, 4), zufErrSize);
        EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 4, 32765), zufErrSize);
        EXPECT_EQ(g_mallocs, 0);
        EXPECT_EQ(p, marker);

        for (int fail : {1, 2}) {  // the context, then the delay buffer
            g_mallocs = g_frees = 0;
            g_fail_at = fail;
            EXPECT_EQ(zufsFIRBlockInitAlloc_32f(&p, 4, 10), zufErrNoMemory);
            EXPECT_EQ(g_mallocs, fail);
            EXPECT_EQ(g_frees, fail - 1);  // the context is released again
            EXPECT_EQ(p, marker);
        }

        g_mallocs = g_frees = 0;
        g_fail_at = 0;
        ASSERT_EQ(zufsFIRBlockInitAlloc_32f(&p, 5, 10), zufOk);
        EXPECT_EQ(g_mallocs, 2);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p->pDelay) % 32, 0u);
        for (int i = 0; i < 5 * 12; ++i) ASSERT_EQ(p->pDelay[i], 0.0f);  // tapsLen x blockStride, zeroed
        EXPECT_EQ(zufsFIRBlockFree_32f(p), zufOk);
        EXPECT_EQ(g_frees, 2);

        // The largest context the 16-bit fields hold is accepted by the checks (allocation may
        // still fail, which is reported as such).
        const zufResult big = zufsFIRBlockInitAlloc_32f(&p, 2, 32764);
        ASSERT_TRUE(big == zufOk || big == zufErrNoMemory);
        if (big == zufOk) {
            EXPECT_EQ(p->blockStride, 32764);
            EXPECT_EQ(zufsFIRBlockFree_32f(p), zufOk);
        }
        EXPECT_EQ(g_mallocs, g_frees);
    }
    EXPECT_NE(i_malloc, counting_malloc);
    EXPECT_NE(i_free, counting_free);
}

}  // namespace
