// The complex float FFT engine.
//
// Orders 0..3 run straight-line kernels. Orders 4..16 run the radix-4 engine: the N inputs are
// read as four interleaved sub-sequences x[4m + l] (l = 0..3), one per vector lane, so the
// M = N/4-point transforms of all four run side by side with plain vertical arithmetic (real
// parts of four lanes in one register, imaginary parts in another: no shuffles inside the
// butterflies). Those M-point transforms are self-sorting (Stockham) passes: radix 8 as far as the
// bits allow (fewer passes over memory), then radix 4; the last pass (radix 4, or radix 8 when all
// are) is fused with the lane pass, which transposes 4x4 blocks and combines the four lanes with the twiddles
// e^(-2 pi i l k / N), writing natural-order output. The first pass, where every butterfly has
// its own twiddles, reads them stored four-wide. Orders from 17 go through the blocked path
// (fft_blocked.cpp), which uses this engine on cache-sized blocks.
//
// The inverse transform is the forward one with real and imaginary parts exchanged on input and
// output (conj(i) trick: IDFT(x) = swap(DFT(swap(x)))), which in this layout costs nothing.
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "transforms/fft_engine.h"

namespace zuf::xf {
namespace {

// ------------------------------------------------------------------ element access policies
// An element is four complex values, one per lane. In the engine's buffers element e occupies
// floats 8e..8e+7: four real parts, then four imaginary parts.
template <class V>
struct SoaIn {
    const float* p;
    CV<V> get(int e) const { return {loada<V>(p + 8 * e), loada<V>(p + 8 * e + 4)}; }
};
template <class V>
inline void put(float* p, int e, CV<V> y) {
    storea(p + 8 * e, y.r);
    storea(p + 8 * e + 4, y.i);
}
// Interleaved complex input: element e is x[4e..4e+3]; kSwap exchanges re and im (inverse).
template <class V, bool kSwap>
struct CplxIn {
    const float* p;
    CV<V> get(int e) const {
        V re, im;
        deinterleave(load<V>(p + 8 * e), load<V>(p + 8 * e + 4), re, im);
        return kSwap ? CV<V>{im, re} : CV<V>{re, im};
    }
};
template <class V>
struct SplitIn {
    const float* re;
    const float* im;
    CV<V> get(int e) const { return {load<V>(re + 4 * e), load<V>(im + 4 * e)}; }
};
// Output of the final pass: four consecutive frequencies k..k+3.
template <class V, bool kSwap, bool kScale>
struct CplxOut {
    float* p;
    V f;
    void put(int k, CV<V> y) const {
        if (kScale) y = cscale(y, f);
        V a, b;
        if (kSwap)
            interleave(y.i, y.r, a, b);
        else
            interleave(y.r, y.i, a, b);
        store(p + 2 * k, a);
        store(p + 2 * k + 4, b);
    }
};
template <class V, bool kScale>
struct SplitOut {
    float* re;
    float* im;
    V f;
    void put(int k, CV<V> y) const {
        if (kScale) y = cscale(y, f);
        store(re + k, y.r);
        store(im + k, y.i);
    }
};

// ------------------------------------------------------------------ passes
// 4-point DFT (forward): y0 = (a + c) + (b + d), y1 = (a - c) - i (b - d), y2 = (a + c) - (b + d),
// y3 = (a - c) + i (b - d).
template <class V>
inline void dft4(CV<V> a, CV<V> b, CV<V> c, CV<V> d, CV<V>* y) {
    const CV<V> apc = cadd(a, c), amc = csub(a, c), bpd = cadd(b, d), bmd = csub(b, d);
    y[0] = cadd(apc, bpd);
    y[1] = {add(amc.r, bmd.i), sub(amc.i, bmd.r)};
    y[2] = csub(apc, bpd);
    y[3] = {sub(amc.r, bmd.i), add(amc.i, bmd.r)};
}

// Twiddle j of one p: from a table that already holds each value four times (the first pass,
// where every butterfly has its own twiddles), or broadcast from a compact (re, im) table with
// per floats for each p.
template <class V, bool kWide>
inline CV<V> twiddle(const float* tw, int per, int p, int j) {
    if (kWide) {
        const float* t = tw + ownsWideTwiddle(per, p, j);
        return {loada<V>(t), loada<V>(t + 8)};
    }
    return {bcast<V>(tw[per * p + 2 * j]), bcast<V>(tw[per * p + 2 * j + 1])};
}

// One self-sorting radix-4 pass over n-point sub-transforms with stride s (n * s = M): reads
// elements q + s (p + k n/4), writes q + s (4p + k), twiddles e^(-2 pi i k p / n) for the outputs
// k = 1..3. With n = 4 input and output positions coincide, so that pass may run in place. The
// twiddles of p = 0 are 1: those butterflies skip the rotation (the adds are what bounds this
// engine's speed, and a rotation by 1 would only cost them).
template <class V, class In, bool kWide>
void pass4(In in, float* out, int n, int s, const float* tw) {
    const int m = n / 4;
    const int per = kWide ? 24 : 6;
    for (int p = 0; p < m; ++p) {
        const bool rot = p > 0;
        CV<V> w1{}, w2{}, w3{};
        if (rot) {
            w1 = twiddle<V, kWide>(tw, per, p, 0);
            w2 = twiddle<V, kWide>(tw, per, p, 1);
            w3 = twiddle<V, kWide>(tw, per, p, 2);
        }
        for (int q = 0; q < s; ++q) {
            CV<V> y[4];
            dft4<V>(in.get(q + s * p), in.get(q + s * (p + m)), in.get(q + s * (p + 2 * m)),
                    in.get(q + s * (p + 3 * m)), y);
            if (rot) {
                y[1] = cmul(y[1], w1);
                y[2] = cmul(y[2], w2);
                y[3] = cmul(y[3], w3);
            }
            const int o = q + 4 * s * p;
            for (int k = 0; k < 4; ++k) put<V>(out, o + k * s, y[k]);
        }
    }
}

// In the AVX2 build dft8 is always inlined: called out of line, its sixteen inputs and outputs go
// through memory, and GCC's size estimates decide differently from one change to the next. (The
// SSE build is faster with GCC's own choice.)
#if defined(__AVX2__)
#define ZUF_DFT8_INLINE [[gnu::always_inline]] inline
#else
#define ZUF_DFT8_INLINE inline
#endif
// 8-point DFT of x[0..7] (forward). Its first stage forms the sums a_j = x[j] + x[j + 4] and the
// differences d_j = x[j] - x[j + 4]; the even outputs depend on the sums only, the odd ones on the
// differences only, so a pass may run the halves apart and keep only half of the values live.
// Even outputs: the 4-point DFT of (a0, a1, a2, a3) at y[0], y[2], y[4], y[6].
template <class V>
[[gnu::always_inline]] inline void dft8_even_of(CV<V> a0, CV<V> a1, CV<V> a2, CV<V> a3, CV<V> y[8]) {
    const CV<V> e0 = cadd(a0, a2), e1 = csub(a0, a2), e2 = cadd(a1, a3), e3 = csub(a1, a3);
    y[0] = cadd(e0, e2);
    y[4] = csub(e0, e2);
    y[2] = {add(e1.r, e3.i), sub(e1.i, e3.r)};
    y[6] = {sub(e1.r, e3.i), add(e1.i, e3.r)};
}
// Odd outputs: the 4-point DFT of (d0, d1 w, -i d2, d3 w^3), w = e^(-i pi/4).
template <class V>
[[gnu::always_inline]] inline void dft8_odd_of(CV<V> d0, CV<V> d1, CV<V> d2, CV<V> d3, CV<V> y[8]) {
    const V h = bcast<V>(0.70710678118654752f);                          // sqrt(1/2)
    const CV<V> b1{mul(add(d1.r, d1.i), h), mul(sub(d1.i, d1.r), h)};    // d1 w
    const V x7 = mul(sub(d3.i, d3.r), h), y7 = mul(add(d3.r, d3.i), h);  // d3 w^3 = x7 - i y7
    const CV<V> o0{add(d0.r, d2.i), sub(d0.i, d2.r)};                    // d0 - i d2
    const CV<V> o1{sub(d0.r, d2.i), add(d0.i, d2.r)};                    // d0 + i d2
    const CV<V> o2{add(b1.r, x7), sub(b1.i, y7)};
    const CV<V> o3{sub(b1.r, x7), add(b1.i, y7)};
    y[1] = cadd(o0, o2);
    y[5] = csub(o0, o2);
    y[3] = {add(o1.r, o3.i), sub(o1.i, o3.r)};
    y[7] = {sub(o1.r, o3.i), add(o1.i, o3.r)};
}
template <class V>
[[gnu::always_inline]] inline void dft8_even(const CV<V> x[8], CV<V> y[8]) {
    dft8_even_of<V>(cadd(x[0], x[4]), cadd(x[1], x[5]), cadd(x[2], x[6]), cadd(x[3], x[7]), y);
}
template <class V>
[[gnu::always_inline]] inline void dft8_odd(const CV<V> x[8], CV<V> y[8]) {
    dft8_odd_of<V>(csub(x[0], x[4]), csub(x[1], x[5]), csub(x[2], x[6]), csub(x[3], x[7]), y);
}
template <class V>
ZUF_DFT8_INLINE void dft8(const CV<V> x[8], CV<V> y[8]) {
    const CV<V> a0 = cadd(x[0], x[4]), d0 = csub(x[0], x[4]), a2 = cadd(x[2], x[6]), d2 = csub(x[2], x[6]);
    const CV<V> a1 = cadd(x[1], x[5]), d1 = csub(x[1], x[5]), a3 = cadd(x[3], x[7]), d3 = csub(x[3], x[7]);
    dft8_even_of<V>(a0, a1, a2, a3, y);
    dft8_odd_of<V>(d0, d1, d2, d3, y);
}

// A radix-8 pass over n-point sub-transforms with stride s (the same scheme as pass4, p = 0
// without rotations).
template <class V, class In, bool kRot, bool kWide>
inline void bfly8(const In& in, float* out, int p, int m, int s, const float* tw, int per) {
    for (int q = 0; q < s; ++q) {
        CV<V> x[8], y[8];
        for (int j = 0; j < 8; ++j) x[j] = in.get(q + s * (p + j * m));
        dft8<V>(x, y);
        put<V>(out, q + 8 * s * p, y[0]);
        for (int k = 1; k < 8; ++k)
            put<V>(out, q + s * (8 * p + k), kRot ? cmul(y[k], twiddle<V, kWide>(tw, per, p, k - 1)) : y[k]);
    }
}
template <class V, class In, bool kWide>
void pass8(In in, float* out, int n, int s, const float* tw) {
    const int m = n / 8;
    const int per = kWide ? 56 : 14;
    bfly8<V, In, false, kWide>(in, out, 0, m, s, tw, per);
    for (int p = 1; p < m; ++p) bfly8<V, In, true, kWide>(in, out, p, m, s, tw, per);
}

// Four twiddles of one group (real or imaginary parts) from the first one's offset: consecutive,
// or in the AVX2 build's order two and two.
template <class V>
inline V lane_tw(const float* p, int M) {
    if (lane_slot(2) == 2 || M < 8) return loada<V>(p);
    const float t[4] = {p[0], p[1], p[4], p[5]};
    return load<V>(t);
}

// The lane combination of one group: e_j holds the four lanes' values at frequency k2 = 4g + j.
// A 4x4 transpose gives each lane l its four consecutive frequencies in one register; then
// X[k2 + M k1] = sum_l W_N^(l k2) E_l[k2] (-i)^(l k1).
template <class V, class Out>
inline void lane_group(CV<V> e0, CV<V> e1, CV<V> e2, CV<V> e3, int g, const Out& out, int M, const float* tw) {
    transpose4(e0.r, e1.r, e2.r, e3.r);
    transpose4(e0.i, e1.i, e2.i, e3.i);
    const LaneTwiddle at = ownsLaneTwiddle(M, g);
    const float *wr = tw + at.re, *wi = tw + at.im;
    const CV<V> t1 = cmul(e1, CV<V>{lane_tw<V>(wr, M), lane_tw<V>(wi, M)});
    const CV<V> t2 = cmul(e2, CV<V>{lane_tw<V>(wr + at.step, M), lane_tw<V>(wi + at.step, M)});
    const CV<V> t3 = cmul(e3, CV<V>{lane_tw<V>(wr + 2 * at.step, M), lane_tw<V>(wi + 2 * at.step, M)});
    const CV<V> s02 = cadd(e0, t2), d02 = csub(e0, t2), s13 = cadd(t1, t3), d13 = csub(t1, t3);
    out.put(4 * g, cadd(s02, s13));
    out.put(4 * g + M, CV<V>{add(d02.r, d13.i), sub(d02.i, d13.r)});
    out.put(4 * g + 2 * M, csub(s02, s13));
    out.put(4 * g + 3 * M, CV<V>{sub(d02.r, d13.i), add(d02.i, d13.r)});
}

// The lane pass on its own (4 and 8 points per lane, where the single inner pass has run).
template <class V, class Out>
void lane_pass(const float* buf, const Out& out, int M, const float* tw) {
    const SoaIn<V> in{buf};
    for (int g = 0; g < M / 4; ++g)
        lane_group<V>(in.get(4 * g), in.get(4 * g + 1), in.get(4 * g + 2), in.get(4 * g + 3), g, out, M, tw);
}

// The last radix-4 pass (4-point sub-transforms at stride s = M/4, no twiddles) fused with the
// lane pass: four neighbouring butterflies q0..q0+3 give, for each output k, the four consecutive
// elements q0 + s k .. q0 + 3 + s k, which are exactly one lane group. Saves a pass over memory.
template <class V, class Out>
void last4_lanes(const float* buf, const Out& out, int M, const float* tw) {
    const SoaIn<V> in{buf};
    const int s = M / 4;
    for (int q0 = 0; q0 < s; q0 += 4) {
        CV<V> y[4][4];
        for (int j = 0; j < 4; ++j) {
            const int q = q0 + j;
            CV<V> z[4];
            dft4<V>(in.get(q), in.get(q + s), in.get(q + 2 * s), in.get(q + 3 * s), z);
            for (int k = 0; k < 4; ++k) y[k][j] = z[k];
        }
        for (int k = 0; k < 4; ++k) lane_group<V>(y[k][0], y[k][1], y[k][2], y[k][3], (q0 + s * k) / 4, out, M, tw);
    }
}

// The same fusion with a last radix-8 pass (stride s = M/8): used when the lane's bits are a
// multiple of three, where it replaces two radix-4 passes and so one pass over memory.
template <class V, class Out>
void last8_lanes(const float* buf, const Out& out, int M, const float* tw) {
    const SoaIn<V> in{buf};
    const int s = M / 8;
    for (int q0 = 0; q0 < s; q0 += 4) {
        CV<V> y[8][4];
        for (int j = 0; j < 4; ++j) {
            CV<V> x[8], z[8];
            for (int i = 0; i < 8; ++i) x[i] = in.get(q0 + j + s * i);
            dft8<V>(x, z);
            for (int k = 0; k < 8; ++k) y[k][j] = z[k];
        }
        for (int k = 0; k < 8; ++k) lane_group<V>(y[k][0], y[k][1], y[k][2], y[k][3], (q0 + s * k) / 4, out, M, tw);
    }
}

// The pass plan of the radix-4 engine for complex order c >= 4: the last pass is fused with the
// lane pass. When the bits are a multiple of three every pass is radix 8; otherwise the last one is
// radix 4, and before it as many radix-8 passes as the remaining bits allow (fewer passes over
// memory), then radix 4. Made at compile time for every order: a transform only looks it up.
constexpr EnginePlan make_plan(int corder) {
    EnginePlan p{};
    p.M = 1 << (corder - 2);
    const int bits = corder - 2;
    if (bits <= 3) {  // one pass of 4 or 8 points
        p.radix[p.npass++] = bits == 3 ? 8 : 4;
        return p;
    }
    if (bits % 3 == 0) {
        for (int k = 0; k < bits / 3; ++k) p.radix[p.npass++] = 8;
        return p;
    }
    int rest = bits - 2;
    const int fours = rest % 3 == 0 ? 0 : (rest % 3 == 2 ? 1 : 2);
    for (int k = 0; k < (rest - 2 * fours) / 3; ++k) p.radix[p.npass++] = 8;
    for (int k = 0; k < fours; ++k) p.radix[p.npass++] = 4;
    p.radix[p.npass++] = 4;
    return p;
}
constexpr auto kPlans = [] {
    struct {
        EnginePlan at[kMaxRadix4Order + 1];
    } t{};
    for (int c = 4; c <= kMaxRadix4Order; ++c) t.at[c] = make_plan(c);
    return t;
}();

#if defined(__AVX2__)
// ------------------------------------------------------------------ AVX2: pair passes
// The AVX2 build runs every pass on two elements per 256-bit register: the low half holds one
// element, the high half another that the pass treats alike, and every lane goes through the
// operations of the four-lane passes, so the results are the same bits. The first pass pairs p
// with p + 1; when it is radix 8 (every plan but N = 64's), the buffers after it hold blocks of
// two elements, e and e + 2 (e with bit 1 clear): their four real parts side by side, then their
// imaginary parts (16 floats). Every later stride is a multiple of 8, so a middle pass's
// butterflies q and q + 2 read and write whole blocks; in the last pass, the butterflies q0 + 0,
// 1, 4, 5 (and 2, 3, 6, 7 in the high halves) of one output give two lane groups, whose
// transposes within the halves leave the frequencies in the order 0 1 4 5 | 2 3 6 7: the order
// of the lane twiddles in this build's table, and one in which interleaving real and imaginary
// parts gives the output in natural order without crossing halves. Transforms of one pass (4 or
// 8 points per lane) stay four lanes wide.
using V8 = Pair8;

inline V8 ld8(const float* p) { return {_mm256_loadu_ps(p)}; }
// The low halves of the eight floats at a and at b as one register, and their high halves: loaded
// by broadcasts and blended, not shuffled. On this build's targets the shuffles share their ports
// with the adds, which bound these passes, while broadcasting loads and blends do not.
inline void join_halves(const float* a, const float* b, __m256& lo, __m256& hi) {
    auto half = [](const float* x) { return _mm256_broadcast_ps(reinterpret_cast<const __m128*>(x)); };
    lo = _mm256_blend_ps(_mm256_loadu_ps(a), half(b), 0xF0);
    hi = _mm256_blend_ps(half(a + 4), _mm256_loadu_ps(b), 0xF0);
}
// Low halves of x and y (imm 0x20) or their high halves (0x31), as one pair.
inline CV<V8> halves(CV<V8> x, CV<V8> y, int imm) {
    return {{_mm256_permute2f128_ps(x.r.v, y.r.v, imm)}, {_mm256_permute2f128_ps(x.i.v, y.i.v, imm)}};
}
// Block access: the block of elements e (low half) and e + 2 (high half) starts at float
// block_at(e). For q < s with bit 1 clear and s a multiple of 4, block_at(q + s x) is
// block_at(q) + 8 s x: the passes step through blocks linearly.
inline int block_at(int e) { return 16 * (((e >> 2) << 1) | (e & 1)); }
inline CV<V8> get_block(const float* b) { return {ld8(b), ld8(b + 8)}; }
inline void put_block(float* b, CV<V8> y) {
    _mm256_storeu_ps(b, y.r.v);
    _mm256_storeu_ps(b + 8, y.i.v);
}
// The block of the low halves of x and y, by 128-bit stores instead of a shuffle joining them: the
// stores leave the arithmetic ports to the arithmetic. (A store of a high half takes an arithmetic
// port as a shuffle does.) Only for data read back much later: a 256-bit load of two 128-bit
// stores still in flight cannot take their data from them and waits until they reach the cache.
inline void put_low_halves(float* b, CV<V8> x, CV<V8> y) {
    _mm_storeu_ps(b, _mm256_castps256_ps128(x.r.v));
    _mm_storeu_ps(b + 4, _mm256_castps256_ps128(y.r.v));
    _mm_storeu_ps(b + 8, _mm256_castps256_ps128(x.i.v));
    _mm_storeu_ps(b + 12, _mm256_castps256_ps128(y.i.v));
}
// Pair inputs: elements e and e + 1.
template <bool kSwap>
struct PairCplxIn {
    const float* p;
    CV<V8> get(std::ptrdiff_t e) const {
        // (x0 x1 | x4 x5) and (x2 x3 | x6 x7) as (re, im) pairs, then the even and odd floats.
        __m256 lo, hi;
        join_halves(p + 8 * e, p + 8 * e + 8, lo, hi);
        const V8 re{_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))};
        const V8 im{_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))};
        return kSwap ? CV<V8>{im, re} : CV<V8>{re, im};
    }
};
struct PairSplitIn {
    const float* re;
    const float* im;
    CV<V8> get(std::ptrdiff_t e) const { return {ld8(re + 4 * e), ld8(im + 4 * e)}; }
};
template <class V, bool kSwap>
PairCplxIn<kSwap> pair_of(CplxIn<V, kSwap> in) {
    return {in.p};
}
template <class V>
PairSplitIn pair_of(SplitIn<V> in) {
    return {in.re, in.im};
}

