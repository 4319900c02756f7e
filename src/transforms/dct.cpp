// Orthonormal DCT-II (forward) and DCT-III (inverse) of any length.
//
// Paths, chosen by N and the hint in GetSize, Init and the transforms alike:
//  - N = 1, 2, 4, 8: sums over the static FFT twiddle table (cos(pi m / 16)), factors inside.
//  - powers of two 16 and 32, and above 65536 unless hint is 2: the recursive even/odd split
//    (sums and cosine-weighted differences go to two half-length transforms), down to one point.
//  - powers of two from 64: through a real FFT of N points. The inputs are reordered
//    v[n] = x[2n], v[N-1-n] = x[2n+1], so that X[k] = c(k) Re(e^(-i pi k/2N) V[k]) with V the
//    N-point DFT of v: the table holds c(k) (cos, sin)(pi k / 2N). The inverse runs the same
//    relation backwards through the inverse real FFT.
//  - other lengths up to 100: direct sums with a table of cos(pi m / 2N), m < 4N.
//  - other lengths above 100: the same reordering, with the N-point DFT done as a chirp
//    convolution (W^(nk) = c_n c_k conj(c_(k-n)), c_m = e^(-i pi m^2 / N)) through complex FFTs of
//    a power-of-two length L >= 2N - 1; the spectrum of the chirp filter is computed at Init.
// Factors c(0) = 1/sqrt N and c(k) = sqrt(2/N) are formed in double and stored as floats.
#include <cmath>
#include <cstring>

#include "common/checks.h"
#include "transforms/fft_engine.h"
#include "transforms/transform_util.h"

// Context (both directions). On 32-bit x86 the header is 84 bytes; tables follow from the next
// 32-byte boundary.
struct DctFwdContext_32f {
    uint32_t id;  // 21 forward, 22 inverse
    int32_t len;
    int32_t hint;
    int32_t initBytes;
    int32_t workBytes;  // without alignment slack
    float c0, ck;       // c(0), c(k >= 1)
    int32_t small, pow2, fft, conv;
    int32_t allocated;
    const float* cosDirect;         // direct path: cos(pi m / 2N), m < 4N
    const float* pow2Tab;           // recursive path: 1 / (2 cos(pi (2i+1) / 2n)) per level
    const FftContext_C_32fc* fftR;  // FFT path: real FFT of N points
    const FftContext_C_32fc* fftC;  // chirp path: complex FFT of L points
    const float* fftTab;            // FFT path: c(k) (cos, sin)(pi k / 2N) (halved for k >= 1, inverse)
    const float* chirp;             // chirp path: c_n
    const float* chirpSpec;         // chirp path: FFT of the chirp filter, divided by L
    const float* rotTab;            // chirp path: c(k) c_k e^(-i pi k / 2N) (inverse: halved)
    int32_t chirpOrder;             // log2 L
};
struct DctInvContext_32f : DctFwdContext_32f {};

#if defined(__i386__)
static_assert(sizeof(DctFwdContext_32f) == 84, "DCT header is 84 bytes on 32-bit x86");
static_assert(offsetof(DctFwdContext_32f, c0) == 20 && offsetof(DctFwdContext_32f, allocated) == 44);
#endif

namespace zuf::xf {

namespace {

using Ctx = DctFwdContext_32f;

enum class Path { Small, Pow2, Fft, Direct, Conv };

bool is_pow2(int n) { return n > 0 && (n & (n - 1)) == 0; }
int log2i(int64_t n) {
    int k = 0;
    while ((int64_t{1} << k) < n) ++k;
    return k;
}

Path path_of(int n, int hint) {
    if (is_pow2(n)) {
        if (n <= 8) return Path::Small;
        if (n <= 32) return Path::Pow2;
        if (hint == 2 || n <= 65536) return Path::Fft;
        return Path::Pow2;
    }
    return n <= 100 ? Path::Direct : Path::Conv;
}

int chirp_order(int n) { return log2i(2 * int64_t{n} - 1); }

struct Layout {
    Path path;
    int64_t context, init, work;
    int64_t offTab, offTab2, offTab3, offFft;  // from the context start
    FloatSizes fft;
};

int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(Ctx))); }

