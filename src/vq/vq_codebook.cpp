// Codebook search of the conjugate-structure, weighted vector quantiser of TwinVQ (ISO/IEC
// 14496-3): a sub-vector x with weights w is coded as the average of one codeword of each of two
// codebooks, each optionally negated. The search is the encoder's usual two stages: keep the
// nCand best codewords of each codebook on its own, then try every pair of kept codewords.
//
// Float evaluation order. A sub-vector of 11 or more elements that lies within the codewords'
// dim runs four lanes at a time: lane l sums the terms of i = 4q + l over the whole quads in
// ascending q, the lanes are combined as (l0 + l2) + (l1 + l3), and the last len % 4 terms are
// added to that in ascending order. Shorter sub-vectors (and longer ones than a codeword) sum in
// ascending order. The scalar _ref kernels run the same four-lane order as their _sse2 twins.
// The terms:
//   single codeword:  w[i] * (t * t),  t = c[i] - x[i] (or c[i] + x[i]); stage one of index
//                     selection uses (2 * w[i]) * (t * t);
//   main selection:   w[i] * (e * e),  e = x[i] - (s0 * c0[i] + s1 * c1[i]) / divisor, where the
//                     four-lane path multiplies by the rounded reciprocal 1.0f / divisor instead
//                     (once per call: a processor-independent value, unlike an rcpps estimate);
//   stage two:        D = 0.25 * ((d0 + d1) - sum w[i] * (t * t)),  t = s0 * c0[i] - s1 * c1[i].
// Stage two's form follows from 2 (x - g0)^2 + 2 (x - g1)^2 - (g0 - g1)^2 = 4 (x - (g0 + g1) / 2)^2,
// so the first-stage distances are reused and each pair costs one pass over the sub-vector.
#include <cstring>

#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"
#include "frame/context_alloc.h"
#include "vq/vq_codebook.h"

#if defined(__i386__)
static_assert(sizeof(VQCodeBookContext_32f) == 44, "VQ codebook context: 44 bytes on 32-bit x86");
static_assert(offsetof(VQCodeBookContext_32f, ppCodeword) == 20 && offsetof(VQCodeBookContext_32f, allocated) == 40,
              "VQ codebook context field offsets on 32-bit x86");
#elif defined(__x86_64__)
static_assert(sizeof(VQCodeBookContext_32f) == 72, "VQ codebook context: 72 bytes on x86-64");
static_assert(offsetof(VQCodeBookContext_32f, ppCodeword) == 24 && offsetof(VQCodeBookContext_32f, allocated) == 64,
              "VQ codebook context field offsets on x86-64");
#endif
static_assert(offsetof(VQCodeBookContext_32f, height) == 0 && offsetof(VQCodeBookContext_32f, dim) == 12 &&
                  offsetof(VQCodeBookContext_32f, valid) == 16,
              "VQ codebook context: the leading int32 words");