// Output k of a first-pass butterfly pair times its twiddle (t: the pair's twiddles, kRadix - 1 of
// them); kP0: the pair of p = 0, whose low half stays unrotated.
template <int kRadix, bool kP0>
[[gnu::always_inline]] inline CV<V8> first_rotate(CV<V8> y, const float* t, int k) {
    const float* w = t + ownsWideTwiddle(8 * (kRadix - 1), 0, k - 1);
    const CV<V8> r = cmul(y, CV<V8>{ld8(w), ld8(w + 8)});
    return kP0 ? CV<V8>{{_mm256_blend_ps(r.r.v, y.r.v, 0x0F)}, {_mm256_blend_ps(r.i.v, y.i.v, 0x0F)}} : r;
}

// One butterfly pair of a radix-8 first pass: inputs from the elements p + j m (j = 0..7), t the
// pair's twiddles, o where the blocks of p's outputs go. kLows: write the low halves by
// put_low_halves (transforms long enough that the next pass reads them well after).
template <bool kP0, bool kLows, class PIn>
[[gnu::always_inline]] inline void first_pair(const PIn& in, std::ptrdiff_t p, std::ptrdiff_t m, float* o,
                                              const float* t) {
    CV<V8> y[8];
    // Element 8p + k is in the block at 64 p + block_at(k); 8 (p + 1) + k 64 floats further.
    // Outputs k and k + 2 share blocks (k = 0, 1, 4, 5): the even outputs are rotated and
    // written before the odd ones are formed, so that their values need no registers then.
    auto put = [&](int k) __attribute__((always_inline)) {
        if constexpr (kLows)
            put_low_halves(o + block_at(k), y[k], y[k + 2]);
        else
            put_block(o + block_at(k), halves(y[k], y[k + 2], 0x20));
        put_block(o + 64 + block_at(k), halves(y[k], y[k + 2], 0x31));
    };
    CV<V8> a[4], d[4];
    for (int j = 0; j < 4; ++j) {
        const CV<V8> x0 = in.get(p + j * m), x4 = in.get(p + (j + 4) * m);
        a[j] = cadd(x0, x4);
        d[j] = csub(x0, x4);
    }
    dft8_even_of<V8>(a[0], a[1], a[2], a[3], y);
    for (int k = 2; k < 8; k += 2) y[k] = first_rotate<8, kP0>(y[k], t, k);
    put(0);
    put(4);
    dft8_odd_of<V8>(d[0], d[1], d[2], d[3], y);
    for (int k = 1; k < 8; k += 2) y[k] = first_rotate<8, kP0>(y[k], t, k);
    put(1);
    put(5);
}

