// MP3 hybrid synthesis against double-precision models of ISO/IEC 11172-3 2.4.3.4.10 (alias
// reduction, IMDCT, windowing, overlap-add, frequency inversion) and Annex A Figure A.2 (the
// polyphase synthesis: V shift, matrixing, U, window D, sums), with D from Table 3-B.3
// (tests/support/mp3_synthesis_window_D.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "mp3/mp3_kernels.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

namespace {

// ---------------------------------------------------------------- models

// 36 windowed IMDCT outputs of one subband, times 1/4 (the library's scale): one 36-point
// transform, or three 12-point ones (N = 12) at 6 + 6 w.
void model_imdct(const double* X, int block_type, double* z) {
    const bool shorts = block_type == 2;
    const int N = shorts ? 12 : 36;
    std::fill(z, z + 36, 0.0);
    for (int w = 0; w < (shorts ? 3 : 1); ++w)
        for (int i = 0; i < N; ++i) {
            double x = 0.0;
            for (int k = 0; k < N / 2; ++k)
                x += X[N / 2 * w + k] * std::cos(M_PI / (2 * N) * (2 * i + 1 + N / 2) * (2 * k + 1));
            const double win = shorts ? std::sin(M_PI / 12 * (i + 0.5)) : double(zuft::imdct_window(block_type, i));
            z[(shorts ? 6 + 6 * w : 0) + i] += x * win / 4;
        }
}

// One granule and channel: alias reduction (in place), IMDCT, overlap, inversion; y time-major.
void model_granule(std::vector<double>& xr, int block_type, int mixed, std::vector<double>& overlap,
                   std::vector<double>& y) {
    const bool pure_short = block_type == 2 && !mixed;
    const int last_boundary = pure_short ? 0 : (block_type == 2 ? 1 : 31);
    for (int sb = 1; sb <= last_boundary; ++sb)
        for (int i = 0; i < 8; ++i) {
            const double c = static_cast<double>(zuft::kAliasC[i]), cs = 1 / std::sqrt(1 + c * c), ca = c * cs;
            const double a = xr[static_cast<size_t>(18 * sb - 1 - i)], b = xr[static_cast<size_t>(18 * sb + i)];
            xr[static_cast<size_t>(18 * sb - 1 - i)] = a * cs - b * ca;
            xr[static_cast<size_t>(18 * sb + i)] = b * cs + a * ca;
        }
    y.assign(576, 0.0);
    for (int sb = 0; sb < 32; ++sb) {
        double z[36];
        model_imdct(&xr[static_cast<size_t>(18 * sb)], (mixed && sb < 2) ? 0 : block_type, z);
        for (int t = 0; t < 18; ++t) {
            double v = z[t] + overlap[static_cast<size_t>(18 * sb + t)];
            if ((sb & 1) && (t & 1)) v = -v;
            y[static_cast<size_t>(32 * t + sb)] = v;
            overlap[static_cast<size_t>(18 * sb + t)] = z[18 + t];
        }
    }
}

// The polyphase synthesis of Figure A.2 with a 1024-value V, for one channel.
struct ModelSynth {
    std::vector<double> D = zuft::synthesis_window();
    std::vector<double> V = std::vector<double>(1024, 0.0);