namespace zuf {

// ---------------------------------------------------------------- four-lane kernels

namespace {

// Four floats with the arithmetic of __m128, lane by lane: the scalar reference's lane type.
struct RefLanes {
    Zuf32f v[4];
    static RefLanes load(const Zuf32f* p) { return {{p[0], p[1], p[2], p[3]}}; }
    static RefLanes set1(Zuf32f a) { return {{a, a, a, a}}; }
    template <class Op>
    friend RefLanes apply(RefLanes a, RefLanes b, Op op) {
        return {{op(a.v[0], b.v[0]), op(a.v[1], b.v[1]), op(a.v[2], b.v[2]), op(a.v[3], b.v[3])}};
    }
    friend RefLanes operator+(RefLanes a, RefLanes b) {
        return apply(a, b, [](Zuf32f p, Zuf32f q) { return p + q; });
    }
    friend RefLanes operator-(RefLanes a, RefLanes b) {
        return apply(a, b, [](Zuf32f p, Zuf32f q) { return p - q; });
    }
    friend RefLanes operator*(RefLanes a, RefLanes b) {
        return apply(a, b, [](Zuf32f p, Zuf32f q) { return p * q; });
    }
    Zuf32f sum() const { return (v[0] + v[2]) + (v[1] + v[3]); }
};

struct SseLanes {
    __m128 v;
    static SseLanes load(const Zuf32f* p) { return {loadu_f128(p)}; }
    static SseLanes set1(Zuf32f a) { return {_mm_set1_ps(a)}; }
    friend SseLanes operator+(SseLanes a, SseLanes b) { return {_mm_add_ps(a.v, b.v)}; }
    friend SseLanes operator-(SseLanes a, SseLanes b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend SseLanes operator*(SseLanes a, SseLanes b) { return {_mm_mul_ps(a.v, b.v)}; }
    Zuf32f sum() const {  // (l0 + l2) + (l1 + l3)
        const __m128 h = _mm_add_ps(v, _mm_movehl_ps(v, v));
        return _mm_cvtss_f32(_mm_add_ss(h, _mm_shuffle_ps(h, h, 1)));
    }
};

template <class L>
void distance_pair_lanes(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, bool doubled, Zuf32f* dm,
                         Zuf32f* dp) {
    L m = L::set1(0.0f), p = L::set1(0.0f);
    const L k = L::set1(doubled ? 2.0f : 1.0f);
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        const L wi = doubled ? k * L::load(w + i) : L::load(w + i);
        const L cv = L::load(c + i), xv = L::load(x + i);
        const L a = cv - xv, b = cv + xv;
        m = m + wi * (a * a);
        p = p + wi * (b * b);
    }
    Zuf32f ms = m.sum(), ps = p.sum();
    for (; i < len; ++i) {
        const Zuf32f wi = doubled ? 2.0f * w[i] : w[i];
        const Zuf32f a = c[i] - x[i], b = c[i] + x[i];
        ms += wi * (a * a);
        ps += wi * (b * b);
    }
    *dm = ms;
    *dp = ps;
}

template <class L>
Zuf32f pair_distance_lanes(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1,
                           Zuf32f s1, Zuf32f recip) {
    L d = L::set1(0.0f);
    const L vs0 = L::set1(s0), vs1 = L::set1(s1), vr = L::set1(recip);
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        const L e = L::load(x + i) - (vs0 * L::load(c0 + i) + vs1 * L::load(c1 + i)) * vr;
        d = d + L::load(w + i) * (e * e);
    }
    Zuf32f ds = d.sum();
    for (; i < len; ++i) {
        const Zuf32f e = x[i] - (s0 * c0[i] + s1 * c1[i]) * recip;
        ds += w[i] * (e * e);
    }
    return ds;
}

template <class L>
Zuf32f pair_cross_lanes(const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1, Zuf32f s1) {
    L d = L::set1(0.0f);
    const L vs0 = L::set1(s0), vs1 = L::set1(s1);
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        const L t = vs0 * L::load(c0 + i) - vs1 * L::load(c1 + i);
        d = d + L::load(w + i) * (t * t);
    }
    Zuf32f ds = d.sum();
    for (; i < len; ++i) {
        const Zuf32f t = s0 * c0[i] - s1 * c1[i];
        ds += w[i] * (t * t);
    }
    return ds;
}

}  // namespace

void ownsVQDistancePair_32f_ref(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, bool doubled, Zuf32f* dm,
                                Zuf32f* dp) {
    distance_pair_lanes<RefLanes>(x, w, c, len, doubled, dm, dp);
}
void ownsVQDistancePair_32f_sse2(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, bool doubled, Zuf32f* dm,
                                 Zuf32f* dp) {
    distance_pair_lanes<SseLanes>(x, w, c, len, doubled, dm, dp);
}
Zuf32f ownsVQPairDistance_32f_ref(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0,
                                  const Zuf32f* c1, Zuf32f s1, Zuf32f recip) {
    return pair_distance_lanes<RefLanes>(x, w, len, c0, s0, c1, s1, recip);
}
Zuf32f ownsVQPairDistance_32f_sse2(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0,
                                   const Zuf32f* c1, Zuf32f s1, Zuf32f recip) {
    return pair_distance_lanes<SseLanes>(x, w, len, c0, s0, c1, s1, recip);
}
Zuf32f ownsVQPairCross_32f_ref(const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1, Zuf32f s1) {
    return pair_cross_lanes<RefLanes>(w, len, c0, s0, c1, s1);
}
Zuf32f ownsVQPairCross_32f_sse2(const Zuf32f* w, int len, const Zuf32f* c0, Zuf32f s0, const Zuf32f* c1, Zuf32f s1) {
    return pair_cross_lanes<SseLanes>(w, len, c0, s0, c1, s1);
}

// ---------------------------------------------------------------- sequential kernels and searches