// The radix-8 first pass (s = 1, n = M) on pairs (p, p + 1), whose twiddles lie side by side in the
// table; p = 0 keeps its values unrotated, as in the four-lane pass. Outputs k and k + 2 of one p
// form a block (k = 0, 1, 4, 5).
template <int kN, class PIn>
void first_pairs(PIn in, float* out, const float* tw) {
    constexpr std::ptrdiff_t m = kN / 8, per = 56;
    // kN is the lane length M = N / 4. From N = 256 on, the 128-bit stores are 1 to 3% faster
    // (2.4% at N = 256: the low halves skip the shuffle that joins them, on the port the adds
    // need); at N = 128 the next pass's loads catch them in flight and it is 3 to 5% slower.
    constexpr bool kLows = kN >= 64;
    first_pair<true, kLows>(in, 0, m, out, tw);
    for (std::ptrdiff_t p = 2; p < m; p += 2)
        first_pair<false, kLows>(in, p, m, out + 64 * p, tw + ownsWideTwiddle(per, p, 0));
}

// A middle pass (stride s >= 8) on blocks: butterflies q and q + 2 side by side, twiddles
// broadcast from the compact table, none at p = 0.
template <int kRadix, int kN, int kS>
void middle_blocks(const float* buf, float* out, const float* tw) {
    constexpr int n = kN, s = kS, m = n / kRadix, per = 2 * (kRadix - 1);
    for (int p = 0; p < m; ++p) {
        // Broadcast where used: a broadcast from memory costs a load, while fourteen registers of
        // twiddles held across the loop make the radix-8 butterfly spill.
        const float* w = tw + per * p;
        const float* src = buf + 8 * s * p;
        float* dst = out + 8 * s * kRadix * p;
        constexpr int in_step = 8 * s * m, out_step = 8 * s;
        // Blocks of q = 0, 1, 4, 5, ...: 16 floats apart (s / 2 of them in all).
        for (int b = 0; b < 8 * s; b += 16) {
            CV<V8> x[kRadix], y[kRadix];
            auto load = [&] {
                for (int j = 0; j < kRadix; ++j) x[j] = get_block(src + b + j * in_step);
            };
            auto put = [&](int k) {
                const CV<V8> t =
                    k > 0 && p > 0 ? cmul(y[k], CV<V8>{bcast<V8>(w[2 * k - 2]), bcast<V8>(w[2 * k - 1])}) : y[k];
                put_block(dst + b + k * out_step, t);
            };
            if constexpr (kRadix == 8) {
                // The even outputs, then the odd ones, each half from its own loads of the
                // inputs: the whole butterfly on pairs needs more registers than there are, and
                // loading an input twice costs less than a spill's store and reload.
                load();
                dft8_even<V8>(x, y);
                for (int k = 0; k < 8; k += 2) put(k);
                load();
                dft8_odd<V8>(x, y);
                for (int k = 1; k < 8; k += 2) put(k);
            } else {
                load();
                dft4<V8>(x[0], x[1], x[2], x[3], y);
                for (int k = 0; k < 4; ++k) put(k);
            }
        }
    }
}

