// Real transforms through the complex engine of half the length.
//
// The N reals are read as N/2 complex values z[n] = x[2n] + i x[2n+1] (no copy: that is their
// memory layout), transformed by the complex engine, and recombined: with A = Z[k], B = Z[M-k]
// (M = N/2), E = (A + conj B)/2 and O = -i (A - conj B)/2 are the transforms of the even and odd
// samples, and X[k] = E + W^k O, X[M-k] = conj(E - W^k O), W = e^(-2 pi i / N). The inverse undoes
// the recombination first (without the halves: the inverse complex transform of M points then
// yields the N reals directly) and runs the inverse complex engine. Pairs (k, M-k) are processed
// four at a time, the mirrored four lane-reversed; the middle ones, and all of them in the
// reference instantiation, one at a time on plain floats through the same arithmetic.
#include <cstring>
#include <type_traits>

#include "transforms/fft_engine.h"

namespace zuf::xf {
namespace {

int64_t round32(int64_t b) { return (b + 31) & ~int64_t{31}; }
int64_t rec_count(int order) { return (int64_t{1} << order) / 4; }  // k = 1..N/4
int64_t rec_groups(int order) { return (rec_count(order) + 3) / 4; }
// Orders beyond this take recombination twiddles from the two-level tables in chunks.
constexpr int kMaxStoredRecOrder = 17;

template <class V>
inline void rec_fwd_math(CV<V> a, CV<V> b, CV<V> w, V h, CV<V>& xk, CV<V>& xm) {
    const CV<V> s{add(a.r, b.r), sub(a.i, b.i)};  // A + conj B
    const CV<V> d{sub(a.r, b.r), add(a.i, b.i)};  // A - conj B
    const CV<V> e = cscale(s, h);
    // t = W^k (-i h D): with hD = u + i v, -i hD = v - i u, so t = (v wr + u wi) + i (v wi - u wr)
    // (the negation folded into the rotation's own adds).
    const V u = mul(d.r, h), v = mul(d.i, h);
    const CV<V> t{add(mul(v, w.r), mul(u, w.i)), sub(mul(v, w.i), mul(u, w.r))};
    xk = cadd(e, t);
    xm = {sub(e.r, t.r), sub(t.i, e.i)};
}

template <class V>
inline void rec_inv_math(CV<V> a, CV<V> b, CV<V> w, bool scale, V f, CV<V>& zk, CV<V>& zm) {
    const CV<V> s{add(a.r, b.r), sub(a.i, b.i)};
    const CV<V> d{sub(a.r, b.r), add(a.i, b.i)};
    const CV<V> o = cmulj(d, w);  // D conj(W^k)
    zk = {sub(s.r, o.i), add(s.i, o.r)};
    zm = {add(s.r, o.i), sub(o.r, s.i)};
    if (scale) {
        zk = cscale(zk, f);
        zm = cscale(zm, f);
    }
}

inline CV<float> one_lane(const float* p) { return {p[0], p[1]}; }
inline void put_lane(float* p, CV<float> y) {
    p[0] = y.r;
    p[1] = y.i;
}

// Twiddles of groups g0.. (SoA, 8 floats per group of four k) from the stored table or computed.
const float* rec_twiddles(const FftContext_C_32fc* ctx, int64_t g0, int64_t count, float* chunk) {
    if (ctx->recFwd) return ctx->recFwd + 8 * g0;
    for (int64_t g = 0; g < count; ++g)
        for (int j = 0; j < 4; ++j) {
            float w[2];
            ownsTwoLevelTwiddle(ctx, 1 + 4 * (g0 + g) + j, w);
            chunk[8 * g + j] = w[0];
            chunk[8 * g + 4 + j] = w[1];
        }
    return chunk;
}

template <class V>
void recombine(const FftContext_C_32fc* ctx, const float* src, float* dst, Dir dir, bool scale, float factor,
               bool vector_groups) {
    const int64_t M = int64_t{1} << (ctx->order - 1);
    const float f = scale ? factor : 1.0f;
    // k = 0: the first pair holds X[0] and X[N/2].
    const float z0 = src[0], z1 = src[1];
    if (dir == Dir::Fwd) {
        dst[0] = scale ? (z0 + z1) * f : z0 + z1;
        dst[1] = scale ? (z0 - z1) * f : z0 - z1;
    } else {
        dst[0] = scale ? (z0 + z1) * f : z0 + z1;
        dst[1] = scale ? (z0 - z1) * f : z0 - z1;
    }
    const V h = bcast<V>(0.5f * f), fv = bcast<V>(f);
    const float h1 = 0.5f * f, f1 = f;
    alignas(16) float chunk[8 * 64];
    const int64_t kmid = M / 2;  // pairs k = 1..kmid (k = kmid pairs with itself)
    int64_t k = 1;
    for (int64_t g0 = 0; g0 < rec_groups(ctx->order); g0 += 64) {
        const int64_t count = rec_groups(ctx->order) - g0 < 64 ? rec_groups(ctx->order) - g0 : 64;
        const float* tw = rec_twiddles(ctx, g0, count, chunk);
        for (int64_t g = 0; g < count; ++g) {
            const float* w = tw + 8 * g;
            if (vector_groups && 2 * k + 6 < M) {
                const float* pa = src + 2 * k;
                const float* pb = src + 2 * (M - k - 3);
                CV<V> a, b, x, y;
                deinterleave(load<V>(pa), load<V>(pa + 4), a.r, a.i);
                deinterleave(load<V>(pb), load<V>(pb + 4), b.r, b.i);
                b = {reverse(b.r), reverse(b.i)};
                const CV<V> wv{load<V>(w), load<V>(w + 4)};
                if (dir == Dir::Fwd)
                    rec_fwd_math(a, b, wv, h, x, y);
                else
                    rec_inv_math(a, b, wv, scale, fv, x, y);
                V v0, v1;
                interleave(x.r, x.i, v0, v1);
                store(dst + 2 * k, v0);
                store(dst + 2 * k + 4, v1);
                interleave(reverse(y.r), reverse(y.i), v0, v1);
                store(dst + 2 * (M - k - 3), v0);
                store(dst + 2 * (M - k - 3) + 4, v1);
            } else {
                for (int j = 0; j < 4 && k + j <= kmid; ++j) {
                    const int64_t kk = k + j;
                    const CV<float> a = one_lane(src + 2 * kk), b = one_lane(src + 2 * (M - kk));
                    const CV<float> wv{w[j], w[4 + j]};
                    CV<float> x, y;
                    if (dir == Dir::Fwd)
                        rec_fwd_math(a, b, wv, h1, x, y);
                    else
                        rec_inv_math(a, b, wv, scale, f1, x, y);
                    put_lane(dst + 2 * kk, x);
                    put_lane(dst + 2 * (M - kk), y);
                }
            }
            k += 4;
        }
    }
}

// Orders 0..3: through the complex kernels on the full spectrum.
void small_r(int order, const float* src, float* dst, Dir dir, bool scale, float f) {
    const int n = 1 << order;
    float z[16];
    if (dir == Dir::Fwd) {
        for (int k = 0; k < n; ++k) {
            z[2 * k] = src[k];
            z[2 * k + 1] = 0.0f;
        }
        ownsSmallC(order, z, z, Dir::Fwd, scale, f);
        dst[0] = z[0];
        if (n >= 2) dst[1] = z[n];  // X[N/2]
        for (int k = 1; k < n / 2; ++k) {
            dst[2 * k] = z[2 * k];
            dst[2 * k + 1] = z[2 * k + 1];
        }
    } else {
        z[0] = src[0];
        z[1] = 0.0f;
        if (n >= 2) {
            z[n] = src[1];
            z[n + 1] = 0.0f;
        }
        for (int k = 1; k < n / 2; ++k) {
            z[2 * k] = src[2 * k];
            z[2 * k + 1] = src[2 * k + 1];
            z[2 * (n - k)] = src[2 * k];
            z[2 * (n - k) + 1] = -src[2 * k + 1];
        }
        ownsSmallC(order, z, z, Dir::Inv, scale, f);
        for (int k = 0; k < n; ++k) dst[k] = z[2 * k];
    }
}

}  // namespace

int64_t ownsRecTableBytes(int order) { return order > kMaxStoredRecOrder ? 0 : round32(32 * rec_groups(order)); }

void ownsRecInit(FftContext_C_32fc* ctx, int order, uint8_t* mem, const TwiddleSource& tw) {
    if (order > kMaxStoredRecOrder) {
        ctx->recFwd = ctx->recInv = nullptr;
        return;
    }
    auto* t = reinterpret_cast<float*>(mem);
    for (int64_t g = 0; g < rec_groups(order); ++g)
        for (int j = 0; j < 4; ++j) {
            float w[2];
            tw.get(order, 1 + 4 * g + j, w);
            t[8 * g + j] = w[0];
            t[8 * g + 4 + j] = w[1];
        }
    ctx->recFwd = ctx->recInv = t;
}

namespace {
// The reference (Lanes4) recombines one pair at a time; the SSE kernel four pairs at a time.
template <class V>
void fft_real(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
              float factor) {
    constexpr bool kGroups = !std::is_same_v<V, Lanes4>;
    if (ctx->order <= 3) {
        small_r(ctx->order, src, dst, dir, scale, factor);
        return;
    }
    if (dir == Dir::Fwd) {
        ownsFFTComplex<V>(ctx, src, dst, work, Dir::Fwd, false, 1.0f);
        recombine<V>(ctx, dst, dst, Dir::Fwd, scale, factor, kGroups);
    } else {
        recombine<V>(ctx, src, dst, Dir::Inv, scale, factor, kGroups);
        ownsFFTComplex<V>(ctx, dst, dst, work, Dir::Inv, false, 1.0f);
    }
}
}  // namespace

void ownsFFT_R_32f(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                   float factor) {
    fft_real<__m128>(ctx, src, dst, work, dir, scale, factor);
}
void ownsFFT_R_32f_ref(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                       float factor) {
    fft_real<Lanes4>(ctx, src, dst, work, dir, scale, factor);
}

}  // namespace zuf::xf