namespace {

// Sub-vectors from this length on run the four-lane kernels.
constexpr int kVqLanesFrom = 11;

// The running minimum of every search starts here; a distance at or above it (or NaN) is never
// taken.
constexpr Zuf32f kVqFar = 1e38f;

// Lengths are not checked: a negative one counts as an empty sub-vector.
inline int sub_len(int len) { return len > 0 ? len : 0; }

// The codeword of index j, or null when j is not an index of the codebook.
inline const Zuf32f* codeword(const VQCodeBookContext_32f* cb, int32_t j) {
    return j >= 0 && j < cb->height ? cb->ppCodeword[j] : nullptr;
}

// Codeword entry i, zero beyond the dim stored ones.
inline Zuf32f at(const Zuf32f* c, int dim, int i) { return i < dim ? c[i] : 0.0f; }

// 1 - 2 * flag, the multiplier of a sign flag (wrapping for hostile flags), as float.
inline Zuf32f polarity_of(int32_t flag) {
    return static_cast<Zuf32f>(static_cast<int32_t>(1u - 2u * static_cast<uint32_t>(flag)));
}

// d_minus = sum k * w (c - x)^2 and d_plus = sum k * w (c + x)^2, k = 1 or 2.
template <bool Doubled>
inline void distance_pair(const Zuf32f* x, const Zuf32f* w, const Zuf32f* c, int len, int dim, Zuf32f* dm, Zuf32f* dp) {
    if (len >= kVqLanesFrom && len <= dim) return ownsVQDistancePair_32f_sse2(x, w, c, len, Doubled, dm, dp);
    Zuf32f m = 0.0f, p = 0.0f;
    const int lc = len < dim ? len : dim;
    int i = 0;
    for (; i < lc; ++i) {
        const Zuf32f wi = Doubled ? 2.0f * w[i] : w[i];
        const Zuf32f a = c[i] - x[i], b = c[i] + x[i];
        m += wi * (a * a);
        p += wi * (b * b);
    }
    for (; i < len; ++i) {  // beyond the codeword: c = 0
        const Zuf32f wi = Doubled ? 2.0f * w[i] : w[i];
        const Zuf32f a = 0.0f - x[i];
        m += wi * (a * a);
        p += wi * (x[i] * x[i]);
    }
    *dm = m;
    *dp = p;
}

// The list of the nCand smallest distances of dist[0..height), ascending, built in codeword
// order. Slot n holds the sentinel while the list is not full, so "below the last entry" is one
// comparison either way; a distance equal to a kept one goes before it (first entry >= d).
int keep_sorted(const Zuf32f* dist, int height, int nCand, Zuf32f* kd, int32_t* ki) {
    if (nCand >= height) {
        for (int j = 0; j < height; ++j) {
            kd[j] = dist[j];
            ki[j] = j;
        }
        return height;
    }
    if (nCand < 1) return 0;
    int n = 0;  // nCand < height, so the sentinel slot n <= nCand stays inside the arrays
    kd[0] = kVqFar;
    for (int j = 0; j < height; ++j) {
        const Zuf32f d = dist[j];
        const int last = n < nCand ? n : nCand - 1;
        if (!(d < kd[last])) continue;
        int lo = 0, hi = last;  // kd[last] > d: the first entry >= d lies in [0, last]
        while (lo < hi) {
            const int mid = (lo + hi) >> 1;
            if (kd[mid] >= d)
                hi = mid;
            else
                lo = mid + 1;
        }
        // Not full: entries lo..n (the sentinel included) move down one. Full: lo..nCand-2 do,
        // and the worst kept one falls off.
        const int moved = n < nCand ? n + 1 - lo : nCand - 1 - lo;
        std::memmove(kd + lo + 1, kd + lo, static_cast<std::size_t>(moved) * sizeof(Zuf32f));
        std::memmove(ki + lo + 1, ki + lo, static_cast<std::size_t>(moved) * sizeof(int32_t));
        kd[lo] = d;
        ki[lo] = j;
        if (n < nCand) ++n;
    }
    return n;
}

}  // namespace