// 4x4 transposes within each half, by shufps alone: the 256-bit shufps issues on two ports on
// recent Intel cores, unpcklps/unpcklpd on one, and the last pass has as many shuffles as half
// its adds.
inline void transpose4(V8& a, V8& b, V8& c, V8& d) {
    const __m256 t0 = _mm256_shuffle_ps(a.v, b.v, _MM_SHUFFLE(1, 0, 1, 0));  // a0 a1 b0 b1
    const __m256 t1 = _mm256_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 2, 3, 2));  // a2 a3 b2 b3
    const __m256 t2 = _mm256_shuffle_ps(c.v, d.v, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 t3 = _mm256_shuffle_ps(c.v, d.v, _MM_SHUFFLE(3, 2, 3, 2));
    a.v = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(2, 0, 2, 0));  // a0 b0 c0 d0
    b.v = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 1, 3, 1));
    c.v = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(2, 0, 2, 0));
    d.v = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 1, 3, 1));
}

// Where the lane groups of the last pass write: eight consecutive outputs from a frequency k,
// their frequencies in the order 0 1 4 5 | 2 3 6 7. A cursor holds the output pointers already
// offset to k, so that the four outputs of a group are constant strides apart (kept in registers:
// the policies are copied into locals, which no store through a float pointer can change).
template <class V, bool kSwap, bool kScale>
struct PairOut {
    float* p;
    __m256 f;
    explicit PairOut(const CplxOut<V, kSwap, kScale>& o) : p(o.p), f(_mm256_set_m128(o.f, o.f)) {}
    PairOut at(int k) const {
        PairOut c = *this;
        c.p += 2 * k;
        return c;
    }
    void put(std::ptrdiff_t k, CV<V8> y) const {
        if (kScale) y = cscale(y, V8{f});
        const __m256 r = kSwap ? y.i.v : y.r.v, i = kSwap ? y.r.v : y.i.v;
        _mm256_storeu_ps(p + 2 * k, zip_lo_f32(r, i));
        _mm256_storeu_ps(p + 2 * k + 8, zip_hi_f32(r, i));
    }
};
template <class V, bool kScale>
struct PairSplitOut {
    float* re;
    float* im;
    __m256 f;
    explicit PairSplitOut(const SplitOut<V, kScale>& o) : re(o.re), im(o.im), f(_mm256_set_m128(o.f, o.f)) {}
    PairSplitOut at(int k) const {
        PairSplitOut c = *this;
        c.re += k;
        c.im += k;
        return c;
    }
    void put(std::ptrdiff_t k, CV<V8> y) const {
        if (kScale) y = cscale(y, V8{f});
        auto order = [](__m256 v) {
            return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0)));
        };
        _mm256_storeu_ps(re + k, order(y.r.v));
        _mm256_storeu_ps(im + k, order(y.i.v));
    }
};
template <class V, bool kSwap, bool kScale>
PairOut<V, kSwap, kScale> pair_out(const CplxOut<V, kSwap, kScale>& o) {
    return PairOut<V, kSwap, kScale>(o);
}
template <class V, bool kScale>
PairSplitOut<V, kScale> pair_out(const SplitOut<V, kScale>& o) {
    return PairSplitOut<V, kScale>(o);
}