zufResult layout(int n, int hint, Layout* l) {
    *l = {};
    l->path = path_of(n, hint);
    const int64_t hdr = header_bytes(), N = n;
    switch (l->path) {
        case Path::Small:
            l->context = static_cast<int64_t>(sizeof(Ctx)) + 32;
            break;
        case Path::Pow2:
            l->offTab = hdr;
            if (N <= 32) {
                l->context = hdr + round32(4 * N) + 32;
                l->work = 4 * N + 32;
            } else {  // in double precision: the level tables, data and scratch
                l->context = hdr + round32(8 * N) + 32;
                l->work = 16 * N + 32;
            }
            break;
        case Path::Direct:
            l->offTab = hdr;
            l->context = hdr + round32(16 * N) + 32;
            l->work = 4 * N + 32;
            break;
        case Path::Fft: {
            if (const zufResult st = ownsFFTGetSizes(log2i(N), 8, true, false, &l->fft); st != zufOk) return zufErrSize;
            l->offTab = hdr;
            l->offFft = hdr + round32(8 * N);
            l->context = l->offFft + l->fft.context + 32;
            l->init = l->fft.init;
            l->work = round32(4 * N) + l->fft.work + 32;
            break;
        }
        case Path::Conv: {
            const int q = chirp_order(n);
            if (q > 30) return zufErrSize;
            if (const zufResult st = ownsFFTGetSizes(q, 8, false, false, &l->fft); st != zufOk) return zufErrSize;
            const int64_t L = int64_t{1} << q;
            l->offTab = hdr;                           // chirp c_n
            l->offTab2 = l->offTab + round32(8 * N);   // rotation table
            l->offTab3 = l->offTab2 + round32(8 * N);  // chirp spectrum (L complex)
            l->offFft = l->offTab3 + round32(8 * L);
            l->context = l->offFft + l->fft.context + 32;
            l->init = round32(l->fft.init) + l->fft.work + 32;
            l->work = round32(8 * L) + l->fft.work + 32;
            break;
        }
    }
    if (!fits_i32(l->context) || !fits_i32(l->init) || !fits_i32(l->work)) return zufErrSize;
    return zufOk;
}

constexpr double kPi = 3.14159265358979323846264338327950288;

// ------------------------------------------------------------------ small and direct sums
// Unnormalised forward sums X[k] = sum_n x[n] cos(pi (2n+1) k / 2N) and the inverse
// x[n] = sum_k X[k] cos(...) for N <= 8, over the static table: cos(pi m / 16) = cos(2 pi (32 m) / 1024).
void small_unnorm(const float* x, float* y, int n, bool inverse) {
    const int step = 8 / n;
    float t[8];
    for (int a = 0; a < n; ++a) {
        float s = 0.0f;
        for (int b = 0; b < n; ++b) {
            const int k = inverse ? b : a, m = inverse ? a : b;
            s += x[b] * fft_fix_twiddle_table_32f[64 * ((((2 * m + 1) * k) * step) & 31)];
        }
        t[a] = s;
    }
    std::memcpy(y, t, sizeof(float) * n);
}

void direct(const Ctx* ctx, const float* x, float* y, bool inverse) {
    const int n = ctx->len, period = 4 * n;
    const float* T = ctx->cosDirect;
    for (int a = 0; a < n; ++a) {
        float s = 0.0f;
        if (!inverse) {
            int idx = a, inc = 2 * a;  // (2m + 1) a mod 4N, m = 0, 1, ...
            for (int m = 0; m < n; ++m) {
                s += x[m] * T[idx];
                idx += inc;
                if (idx >= period) idx -= period;
            }
            y[a] = s * (a == 0 ? ctx->c0 : ctx->ck);
        } else {
            const int inc = 2 * a + 1;  // (2a + 1) k mod 4N, k = 0, 1, ...
            int idx = 0;
            for (int k = 0; k < n; ++k) {
                s += x[k] * (k == 0 ? ctx->c0 : ctx->ck) * T[idx];
                idx += inc;
                if (idx >= period) idx -= period;
            }
            y[a] = s;
        }
    }
}