int ownsVQKeepBest_32f(const Zuf32f* x, const Zuf32f* w, int len, int polarity, int nCand, VQCodeBookContext_32f* cb,
                       VqStage stage) {
    const int height = cb->height, dim = cb->dim;
    for (int j = 0; j < height; ++j) {
        Zuf32f dm, dp;
        int32_t negate;
        if (stage == VqStage::Preliminary) {
            distance_pair<false>(x, w, cb->ppCodeword[j], len, dim, &dm, &dp);
            negate = polarity == 1 && dp <= dm;  // a tie takes the negated codeword
        } else {
            distance_pair<true>(x, w, cb->ppCodeword[j], len, dim, &dm, &dp);
            negate = polarity == 1 && dm > dp;  // a tie keeps the stored codeword
        }
        cb->pDist[j] = negate ? dp : dm;
        cb->pSign[j] = negate;
    }
    return keep_sorted(cb->pDist, height, nCand, cb->pKeptDist, cb->pKeptIndex);
}

namespace {

// sum w (x - (s0 c0 + s1 c1) / divisor)^2 over one sub-vector.
Zuf32f pair_distance_main(const Zuf32f* x, const Zuf32f* w, int len, const Zuf32f* c0, int dim0, Zuf32f s0,
                          const Zuf32f* c1, int dim1, Zuf32f s1, Zuf32f divisor, Zuf32f recip) {
    if (len >= kVqLanesFrom && len <= dim0 && len <= dim1)
        return ownsVQPairDistance_32f_sse2(x, w, len, c0, s0, c1, s1, recip);
    Zuf32f d = 0.0f;
    if (len <= dim0 && len <= dim1) {
        for (int i = 0; i < len; ++i) {
            const Zuf32f e = x[i] - (s0 * c0[i] + s1 * c1[i]) / divisor;
            d += w[i] * (e * e);
        }
    } else {
        for (int i = 0; i < len; ++i) {
            const Zuf32f e = x[i] - (s0 * at(c0, dim0, i) + s1 * at(c1, dim1, i)) / divisor;
            d += w[i] * (e * e);
        }
    }
    return d;
}

// sum w (s0 c0 - s1 c1)^2 over one sub-vector: the cross term of stage two.
Zuf32f pair_cross(const Zuf32f* w, int len, const Zuf32f* c0, int dim0, Zuf32f s0, const Zuf32f* c1, int dim1,
                  Zuf32f s1) {
    if (len >= kVqLanesFrom && len <= dim0 && len <= dim1) return ownsVQPairCross_32f_sse2(w, len, c0, s0, c1, s1);
    Zuf32f d = 0.0f;
    if (len <= dim0 && len <= dim1) {
        for (int i = 0; i < len; ++i) {
            const Zuf32f t = s0 * c0[i] - s1 * c1[i];
            d += w[i] * (t * t);
        }
    } else {
        for (int i = 0; i < len; ++i) {
            const Zuf32f t = s0 * at(c0, dim0, i) - s1 * at(c1, dim1, i);
            d += w[i] * (t * t);
        }
    }
    return d;
}

// The winner of one sub-vector's pair search; it starts as the previous sub-vector's outputs,
// which are written again when no pair is accepted.
struct VqPick {
    int32_t index[2] = {0, 0};
    int32_t sign[2] = {0, 0};
};

}  // namespace

void ownsVQPreliminarySelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec, const int* pSubVecLen,
                                 int* pIndex, int* pSign, int nCand, const int* pPolarity, VQCodeBookContext_32f* cb) {
    if (nCand < 1) return;
    for (int s = 0; s < nSubVec; ++s) {
        const int len = sub_len(pSubVecLen[s]);
        const int n = ownsVQKeepBest_32f(pSrc, pWeight, len, pPolarity[s], nCand, cb, VqStage::Preliminary);
        int* idx = pIndex + static_cast<std::size_t>(s) * static_cast<std::size_t>(nCand);
        int* sgn = pSign + static_cast<std::size_t>(s) * static_cast<std::size_t>(nCand);
        for (int k = 0; k < n; ++k) {
            idx[k] = cb->pKeptIndex[k];
            sgn[k] = cb->pSign[cb->pKeptIndex[k]];
        }
        for (int k = n; k < nCand; ++k) {  // no codeword for these entries
            idx[k] = -1;
            sgn[k] = 0;
        }
        pSrc += len;
        pWeight += len;
    }
}