// The lane groups g and g + 1 (g even) side by side: y[h] holds the elements 4g + 0, 1, 4, 5 (h =
// 0..3) in its low half and 4g + 2, 3, 6, 7 in its high half; a 4x4 transpose in each half, then
// the twiddles and sums of lane_group. o is the output cursor at 4g, w the group pair's twiddles
// (eight real parts, eight imaginary parts for each of the lanes 1..3), M the quarter length.
template <class PO>
[[gnu::always_inline]] inline void lane_pair(const CV<V8>* y, const PO& o, std::ptrdiff_t M, const float* w) {
    CV<V8> e[4] = {y[0], y[1], y[2], y[3]};  // a copy the compiler keeps in registers
    transpose4(e[0].r, e[1].r, e[2].r, e[3].r);
    transpose4(e[0].i, e[1].i, e[2].i, e[3].i);
    const CV<V8> t1 = cmul(e[1], CV<V8>{ld8(w), ld8(w + 8)});
    const CV<V8> t2 = cmul(e[2], CV<V8>{ld8(w + 16), ld8(w + 24)});
    const CV<V8> t3 = cmul(e[3], CV<V8>{ld8(w + 32), ld8(w + 40)});
    const CV<V8> s02 = cadd(e[0], t2), d02 = csub(e[0], t2), s13 = cadd(t1, t3), d13 = csub(t1, t3);
    o.put(0, cadd(s02, s13));
    o.put(M, CV<V8>{add(d02.r, d13.i), sub(d02.i, d13.r)});
    o.put(2 * M, csub(s02, s13));
    o.put(3 * M, CV<V8>{sub(d02.r, d13.i), add(d02.i, d13.r)});
}
// The twiddles of the group pair whose first frequency is f (f a multiple of 8, M >= 8; see
// ownsLaneTwiddle): 48 floats for every 8 frequencies.
inline const float* lane_pair_tw(const float* tw, int f) { return tw + 6 * f; }

// Half of a last radix-8 pass's butterflies q0 + 0..7 (blocks from b, stride s): their even
// outputs, or their odd ones, then those outputs' lane groups. Run in two halves, like the middle
// passes, so that half as many outputs wait for their lane groups; the loops are unrolled by
// hand because GCC leaves them as loops over an array in memory.
template <bool kOdd, class Lanes>
[[gnu::always_inline]] inline void last8_half(const float* b, int s, const Lanes& lanes) {
    CV<V8> y[8][4];
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {  // the blocks of q0 + 0, 1, 4, 5
        CV<V8> x[8], z[8];
        for (int i = 0; i < 8; ++i) x[i] = get_block(b + 16 * j + 8 * s * i);
        if constexpr (kOdd)
            dft8_odd<V8>(x, z);
        else
            dft8_even<V8>(x, z);
        for (int k = kOdd; k < 8; k += 2) y[k][j] = z[k];
    }
#pragma GCC unroll 4
    for (int k = kOdd; k < 8; k += 2) lanes(y[k], k);
}

