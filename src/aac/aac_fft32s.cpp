// Split-radix decimation-in-frequency FFT on fixed-point complex values (see aac_fft32s.h).
//
// One L-shaped butterfly of a block of n values, for j = 0 .. n/4 - 1, with a, b, c, d the
// values at j, j + n/4, j + n/2, j + 3n/4 and W = e^(-j 2 pi / n):
//   a' = a + c, b' = b + d                        (the half-size transform of the even outputs)
//   c' = (u - j v) W^j, d' = (u + j v) W^(3j)     with u = a - c, v = b - d
// then the first half is transformed at size n/2 and each of the last quarters at size n/4.
// The outputs leave in bit-reversed order, which the swap lists undo.
#include "aac/aac_fft32s.h"

#include <cstdint>
#include <utility>

#include "common/fixed_point.h"

namespace zuf {
namespace {

inline int32_t x4(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) << 2); }
inline int32_t add(int32_t a, int32_t b) { return wrap_add(a, b); }
inline int32_t sub(int32_t a, int32_t b) { return wrap_sub(a, b); }

// x sqrt(1/2): hi(0x5A82799A 2x), 2x wrapping in 32 bits.
inline int32_t sqrt_half(int32_t v) {
    return mulhi(0x5A82799A, static_cast<int32_t>(static_cast<uint32_t>(v) << 1));
}

// (zr + j zi)(c - j s) for a Q30 twiddle: hi(4zr c + 4zi s), hi(4zi c - 4zr s).
inline void rotate(int32_t zr, int32_t zi, int32_t c, int32_t s, int32_t* out) {
    const int64_t r4 = x4(zr), i4 = x4(zi);
    out[0] = hi(r4 * c + i4 * s);
    out[1] = hi(i4 * c - r4 * s);
}

struct Twiddles {
    const Zuf32s* tab;  // four blocks of m8 - 1 values
    int m8;             // M / 8 of the table's transform length M
    // cos and sin of k theta and 3k theta, theta = 2 pi / M, for 0 < k < M/4, k != M/8.
    void get(int k, int32_t* c1, int32_t* s1, int32_t* c3, int32_t* s3) const {
        const int b = m8 - 1;
        if (k < m8) {
            *c1 = tab[k - 1];
            *c3 = tab[b + k - 1];
            *s1 = tab[2 * b + k - 1];
            *s3 = tab[3 * b + k - 1];
        } else {
            // k = M/4 - k': k theta = pi/2 - k' theta, 3k theta = 3pi/2 - 3k' theta.
            const int kk = 2 * m8 - k;
            *c1 = tab[2 * b + kk - 1];
            *s1 = tab[kk - 1];
            *c3 = -tab[3 * b + kk - 1];
            *s3 = -tab[b + kk - 1];
        }
    }
};

// The L-shaped butterflies of one block of n >= 4 complex values; the twiddle W^j of this size
// is entry j * stride of the table (stride = M / n).
void l_butterflies(int32_t* x, int n, int stride, const Twiddles& tw) {
    const int n4 = n / 4;
    int32_t* pa = x;
    int32_t* pb = x + 2 * n4;
    int32_t* pc = x + 4 * n4;
    int32_t* pd = x + 6 * n4;
    for (int j = 0; j < n4; ++j) {
        const int r = 2 * j, i = 2 * j + 1;
        const int32_t ur = sub(pa[r], pc[r]), ui = sub(pa[i], pc[i]);
        const int32_t vr = sub(pb[r], pd[r]), vi = sub(pb[i], pd[i]);
        pa[r] = add(pa[r], pc[r]);
        pa[i] = add(pa[i], pc[i]);
        pb[r] = add(pb[r], pd[r]);
        pb[i] = add(pb[i], pd[i]);
        const int32_t z1r = add(ur, vi), z1i = sub(ui, vr);  // u - j v
        const int32_t z3r = sub(ur, vi), z3i = add(ui, vr);  // u + j v
        if (j == 0) {
            pc[r] = z1r, pc[i] = z1i;
            pd[r] = z3r, pd[i] = z3i;
        } else if (8 * j == n) {
            // W^j = (1 - j) / sqrt(2), W^(3j) = (-1 - j) / sqrt(2).
            pc[r] = sqrt_half(add(z1r, z1i)), pc[i] = sqrt_half(sub(z1i, z1r));
            pd[r] = sqrt_half(sub(z3i, z3r)), pd[i] = sqrt_half(sub(0, add(z3r, z3i)));
        } else {
            int32_t c1, s1, c3, s3;
            tw.get(j * stride, &c1, &s1, &c3, &s3);
            rotate(z1r, z1i, c1, s1, pc + r);
            rotate(z3r, z3i, c3, s3, pd + r);
        }
    }
}

void split_radix(int32_t* x, int n, int m, const Twiddles& tw) {
    if (n == 2) {
        const int32_t ar = x[0], ai = x[1];
        x[0] = add(ar, x[2]), x[1] = add(ai, x[3]);
        x[2] = sub(ar, x[2]), x[3] = sub(ai, x[3]);
        return;
    }
    if (n < 2) return;
    l_butterflies(x, n, m / n, tw);
    split_radix(x, n / 2, m, tw);
    split_radix(x + n, n / 4, m, tw);
    split_radix(x + 3 * n / 2, n / 4, m, tw);
}

inline void swap_c(int32_t* x, int a, int b) {
    std::swap(x[2 * a], x[2 * b]);
    std::swap(x[2 * a + 1], x[2 * b + 1]);
}

void bit_reverse_list(int32_t* x, int m, const Zuf8u* list) {
    const int h = m / 2;
    for (; *list != 0; list += 2) {
        const int a = list[0], b = list[1];
        swap_c(x, a, b);
        swap_c(x, a + 1, b + h);
        swap_c(x, a + h, b + 1);
        swap_c(x, a + h + 1, b + h + 1);
    }
    for (++list;; ++list) {
        const int a = *list;
        swap_c(x, a + 1, a + h);
        if (a <= 0) break;
    }
}

void bit_reverse_direct(int32_t* x, int order) {
    const int m = 1 << order;
    for (int i = 0; i < m; ++i) {
        int r = 0;
        for (int b = 0; b < order; ++b) r |= ((i >> b) & 1) << (order - 1 - b);
        if (r > i) swap_c(x, i, r);
    }
}

}  // namespace

void ownsIMDCT_FFT_32sc_I(Zuf32s* pSrcDst, int order) {
    const int m = 1 << order;
    if (order == 6) {
        split_radix(pSrcDst, m, m, Twiddles{pFFTtables1, 8});
        bit_reverse_list(pSrcDst, m, pRevTable1);
        return;
    }
    // The 512-point table serves every smaller size at a stride; as the "M" of the twiddle
    // lookup it stays 512.
    split_radix(pSrcDst, m, 512, Twiddles{pFFTtables2, 64});
    if (order == 9)
        bit_reverse_list(pSrcDst, m, pRevTable2);
    else
        bit_reverse_direct(pSrcDst, order);
}

}  // namespace zuf
