// TwinVQ codebook search against brute-force searches in double precision, the tie and polarity
// rules on a hand-built codebook, exact reconstruction, statuses and the context lifecycle; the
// integer spreading function against the ISO/IEC 13818-7 formula in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "support/alloc_hooks.h"
#include "support/checkasm.h"
#include "support/test_util.h"
#include "vq/spread_tables.h"
#include "vq/vq_codebook.h"
#include "zufack9/zuf_vq.h"

namespace {

using V = std::vector<float>;
using I = std::vector<int>;
using Pick = std::pair<int, int>;  // codeword index, sign flag

V random(zuft::Rng& rng, int n, float lo) {
    V v(n);
    for (float& f : v) f = rng.uniform(lo, 1.0f);
    return v;
}

// A codebook built by Init in caller memory.
struct Book {
    int dim, height;
    V words;
    std::vector<Zuf8u> mem;
    VQCodeBookContext_32f* ctx = nullptr;
    Book(V w, int d, int h) : dim(d), height(h), words(std::move(w)), mem(4 * (h * (4 * d + 52) + 244)) {
        EXPECT_EQ(zufsVQCodeBookInit_32f(words.data(), &ctx, d, h, mem.data()), zufOk);
    }
    Book(zuft::Rng& rng, int d, int h) : Book(random(rng, d * h, -1.0f), d, h) {}
    double at(Pick p, int i) const { return (1 - 2 * p.second) * (i < dim ? words[p.first * dim + i] : 0.0); }
};

// sum w (x - (g0 + g1) / div)^2 in double, g = (1 - 2 flag) codeword; b1 null: g1 = 0.
double dist(const float* x, const float* w, int len, const Book& b0, Pick p0, const Book* b1, Pick p1, double div) {
    double d = 0;
    for (int i = 0; i < len; ++i) d += w[i] * std::pow(x[i] - (b0.at(p0, i) + (b1 ? b1->at(p1, i) : 0.0)) / div, 2);
    return d;
}

void expect_close(double got, double want, const char* what) { EXPECT_NEAR(got, want, 2e-5 * want + 1e-9) << what; }

// Two int arrays and the pair of pointers that the search functions take.
struct Two {
    I v[2];
    int* p[2];
    Two(I a, I b) : v{std::move(a), std::move(b)}, p{v[0].data(), v[1].data()} {}
    Two(int n, int fill) : Two(I(n, fill), I(n, fill)) {}
    bool operator==(const Two& o) const { return v[0] == o.v[0] && v[1] == o.v[1]; }
};
// Entry e of codebook k in a result kept as t[0] = indices, t[1] = signs (each for both books).
Pick pk(const Two* t, int k, int e) { return {t[0].v[k][e], t[1].v[k][e]}; }

// Lengths of 11 and more run the four-lane kernels, lengths beyond dim the zero-extended loop. A
// negation that the polarity forbids would show as a distance below the brute-force one.
TEST(VQ, SelectionsAgainstBruteForce) {
    struct Case {
        int dim, h0, h1, nCand, divisor;
        I lens;
    } const cases[] = {{4, 16, 16, 3, 2, {4, 4, 4}},      {8, 32, 24, 5, 2, {8, 8}},     {11, 20, 40, 8, 3, {11, 6}},
                       {16, 64, 64, 16, 2, {16, 16, 9}},  {3, 6, 5, 8, 1, {3, 3, 3, 2}}, {5, 9, 9, 1, 2, {5, 7}},
                       {13, 128, 100, 6, 2, {13, 12, 11}}};
    zuft::Rng rng(91);
    for (const Case& c : cases) {
        const int nSub = static_cast<int>(c.lens.size()), nc = c.nCand, *L = c.lens.data();
        const Book bk[2] = {{rng, c.dim, c.h0}, {rng, c.dim, c.h1}};
        VQCodeBookContext_32f* ctx[2] = {bk[0].ctx, bk[1].ctx};
        for (int trial = 0; trial < 4; ++trial) {
            const V xv = random(rng, 64, -1.0f), wv = random(rng, 64, 0.1f);
            const float *x = xv.data(), *w = wv.data();
            Two pol(nSub, 0), cand[2] = {{nSub * nc, 7}, {nSub * nc, 7}}, main[2] = {{nSub, 7}, {nSub, 7}},
                              idx[2] = {{nSub, 7}, {nSub, 7}};
            for (int k = 0; k < 2; ++k) {
                for (int& f : pol.v[k]) f = rng.range(0, 2);  // 2 forbids the negation as 0 does
                ASSERT_EQ(zufsVQPreliminarySelect_32f(x, w, nSub, L, cand[0].p[k], cand[1].p[k], nc, pol.p[k], ctx[k]),
                          0);
            }
            ASSERT_EQ(
                zufsVQMainSelect_32f(x, w, L, nSub, nc, cand[0].p, cand[1].p, main[0].p, main[1].p, ctx, c.divisor), 0);
            ASSERT_EQ(zufsVQIndexSelect_32f(x, w, nSub, L, nc, pol.p, idx[0].p, idx[1].p, ctx, 2), 0);
            for (int s = 0; s < nSub; x += L[s], w += L[s], ++s) {
                // Per book: every codeword with its better allowed sign, sorted unless nCand >= height,
                // against the preliminary selection: the same distances in the same order.
                std::vector<std::pair<double, Pick>> kept[2];
                for (int k = 0; k < 2; ++k) {
                    for (int j = 0; j < bk[k].height; ++j) {
                        const double dm = dist(x, w, L[s], bk[k], {j, 0}, nullptr, {}, 1),
                                     dp = dist(x, w, L[s], bk[k], {j, 1}, nullptr, {}, 1);
                        kept[k].push_back({pol.v[k][s] == 1 && dp < dm ? dp : dm, {j, pol.v[k][s] == 1 && dp < dm}});
                    }
                    if (nc < bk[k].height) std::stable_sort(kept[k].begin(), kept[k].end());
                    kept[k].resize(std::min(nc, bk[k].height));
                    for (int e = 0; e < nc; ++e) {
                        const Pick got = pk(cand, k, s * nc + e);
                        const bool none = e >= bk[k].height;  // index order when nCand >= height
                        EXPECT_TRUE(none ? got == Pick(-1, 0) : nc < bk[k].height || got.first == e);
                        if (!none)
                            expect_close(dist(x, w, L[s], bk[k], got, nullptr, {}, 1), kept[k][e].first, "preliminary");
                    }
                }
                // The best pair among the candidates (main selection) and among the brute-force
                // kept lists (index selection).
                double bestMain = 1e300, bestIdx = 1e300;
                for (int a = s * nc; a < s * nc + nc; ++a)
                    for (int b = s * nc; b < s * nc + nc; ++b)
                        if (cand[0].v[0][a] >= 0 && cand[0].v[1][b] >= 0)
                            bestMain = std::min(
                                bestMain, dist(x, w, L[s], bk[0], pk(cand, 0, a), &bk[1], pk(cand, 1, b), c.divisor));
                for (auto [da, pa] : kept[0])
                    for (auto [db, pb] : kept[1])
                        bestIdx = std::min(bestIdx, dist(x, w, L[s], bk[0], pa, &bk[1], pb, 2));
                expect_close(dist(x, w, L[s], bk[0], pk(main, 0, s), &bk[1], pk(main, 1, s), c.divisor), bestMain,
                             "main");
                expect_close(dist(x, w, L[s], bk[0], pk(idx, 0, s), &bk[1], pk(idx, 1, s), 2), bestIdx, "index");
            }
            // Reconstruction from the index selection: codebook 0 assigns, 1 adds, then times 1/2.
            Two mult(idx[1].v[0], idx[1].v[1]);
            for (I& m : mult.v) std::transform(m.begin(), m.end(), m.begin(), [](int f) { return 1 - 2 * f; });
            V out(64, 9);
            ASSERT_EQ(zufsVQReconstruction_32f(idx[0].p, mult.p, L, nSub, 2, out.data(), ctx), zufOk);
            for (int s = 0, i = 0; s < nSub; ++s)
                for (int e = 0; e < L[s]; ++e, ++i) {
                    const float g0 = float(mult.v[0][s]) * float(bk[0].at({idx[0].v[0][s], 0}, e));
                    EXPECT_EQ(out[i], (g0 + float(mult.v[1][s]) * float(bk[1].at({idx[0].v[1][s], 0}, e))) * 0.5f);
                }
        }
    }
}

// The four-lane kernels: each _sse2 equal to its _ref bit for bit at every placement.
TEST(VQ, FourLaneKernelsMatchTheirReferences) {
    using namespace zuf;
    zuft::Rng rng(94);
    for (std::size_t len : zuft::kLens)
        for (std::size_t pl = 0; pl < 4; ++pl) {
            zuft::Placed<Zuf32f> v[4] = {{len, 4 * pl}, {len, 12 - 4 * pl}, {len, 8 * (pl & 1)}, {len, 4 * (pl >> 1)}};
            for (auto& a : v)
                for (std::size_t i = 0; i < len; ++i) a[i] = rng.uniform(&a == &v[1] ? 0 : -1, 1);  // v[1]: weights
            const float *x = v[0].data(), *w = v[1].data(), *c0 = v[2].data(), *c1 = v[3].data();
            const int n = static_cast<int>(len);  // r[k]: d_minus, d_plus, pair, cross of _ref (0), _sse2 (1)
            float r[2][4];
            for (int k = 0; k < 2; ++k) {
                (k ? ownsVQDistancePair_32f_sse2 : ownsVQDistancePair_32f_ref)(x, w, c0, n, pl & 1, r[k], r[k] + 1);
                r[k][2] = (k ? ownsVQPairDistance_32f_sse2 : ownsVQPairDistance_32f_ref)(x, w, n, c0, -1, c1, 1, 0.3f);
                r[k][3] = (k ? ownsVQPairCross_32f_sse2 : ownsVQPairCross_32f_ref)(w, n, c0, 1, c1, -1);
            }
            for (int e = 0; e < 4; ++e) EXPECT_TRUE(zuft::same_bits(r[0][e], r[1][e])) << len << " " << e;
        }
}

// Ties and polarity on the codebook A B A D, A = (1, 2); sub-vectors x = A, x = 0, x = NaN.
TEST(VQ, TieAndPolarityRules) {
    V words = {1, 2, 5, 5, 1, 2, -3, 0}, xv = {1, 2, 0, 0, NAN, 1}, wv(6, 1.0f), out(6);
    const Book b(words, 2, 4), b2(words, 2, 4);
    VQCodeBookContext_32f* ctx[2] = {b.ctx, b2.ctx};
    const float *x = xv.data(), *w = wv.data();
    const int L[3] = {2, 2, 2};
    Two pol(I{1, 1, 1}, I{0, 0, 0}), c(6, 9), o(3, 9), os(3, 9), all(8, 9);
    // The later of two equal codewords first; x = 0: every codeword negated; NaN: none kept.
    ASSERT_EQ(zufsVQPreliminarySelect_32f(x, w, 3, L, c.p[0], c.p[1], 2, pol.p[0], b.ctx), 0);
    EXPECT_TRUE(c == Two(I{2, 0, 2, 0, -1, -1}, I{0, 0, 1, 1, 0, 0}));
    // The first of equal pairs wins; with no accepted pair the previous outputs repeat. Index
    // selection at x = 0 keeps the stored codewords, so A + D is best (tied by A + D, D + A later).
    const int* both1[2] = {pol.p[0], pol.p[0]};
    ASSERT_EQ(zufsVQIndexSelect_32f(x, w, 3, L, 4, both1, o.p, os.p, ctx, 2), zufOk);
    EXPECT_TRUE(o == Two(I{0, 0, 0}, I{0, 3, 3}) && os == Two(3, 0));
    const Two ci(I{2, 0, 1, 3, 0, 1}, I{2, 0, 1, 3, 0, 1}), cs(I{0, 0, 0, 1, 0, 0}, I{0, 0, 0, 1, 0, 0});
    ASSERT_EQ(zufsVQMainSelect_32f(x, w, L, 3, 2, ci.p, cs.p, o.p, os.p, ctx, 2), zufOk);
    EXPECT_TRUE(o == Two(I{2, 3, 3}, I{2, 3, 3}) && os == Two(I{0, 1, 1}, I{0, 1, 1}));
    // nCand >= height: index order, then no codeword; polarity 0: no negation.
    ASSERT_EQ(zufsVQPreliminarySelect_32f(x, w, 1, L, all.p[0], all.p[1], 8, pol.p[1], b.ctx), 0);
    EXPECT_TRUE(all == Two(I{0, 1, 2, 3, -1, -1, -1, -1}, I(8, 0)));
    // Reconstruction with one codebook and multipliers 1: the codewords themselves.
    const int *ri[1] = {all.p[0] + 1}, ones[3] = {1, 1, 1}, *rs[1] = {ones};
    ASSERT_EQ(zufsVQReconstruction_32f(ri, rs, L, 3, 1, out.data(), ctx), zufOk);
    EXPECT_EQ(out, V(words.begin() + 2, words.end()));
}

TEST(VQ, StatusesInDocumentedOrder) {
    Book b(V(32, 0.5f), 4, 8);
    VQCodeBookContext_32f *ctx[2] = {b.ctx, b.ctx}, *nul[2] = {b.ctx, nullptr}, *pc = nullptr;
    float x[8] = {}, w[8] = {};
    int len[2] = {4, 4}, i4[8], s4[8], one[2] = {1, 1}, size = 0;
    int* pi[2] = {i4, s4};
    const int *ci[2] = {i4, s4}, *cz[2] = {nullptr, s4};
    Zuf16s d16;
    // Null pointers come before sizes and before the nSubVec test.
    zuft::expect_status(
        zufErrNullPtr,
        {zufsVQCodeBookGetSize_32f(0, 0, nullptr), zufsVQCodeBookInit_32f(nullptr, &pc, 0, 1, b.mem.data()),
         zufsVQCodeBookInit_32f(x, &pc, 4, 1, nullptr), zufsVQCodeBookInitAlloc_32f(nullptr, &pc, 4, 1),
         zufsVQCodeBookInitAlloc_32f(x, nullptr, 4, 1), zufsVQCodeBookFree_32f(nullptr),
         zufsVQPreliminarySelect_32f(x, w, 0, len, i4, s4, 1, one, nullptr),
         zufsVQMainSelect_32f(x, w, len, 0, 1, cz, ci, pi, pi, ctx, 2),
         zufsVQMainSelect_32f(x, w, len, 0, 1, ci, ci, pi, pi, nul, 2),
         zufsVQIndexSelect_32f(x, w, 0, len, 1, cz, pi, pi, ctx, 2),
         zufsVQIndexSelect_32f(x, w, 0, len, 1, ci, pi, pi, nul, 2),
         zufsVQReconstruction_32f(ci, cz, len, 0, 1, x, ctx), zufsVQReconstruction_32f(ci, ci, len, 0, 2, x, nul),
         zufsSpread_16s_Sfs(0, 0, 0, nullptr)});
    zuft::expect_status(zufErrSize, {zufsVQCodeBookGetSize_32f(0, 5, &size), zufsVQCodeBookGetSize_32f(5, -1, &size),
                                     zufsVQCodeBookGetSize_32f(1 << 16, 1 << 16, &size),
                                     zufsVQCodeBookInit_32f(x, &pc, 4, 0, b.mem.data()),
                                     zufsVQCodeBookInitAlloc_32f(nullptr, nullptr, 0, 1)});
    // nSubVec < 1, nCand < 1 and nCodeBook < 2 (index selection): zufOk with nothing written.
    i4[0] = s4[0] = 77;
    zuft::expect_status(zufOk,
                        {zufsVQPreliminarySelect_32f(x, w, 0, len, i4, s4, 1, one, b.ctx),
                         zufsVQPreliminarySelect_32f(x, w, 2, len, i4, s4, 0, one, b.ctx),
                         zufsVQMainSelect_32f(x, w, len, -3, 1, ci, ci, pi, pi, ctx, 2),
                         zufsVQIndexSelect_32f(x, w, 0, len, 1, ci, pi, pi, ctx, 2),
                         zufsVQIndexSelect_32f(x, w, 2, len, 1, ci, pi, pi, nul, 1),
                         zufsVQReconstruction_32f(ci, ci, len, 0, 1, x, ctx), zufsSpread_16s_Sfs(0, 0, INT_MIN, &d16),
                         zufsVQCodeBookGetSize_32f(4, 8, &size), zufsSpread_16s_Sfs(7, -5, INT_MAX, &d16)});
    // The hostile scale factors give values in range (INT_MAX: beyond the masking range).
    EXPECT_TRUE(i4[0] == 77 && s4[0] == 77 && size == 4 * (8 * (4 * 4 + 52) + 244) && d16 == 0);
}

// The block: record at pMem, then at 32-byte boundaries the pointer table, one 32-byte slot per
// codeword (dim 5), four scratch arrays of 32 bytes (height 3), all within GetSize's bytes.
TEST(VQ, ContextLifecycleAndLayout) {
    const V words = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const auto a = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
    const auto up32 = [](std::uintptr_t u) { return (u + 31) & ~std::uintptr_t{31}; };
    const int size = 4 * (3 * (4 * 5 + 52) + 244);  // GetSize's (checked with the statuses)
    for (std::size_t off = 0; off < 32; off += alignof(VQCodeBookContext_32f)) {
        zuft::Placed<Zuf8u> mem(size, off);
        const std::uintptr_t table = up32(a(mem.data()) + sizeof(VQCodeBookContext_32f)),
                             w0 = up32(table + 3 * sizeof(void*));
        VQCodeBookContext_32f* c = nullptr;
        ASSERT_EQ(zufsVQCodeBookInit_32f(words.data(), &c, 5, 3, mem.data()), zufOk);
        EXPECT_TRUE(a(c) == a(mem.data()) && c->height == 3 && c->dim == 5 && c->valid == 1 && c->allocated == 0 &&
                    a(c->ppCodeword) == table && a(c->pDist) == w0 + 96 && a(c->pSign) == w0 + 128 &&
                    a(c->pKeptDist) == w0 + 160 && a(c->pKeptIndex) == w0 + 192 && w0 + 224 <= a(c) + size);
        for (int j = 0; j < 3; ++j)
            EXPECT_TRUE(a(c->ppCodeword[j]) == w0 + 32 * j &&
                        std::equal(&words[5 * j], &words[5 * j + 5], c->ppCodeword[j]));
        EXPECT_TRUE(zufsVQCodeBookFree_32f(c) == zufOk && c->valid == 0 && mem.guards_intact());
    }
    VQCodeBookContext_32f* c = nullptr;
    zuft::CountingHooks hooks(0, 3);
    ASSERT_EQ(zufsVQCodeBookInitAlloc_32f(words.data(), &c, 5, 3), zufOk);
    EXPECT_TRUE(c->allocated == 1 && c->ppCodeword[2][4] == 15.0f && zufsVQCodeBookFree_32f(c) == zufOk);
    // A null codebook is Init's status, after the block was had (and released again).
    EXPECT_TRUE(zufsVQCodeBookInitAlloc_32f(nullptr, &c, 5, 3) == zufErrNullPtr && hooks.mallocs == 2 &&
                hooks.frees == 2);
    hooks.fail_from = 3;  // the next allocation fails: nothing to release
    EXPECT_TRUE(zufsVQCodeBookInitAlloc_32f(words.data(), &c, 5, 3) == zufErrNoMemory && hooks.frees == 2);
}

// ISO/IEC 13818-7 spreading function in double precision at the Bark distance x, Q15 (1.0 = 32768, saturated).
double spread_ref(double x) {
    const double z = 8 * std::min((x - 0.5) * (x - 0.5) - 2 * (x - 0.5), 0.0);
    const double b = x + 0.474343, y = 15.81137849 + 7.5 * b - 17.5 * std::sqrt(1 + b * b);
    return std::min(32767.0, 32768 * std::pow(10.0, (z + y) / 10));
}

// Dense grid of Bark pairs and scale factors: within 1.25 Q15 units everywhere (measured maximum
// 1.17, printed), exactly 0 beyond the masking range when scaleFactor + 23 >= 0.
TEST(Spread, AgainstDoubleFormula) {
    double worst = 0;
    for (int sf = -40; sf <= 3; ++sf)
        for (int src1 : {-32768, -1000, 0, 4321, 32767}) {
            const int span = sf >= 0 ? 40 : std::min(65535, 16 << std::min(-sf, 12)), step = std::max(1, span / 3000);
            for (int src2 = std::max(-32768, src1 - span); src2 <= std::min(32767, src1 + span); src2 += step) {
                Zuf16s out = -1;
                ASSERT_EQ(zufsSpread_16s_Sfs(Zuf16s(src1), Zuf16s(src2), sf, &out), zufOk);
                const int d = src2 - src1;
                const double x = (d >= 0 ? 3.0 : 1.5) * d * std::ldexp(1.0, sf);
                const bool cut = sf + 22 + (d >= 0) >= 0 && (x > 12 || x < -6);
                worst = std::max(worst, cut ? 0.0 : std::fabs(out - spread_ref(x)));
                ASSERT_NEAR(out, cut ? 0.0 : spread_ref(x), cut ? 0.0 : 1.25) << src1 << " " << src2 << " " << sf;
            }
        }
    std::printf("spreading function: max |error| %.3f Q15 units\n", worst);
    // The square root alone: the Q23 root of its Q23 argument within one unit.
    for (int64_t x = 1 << 23; x < (int64_t{1} << 31); x += 65521)
        ASSERT_NEAR(zuf::own_ac_sprdngfSqrt(int32_t(x)), std::sqrt(double(x) * 8388608.0), 1.0) << x;
}

}  // namespace