// The last pass on blocks (stride s = M / kRadix >= 8) fused with the lane pass: the butterflies
// q0 + 0..7 give, for each output k, the lane groups (q0 + s k) / 4 and the one after it.
template <int kRadix, int kM, class Out>
void last_blocks(const float* buf, const Out& out_, const float* tw) {
    const auto out = pair_out(out_);
    constexpr int M = kM, s = M / kRadix;
    for (int q0 = 0; q0 < s; q0 += 8) {
        const float* b = buf + 8 * q0;
        // Output k's group pair starts at frequency q0 + s k.
        auto lanes = [&](const CV<V8>* y, int k) { lane_pair(y, out.at(q0 + s * k), M, lane_pair_tw(tw, q0 + s * k)); };
        if constexpr (kRadix == 4) {
            // In two halves, so that fewer values wait in memory: outputs 0 and 2 take the sums
            // a + c and b + d of each butterfly, outputs 1 and 3 the differences. Each operation
            // of the 4-point DFT still runs once.
            CV<V8> y0[4], y2[4];
            for (int j = 0; j < 4; ++j) {  // the blocks of q0 + 0, 1, 4, 5
                const float* x = b + 16 * j;
                const CV<V8> apc = cadd(get_block(x), get_block(x + 16 * s));
                const CV<V8> bpd = cadd(get_block(x + 8 * s), get_block(x + 24 * s));
                y0[j] = cadd(apc, bpd);
                y2[j] = csub(apc, bpd);
            }
            lanes(y0, 0);
            lanes(y2, 2);
            CV<V8> y1[4], y3[4];
            for (int j = 0; j < 4; ++j) {
                const float* x = b + 16 * j;
                const CV<V8> amc = csub(get_block(x), get_block(x + 16 * s));
                const CV<V8> bmd = csub(get_block(x + 8 * s), get_block(x + 24 * s));
                y1[j] = {add(amc.r, bmd.i), sub(amc.i, bmd.r)};
                y3[j] = {sub(amc.r, bmd.i), add(amc.i, bmd.r)};
            }
            lanes(y1, 1);
            lanes(y3, 3);
        } else {
            last8_half<false>(b, s, lanes);  // from the sums x[j] + x[j + 4]
            last8_half<true>(b, s, lanes);   // from the differences
        }
    }
}

// N = 64 (M = 16: a radix-4 first pass, then the last radix-4 pass at stride 4) in registers. The
// first pass runs the butterfly pairs (0, 1) and (2, 3); output k of butterfly p is element
// 4p + k, which the last pass's butterfly q = k reads as its input p. Its butterflies run as the
// pairs (0, 2) and (1, 3), whose outputs k are the halves lane_pair takes for the lane groups k:
// no data goes through memory between the passes, and the only rearrangement is sixteen 128-bit
// half swaps (the four-lane buffer in between cost as many again, and the blends to read it back).
template <class PIn, class Out>
void pairs64(const PIn& in, const Out& out, const float* tw, const float* laneTw) {
    CV<V8> ya[4], yb[4];
    dft4<V8>(in.get(0), in.get(4), in.get(8), in.get(12), ya);
    dft4<V8>(in.get(2), in.get(6), in.get(10), in.get(14), yb);
    for (int k = 1; k < 4; ++k) {
        ya[k] = first_rotate<4, true>(ya[k], tw, k);
        yb[k] = first_rotate<4, false>(yb[k], tw + ownsWideTwiddle(24, 2, 0), k);
    }
    CV<V8> z[2][4];
    for (int q = 0; q < 2; ++q)  // butterflies q (low halves) and q + 2 (high halves)
        dft4<V8>(halves(ya[q], ya[q + 2], 0x20), halves(ya[q], ya[q + 2], 0x31), halves(yb[q], yb[q + 2], 0x20),
                 halves(yb[q], yb[q + 2], 0x31), z[q]);
    const auto o = pair_out(out);
    for (int k = 0; k < 4; k += 2) {
        const CV<V8> e[4] = {z[0][k], z[1][k], z[0][k + 1], z[1][k + 1]};
        lane_pair(e, o.at(4 * k), 16, lane_pair_tw(laneTw, 4 * k));
    }
}

// The sub-transform length entering pass k of a plan.
constexpr int pass_length(const EnginePlan& p, int k) {
    int n = p.M;
    for (int i = 0; i < k; ++i) n /= p.radix[i];
    return n;
}

// Passes kPass.. of order kC's plan, after the first (see run_engine). Every length and stride is
// a constant of the instantiation, so the passes address their butterflies' rows by immediate
// offsets instead of computing them.
template <int kC, int kPass, class Out>
void later_pairs(float* wa, float* wb, const float* tw, const Out& out, const float* laneTw) {
    constexpr EnginePlan plan = make_plan(kC);
    constexpr int n = pass_length(plan, kPass), r = plan.radix[kPass];
    const float* src = (kPass - 1) & 1 ? wb : wa;
    if constexpr (kPass == plan.npass - 1) {
        last_blocks<r, plan.M>(src, out, laneTw);
    } else {
        middle_blocks<r, n, plan.M / n>(src, kPass & 1 ? wb : wa, tw);
        later_pairs<kC, kPass + 1>(wa, wb, tw + 2 * (r - 1) * (n / r), out, laneTw);
    }
}

template <int kC, class In, class Out>
void run_pairs_c(const FftContext_C_32fc* ctx, In in, const Out& out, float* wa, float* wb) {
    constexpr EnginePlan plan = make_plan(kC);
    if constexpr (plan.radix[0] == 4) {  // the plan (4, 4) of N = 64: the only one to start with radix 4
        pairs64(pair_of(in), out, ctx->twiddle, ctx->laneTw);
    } else {
        first_pairs<plan.M>(pair_of(in), wa, ctx->twiddle);
        later_pairs<kC, 1>(wa, wb, ctx->twiddle + 56 * (plan.M / 8), out, ctx->laneTw);
    }
}

// All passes on pairs (see run_engine), orders 6..16: the instantiation for ctx's order.
template <class In, class Out, int... kC>
void run_pairs_of(std::integer_sequence<int, kC...>, const FftContext_C_32fc* ctx, In in, const Out& out, float* wa,
                  float* wb) {
    (void)((ctx->corder == kC && (run_pairs_c<kC>(ctx, in, out, wa, wb), true)) || ...);
}
template <class In, class Out>
void run_pairs(const FftContext_C_32fc* ctx, In in, const Out& out, float* wa, float* wb) {
    run_pairs_of(std::integer_sequence<int, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16>{}, ctx, in, out, wa, wb);
}
#endif

