// Internal interface of the FFT engine: context layouts, the four-lane arithmetic that the
// scalar reference and the SSE kernels share, and the engine entry points used by the FFT, DCT,
// MDCT and 16-bit families.
//
// One algorithm, two instantiations. Every kernel is a template over a four-lane float type:
// Lanes4 (four plain floats, the scalar reference) or __m128 (SSE). Both perform the same IEEE
// operations in the same order on every lane (contraction is off), so they agree bit for bit; the
// exported functions run the SSE instantiation, the tests compare it with the reference. The
// AVX2 build adds Pair8 (two four-lane elements per register) for the float FFT engine's passes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/checks.h"
#include "common/context.h"
#include "common/simd.h"
#include "frame/context_alloc.h"
#include "zufack9/zuf_transforms.h"

// ------------------------------------------------------------------ contexts
// Float FFT context (families C_32fc, C_32f, R_32f). The first eight words and the two table
// pointers after them are the documented header; the rest is this engine's own. On 32-bit x86
// the header is 80 bytes and the tables follow in the same block.
struct FftContext_C_32fc {
    uint32_t id;                     // 4, 5 (split family) or 6 (real family)
    int32_t order;                   // log2 N of the caller's transform
    int32_t fwdNorm;                 // 1 when the forward result is multiplied by `norm`
    int32_t invNorm;                 // 1 when the inverse result is
    float norm;                      // 1/N or 1/sqrt N (extended precision, rounded once); unset for flag 8
    int32_t hint;                    // stored only
    int32_t workBytes;               // work buffer a transform needs, without alignment slack
    int32_t allocated;               // 1: InitAlloc made the block, Free releases it
    const float* twiddle;            // inner-pass twiddles of the radix-4 engine
    const uint32_t* bitrev;          // large path: bit reversal of the upper half of the index bits
    const float* recFwd;             // real family: recombination twiddles (forward)
    const float* recInv;             // real family: recombination twiddles (inverse; the same table)
    const float* laneTw;             // radix-4 engine: twiddles of the final cross-lane pass
    const double* fine;              // large path: e^(-2 pi i j / N), j < 2^fineBits
    const double* coarse;            // large path: e^(-2 pi i j 2^fineBits / N)
    const FftContext_C_32fc* block;  // large path: the engine for one cache-sized block
    int32_t corder;                  // order of the complex transform (order - 1 for the real family)
    int32_t blockOrder;              // large path: log2 of the block length
    int32_t fineBits;                // large path: split of the twiddle exponent
    const uint32_t* blockRev;        // large path: bit reversal within a block
};
struct FftContext_C_32f : FftContext_C_32fc {};
struct FftContext_R_32f : FftContext_C_32fc {};

// 16-bit FFT context. Documented fields first; `allocated` is this engine's own.
struct FftContext_C_16sc {
    uint32_t id;  // 1
    int32_t order;
    int32_t fwdShift;  // right shift of the integer path, forward
    int32_t invShift;  // the same for the inverse direction (stored)
    int32_t oddOrder;  // flag 4 with an odd order: the integer path scales by 1/sqrt 2
    int32_t hint;      // 0 or 1: integer kernel for orders 1..3
    int32_t workBytes;
    int32_t engine;                // 1: the transform runs through the nested float context
    const uint8_t* bitrev;         // integer path: output permutation
    const int32_t* twiddle;        // integer path: Q31 cos/sin pairs of the 8-point transform
    const FftContext_C_32fc* fft;  // float path: the nested complex float context
    int32_t allocated;
};

#if defined(__i386__)
static_assert(sizeof(FftContext_C_32fc) == 80, "float FFT header is 80 bytes on 32-bit x86");
static_assert(offsetof(FftContext_C_32fc, norm) == 16 && offsetof(FftContext_C_32fc, allocated) == 28);
static_assert(offsetof(FftContext_C_32fc, twiddle) == 32 && offsetof(FftContext_C_32fc, bitrev) == 36);
static_assert(offsetof(FftContext_C_32fc, recFwd) == 40 && offsetof(FftContext_C_32fc, recInv) == 44);
static_assert(offsetof(FftContext_C_16sc, engine) == 28 && offsetof(FftContext_C_16sc, bitrev) == 32);
static_assert(offsetof(FftContext_C_16sc, twiddle) == 36 && offsetof(FftContext_C_16sc, fft) == 40);
#endif