// ------------------------------------------------------------------ recursive power of two
// Lee's split: a[i] = x[i] + x[n-1-i] gives the even outputs, b[i] = (x[i] - x[n-1-i]) / (2 cos
// (pi (2i+1) / 2n)) the odd ones as B[k] + B[k+1], down to single points. The division by small
// cosines makes the top levels amplify rounding errors roughly in proportion to sqrt N, harmless
// at 16 and 32 points but not beyond 65536: there the recursion runs in double precision.
// In place on x (n points), tmp of n values, tab: this level's n/2 factors, then the next level's
// (N - 1 in all, which the documented table of N floats holds).
template <class T>
void pow2_fwd(T* x, int n, T* tmp, const T* tab) {
    if (n == 1) return;
    const int h = n / 2;
    for (int i = 0; i < h; ++i) {
        const T a = x[i], b = x[n - 1 - i];
        tmp[i] = a + b;
        tmp[h + i] = (a - b) * tab[i];
    }
    pow2_fwd(tmp, h, x, tab + h);
    pow2_fwd(tmp + h, h, x + h, tab + h);
    for (int k = 0; k < h - 1; ++k) {
        x[2 * k] = tmp[k];
        x[2 * k + 1] = tmp[h + k] + tmp[h + k + 1];
    }
    x[n - 2] = tmp[h - 1];
    x[n - 1] = tmp[n - 1];
}

template <class T>
void pow2_inv(T* x, int n, T* tmp, const T* tab) {
    if (n == 1) return;
    const int h = n / 2;
    tmp[0] = x[0];
    tmp[h] = x[1];
    for (int k = 1; k < h; ++k) {
        tmp[k] = x[2 * k];
        tmp[h + k] = x[2 * k + 1] + x[2 * k - 1];
    }
    pow2_inv(tmp, h, x, tab + h);
    pow2_inv(tmp + h, h, x + h, tab + h);
    for (int i = 0; i < h; ++i) {
        const T a = tmp[i], b = tmp[h + i] * tab[i];
        x[i] = a + b;
        x[n - 1 - i] = a - b;
    }
}

// ------------------------------------------------------------------ FFT path
void fft_fwd(const Ctx* ctx, const float* src, float* dst, uint8_t* work) {
    const int n = ctx->len;
    float* v = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(4 * int64_t{n}));
    for (int i = 0; i < n / 2; ++i) {
        v[i] = src[2 * i];
        v[n - 1 - i] = src[2 * i + 1];
    }
    ownsFFT_R_32f(ctx->fftR, v, v, fw, Dir::Fwd, false, 1.0f);
    const float* t = ctx->fftTab;  // t[2k], t[2k+1] = c(k) cos, c(k) sin of pi k / 2N
    dst[0] = v[0] * t[0];
    dst[n / 2] = v[1] * t[n];
    for (int k = 1; k < n / 2; ++k) {
        const float vr = v[2 * k], vi = v[2 * k + 1];
        dst[k] = vr * t[2 * k] + vi * t[2 * k + 1];
        dst[n - k] = vr * t[2 * (n - k)] - vi * t[2 * (n - k) + 1];
    }
}

