// TwinVQ codebook search against brute-force searches in double precision, the tie and polarity
// rules on hand-built codebooks, exact reconstruction, statuses and the context lifecycle; the
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

// A codebook built by Init in caller memory.
struct Book {
    int dim, height;
    V words;
    std::vector<Zuf8u> mem;
    VQCodeBookContext_32f* ctx = nullptr;
    Book(V w, int d, int h) : dim(d), height(h), words(std::move(w)) {
        int size = 0;
        EXPECT_EQ(zufsVQCodeBookGetSize_32f(d, h, &size), zufOk);
        mem.resize(size);
        EXPECT_EQ(zufsVQCodeBookInit_32f(words.data(), &ctx, d, h, mem.data()), zufOk);
    }
    Book(zuft::Rng& rng, int d, int h) : Book(random(rng, d * h, -1.0f), d, h) {}
    static V random(zuft::Rng& rng, int n, float lo) {
        V v(n);
        for (float& f : v) f = rng.uniform(lo, 1.0f);
        return v;
    }
    double at(int j, int i) const { return i < dim ? words[j * dim + i] : 0.0; }
};

// sum w (x - (s0 c0 + s1 c1) / div)^2 in double; a null second book leaves out its term.
double dist(const float* x, const float* w, int len, const Book& b0, int j0, int f0, const Book* b1, int j1, int f1,
            double div) {
    double d = 0;
    for (int i = 0; i < len; ++i) {
        double g = (1 - 2 * f0) * b0.at(j0, i) + (b1 ? (1 - 2 * f1) * b1->at(j1, i) : 0.0);
        d += w[i] * (x[i] - g / div) * (x[i] - g / div);
    }
    return d;
}

// The nCand best (index, flag) of one book by its own, brute force in double; with nCand >= height
// every codeword in index order.
std::vector<std::pair<int, int>> best_singles(const float* x, const float* w, int len, const Book& b, int pol,
                                              int nCand) {
    std::vector<std::tuple<double, int, int>> all;
    for (int j = 0; j < b.height; ++j) {
        const double dm = dist(x, w, len, b, j, 0, nullptr, 0, 0, 1), dp = dist(x, w, len, b, j, 1, nullptr, 0, 0, 1);
        all.emplace_back(pol == 1 && dp < dm ? dp : dm, j, pol == 1 && dp < dm);
    }
    if (nCand < b.height) std::stable_sort(all.begin(), all.end());
    std::vector<std::pair<int, int>> r;
    for (int k = 0; k < std::min(nCand, b.height); ++k) r.emplace_back(std::get<1>(all[k]), std::get<2>(all[k]));
    return r;
}

void expect_close(double got, double want, const char* what) { EXPECT_NEAR(got, want, 2e-5 * want + 1e-9) << what; }