// All passes. The first reads the caller's data (its twiddles stored four-wide); the middle ones
// alternate between the two halves wa, wb of the work buffer; the last pass is fused with
// the lane pass and writes the caller's destination, which is therefore never used as scratch
// (so it may be the source). With 4 or 8 points per lane the single pass runs in place in wa.
template <class V, class In, class Out>
void run_engine(const FftContext_C_32fc* ctx, In in, const Out& out, float* wa, float* wb) {
    const EnginePlan plan = kPlans.at[ctx->corder];
    if (plan.npass == 1) {
        if (plan.M == 4)
            pass4<V, In, false>(in, wa, 4, 1, nullptr);
        else
            pass8<V, In, false>(in, wa, 8, 1, nullptr);
        lane_pass<V>(wa, out, plan.M, ctx->laneTw);
        return;
    }
#if defined(__AVX2__)
    if constexpr (!std::is_same_v<V, Lanes4>) {  // the vector instantiation
        run_pairs(ctx, in, out, wa, wb);
        return;
    }
#endif
    const float* tw = ctx->twiddle;
    int n = plan.M, s = 1;
    float* buf[2] = {wa, wb};
    if (plan.radix[0] == 8) {
        pass8<V, In, true>(in, wa, n, 1, tw);
        tw += 56 * (n / 8);
    } else {
        pass4<V, In, true>(in, wa, n, 1, tw);
        tw += 24 * (n / 4);
    }
    n /= plan.radix[0];
    s *= plan.radix[0];
    for (int k = 1; k < plan.npass - 1; ++k) {
        const SoaIn<V> in2{buf[(k - 1) & 1]};
        if (plan.radix[k] == 8) {
            pass8<V, SoaIn<V>, false>(in2, buf[k & 1], n, s, tw);
            tw += 14 * (n / 8);
        } else {
            pass4<V, SoaIn<V>, false>(in2, buf[k & 1], n, s, tw);
            tw += 6 * (n / 4);
        }
        n /= plan.radix[k];
        s *= plan.radix[k];
    }
    const float* last = buf[(plan.npass - 2) & 1];
    if (plan.radix[plan.npass - 1] == 8)
        last8_lanes<V>(last, out, plan.M, ctx->laneTw);
    else
        last4_lanes<V>(last, out, plan.M, ctx->laneTw);
}

template <class V>
void engine_c(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
              float factor) {
    const V f = bcast<V>(factor);
    float* wb = work + (int64_t{2} << ctx->corder);
    if (dir == Dir::Fwd) {
        if (scale)
            run_engine<V>(ctx, CplxIn<V, false>{src}, CplxOut<V, false, true>{dst, f}, work, wb);
        else
            run_engine<V>(ctx, CplxIn<V, false>{src}, CplxOut<V, false, false>{dst, f}, work, wb);
    } else {
        if (scale)
            run_engine<V>(ctx, CplxIn<V, true>{src}, CplxOut<V, true, true>{dst, f}, work, wb);
        else
            run_engine<V>(ctx, CplxIn<V, true>{src}, CplxOut<V, true, false>{dst, f}, work, wb);
    }
}

}  // namespace

// ------------------------------------------------------------------ orders 0..3
// Straight-line kernels on interleaved complex values; the inverse swaps re and im around the
// forward kernel. All inputs are read before any output is written (in place is fine).
void ownsSmallC(int order, const float* src, float* dst, Dir dir, bool scale, float f) {
    const int n = 1 << order;
    float xr[8], xi[8], yr[8], yi[8];
    for (int k = 0; k < n; ++k) {
        xr[k] = src[2 * k + (dir == Dir::Inv)];
        xi[k] = src[2 * k + (dir == Dir::Fwd)];
    }
    switch (order) {
        case 0:
            yr[0] = xr[0];
            yi[0] = xi[0];
            break;
        case 1:
            yr[0] = xr[0] + xr[1];
            yi[0] = xi[0] + xi[1];
            yr[1] = xr[0] - xr[1];
            yi[1] = xi[0] - xi[1];
            break;
        case 2: {
            const float ar = xr[0] + xr[2], ai = xi[0] + xi[2], br = xr[0] - xr[2], bi = xi[0] - xi[2];
            const float cr = xr[1] + xr[3], ci = xi[1] + xi[3], dr = xr[1] - xr[3], di = xi[1] - xi[3];
            yr[0] = ar + cr;
            yi[0] = ai + ci;
            yr[2] = ar - cr;
            yi[2] = ai - ci;
            yr[1] = br + di;  // (b) - i (d)
            yi[1] = bi - dr;
            yr[3] = br - di;
            yi[3] = bi + dr;
            break;
        }
        default: {
            CV<float> x[8], y[8];
            for (int k = 0; k < 8; ++k) x[k] = {xr[k], xi[k]};
            dft8<float>(x, y);
            for (int k = 0; k < 8; ++k) {
                yr[k] = y[k].r;
                yi[k] = y[k].i;
            }
            break;
        }
    }
    for (int k = 0; k < n; ++k) {
        const float r = scale ? yr[k] * f : yr[k], i = scale ? yi[k] * f : yi[k];
        dst[2 * k + (dir == Dir::Inv)] = r;
        dst[2 * k + (dir == Dir::Fwd)] = i;
    }
}

// ------------------------------------------------------------------ plans and tables
EnginePlan ownsEnginePlan(int corder) { return make_plan(corder); }

namespace {
// First pass: (radix - 1) twiddles per p, each stored four-wide (8 floats); middle passes:
// (radix - 1) (re, im) pairs per p; the last pass has none.
int64_t inner_twiddle_floats(const EnginePlan& p) {
    if (p.npass == 1) return 0;
    int64_t total = int64_t{8} * (p.radix[0] - 1) * (p.M / p.radix[0]);
    int n = p.M / p.radix[0];
    for (int k = 1; k < p.npass - 1; n /= p.radix[k], ++k) total += 2 * (p.radix[k] - 1) * (n / p.radix[k]);
    return total;
}
int64_t round32(int64_t b) { return (b + 31) & ~int64_t{31}; }
}  // namespace

int64_t ownsRadix4TableBytes(int corder) {
    const EnginePlan p = ownsEnginePlan(corder);
    return round32(4 * inner_twiddle_floats(p)) + round32(4 * int64_t{6} * p.M);
}