void fft_inv(const Ctx* ctx, const float* src, float* dst, uint8_t* work) {
    const int n = ctx->len;
    float* v = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(4 * int64_t{n}));
    const float* t = ctx->fftTab;  // c(0) at k = 0, c(k)/2 (cos, sin) for k >= 1
    // V[k] = e^(i pi k / 2N) (Y[k] - i Y[N-k]) in Perm order; V[N/2] = sqrt 2 Y[N/2].
    v[0] = src[0] * t[0];
    v[1] = src[n / 2] * t[n] + src[n / 2] * t[n + 1];
    for (int k = 1; k < n / 2; ++k) {
        const float a = src[k], b = src[n - k], p = t[2 * k], q = t[2 * k + 1];
        v[2 * k] = p * a + q * b;
        v[2 * k + 1] = q * a - p * b;
    }
    ownsFFT_R_32f(ctx->fftR, v, v, fw, Dir::Inv, false, 1.0f);
    for (int i = 0; i < n / 2; ++i) {
        dst[2 * i] = v[i];
        dst[2 * i + 1] = v[n - 1 - i];
    }
}

// ------------------------------------------------------------------ chirp path
// Convolution of a (L complex, in place) with the chirp filter: FFT, product, inverse FFT.
void chirp_convolve(const Ctx* ctx, float* a, float* fw) {
    const int64_t L = int64_t{1} << ctx->chirpOrder;
    ownsFFT_C_32fc(ctx->fftC, a, a, fw, Dir::Fwd, false, 1.0f);
    const float* H = ctx->chirpSpec;
    for (int64_t k = 0; k < L; ++k) {
        const float ar = a[2 * k], ai = a[2 * k + 1], hr = H[2 * k], hi = H[2 * k + 1];
        a[2 * k] = ar * hr - ai * hi;
        a[2 * k + 1] = ar * hi + ai * hr;
    }
    ownsFFT_C_32fc(ctx->fftC, a, a, fw, Dir::Inv, false, 1.0f);
}

void conv_fwd(const Ctx* ctx, const float* src, float* dst, uint8_t* work) {
    const int n = ctx->len;
    const int64_t L = int64_t{1} << ctx->chirpOrder;
    float* a = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(8 * L));
    const float* c = ctx->chirp;
    for (int m = 0; m < n; ++m) {
        const float v = (m < (n + 1) / 2) ? src[2 * m] : src[2 * (n - 1 - m) + 1];
        a[2 * m] = v * c[2 * m];
        a[2 * m + 1] = v * c[2 * m + 1];
    }
    std::memset(a + 2 * n, 0, sizeof(float) * 2 * (L - n));
    chirp_convolve(ctx, a, fw);
    const float* r = ctx->rotTab;
    for (int k = 0; k < n; ++k) dst[k] = r[2 * k] * a[2 * k] - r[2 * k + 1] * a[2 * k + 1];
}

void conv_inv(const Ctx* ctx, const float* src, float* dst, uint8_t* work) {
    const int n = ctx->len;
    const int64_t L = int64_t{1} << ctx->chirpOrder;
    float* a = reinterpret_cast<float*>(work);
    float* fw = reinterpret_cast<float*>(work + round32(8 * L));
    const float* r = ctx->rotTab;  // c_k e^(-i pi k/2N) times c(0), or c(k)/2
    // a[k] = conj(V[k]) c_k with conj(V[k]) = e^(-i pi k/2N) (Y[k] + i Y[N-k]).
    a[0] = r[0] * src[0];
    a[1] = r[1] * src[0];
    for (int k = 1; k < n; ++k) {
        const float yr = src[k], yi = src[n - k];
        a[2 * k] = r[2 * k] * yr - r[2 * k + 1] * yi;
        a[2 * k + 1] = r[2 * k] * yi + r[2 * k + 1] * yr;
    }
    std::memset(a + 2 * n, 0, sizeof(float) * 2 * (L - n));
    chirp_convolve(ctx, a, fw);
    const float* c = ctx->chirp;
    for (int m = 0; m < n; ++m) {
        const float v = c[2 * m] * a[2 * m] - c[2 * m + 1] * a[2 * m + 1];  // Re(c_m conv[m])
        if (m < (n + 1) / 2)
            dst[2 * m] = v;
        else
            dst[2 * (n - 1 - m) + 1] = v;
    }
}