// Sub-vectors below 11 elements divide by the divisor, the four-lane path multiplies by its reciprocal.
void ownsVQMainSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, const int* pSubVecLen, int nSubVec, int nCand,
                          const int* const* ppIndexCand, const int* const* ppSignCand, int** ppIndex, int** ppSign,
                          const VQCodeBookContext_32f* const* cb, int divisor) {
    const Zuf32f div = static_cast<Zuf32f>(divisor), recip = 1.0f / div;
    VqPick pick;
    for (int s = 0; s < nSubVec; ++s) {
        const int len = sub_len(pSubVecLen[s]);
        const std::size_t base = nCand > 0 ? static_cast<std::size_t>(s) * static_cast<std::size_t>(nCand) : 0;
        Zuf32f best = kVqFar;
        for (int a = 0; a < nCand; ++a) {
            const int32_t i0 = ppIndexCand[0][base + a];
            const Zuf32f* c0 = codeword(cb[0], i0);
            if (!c0) continue;
            const Zuf32f s0 = polarity_of(ppSignCand[0][base + a]);
            for (int b = 0; b < nCand; ++b) {
                const int32_t i1 = ppIndexCand[1][base + b];
                const Zuf32f* c1 = codeword(cb[1], i1);
                if (!c1) continue;
                const Zuf32f s1 = polarity_of(ppSignCand[1][base + b]);
                const Zuf32f d =
                    pair_distance_main(pSrc, pWeight, len, c0, cb[0]->dim, s0, c1, cb[1]->dim, s1, div, recip);
                if (d < best) {
                    best = d;
                    pick = {{i0, i1}, {ppSignCand[0][base + a], ppSignCand[1][base + b]}};
                }
            }
        }
        for (int k = 0; k < 2; ++k) {
            ppIndex[k][s] = pick.index[k];
            ppSign[k][s] = pick.sign[k];
        }
        pSrc += len;
        pWeight += len;
    }
}

// Per sub-vector: stage one for codebooks 0 and 1 (the only ones stage two reads), then every
// pair of kept entries.
void ownsVQIndexSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec, const int* pSubVecLen, int nCand,
                           const int* const* ppPolarity, int** ppIndex, int** ppSign,
                           VQCodeBookContext_32f* const* cb) {
    VqPick pick;
    for (int s = 0; s < nSubVec; ++s) {
        const int len = sub_len(pSubVecLen[s]);
        int kept[2];
        for (int k = 0; k < 2; ++k)
            kept[k] = ownsVQKeepBest_32f(pSrc, pWeight, len, ppPolarity[k][s], nCand, cb[k], VqStage::IndexStageOne);
        Zuf32f best = kVqFar;
        for (int a = 0; a < kept[0]; ++a) {
            const int32_t i0 = cb[0]->pKeptIndex[a], f0 = cb[0]->pSign[i0];
            const Zuf32f s0 = polarity_of(f0), d0 = cb[0]->pKeptDist[a];
            for (int b = 0; b < kept[1]; ++b) {
                const int32_t i1 = cb[1]->pKeptIndex[b], f1 = cb[1]->pSign[i1];
                const Zuf32f cross = pair_cross(pWeight, len, cb[0]->ppCodeword[i0], cb[0]->dim, s0,
                                                cb[1]->ppCodeword[i1], cb[1]->dim, polarity_of(f1));
                const Zuf32f d = 0.25f * ((d0 + cb[1]->pKeptDist[b]) - cross);
                if (d < best) {
                    best = d;
                    pick = {{i0, i1}, {f0, f1}};
                }
            }
        }
        for (int k = 0; k < 2; ++k) {
            ppIndex[k][s] = pick.index[k];
            ppSign[k][s] = pick.sign[k];
        }
        pSrc += len;
        pWeight += len;
    }
}

// Codebook 0 assigns, the others add, then one scaling by 1 / nCodeBook over the whole output.
void ownsVQReconstruction_32f(const int* const* ppIndex, const int* const* ppSign, const int* pSubVecLen, int nSubVec,
                              int nCodeBook, Zuf32f* pDst, const VQCodeBookContext_32f* const* cb) {
    std::size_t total = 0;
    for (int s = 0; s < nSubVec; ++s) {
        const int len = sub_len(pSubVecLen[s]);
        Zuf32f* out = pDst + total;
        for (int k = 0; k < nCodeBook; ++k) {
            const Zuf32f* c = codeword(cb[k], ppIndex[k][s]);
            const int dim = c ? cb[k]->dim : 0;  // an unknown index contributes zero
            const Zuf32f m = static_cast<Zuf32f>(ppSign[k][s]);
            for (int i = 0; i < len; ++i) {
                const Zuf32f v = i < dim ? m * c[i] : 0.0f;
                out[i] = k == 0 ? v : out[i] + v;
            }
        }
        total += static_cast<std::size_t>(len);
    }
    const Zuf32f scale = 1.0f / static_cast<Zuf32f>(nCodeBook);
    for (std::size_t i = 0; i < total; ++i) pDst[i] *= scale;
}

}  // namespace zuf