namespace zuf::xf {

// ------------------------------------------------------------------ four-lane arithmetic
struct Lanes4 {
    float v[4];
};

inline Lanes4 add(Lanes4 a, Lanes4 b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}}; }
inline Lanes4 sub(Lanes4 a, Lanes4 b) { return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}}; }
inline Lanes4 mul(Lanes4 a, Lanes4 b) { return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}}; }
// One lane: the scalar tails and straight-line kernels run the same templates on plain floats.
inline float add(float a, float b) { return a + b; }
inline float sub(float a, float b) { return a - b; }
inline float mul(float a, float b) { return a * b; }
inline __m128 add(__m128 a, __m128 b) { return _mm_add_ps(a, b); }
inline __m128 sub(__m128 a, __m128 b) { return _mm_sub_ps(a, b); }
inline __m128 mul(__m128 a, __m128 b) { return _mm_mul_ps(a, b); }
#if defined(__AVX2__)
// Two four-lane elements side by side: the AVX2 build's pair passes (fft_engine.cpp).
struct Pair8 {
    __m256 v;
};
inline Pair8 add(Pair8 a, Pair8 b) { return {_mm256_add_ps(a.v, b.v)}; }
inline Pair8 sub(Pair8 a, Pair8 b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline Pair8 mul(Pair8 a, Pair8 b) { return {_mm256_mul_ps(a.v, b.v)}; }
#endif

template <class V>
V load(const float* p);
template <>
inline Lanes4 load<Lanes4>(const float* p) {
    return {{p[0], p[1], p[2], p[3]}};
}
template <>
inline __m128 load<__m128>(const float* p) {
    return loadu_f128(p);
}
// Aligned forms for the engine's own buffers and tables (32-byte aligned): they let the compiler
// fold loads into arithmetic instructions.
template <class V>
V loada(const float* p);
template <>
inline Lanes4 loada<Lanes4>(const float* p) {
    return {{p[0], p[1], p[2], p[3]}};
}
template <>
inline __m128 loada<__m128>(const float* p) {
    return load_f128(p);
}
inline void storea(float* p, Lanes4 a) {
    p[0] = a.v[0];
    p[1] = a.v[1];
    p[2] = a.v[2];
    p[3] = a.v[3];
}
inline void storea(float* p, __m128 a) { store_f128(p, a); }
template <class V>
V bcast(float x);
template <>
inline Lanes4 bcast<Lanes4>(float x) {
    return {{x, x, x, x}};
}
template <>
inline __m128 bcast<__m128>(float x) {
    return _mm_set1_ps(x);
}
template <>
inline float bcast<float>(float x) {
    return x;
}
#if defined(__AVX2__)
template <>
inline Pair8 bcast<Pair8>(float x) {
    return {_mm256_set1_ps(x)};
}
#endif
inline void store(float* p, Lanes4 a) {
    p[0] = a.v[0];
    p[1] = a.v[1];
    p[2] = a.v[2];
    p[3] = a.v[3];
}
inline void store(float* p, __m128 a) { storeu_f128(p, a); }

// [r0 i0 r1 i1] [r2 i2 r3 i3] -> [r0 r1 r2 r3] [i0 i1 i2 i3], and back.
inline void deinterleave(Lanes4 a, Lanes4 b, Lanes4& re, Lanes4& im) {
    re = {{a.v[0], a.v[2], b.v[0], b.v[2]}};
    im = {{a.v[1], a.v[3], b.v[1], b.v[3]}};
}
inline void deinterleave(__m128 a, __m128 b, __m128& re, __m128& im) {
    re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}
inline void interleave(Lanes4 re, Lanes4 im, Lanes4& a, Lanes4& b) {
    a = {{re.v[0], im.v[0], re.v[1], im.v[1]}};
    b = {{re.v[2], im.v[2], re.v[3], im.v[3]}};
}
inline void interleave(__m128 re, __m128 im, __m128& a, __m128& b) {
    a = zip_lo_f32(re, im);
    b = zip_hi_f32(re, im);
}
inline void transpose4(Lanes4& a, Lanes4& b, Lanes4& c, Lanes4& d) {
    const Lanes4 a0 = a, b0 = b, c0 = c, d0 = d;
    a = {{a0.v[0], b0.v[0], c0.v[0], d0.v[0]}};
    b = {{a0.v[1], b0.v[1], c0.v[1], d0.v[1]}};
    c = {{a0.v[2], b0.v[2], c0.v[2], d0.v[2]}};
    d = {{a0.v[3], b0.v[3], c0.v[3], d0.v[3]}};
}
inline void transpose4(__m128& a, __m128& b, __m128& c, __m128& d) {
    const __m128 t0 = zip_lo_f32(a, b), t1 = zip_hi_f32(a, b), t2 = zip_lo_f32(c, d), t3 = zip_hi_f32(c, d);
    a = zip_lo_f64(t0, t2);
    b = zip_hi_f64(t0, t2);
    c = zip_lo_f64(t1, t3);
    d = zip_hi_f64(t1, t3);
}
inline Lanes4 reverse(Lanes4 a) { return {{a.v[3], a.v[2], a.v[1], a.v[0]}}; }
inline __m128 reverse(__m128 a) { return permute_f32<_MM_SHUFFLE(0, 1, 2, 3)>(a); }

// A complex four-lane value: four complex numbers, real parts in r, imaginary parts in i.
template <class V>
struct CV {
    V r, i;
};
template <class V>
inline CV<V> cadd(CV<V> a, CV<V> b) {
    return {add(a.r, b.r), add(a.i, b.i)};
}
template <class V>
inline CV<V> csub(CV<V> a, CV<V> b) {
    return {sub(a.r, b.r), sub(a.i, b.i)};
}
// a * w = (ar wr - ai wi) + i (ar wi + ai wr)
template <class V>
inline CV<V> cmul(CV<V> a, CV<V> w) {
    return {sub(mul(a.r, w.r), mul(a.i, w.i)), add(mul(a.r, w.i), mul(a.i, w.r))};
}
// a * conj(w) = (ar wr + ai wi) + i (ai wr - ar wi)
template <class V>
inline CV<V> cmulj(CV<V> a, CV<V> w) {
    return {add(mul(a.r, w.r), mul(a.i, w.i)), sub(mul(a.i, w.r), mul(a.r, w.i))};
}
template <class V>
inline CV<V> cscale(CV<V> a, V f) {
    return {mul(a.r, f), mul(a.i, f)};
}
// -i a and +i a
template <class V>
inline CV<V> mul_mi(CV<V> a) {
    return {a.i, sub(V{}, a.r)};
}

// ------------------------------------------------------------------ engine
enum class Dir { Fwd, Inv };

// Sizes in bytes, computed in 64 bits; the callers refuse what does not fit 32 bits.
struct FloatSizes {
    int64_t context, init, work;
};
// Context, init and work sizes of the complex engine of order `corder` (without the context
// header and alignment slack: the callers add those).
FloatSizes ownsEngineSizes(int corder);
// Builds the complex engine of order `corder` into the context: tables from `mem` onward
// (32-byte aligned, at least ownsEngineSizes().context bytes), init scratch at `init`.
void ownsEngineInit(FftContext_C_32fc* ctx, int corder, uint8_t* mem, uint8_t* init);

// The transforms. Each runs the SSE instantiation under its plain name and the scalar reference
// (the Lanes4 instantiation of the same templates, equal bit for bit) under the name with _ref.
//
// The complex transform of the context's complex order. src and dst are N interleaved complex
// values (they may be the same array); work is 32-byte aligned with the engine's work size.
// factor is applied to every output when scale is set.
void ownsFFT_C_32fc(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                    float factor);
void ownsFFT_C_32fc_ref(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                        float factor);
// Split-complex forward transform (family C_32f).
void ownsFFT_C_32f(const FftContext_C_32fc* ctx, const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,
                   float* work, bool scale, float factor);
void ownsFFT_C_32f_ref(const FftContext_C_32fc* ctx, const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,
                       float* work, bool scale, float factor);
// Real transform of 2^ctx->order points to and from the Perm format.
void ownsFFT_R_32f(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                   float factor);
void ownsFFT_R_32f_ref(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                       float factor);

// The 16-bit transform (either path) with its conversions; work as GetBufSize reports, aligned.
void ownsFFT_C_16sc(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor, uint8_t* work);
void ownsFFT_C_16sc_ref(const FftContext_C_16sc* ctx, const Zuf16sc* src, Zuf16sc* dst, int scaleFactor, uint8_t* work);

// e^(-2 pi i e / N) of the static 1024-point table (N <= 1024, N a power of two).
void ownsTwiddleFromTable(int order, int64_t e, float* out);

// The static table: fft_fix_twiddle_table_32f[2k], [2k+1] = cos, sin of 2 pi k / 1024.
extern const float fft_fix_twiddle_table_32f[2 * 1024];

// Float context helpers shared by the exported shells of the FFT, DCT and MDCT families.
// flag must be valid and order in 0..30.
zufResult ownsFFTGetSizes(int order, int flag, bool real, bool split, FloatSizes* out);
zufResult ownsFFTInitFloat(FftContext_C_32fc** ppCtx, uint32_t id, int order, int flag, int hint, uint8_t* pMemSpec,
                           uint8_t* pMemInit, bool real);

// The normalisation flags of every FFT family: 1 (forward 1/N), 2 (inverse 1/N), 4 (1/sqrt N
// both ways), 8 (none).
constexpr bool ownsFFTFlagOk(int flag) { return flag == 1 || flag == 2 || flag == 4 || flag == 8; }

// The GetSize shell of the FFT families: order, then the three pointers, then the flag; then
// sizes(&record), which fills a record with context, init and work members or fails.
template <class Sizes, class SizesFn>
zufResult ownsFFTGetSize(int order, int flag, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize, SizesFn sizes) {
    ZUF_REQUIRE(in_range(order, 0, 30), zufErrFftOrder);
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize, pWorkBufSize), zufErrNullPtr);
    ZUF_REQUIRE(ownsFFTFlagOk(flag), zufErrFftFlag);
    Sizes sz;
    if (const zufResult st = sizes(&sz); st != zufOk) return st;
    return ownsContextSizesOut(sz, pSpecSize, pInitBufSize, pWorkBufSize);
}

}  // namespace zuf::xf