// ------------------------------------------------------------------ context construction
zufResult build(Ctx** ppCtx, uint32_t id, int n, int hint, uint8_t* pMemSpec, uint8_t* pMemInit) {
    Layout l;
    if (const zufResult st = layout(n, hint, &l); st != zufOk) return st;
    auto* ctx = reinterpret_cast<Ctx*>(align_up(pMemSpec, 32));
    std::memset(ctx, 0, sizeof(*ctx));
    uint8_t* base = reinterpret_cast<uint8_t*>(ctx);
    const bool inverse = id == kIdDctInv32f;
    ctx->id = id;
    ctx->len = n;
    ctx->hint = hint;
    ctx->initBytes = static_cast<int32_t>(l.init);
    ctx->workBytes = l.work > 0 ? static_cast<int32_t>(l.work - 32) : 0;
    const double c0 = 1.0 / std::sqrt(static_cast<double>(n)), ck = std::sqrt(2.0) / std::sqrt(static_cast<double>(n));
    ctx->c0 = static_cast<float>(c0);
    ctx->ck = static_cast<float>(ck);
    const double N = n;
    switch (l.path) {
        case Path::Small:
            ctx->small = 1;
            break;
        case Path::Pow2: {
            ctx->pow2 = 1;
            if (n <= 32) {
                auto* t = reinterpret_cast<float*>(base + l.offTab);
                for (int len = n; len > 1; len /= 2)
                    for (int i = 0; i < len / 2; ++i)
                        *t++ = static_cast<float>(0.5 / std::cos(kPi * (2 * i + 1) / (2.0 * len)));
            } else {
                auto* t = reinterpret_cast<double*>(base + l.offTab);
                for (int len = n; len > 1; len /= 2)
                    for (int i = 0; i < len / 2; ++i) *t++ = 0.5 / std::cos(kPi * (2 * i + 1) / (2.0 * len));
            }
            ctx->pow2Tab = reinterpret_cast<float*>(base + l.offTab);
            break;
        }
        case Path::Direct: {
            auto* t = reinterpret_cast<float*>(base + l.offTab);
            for (int m = 0; m < 4 * n; ++m) t[m] = static_cast<float>(std::cos(kPi * m / (2.0 * N)));
            ctx->cosDirect = t;
            break;
        }
        case Path::Fft: {
            ctx->fft = 1;
            auto* t = reinterpret_cast<float*>(base + l.offTab);
            for (int k = 0; k < n; ++k) {
                const double f = k == 0 ? c0 : (inverse ? ck / 2 : ck);
                t[2 * k] = static_cast<float>(f * std::cos(kPi * k / (2.0 * N)));
                t[2 * k + 1] = k == 0 ? 0.0f : static_cast<float>(f * std::sin(kPi * k / (2.0 * N)));
            }
            ctx->fftTab = t;
            FftContext_C_32fc* f = nullptr;
            if (const zufResult st = ownsFFTInitFloat(&f, kIdFftR32f, log2i(n), 8, 0, base + l.offFft, pMemInit, true);
                st != zufOk)
                return st;
            ctx->fftR = f;
            break;
        }
        case Path::Conv: {
            ctx->conv = 1;
            const int q = chirp_order(n);
            const int64_t L = int64_t{1} << q;
            ctx->chirpOrder = q;
            auto* c = reinterpret_cast<float*>(base + l.offTab);
            auto* r = reinterpret_cast<float*>(base + l.offTab2);
            auto* H = reinterpret_cast<float*>(base + l.offTab3);
            // c_m = e^(-i pi m^2 / N): m^2 reduced modulo 2N keeps the angle exact before scaling.
            auto chirp = [&](int64_t m, double* re, double* im) {
                const int64_t e = (m * m) % (2 * int64_t{n});
                *re = std::cos(kPi * static_cast<double>(e) / N);
                *im = -std::sin(kPi * static_cast<double>(e) / N);
            };
            std::memset(H, 0, static_cast<size_t>(8 * L));
            for (int m = 0; m < n; ++m) {
                double cr, ci;
                chirp(m, &cr, &ci);
                c[2 * m] = static_cast<float>(cr);
                c[2 * m + 1] = static_cast<float>(ci);
                // Filter conj(c_m) at m and at -m (index L - m), with the 1/L of the inverse FFT.
                H[2 * m] = static_cast<float>(cr / static_cast<double>(L));
                H[2 * m + 1] = static_cast<float>(-ci / static_cast<double>(L));
                if (m > 0) {
                    H[2 * (L - m)] = H[2 * m];
                    H[2 * (L - m) + 1] = H[2 * m + 1];
                }
                // Rotation: c(k) c_k e^(-i pi k / 2N) (inverse: c(0), or c(k)/2).
                const double f = m == 0 ? c0 : (inverse ? ck / 2 : ck);
                const double er = std::cos(kPi * m / (2.0 * N)), ei = -std::sin(kPi * m / (2.0 * N));
                r[2 * m] = static_cast<float>(f * (cr * er - ci * ei));
                r[2 * m + 1] = static_cast<float>(f * (cr * ei + ci * er));
            }
            FftContext_C_32fc* f = nullptr;
            uint8_t* init = align_up(pMemInit, 32);
            if (const zufResult st = ownsFFTInitFloat(&f, kIdFftC32fc, q, 8, 0, base + l.offFft, init, false);
                st != zufOk)
                return st;
            ownsFFT_C_32fc(f, H, H, reinterpret_cast<float*>(init + round32(l.fft.init)), Dir::Fwd, false, 1.0f);
            ctx->fftC = f;
            ctx->chirp = c;
            ctx->rotTab = r;
            ctx->chirpSpec = H;
            break;
        }
    }
    *ppCtx = ctx;
    return zufOk;
}