TEST(VQ, SelectionsAgainstBruteForce) {
    struct Case {
        int dim, h0, h1, nCand, divisor;
        I lens;
    };
    const Case cases[] = {{4, 16, 16, 3, 2, {4, 4, 4}},      {8, 32, 24, 5, 2, {8, 8}},     {11, 20, 40, 8, 3, {11, 6}},
                          {16, 64, 64, 16, 2, {16, 16, 9}},  {3, 6, 5, 8, 1, {3, 3, 3, 2}}, {5, 9, 9, 1, 2, {5, 7}},
                          {12, 128, 100, 6, 2, {12, 12, 12}}};
    zuft::Rng rng(91);
    for (const Case& c : cases) {
        const int nSub = static_cast<int>(c.lens.size());
        int total = 0;
        for (int l : c.lens) total += l;
        Book b0(rng, c.dim, c.h0), b1(rng, c.dim, c.h1);
        const Book* books[2] = {&b0, &b1};
        VQCodeBookContext_32f* ctx[2] = {b0.ctx, b1.ctx};
        for (int trial = 0; trial < 4; ++trial) {
            const V x = Book::random(rng, total, -1.0f), w = Book::random(rng, total, 0.1f);
            I pol[2], cand[2], csgn[2], out[4];
            for (int k = 0; k < 2; ++k) {
                for (int s = 0; s < nSub; ++s) pol[k].push_back(rng.range(0, 2));  // 2 forbids as 0 does
                cand[k].assign(nSub * c.nCand, 7), csgn[k].assign(nSub * c.nCand, 7);
                ASSERT_EQ(zufsVQPreliminarySelect_32f(x.data(), w.data(), nSub, c.lens.data(), cand[k].data(),
                                                      csgn[k].data(), c.nCand, pol[k].data(), ctx[k]),
                          zufOk);
            }
            for (I& o : out) o.assign(nSub, -7);
            const int* pc[2] = {cand[0].data(), cand[1].data()};
            const int* ps[2] = {csgn[0].data(), csgn[1].data()};
            const int* pp[2] = {pol[0].data(), pol[1].data()};
            int* mi[2] = {out[0].data(), out[1].data()};
            int* ms[2] = {out[2].data(), out[3].data()};
            ASSERT_EQ(
                zufsVQMainSelect_32f(x.data(), w.data(), c.lens.data(), nSub, c.nCand, pc, ps, mi, ms, ctx, c.divisor),
                zufOk);
            I xi[2] = {I(nSub), I(nSub)}, xs[2] = {I(nSub), I(nSub)};
            int* xip[2] = {xi[0].data(), xi[1].data()};
            int* xsp[2] = {xs[0].data(), xs[1].data()};
            ASSERT_EQ(zufsVQIndexSelect_32f(x.data(), w.data(), nSub, c.lens.data(), c.nCand, pp, xip, xsp, ctx, 2),
                      zufOk);
            for (int s = 0, off = 0; s < nSub; off += c.lens[s++]) {
                const float *xs0 = x.data() + off, *ws0 = w.data() + off;
                const int len = c.lens[s];
                std::vector<std::pair<int, int>> kept[2];
                for (int k = 0; k < 2; ++k) {  // preliminary: the same distances in the same order
                    kept[k] = best_singles(xs0, ws0, len, *books[k], pol[k][s], c.nCand);
                    for (int e = 0; e < c.nCand; ++e) {
                        const int j = cand[k][s * c.nCand + e], f = csgn[k][s * c.nCand + e];
                        if (e >= books[k]->height) {
                            EXPECT_TRUE(j == -1 && f == 0);
                            continue;
                        }
                        const auto [bj, bf] = kept[k][e];
                        EXPECT_TRUE(c.nCand < books[k]->height || j == e);
                        EXPECT_TRUE(pol[k][s] == 1 || f == 0);
                        expect_close(dist(xs0, ws0, len, *books[k], j, f, nullptr, 0, 0, 1),
                                     dist(xs0, ws0, len, *books[k], bj, bf, nullptr, 0, 0, 1), "preliminary");
                    }
                }
                // Pair searches: the brute-force best pair among the candidates (main selection)
                // and among the brute-force kept lists (index selection).
                double bestMain = 1e300, bestIdx = 1e300;
                for (int a = 0; a < c.nCand; ++a)
                    for (int b = 0; b < c.nCand; ++b) {
                        const int ja = cand[0][s * c.nCand + a], jb = cand[1][s * c.nCand + b];
                        if (ja >= 0 && jb >= 0)
                            bestMain = std::min(bestMain, dist(xs0, ws0, len, b0, ja, csgn[0][s * c.nCand + a], &b1, jb,
                                                               csgn[1][s * c.nCand + b], c.divisor));
                    }
                for (auto [ja, fa] : kept[0])
                    for (auto [jb, fb] : kept[1])
                        bestIdx = std::min(bestIdx, dist(xs0, ws0, len, b0, ja, fa, &b1, jb, fb, 2));
                expect_close(dist(xs0, ws0, len, b0, out[0][s], out[2][s], &b1, out[1][s], out[3][s], c.divisor),
                             bestMain, "main");
                expect_close(dist(xs0, ws0, len, b0, xi[0][s], xs[0][s], &b1, xi[1][s], xs[1][s], 2), bestIdx, "index");
                EXPECT_TRUE((pol[0][s] == 1 || xs[0][s] == 0) && (pol[1][s] == 1 || xs[1][s] == 0));
            }
        }
    }
}