    // in: 32 subband samples (1.0 = full scale); out: 32 values in LSB, unrounded.
    void run(const double* in, double* out) {
        for (int i = 1023; i >= 64; --i) V[static_cast<size_t>(i)] = V[static_cast<size_t>(i - 64)];
        for (int i = 0; i < 64; ++i) {
            double s = 0.0;
            for (int k = 0; k < 32; ++k) s += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * in[k];
            V[static_cast<size_t>(i)] = s;
        }
        double U[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                U[64 * i + j] = V[static_cast<size_t>(128 * i + j)];
                U[64 * i + 32 + j] = V[static_cast<size_t>(128 * i + 96 + j)];
            }
        for (int j = 0; j < 32; ++j) {
            double s = 0.0;
            for (int i = 0; i < 16; ++i) s += U[j + 32 * i] * D[static_cast<size_t>(j + 32 * i)];
            out[j] = s * 32768.0;
        }
    }
};

// ---------------------------------------------------------------- IMDCT

TEST(Mp3Imdct, EachWindowAgainstTheTransformDefinition) {
    zuft::Rng rng(41);
    for (int bt = 0; bt < 4; ++bt)
        for (int rep = 0; rep < 20; ++rep) {
            Zuf32s in[18], out[36];
            double X[18], z[36];
            const int amp = rep < 10 ? (1 << 20) : (1 << 27);
            for (int k = 0; k < 18; ++k) X[k] = in[k] = rng.range(-amp, amp);
            ASSERT_EQ(zufsMDCTInvWindow_MP3_32s(in, out, bt), zufOk);
            model_imdct(X, bt, z);  // short blocks: exactly 0 at 0..5 and 30..35
            for (int i = 0; i < 36; ++i) ASSERT_NEAR(out[i], z[i], 0.5 + 1e-9 * std::fabs(z[i])) << bt << " " << i;
        }
}

// Block-type sequences as an encoder switches (normal, start, short, stop), with mixed blocks,
// and the mixed flag on start and stop blocks (two long subbands with the normal window): the
// alias-reduced spectrum (in place), the output, the overlap carried on and the transform count.
TEST(Mp3Imdct, GranuleSequencesAgainstTheModel) {
    zuft::Rng rng(42);
    const int seq[][2] = {{0, 0}, {1, 0}, {2, 0}, {2, 0}, {3, 0}, {0, 0}, {1, 1}, {2, 1},
                          {2, 1}, {3, 1}, {0, 0}, {0, 0}, {1, 0}, {2, 1}, {3, 0}, {0, 0}};
    std::vector<Zuf32s> overlap(576, 0), y(576);
    std::vector<double> m_overlap(576, 0.0), m_y;
    int prev = 0;
    for (int rep = 0; rep < 3; ++rep)
        for (const auto& s : seq) {
            const int nz = rng.range(0, 3) == 0 ? rng.range(0, 20) : rng.range(0, 576);
            std::vector<Zuf32s> xr(576, 0);
            std::vector<double> dx(576, 0.0);
            for (int i = 0; i < nz; ++i)
                dx[static_cast<size_t>(i)] = xr[static_cast<size_t>(i)] = rng.range(-(1 << 24), 1 << 24);
            ASSERT_EQ(zufsMDCTInv_MP3_32s(xr.data(), y.data(), overlap.data(), nz, &prev, s[0], s[1]), zufOk);
            model_granule(dx, s[0], s[1], m_overlap, m_y);
            for (size_t i = 0; i < 576; ++i) {
                ASSERT_NEAR(xr[i], dx[i], 2.0) << "type " << s[0] << " mixed " << s[1] << " line " << i;
                ASSERT_NEAR(y[i], m_y[i], 6.0) << "type " << s[0] << " mixed " << s[1] << " entry " << i;
            }
            const int n = s[0] == 2 ? std::max((nz + 17) / 18, s[1] ? 2 : 0) : std::min(32, (nz + 8) / 18 + 1);
            EXPECT_EQ(prev, std::min(n, 32));
        }
}

TEST(Mp3Imdct, Statuses) {
    std::vector<Zuf32s> xr(576, 0), y(576), overlap(576, 0);
    int prev = 0;
    zuft::expect_null_each(zufsMDCTInv_MP3_32s, xr.data(), y.data(), overlap.data(), 0, &prev, 0, 0);
    const int kBad[][4] = {{577, 0, 0, 0}, {-1, 0, 0, 0}, {0, 4, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 33}};
    for (const auto& b : kBad) {  // nonZeroBound, blockType, mixedBlock, *pPrevNumOfImdct
        prev = b[3];
        EXPECT_EQ(zufsMDCTInv_MP3_32s(xr.data(), y.data(), overlap.data(), b[0], &prev, b[1], b[2]), zufErrBadArg);
        EXPECT_EQ(prev, b[3]);
    }
}

// ---------------------------------------------------------------- vector kernels

// Each SSE2 kernel against its scalar reference, bit for bit, at every level from silence to
// values that saturate.
TEST(Mp3Kernels, VectorKernelsMatchTheirScalarReferences) {
    zuft::Rng rng(45);
    for (int rep = 0; rep < 3000; ++rep) {
        const int shift = rep % 31;
        Zuf32s src[64], a[36], b[36], c[36];
        for (auto& v : src) v = rng.s32() >> shift;
        zuf::ownsDct32_MP3_ref(src, a);
        zuf::ownsDct32_MP3_sse2(src, b);
        ASSERT_EQ(0, std::memcmp(a, b, 32 * sizeof(Zuf32s))) << "matrixing, rep " << rep;

        Zuf32s hist[512];
        for (auto& v : hist) v = rng.s32() >> (rng.u32() % 31);
        zuf::ownsSynthWindow_MP3_ref(hist, rep % 16, a);
        zuf::ownsSynthWindow_MP3_sse2(hist, rep % 16, b);
        ASSERT_EQ(0, std::memcmp(a, b, 32 * sizeof(Zuf32s))) << "window, rep " << rep;

        const int bt = rep % 4;
        Zuf32s w[72], pair[72];
        zuf::ownsImdctPair_MP3_sse2(src, w, bt);
        zuf::ownsImdct_MP3_ref(src, a, bt);
        zuf::ownsImdct_MP3_ref(src + 18, c, bt);
        for (int i = 0; i < 36; ++i) pair[2 * i] = a[i], pair[2 * i + 1] = c[i];  // subbands interleaved
        ASSERT_EQ(0, std::memcmp(w, pair, sizeof w)) << "imdct, rep " << rep;
    }
}

// The inverse hybrid transform with its vector kernels against the all-scalar one, over
// granule sequences with every block type, mixed blocks and varying bounds.
TEST(Mp3Kernels, InverseTransformMatchesTheScalarPath) {
    zuft::Rng rng(46);
    std::vector<Zuf32s> ov_a(576, 0), ov_b(576, 0), y_a(576), y_b(576);
    int prev_a = 0, prev_b = 0;
    for (int gr = 0; gr < 400; ++gr) {
        const int bt = rng.range(0, 3), mixed = rng.range(0, 1), nz = rng.range(0, 576);
        const int shift = rng.range(0, 30);
        std::vector<Zuf32s> xr(576, 0);
        for (int i = 0; i < nz; ++i) xr[static_cast<size_t>(i)] = rng.s32() >> shift;
        auto xb = xr;
        zuf::ownsMDCTInv_MP3(xr.data(), y_a.data(), ov_a.data(), nz, &prev_a, bt, mixed);
        zuf::ownsMDCTInv_MP3_ref(xb.data(), y_b.data(), ov_b.data(), nz, &prev_b, bt, mixed);
        ASSERT_EQ(xr, xb) << "alias reduction, granule " << gr;
        ASSERT_EQ(y_a, y_b) << "output, granule " << gr;
        ASSERT_EQ(ov_a, ov_b) << "overlap, granule " << gr;
        ASSERT_EQ(prev_a, prev_b);
    }
}

// ---------------------------------------------------------------- synthesis

TEST(Mp3Synthesis, AgainstFigureA2) {
    zuft::Rng rng(43);
    ModelSynth model;
    ASSERT_EQ(model.D.size(), 512u);
    std::vector<Zuf32s> hist(512, 0);
    int pos = 0;
    double err_sum = 0.0;
    int count = 0;
    for (int slot = 0; slot < 400; ++slot) {
        Zuf32s in[32];
        double din[32];
        // Levels from quiet to near full scale, a few subbands loud.
        const int amp = slot % 50 < 10 ? (1 << 12) : (1 << 22);
        for (int k = 0; k < 32; ++k) {
            in[k] = rng.range(-amp, amp) >> (k > 8 ? 2 : 0);
            din[k] = in[k] / 16777216.0;
        }
        Zuf16s pcm[64];
        std::fill(pcm, pcm + 64, 1234);
        const int step = 1 + slot % 2;  // every other slot interleaved: the other entries stay
        ASSERT_EQ(zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, step), zufOk);
        double want[32];
        model.run(din, want);
        for (int j = 0; j < 32; ++j) {
            const double w = std::fmax(-32768.0, std::fmin(32767.0, want[j]));
            ASSERT_LE(std::abs(pcm[step * j] - w), 1.0) << "slot " << slot << " sample " << j;
            ASSERT_EQ(pcm[2 * j + 1], step == 2 ? 1234 : pcm[2 * j + 1]);
            err_sum += pcm[step * j] - w;
            ++count;
        }
    }
    // The window stage truncates each product: a small negative bias, well below 1/4 LSB.
    EXPECT_LT(std::fabs(err_sum / count), 0.25);
}

TEST(Mp3Synthesis, SaturationAndStatuses) {
    std::vector<Zuf32s> hist(512, 0);
    int pos = 5;
    Zuf32s in[32] = {1 << 28};
    Zuf16s pcm[32];
    // A DC level far above full scale saturates; after 16 slots the history is full of it.
    for (int s = 0; s < 16; ++s) zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, 1);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], 32767) << j;
    in[0] = -(1 << 28);
    for (int s = 0; s < 16; ++s) zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, 1);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(pcm[j], -32768) << j;

    zuft::expect_null_each(zufsSynthPQMF_MP3_32s16s, static_cast<const Zuf32s*>(in), pcm, hist.data(), &pos, 1);
    for (auto [p, step] : {std::pair{0, 3}, {0, 0}, {16, 1}, {-1, 1}}) {  // *pHistoryPos, step
        pos = p;
        EXPECT_EQ(zufsSynthPQMF_MP3_32s16s(in, pcm, hist.data(), &pos, step), zufErrBadArg);
        EXPECT_EQ(pos, p);
    }
}

}  // namespace