zufResult get_size(int len, int hint, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    ZUF_REQUIRE(len > 0, zufErrSize);
    ZUF_REQUIRE(nonnull(pSpecSize, pInitBufSize, pWorkBufSize), zufErrNullPtr);
    Layout l;
    if (const zufResult st = layout(len, hint, &l); st != zufOk) return st;
    return ownsContextSizesOut(l, pSpecSize, pInitBufSize, pWorkBufSize);
}

template <class C>
zufResult init(C** ppSpec, uint32_t id, int len, int hint, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    ZUF_REQUIRE(ppSpec != nullptr, zufErrNullPtr);
    ZUF_REQUIRE(len > 0, zufErrSize);
    ZUF_REQUIRE(pMemSpec != nullptr, zufErrNullPtr);
    Layout l;
    if (const zufResult st = layout(len, hint, &l); st != zufOk) return st;
    ZUF_REQUIRE(l.init == 0 || pMemInit != nullptr, zufErrNullPtr);
    Ctx* ctx = nullptr;
    if (const zufResult st = build(&ctx, id, len, hint, pMemSpec, pMemInit); st != zufOk) return st;
    *ppSpec = static_cast<C*>(ctx);
    return zufOk;
}

zufResult run(const float* src, float* dst, const Ctx* ctx, Zuf8u* pBuffer, uint32_t id) {
    if (const zufResult st = ownsContextCheck(ctx, id, src, dst); st != zufOk) return st;
    const bool inverse = id == kIdDctInv32f;
    const int n = ctx->len;
    if (ctx->small) {
        float t[8];
        if (!inverse) {
            small_unnorm(src, t, n, false);
            dst[0] = t[0] * ctx->c0;
            for (int k = 1; k < n; ++k) dst[k] = t[k] * ctx->ck;
        } else {
            t[0] = src[0] * ctx->c0;
            for (int k = 1; k < n; ++k) t[k] = src[k] * ctx->ck;
            small_unnorm(t, dst, n, true);
        }
        return zufOk;
    }
    WorkBuffer work(pBuffer, ctx->workBytes);
    ZUF_REQUIRE(!work.failed(), zufErrNoMemory);
    uint8_t* w = work.get<uint8_t>();
    if (ctx->pow2) {
        if (n <= 32) {
            float* tmp = reinterpret_cast<float*>(w);
            if (!inverse) {
                std::memmove(dst, src, sizeof(float) * n);
                pow2_fwd(dst, n, tmp, ctx->pow2Tab);
                dst[0] *= ctx->c0;
                for (int k = 1; k < n; ++k) dst[k] *= ctx->ck;
            } else {
                dst[0] = src[0] * ctx->c0;
                for (int k = 1; k < n; ++k) dst[k] = src[k] * ctx->ck;
                pow2_inv(dst, n, tmp, ctx->pow2Tab);
            }
        } else {
            double* x = reinterpret_cast<double*>(w);
            double* tmp = x + n;
            const double* tab = reinterpret_cast<const double*>(ctx->pow2Tab);
            const double c0 = 1.0 / std::sqrt(static_cast<double>(n)), ck = std::sqrt(2.0 / n);
            if (!inverse) {
                for (int i = 0; i < n; ++i) x[i] = src[i];
                pow2_fwd(x, n, tmp, tab);
                dst[0] = static_cast<float>(x[0] * c0);
                for (int k = 1; k < n; ++k) dst[k] = static_cast<float>(x[k] * ck);
            } else {
                x[0] = src[0] * c0;
                for (int k = 1; k < n; ++k) x[k] = src[k] * ck;
                pow2_inv(x, n, tmp, tab);
                for (int i = 0; i < n; ++i) dst[i] = static_cast<float>(x[i]);
            }
        }
    } else if (ctx->fft) {
        if (!inverse)
            fft_fwd(ctx, src, dst, w);
        else
            fft_inv(ctx, src, dst, w);
    } else if (ctx->conv) {
        if (!inverse)
            conv_fwd(ctx, src, dst, w);
        else
            conv_inv(ctx, src, dst, w);
    } else {
        // Direct sums read every input for every output: work on a copy when in place.
        float* copy = reinterpret_cast<float*>(w);
        std::memcpy(copy, src, sizeof(float) * n);
        direct(ctx, copy, dst, inverse);
    }
    return zufOk;
}

}  // namespace
}  // namespace zuf::xf