// Ties and polarity on hand-built codebooks: A B A C with x = A.
TEST(VQ, TieAndPolarityRules) {
    const V words = {1, 2, 5, 5, 1, 2, -3, 0};
    Book b(words, 2, 4), b2(words, 2, 4);
    VQCodeBookContext_32f* ctx[2] = {b.ctx, b2.ctx};
    const V x = {1, 2, 0, 0, NAN, 1}, w = {1, 1, 1, 1, 1, 1};
    const I lens = {2, 2, 2}, pol1 = {1, 1, 1}, pol0 = {0, 0, 0};
    I idx(6 * 3), sgn(6 * 3);
    // Sub-vector 0: the later of two equal codewords first; 1 (x = 0): every codeword negated; 2 (NaN): none.
    ASSERT_EQ(
        zufsVQPreliminarySelect_32f(x.data(), w.data(), 3, lens.data(), idx.data(), sgn.data(), 2, pol1.data(), b.ctx),
        zufOk);
    EXPECT_EQ(I(idx.begin(), idx.begin() + 6), I({2, 0, 2, 0, -1, -1}));
    EXPECT_EQ(I(sgn.begin(), sgn.begin() + 6), I({0, 0, 1, 1, 0, 0}));
    ASSERT_EQ(
        zufsVQPreliminarySelect_32f(x.data(), w.data(), 3, lens.data(), idx.data(), sgn.data(), 6, pol0.data(), b.ctx),
        zufOk);  // nCand >= height: index order, then no codeword
    EXPECT_EQ(I(idx.begin(), idx.begin() + 6), I({0, 1, 2, 3, -1, -1}));
    EXPECT_EQ(std::count(sgn.begin(), sgn.end(), 1), 0);
    // Pairs: the first of equal pairs wins; no accepted pair repeats the previous outputs.
    I o[4] = {I(3), I(3), I(3), I(3)};
    int* oi[2] = {o[0].data(), o[1].data()};
    int* os[2] = {o[2].data(), o[3].data()};
    const int* pp[2] = {pol1.data(), pol1.data()};
    ASSERT_EQ(zufsVQIndexSelect_32f(x.data(), w.data(), 3, lens.data(), 4, pp, oi, os, ctx, 2), zufOk);
    // x = 0: stored codewords, so A + D is best (tied by the later A + D, D + A).
    EXPECT_TRUE(o[0] == I({0, 0, 0}) && o[1] == I({0, 3, 3}) && o[2] == I({0, 0, 0}) && o[3] == I({0, 0, 0}));
    const int c0[] = {2, 0, 1, 3, 0, 1}, f0[] = {0, 0, 0, 1, 0, 0};
    const int* pc[2] = {c0, c0};
    const int* pf[2] = {f0, f0};
    ASSERT_EQ(zufsVQMainSelect_32f(x.data(), w.data(), lens.data(), 3, 2, pc, pf, oi, os, ctx, 2), zufOk);
    EXPECT_TRUE(o[0] == I({2, 3, 3}) && o[1] == I({2, 3, 3}) && o[2] == I({0, 1, 1}) && o[3] == I({0, 1, 1}));
}

TEST(VQ, ReconstructionExact) {
    zuft::Rng rng(92);
    Book b0(rng, 6, 10), b1(rng, 6, 12), b2(rng, 6, 5);
    VQCodeBookContext_32f* ctx[3] = {b0.ctx, b1.ctx, b2.ctx};
    const Book* books[3] = {&b0, &b1, &b2};
    const I lens = {6, 4, 6};
    for (int n = 1; n <= 3; ++n) {
        I idx[3], sgn[3];
        for (int k = 0; k < 3; ++k)
            for (int s = 0; s < 3; ++s)
                idx[k].push_back(rng.range(0, books[k]->height - 1)),
                    sgn[k].push_back(n == 1 ? 1 : rng.range(0, 1) * 2 - 1);
        const int* pi[3] = {idx[0].data(), idx[1].data(), idx[2].data()};
        const int* ps[3] = {sgn[0].data(), sgn[1].data(), sgn[2].data()};
        V out(16);
        ASSERT_EQ(zufsVQReconstruction_32f(pi, ps, lens.data(), 3, n, out.data(), ctx), zufOk);
        for (int s = 0, off = 0; s < 3; off += lens[s++])
            for (int i = 0; i < lens[s]; ++i) {
                float v = 0;
                for (int k = 0; k < n; ++k) {
                    const float t = float(sgn[k][s]) * books[k]->words[idx[k][s] * 6 + i];
                    v = k ? v + t : t;
                }
                EXPECT_EQ(zuft::bits_of(out[off + i]), zuft::bits_of(v * (1.0f / float(n))));
            }
    }
}