void ownsRadix4Init(FftContext_C_32fc* ctx, int corder, uint8_t* mem, const TwiddleSource& tw) {
    const EnginePlan p = ownsEnginePlan(corder);
    float* inner = reinterpret_cast<float*>(mem);
    float* lane = reinterpret_cast<float*>(mem + round32(4 * inner_twiddle_floats(p)));
    // Inner passes: the pass over n-point sub-transforms uses W_n^(k p) = W_N^(k p N/n).
    float* t = inner;
    if (p.npass > 1) {
        const int r0 = p.radix[0];
        for (int q = 0; q < p.M / r0; ++q)
            for (int j = 1; j < r0; ++j) {
                float w[2];
                tw.get(corder, int64_t{4} * q * j, w);  // n = M: N/n = 4
                float* at = t + ownsWideTwiddle(8 * (r0 - 1), q, j - 1);
                for (int l = 0; l < 4; ++l) {
                    at[l] = w[0];
                    at[8 + l] = w[1];
                }
            }
        t += int64_t{8} * (r0 - 1) * (p.M / r0);
        int n = p.M / r0;
        for (int k = 1; k < p.npass - 1; n /= p.radix[k], ++k) {
            const int64_t step = (int64_t{4} * p.M) / n;
            for (int q = 0; q < n / p.radix[k]; ++q)
                for (int j = 1; j < p.radix[k]; ++j) {
                    tw.get(corder, step * q * j, t);
                    t += 2;
                }
        }
    }
    // Lane pass: group g, lane l = 1..3: four real parts then four imaginary parts of
    // W_N^(l k2), k2 = 4g..4g+3.
    for (int g = 0; g < p.M / 4; ++g)
        for (int l = 1; l <= 3; ++l)
            for (int j = 0; j < 4; ++j) {
                float w[2];
                tw.get(corder, int64_t{l} * (4 * g + j), w);
                const LaneTwiddle at = ownsLaneTwiddle(p.M, g, j);
                lane[at.re + at.step * (l - 1)] = w[0];
                lane[at.im + at.step * (l - 1)] = w[1];
            }
    ctx->twiddle = inner;
    ctx->laneTw = lane;
}

void TwiddleSource::get(int n, int64_t e, float* out) const {
    e &= (int64_t{1} << n) - 1;
    if (base == nullptr && n <= 10) {
        const int64_t j = e << (10 - n);
        out[0] = fft_fix_twiddle_table_32f[2 * j];
        out[1] = -fft_fix_twiddle_table_32f[2 * j + 1];
        return;
    }
    if (base != nullptr && n <= baseOrder) {
        const int64_t j = e << (baseOrder - n);
        const int64_t full = int64_t{1} << baseOrder, q = full / 4;
        auto qcos = [&](int64_t a) -> double {
            a &= full - 1;
            if (a <= q) return base[a];
            if (a <= 2 * q) return -base[2 * q - a];
            if (a <= 3 * q) return -base[a - 2 * q];
            return base[full - a];
        };
        out[0] = static_cast<float>(qcos(j));
        out[1] = static_cast<float>(-qcos(q - j));
        return;
    }
    const double a = 6.283185307179586476925286766559 * (static_cast<double>(e) / std::ldexp(1.0, n));
    out[0] = static_cast<float>(std::cos(a));
    out[1] = static_cast<float>(-std::sin(a));
}

void ownsFillCosBase(double* base, int order) {
    const int64_t q = (int64_t{1} << order) / 4;
    for (int64_t j = 0; j <= q; ++j)
        base[j] = std::cos(6.283185307179586476925286766559 * (static_cast<double>(j) / std::ldexp(1.0, order)));
}

// ------------------------------------------------------------------ dispatch
template <class V>
void ownsFFTComplex(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                    float factor) {
    const int c = ctx->corder;
    if (c <= 3)
        ownsSmallC(c, src, dst, dir, scale, factor);
    else if (c <= kMaxRadix4Order)
        engine_c<V>(ctx, src, dst, work, dir, scale, factor);
    else
        ownsFFTLarge<V>(ctx, src, dst, work, dir, scale, factor);
}
template void ownsFFTComplex<__m128>(const FftContext_C_32fc*, const float*, float*, float*, Dir, bool, float);
template void ownsFFTComplex<Lanes4>(const FftContext_C_32fc*, const float*, float*, float*, Dir, bool, float);

void ownsFFT_C_32fc(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                    float factor) {
    ownsFFTComplex<__m128>(ctx, src, dst, work, dir, scale, factor);
}
void ownsFFT_C_32fc_ref(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                        float factor) {
    ownsFFTComplex<Lanes4>(ctx, src, dst, work, dir, scale, factor);
}

template <class V>
void ownsFFT_C_32fc_Block(const FftContext_C_32fc* ctx, float* data, float* work, Dir dir) {
    engine_c<V>(ctx, data, data, work, dir, false, 1.0f);
}
template void ownsFFT_C_32fc_Block<__m128>(const FftContext_C_32fc*, float*, float*, Dir);
template void ownsFFT_C_32fc_Block<Lanes4>(const FftContext_C_32fc*, float*, float*, Dir);

namespace {
template <class V>
void engine_split(const FftContext_C_32fc* ctx, const float* sr, const float* si, float* dr, float* di, float* work,
                  bool scale, float factor) {
    const int64_t n2 = int64_t{2} << ctx->corder;  // floats of N complex values
    const V f = bcast<V>(factor);
    if (scale)
        run_engine<V>(ctx, SplitIn<V>{sr, si}, SplitOut<V, true>{dr, di, f}, work, work + n2);
    else
        run_engine<V>(ctx, SplitIn<V>{sr, si}, SplitOut<V, false>{dr, di, f}, work, work + n2);
}

template <class V>
void fft_split(const FftContext_C_32fc* ctx, const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,
               float* work, bool scale, float factor) {
    const int c = ctx->corder;
    const int64_t n = int64_t{1} << c;
    if (c <= 3) {
        float x[16];
        for (int k = 0; k < n; ++k) {
            x[2 * k] = srcRe[k];
            x[2 * k + 1] = srcIm[k];
        }
        ownsSmallC(c, x, x, Dir::Fwd, scale, factor);
        for (int k = 0; k < n; ++k) {
            dstRe[k] = x[2 * k];
            dstIm[k] = x[2 * k + 1];
        }
    } else if (c <= kMaxRadix4Order) {
        engine_split<V>(ctx, srcRe, srcIm, dstRe, dstIm, work, scale, factor);
    } else {
        // Interleave into the work buffer, transform there, split back out.
        float* x = work;
        for (int64_t k = 0; k < n; ++k) {
            x[2 * k] = srcRe[k];
            x[2 * k + 1] = srcIm[k];
        }
        ownsFFTLarge<V>(ctx, x, x, work + 2 * n, Dir::Fwd, scale, factor);
        for (int64_t k = 0; k < n; ++k) {
            dstRe[k] = x[2 * k];
            dstIm[k] = x[2 * k + 1];
        }
    }
}
}  // namespace

void ownsFFT_C_32f(const FftContext_C_32fc* ctx, const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,
                   float* work, bool scale, float factor) {
    fft_split<__m128>(ctx, srcRe, srcIm, dstRe, dstIm, work, scale, factor);
}
void ownsFFT_C_32f_ref(const FftContext_C_32fc* ctx, const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,
                       float* work, bool scale, float factor) {
    fft_split<Lanes4>(ctx, srcRe, srcIm, dstRe, dstIm, work, scale, factor);
}

}  // namespace zuf::xf
