// The blocked path for transforms of 2^17 points and more.
//
// N = R blocks of B = 2^kBlockOrder points. The input is permuted so that block j holds the
// sub-sequence x[c + R m] (m = 0..B-1) of residue c = bitrev(j) in natural order; each block is
// then transformed in cache by the radix-4 engine, and log2 R radix-2 decimation-in-time stages
// combine the blocks (bit-reversed block order is exactly what those stages expect). Out of
// place the permutation is one gather from the source; in place it is a full bit reversal (an
// involution, done by swaps) followed by a bit reversal inside each block. So the path needs only
// one block of work memory, and its tables grow with sqrt N: the combining twiddles come from two
// tables of e^(-2 pi i e / N) (fine and coarse exponent parts) multiplied in double precision.
#include <cmath>
#include <cstring>

#include "transforms/fft_engine.h"

namespace zuf::xf {
namespace {

int64_t round32(int64_t b) { return (b + 31) & ~int64_t{31}; }
int64_t header_bytes() { return round32(static_cast<int64_t>(sizeof(FftContext_C_32fc))); }

uint32_t rev_bits(uint32_t x, int bits) {
    uint32_t r = 0;
    for (int b = 0; b < bits; ++b, x >>= 1) r = (r << 1) | (x & 1u);
    return r;
}

struct LargeLayout {
    int hi, lo, fine, coarse;  // bit counts
    int64_t offBlock, offBlockTables, offFine, offCoarse, offRev, offBlockRev, total;
};

LargeLayout layout(int corder, int tableOrder) {
    LargeLayout l{};
    l.lo = corder / 2;
    l.hi = corder - l.lo;
    l.fine = (tableOrder + 1) / 2;
    l.coarse = tableOrder - l.fine;
    l.offBlock = 0;
    l.offBlockTables = header_bytes();
    l.offFine = l.offBlockTables + ownsRadix4TableBytes(kBlockOrder);
    l.offCoarse = l.offFine + round32(int64_t{16} << l.fine);
    l.offRev = l.offCoarse + round32(int64_t{16} << l.coarse);
    l.offBlockRev = l.offRev + round32(int64_t{4} << l.hi);
    l.total = l.offBlockRev + round32(int64_t{4} << kBlockOrder);
    return l;
}

// Out of place: dst block j = src[c + R m], c = bitrev(j), eight residues (64 bytes of each
// source row) at a time.
void gather(const float* src, float* dst, int corder) {
    const int rbits = corder - kBlockOrder;
    const int64_t R = int64_t{1} << rbits, B = int64_t{1} << kBlockOrder;
    for (int64_t c0 = 0; c0 < R; c0 += 8) {
        float* to[8];
        for (int t = 0; t < 8; ++t) to[t] = dst + 2 * (int64_t{rev_bits(static_cast<uint32_t>(c0 + t), rbits)} * B);
        for (int64_t m = 0; m < B; ++m) {
            const float* row = src + 2 * (c0 + R * m);
            for (int t = 0; t < 8; ++t) std::memcpy(to[t] + 2 * m, row + 2 * t, 8);
        }
    }
}

inline void swap_c(float* d, int64_t a, int64_t b) {
    uint64_t x, y;
    std::memcpy(&x, d + 2 * a, 8);
    std::memcpy(&y, d + 2 * b, 8);
    std::memcpy(d + 2 * a, &y, 8);
    std::memcpy(d + 2 * b, &x, 8);
}

// In place: full bit reversal over corder bits (index = hi part, lo part), then within blocks.
void permute_in_place(const FftContext_C_32fc* ctx, float* d, int corder) {
    const int lo = corder / 2, hi = corder - lo;
    const uint32_t* rev = ctx->bitrev;  // reverses hi bits
    for (int64_t ih = 0; ih < (int64_t{1} << hi); ++ih) {
        for (int64_t il = 0; il < (int64_t{1} << lo); ++il) {
            const int64_t i = (ih << lo) | il;
            const int64_t j = (int64_t{rev[il] >> (hi - lo)} << hi) | rev[ih];
            if (i < j) swap_c(d, i, j);
        }
    }
    const int64_t B = int64_t{1} << kBlockOrder;
    for (int64_t b = 0; b < (int64_t{1} << corder); b += B) {
        float* blk = d + 2 * b;
        for (int64_t i = 0; i < B; ++i) {
            const int64_t j = ctx->blockRev[i];
            if (i < j) swap_c(blk, i, j);
        }
    }
}

// One radix-2 decimation-in-time stage combining pairs of L/2-point transforms.
template <class V>
void upper_stage(const FftContext_C_32fc* ctx, float* d, int64_t n, int64_t L, Dir dir) {
    const int64_t half = L / 2;
    const int64_t step = (int64_t{1} << ctx->order) / L;  // twiddle exponent per k, table units
    alignas(16) float tw[128];
    for (int64_t k0 = 0; k0 < half; k0 += 64) {
        for (int t = 0; t < 64; ++t) {
            float w[2];
            ownsTwoLevelTwiddle(ctx, (k0 + t) * step, w);
            tw[(t / 4) * 8 + t % 4] = w[0];
            tw[(t / 4) * 8 + 4 + t % 4] = w[1];
        }
        for (int64_t base = 0; base < n; base += L) {
            for (int t = 0; t < 64; t += 4) {
                float* pa = d + 2 * (base + k0 + t);
                float* pb = pa + 2 * half;
                CV<V> a, b;
                deinterleave(load<V>(pa), load<V>(pa + 4), a.r, a.i);
                deinterleave(load<V>(pb), load<V>(pb + 4), b.r, b.i);
                const CV<V> w{load<V>(tw + 2 * t), load<V>(tw + 2 * t + 4)};
                const CV<V> bw = dir == Dir::Fwd ? cmul(b, w) : cmulj(b, w);
                const CV<V> s = cadd(a, bw), e = csub(a, bw);
                V x0, x1;
                interleave(s.r, s.i, x0, x1);
                store(pa, x0);
                store(pa + 4, x1);
                interleave(e.r, e.i, x0, x1);
                store(pb, x0);
                store(pb + 4, x1);
            }
        }
    }
}

template <class V>
void run_large(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
               float factor) {
    const int c = ctx->corder;
    const int64_t n = int64_t{1} << c, B = int64_t{1} << kBlockOrder;
    if (src != dst)
        gather(src, dst, c);
    else
        permute_in_place(ctx, dst, c);
    for (int64_t b = 0; b < n; b += B) ownsFFT_C_32fc_Block<V>(ctx->block, dst + 2 * b, work, dir);
    for (int64_t L = 2 * B; L <= n; L *= 2) upper_stage<V>(ctx, dst, n, L, dir);
    if (scale) {
        const V f = bcast<V>(factor);
        for (int64_t k = 0; k < 2 * n; k += 4) store(dst + k, mul(load<V>(dst + k), f));
    }
}

}  // namespace

int64_t ownsLargeTableBytes(int corder, int tableOrder) { return layout(corder, tableOrder).total; }

void ownsLargeInit(FftContext_C_32fc* ctx, int corder, int tableOrder, uint8_t* mem, const TwiddleSource& tw) {
    const LargeLayout l = layout(corder, tableOrder);
    auto* blk = reinterpret_cast<FftContext_C_32fc*>(mem + l.offBlock);
    std::memset(blk, 0, sizeof(*blk));
    blk->id = kIdFftC32fc;
    blk->order = kBlockOrder;
    blk->corder = kBlockOrder;
    ownsRadix4Init(blk, kBlockOrder, mem + l.offBlockTables, tw);

    auto* fine = reinterpret_cast<double*>(mem + l.offFine);
    auto* coarse = reinterpret_cast<double*>(mem + l.offCoarse);
    const double full = std::ldexp(1.0, tableOrder);
    for (int64_t j = 0; j < (int64_t{1} << l.fine); ++j) {
        const double a = 6.283185307179586476925286766559 * (static_cast<double>(j) / full);
        fine[2 * j] = std::cos(a);
        fine[2 * j + 1] = -std::sin(a);
    }
    for (int64_t j = 0; j < (int64_t{1} << l.coarse); ++j) {
        const double a = 6.283185307179586476925286766559 * (static_cast<double>(j << l.fine) / full);
        coarse[2 * j] = std::cos(a);
        coarse[2 * j + 1] = -std::sin(a);
    }
    auto* rev = reinterpret_cast<uint32_t*>(mem + l.offRev);
    for (uint32_t i = 0; i < (1u << l.hi); ++i) rev[i] = rev_bits(i, l.hi);
    auto* brev = reinterpret_cast<uint32_t*>(mem + l.offBlockRev);
    for (uint32_t i = 0; i < (1u << kBlockOrder); ++i) brev[i] = rev_bits(i, kBlockOrder);

    ctx->block = blk;
    ctx->fine = fine;
    ctx->coarse = coarse;
    ctx->fineBits = l.fine;
    ctx->bitrev = rev;
    ctx->blockRev = brev;
    ctx->blockOrder = kBlockOrder;
}

void ownsTwoLevelTwiddle(const FftContext_C_32fc* ctx, int64_t e, float* out) {
    const int64_t j = e >> ctx->fineBits, i = e & ((int64_t{1} << ctx->fineBits) - 1);
    const double cr = ctx->coarse[2 * j], ci = ctx->coarse[2 * j + 1];
    const double fr = ctx->fine[2 * i], fi = ctx->fine[2 * i + 1];
    out[0] = static_cast<float>(cr * fr - ci * fi);
    out[1] = static_cast<float>(cr * fi + ci * fr);
}

template <class V>
void ownsFFTLarge(const FftContext_C_32fc* ctx, const float* src, float* dst, float* work, Dir dir, bool scale,
                  float factor) {
    run_large<V>(ctx, src, dst, work, dir, scale, factor);
}
template void ownsFFTLarge<__m128>(const FftContext_C_32fc*, const float*, float*, float*, Dir, bool, float);
template void ownsFFTLarge<Lanes4>(const FftContext_C_32fc*, const float*, float*, float*, Dir, bool, float);

}  // namespace zuf::xf