namespace {

// dim and height below this keep every size of the block far inside 64-bit arithmetic; the
// block itself must also fit a signed 32-bit byte count.
constexpr int kVqMaxSide = INT32_MAX / 16;

bool vq_sizes_ok(int dim, int height) {
    return dim >= 1 && height >= 1 && dim <= kVqMaxSide && height <= kVqMaxSide &&
           zuf::vq_block_bytes(dim, height) <= INT32_MAX;
}

}  // namespace

extern "C" ZUF_API zufResult zufsVQCodeBookGetSize_32f(int dim, int height, int* pSize) {
    ZUF_REQUIRE(zuf::nonnull(pSize), zufErrNullPtr);
    ZUF_REQUIRE(vq_sizes_ok(dim, height), zufErrSize);
    *pSize = static_cast<int>(zuf::vq_block_bytes(dim, height));
    return zufOk;
}

// The block from pMem: the record, then at 32-byte boundaries the codeword pointer table, the
// codeword slots and the four scratch arrays. It ends at most 4 dim height + 52 height + 246
// bytes after pMem (x86-64; 48 height + 218 on 32-bit x86), within the documented size.
extern "C" ZUF_API zufResult zufsVQCodeBookInit_32f(const Zuf32f* pCodeBook, VQCodeBookContext_32f** ppCodeBook,
                                                    int dim, int height, Zuf8u* pMem) {
    ZUF_REQUIRE(zuf::nonnull(pCodeBook, ppCodeBook, pMem), zufErrNullPtr);
    ZUF_REQUIRE(vq_sizes_ok(dim, height), zufErrSize);
    auto* cb = reinterpret_cast<VQCodeBookContext_32f*>(pMem);
    const std::size_t h = static_cast<std::size_t>(height), slot = zuf::vq_slot(4 * static_cast<std::size_t>(dim));
    auto** table = reinterpret_cast<Zuf32f**>(zuf::align_up(pMem + sizeof(VQCodeBookContext_32f), 32));
    Zuf8u* words = zuf::align_up(reinterpret_cast<Zuf8u*>(table + h), 32);
    for (std::size_t j = 0; j < h; ++j) {
        Zuf8u* p = words + j * slot;
        std::memcpy(p, pCodeBook + j * static_cast<std::size_t>(dim), 4 * static_cast<std::size_t>(dim));
        std::memset(p + 4 * static_cast<std::size_t>(dim), 0, slot - 4 * static_cast<std::size_t>(dim));
        table[j] = reinterpret_cast<Zuf32f*>(p);
    }
    Zuf8u* scratch = words + h * slot;
    const std::size_t arr = zuf::vq_slot(4 * h);
    *cb = VQCodeBookContext_32f{height,
                                {0, 0},
                                dim,
                                1,
                                table,
                                reinterpret_cast<Zuf32f*>(scratch),
                                reinterpret_cast<Zuf32f*>(scratch + 2 * arr),
                                reinterpret_cast<int32_t*>(scratch + 3 * arr),
                                reinterpret_cast<int32_t*>(scratch + arr),
                                0};
    *ppCodeBook = cb;
    return zufOk;
}

extern "C" ZUF_API zufResult zufsVQCodeBookInitAlloc_32f(const Zuf32f* pCodeBook, VQCodeBookContext_32f** ppCodeBook,
                                                         int dim, int height) {
    // GetSize's status first; a null pointer is Init's, after the block was had (and released).
    auto getSize = [](const Zuf32f*, int d, int h, int* pCtx, int* pInit, int* pWork) {
        *pInit = *pWork = 0;
        return zufsVQCodeBookGetSize_32f(d, h, pCtx);
    };
    auto init = [ppCodeBook](VQCodeBookContext_32f** ppCtx, const Zuf32f* p, int d, int h, Zuf8u* mem, Zuf8u*) {
        return ppCodeBook ? zufsVQCodeBookInit_32f(p, ppCtx, d, h, mem) : zufErrNullPtr;
    };
    return zuf::ownsContextInitAlloc(ppCodeBook, getSize, init, pCodeBook, dim, height);
}