TEST(VQ, StatusesInDocumentedOrder) {
    zuft::Rng rng(93);
    Book b(rng, 4, 8);
    VQCodeBookContext_32f *ctx[2] = {b.ctx, b.ctx}, *nul[2] = {b.ctx, nullptr}, *pc = nullptr;
    float x[8] = {}, w[8] = {};
    int len[2] = {4, 4}, i4[8], s4[8], one[2] = {1, 1}, size = 0;
    int *pi[2] = {i4, s4}, *pz[2] = {i4, nullptr};
    const int *ci[2] = {i4, s4}, *cz[2] = {nullptr, s4};
    Zuf16s d16;
    zuft::expect_status(zufErrNullPtr, {zufsVQCodeBookGetSize_32f(0, 0, nullptr),
                                        zufsVQCodeBookInit_32f(nullptr, &pc, 0, 1, b.mem.data()),
                                        zufsVQCodeBookInit_32f(x, nullptr, 4, 1, b.mem.data()),
                                        zufsVQCodeBookInit_32f(x, &pc, 4, 1, nullptr),
                                        zufsVQCodeBookInitAlloc_32f(nullptr, &pc, 4, 1),
                                        zufsVQCodeBookInitAlloc_32f(x, nullptr, 4, 1),
                                        zufsVQCodeBookFree_32f(nullptr),
                                        zufsVQPreliminarySelect_32f(x, w, 0, len, i4, s4, 1, nullptr, b.ctx),
                                        zufsVQPreliminarySelect_32f(x, w, 0, len, i4, s4, 1, one, nullptr),
                                        zufsVQMainSelect_32f(x, nullptr, len, 0, 1, ci, ci, pi, pi, ctx, 2),
                                        zufsVQMainSelect_32f(x, w, len, 0, 1, cz, ci, pi, pi, ctx, 2),
                                        zufsVQMainSelect_32f(x, w, len, 0, 1, ci, ci, pi, pz, ctx, 2),
                                        zufsVQMainSelect_32f(x, w, len, 0, 1, ci, ci, pi, pi, nul, 2),
                                        zufsVQIndexSelect_32f(x, w, 0, nullptr, 1, ci, pi, pi, ctx, 2),
                                        zufsVQIndexSelect_32f(x, w, 0, len, 1, cz, pi, pi, ctx, 2),
                                        zufsVQIndexSelect_32f(x, w, 0, len, 1, ci, pi, pi, nul, 2),
                                        zufsVQReconstruction_32f(ci, ci, len, 0, 1, nullptr, ctx),
                                        zufsVQReconstruction_32f(ci, cz, len, 0, 1, x, ctx),
                                        zufsVQReconstruction_32f(ci, ci, len, 0, 2, x, nul),
                                        zufsSpread_16s_Sfs(0, 0, 0, nullptr)});
    zuft::expect_status(zufErrSize, {zufsVQCodeBookGetSize_32f(0, 5, &size), zufsVQCodeBookGetSize_32f(5, -1, &size),
                                     zufsVQCodeBookGetSize_32f(1 << 16, 1 << 16, &size),
                                     zufsVQCodeBookInit_32f(x, &pc, 4, 0, b.mem.data()),
                                     zufsVQCodeBookInitAlloc_32f(nullptr, nullptr, 0, 1)});
    // nSubVec < 1, nCodeBook < 2 (index selection) and nCand < 1: zufOk, nothing written.
    i4[0] = s4[0] = 77;
    zuft::expect_status(zufOk,
                        {zufsVQPreliminarySelect_32f(x, w, 0, len, i4, s4, 1, one, b.ctx),
                         zufsVQPreliminarySelect_32f(x, w, 2, len, i4, s4, 0, one, b.ctx),
                         zufsVQMainSelect_32f(x, w, len, -3, 1, ci, ci, pi, pi, ctx, 2),
                         zufsVQIndexSelect_32f(x, w, 0, len, 1, ci, pi, pi, ctx, 2),
                         zufsVQIndexSelect_32f(x, w, 2, len, 1, ci, pi, pi, nul, 1),
                         zufsVQReconstruction_32f(ci, ci, len, 0, 1, x, ctx), zufsSpread_16s_Sfs(0, 0, INT_MIN, &d16)});
    EXPECT_TRUE(i4[0] == 77 && s4[0] == 77);
    EXPECT_EQ(zufsVQCodeBookGetSize_32f(4, 8, &size), zufOk);
    EXPECT_EQ(size, 4 * (8 * (4 * 4 + 52) + 244));
}