using namespace zuf;
using namespace zuf::xf;

extern "C" {

ZUF_API zufResult zufsDCTFwdGetSize_32f(int len, int hint, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return get_size(len, hint, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsDCTInvGetSize_32f(int len, int hint, int* pSpecSize, int* pInitBufSize, int* pWorkBufSize) {
    return get_size(len, hint, pSpecSize, pInitBufSize, pWorkBufSize);
}
ZUF_API zufResult zufsDCTFwdInit_32f(DctFwdContext_32f** ppSpec, int len, int hint, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return init(ppSpec, kIdDctFwd32f, len, hint, pMemSpec, pMemInit);
}
ZUF_API zufResult zufsDCTInvInit_32f(DctInvContext_32f** ppSpec, int len, int hint, Zuf8u* pMemSpec, Zuf8u* pMemInit) {
    return init(ppSpec, kIdDctInv32f, len, hint, pMemSpec, pMemInit);
}
ZUF_API zufResult zufsDCTFwd_32f(const Zuf32f* pSrc, Zuf32f* pDst, const DctFwdContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrc, pDst, pSpec, pBuffer, kIdDctFwd32f);
}
ZUF_API zufResult zufsDCTInv_32f(const Zuf32f* pSrc, Zuf32f* pDst, const DctInvContext_32f* pSpec, Zuf8u* pBuffer) {
    return run(pSrc, pDst, pSpec, pBuffer, kIdDctInv32f);
}

}  // extern "C"