extern "C" ZUF_API zufResult zufsVQCodeBookFree_32f(VQCodeBookContext_32f* pCodeBook) {
    ZUF_REQUIRE(zuf::nonnull(pCodeBook), zufErrNullPtr);
    pCodeBook->valid = 0;
    if (pCodeBook->allocated == 1) zufsFree(pCodeBook);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsVQPreliminarySelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec,
                                                         const int* pSubVecLen, int* pIndex, int* pSign, int nCand,
                                                         const int* pPolarity, VQCodeBookContext_32f* pCodeBook) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pWeight, pSubVecLen, pIndex, pSign, pCodeBook, pPolarity), zufErrNullPtr);
    ZUF_REQUIRE(nSubVec >= 1, zufOk);
    zuf::ownsVQPreliminarySelect_32f(pSrc, pWeight, nSubVec, pSubVecLen, pIndex, pSign, nCand, pPolarity, pCodeBook);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsVQMainSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, const int* pSubVecLen,
                                                  int nSubVec, int nCand, const int* const* ppIndexCand,
                                                  const int* const* ppSignCand, int** ppIndex, int** ppSign,
                                                  VQCodeBookContext_32f* const* ppCodeBook, int divisor) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pWeight, pSubVecLen, ppIndexCand, ppSignCand, ppIndex, ppSign, ppCodeBook),
                zufErrNullPtr);
    ZUF_REQUIRE(zuf::nonnull(ppIndexCand[0], ppIndexCand[1], ppSignCand[0], ppSignCand[1], ppIndex[0], ppIndex[1],
                             ppSign[0], ppSign[1], ppCodeBook[0], ppCodeBook[1]),
                zufErrNullPtr);
    ZUF_REQUIRE(nSubVec >= 1, zufOk);
    zuf::ownsVQMainSelect_32f(pSrc, pWeight, pSubVecLen, nSubVec, nCand, ppIndexCand, ppSignCand, ppIndex, ppSign,
                              ppCodeBook, divisor);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsVQIndexSelect_32f(const Zuf32f* pSrc, const Zuf32f* pWeight, int nSubVec,
                                                   const int* pSubVecLen, int nCand, const int* const* ppPolarity,
                                                   int** ppIndex, int** ppSign,
                                                   VQCodeBookContext_32f* const* ppCodeBook, int nCodeBook) {
    ZUF_REQUIRE(zuf::nonnull(pSrc, pWeight, pSubVecLen, ppPolarity, ppIndex, ppSign, ppCodeBook), zufErrNullPtr);
    ZUF_REQUIRE(nCodeBook < 2 || zuf::nonnull(ppPolarity[0], ppPolarity[1], ppIndex[0], ppIndex[1], ppSign[0],
                                              ppSign[1], ppCodeBook[0], ppCodeBook[1]),
                zufErrNullPtr);
    ZUF_REQUIRE(nSubVec >= 1, zufOk);
    ZUF_REQUIRE(nCodeBook >= 2, zufOk);  // stage two always combines codebooks 0 and 1
    zuf::ownsVQIndexSelect_32f(pSrc, pWeight, nSubVec, pSubVecLen, nCand, ppPolarity, ppIndex, ppSign, ppCodeBook);
    return zufOk;
}

extern "C" ZUF_API zufResult zufsVQReconstruction_32f(const int* const* ppIndex, const int* const* ppSign,
                                                      const int* pSubVecLen, int nSubVec, int nCodeBook, Zuf32f* pDst,
                                                      VQCodeBookContext_32f* const* ppCodeBook) {
    ZUF_REQUIRE(zuf::nonnull(ppIndex, ppSign, pSubVecLen, pDst, ppCodeBook), zufErrNullPtr);
    for (int k = 0; k < nCodeBook; ++k) ZUF_REQUIRE(zuf::nonnull(ppIndex[k], ppSign[k], ppCodeBook[k]), zufErrNullPtr);
    if (nSubVec < 1 || nCodeBook < 1) return zufOk;
    zuf::ownsVQReconstruction_32f(ppIndex, ppSign, pSubVecLen, nSubVec, nCodeBook, pDst, ppCodeBook);
    return zufOk;
}