TEST(VQ, ContextLifecycleAndLayout) {
    const V words = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // 3 x 5
    int size = 0;
    ASSERT_EQ(zufsVQCodeBookGetSize_32f(5, 3, &size), zufOk);
    for (std::size_t off = 0; off < 32; off += alignof(VQCodeBookContext_32f)) {
        zuft::Placed<Zuf8u> mem(size, off);
        VQCodeBookContext_32f* c = nullptr;
        ASSERT_EQ(zufsVQCodeBookInit_32f(words.data(), &c, 5, 3, mem.data()), zufOk);
        ASSERT_EQ(static_cast<void*>(c), mem.data());
        EXPECT_TRUE(c->height == 3 && c->dim == 5 && c->valid == 1 && c->allocated == 0);
        const auto a = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
        EXPECT_EQ(a(c->ppCodeword), (a(c) + sizeof(*c) + 31) & ~std::uintptr_t{31});
        EXPECT_EQ(a(c->ppCodeword[0]), (a(c->ppCodeword + 3) + 31) & ~std::uintptr_t{31});
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(a(c->ppCodeword[j]), a(c->ppCodeword[0]) + 32 * j);
            EXPECT_TRUE(std::equal(words.begin() + 5 * j, words.begin() + 5 * j + 5, c->ppCodeword[j]));
        }
        EXPECT_TRUE(a(c->pDist) == a(c->ppCodeword[0]) + 96 && a(c->pSign) == a(c->pDist) + 32 &&
                    a(c->pKeptDist) == a(c->pDist) + 64 && a(c->pKeptIndex) == a(c->pDist) + 96);
        EXPECT_LE(a(c->pKeptIndex + 3), a(mem.data()) + size);
        EXPECT_EQ(zufsVQCodeBookFree_32f(c), zufOk);
        EXPECT_EQ(c->valid, 0);
        EXPECT_TRUE(mem.guards_intact());
    }
    VQCodeBookContext_32f* c = nullptr;
    {
        zuft::CountingHooks hooks(0, 3);
        ASSERT_EQ(zufsVQCodeBookInitAlloc_32f(words.data(), &c, 5, 3), zufOk);
        EXPECT_EQ(c->allocated, 1);
        EXPECT_EQ(c->ppCodeword[2][4], 15.0f);
        EXPECT_EQ(zufsVQCodeBookFree_32f(c), zufOk);
        EXPECT_EQ(zufsVQCodeBookInitAlloc_32f(nullptr, &c, 5, 3), zufErrNullPtr);  // after the block was had
        EXPECT_TRUE(hooks.mallocs == 2 && hooks.frees == 2);
    }
    zuft::CountingHooks failing(1);
    EXPECT_EQ(zufsVQCodeBookInitAlloc_32f(words.data(), &c, 5, 3), zufErrNoMemory);
    EXPECT_EQ(failing.frees, 0);
}

// ISO/IEC 13818-7 spreading function in double precision, Q15 (1.0 = 32768, saturated).
double spread_ref(int d, int sf) {
    const double x = (d >= 0 ? 3.0 : 1.5) * d * std::ldexp(1.0, sf);
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
                if (sf + 22 + (d >= 0) >= 0 && (x > 12 || x < -6)) {
                    ASSERT_EQ(out, 0) << src1 << " " << src2 << " " << sf;
                    continue;
                }
                worst = std::max(worst, std::fabs(out - spread_ref(d, sf)));
                ASSERT_NEAR(out, spread_ref(d, sf), 1.25) << src1 << " " << src2 << " " << sf;
            }
        }
    std::printf("spreading function: max |error| %.3f Q15 units\n", worst);
    for (int sf : {INT_MIN, -1000, 1000, INT_MAX}) {  // hostile scale factors: values in range
        Zuf16s out = -1;
        EXPECT_EQ(zufsSpread_16s_Sfs(-5, 7, sf, &out), zufOk);
        EXPECT_TRUE(out >= 0 && out <= 32767);
    }
}

TEST(Spread, SquareRootWithinOneUnit) {
    for (int64_t x = 1 << 23; x < (int64_t{1} << 31); x += 65521)
        ASSERT_NEAR(zuf::own_ac_sprdngfSqrt(int32_t(x)), std::sqrt(double(x) * 8388608.0), 1.0) << x;
}

}  // namespace
