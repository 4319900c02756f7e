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

// One L-shaped butterfly at index j: the sums stay in a and b, the rotated differences go to c and
// d through `rot` (which applies W^j and W^(3j) to u - jv and u + jv).
template <class Rot>
inline void l_butterfly(int32_t* a, int32_t* b, int32_t* c, int32_t* d, Rot rot) {
    const int32_t ur = sub(a[0], c[0]), ui = sub(a[1], c[1]);
    const int32_t vr = sub(b[0], d[0]), vi = sub(b[1], d[1]);
    a[0] = add(a[0], c[0]), a[1] = add(a[1], c[1]);
    b[0] = add(b[0], d[0]), b[1] = add(b[1], d[1]);
    rot(add(ur, vi), sub(ui, vr), sub(ur, vi), add(ui, vr), c, d);  // u - jv, u + jv
}

// The L-shaped butterflies of one block of n >= 4 complex values. The twiddle W^j of this size is
// k = j * stride of the table's transform (M = 8 m8 points): below M/8 read directly, above it
// through k' = M/4 - k (k theta = pi/2 - k' theta, 3k theta = 3pi/2 - 3k' theta).
void l_butterflies(int32_t* x, int n, int stride, const Zuf32s* tab, int m8) {
    const int n4 = n / 4, b = m8 - 1;
    int32_t* pa = x;
    int32_t* pb = x + 2 * n4;
    int32_t* pc = x + 4 * n4;
    int32_t* pd = x + 6 * n4;
    const Zuf32s *cos1 = tab, *cos3 = tab + b, *sin1 = tab + 2 * b, *sin3 = tab + 3 * b;
    // j = 0: W^0 = 1.
    l_butterfly(pa, pb, pc, pd, [](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
        c[0] = z1r, c[1] = z1i, d[0] = z3r, d[1] = z3i;
    });
    if (n4 == 1) return;
    const int j8 = n / 8;
    for (int j = 1; j < j8; ++j) {
        const int k = j * stride - 1;
        const int32_t c1 = cos1[k], s1 = sin1[k], c3 = cos3[k], s3 = sin3[k];
        l_butterfly(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j,
                    [=](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                        rotate(z1r, z1i, c1, s1, c);
                        rotate(z3r, z3i, c3, s3, d);
                    });
    }
    // j = n/8: W^j = (1 - j) / sqrt(2), W^(3j) = (-1 - j) / sqrt(2).
    l_butterfly(pa + 2 * j8, pb + 2 * j8, pc + 2 * j8, pd + 2 * j8,
                [](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                    c[0] = sqrt_half(add(z1r, z1i)), c[1] = sqrt_half(sub(z1i, z1r));
                    d[0] = sqrt_half(sub(z3i, z3r)), d[1] = sqrt_half(sub(0, add(z3r, z3i)));
                });
    for (int j = j8 + 1; j < n4; ++j) {
        const int k = (n4 - j) * stride - 1;
        const int32_t c1 = sin1[k], s1 = cos1[k], c3 = -sin3[k], s3 = -cos3[k];
        l_butterfly(pa + 2 * j, pb + 2 * j, pc + 2 * j, pd + 2 * j,
                    [=](int32_t z1r, int32_t z1i, int32_t z3r, int32_t z3i, int32_t* c, int32_t* d) {
                        rotate(z1r, z1i, c1, s1, c);
                        rotate(z3r, z3i, c3, s3, d);
                    });
    }
}

void split_radix(int32_t* x, int n, int m, const Zuf32s* tab) {
    if (n == 2) {
        const int32_t ar = x[0], ai = x[1];
        x[0] = add(ar, x[2]), x[1] = add(ai, x[3]);
        x[2] = sub(ar, x[2]), x[3] = sub(ai, x[3]);
        return;
    }
    if (n < 2) return;
    l_butterflies(x, n, m / n, tab, m / 8);
    split_radix(x, n / 2, m, tab);
    split_radix(x + n, n / 4, m, tab);
    split_radix(x + 3 * n / 2, n / 4, m, tab);
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
        split_radix(pSrcDst, m, m, pFFTtables1);
        bit_reverse_list(pSrcDst, m, pRevTable1);
        return;
    }
    // The 512-point table serves every smaller size at a stride; as the "M" of the twiddle
    // lookup it stays 512.
    split_radix(pSrcDst, m, 512, pFFTtables2);
    if (order == 9)
        bit_reverse_list(pSrcDst, m, pRevTable2);
    else
        bit_reverse_direct(pSrcDst, order);
}

}  // namespace zuf
