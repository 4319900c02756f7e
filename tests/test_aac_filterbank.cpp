// AAC fixed-point filter bank against a double-precision model: the IMDCT of ISO/IEC 13818-7
// 15.3.2 evaluated directly, windowed with sine/KBD windows computed here from their formulas,
// and overlapped frame by frame. Also the FFT core, the argument checks and a pin of the bit-exact
// output, which the model's tolerance cannot give (the tables are checked by regenerating them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "transforms/fft_32sc.h"
#include "aac/aac_filterbank.h"
#include "aac/aac_filterbank_tables.h"
#include "support/test_util.h"
#include "zufack9/zuf_aac.h"

namespace {

using V = std::vector<long>;  // results compared as one row

constexpr double kPi = 3.14159265358979323846;
enum { kLong = 0, kStart = 1, kShort = 2, kStop = 3 };

// Slower under user-mode emulation: fewer random frames there.
bool emulated() { return std::string(ZUF_EMULATOR).size() > 0; }

// --------------------------------------------------------------------------- double model

double bessel_i0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 200; ++k) {
        term *= (x / 2) / k;
        sum += term * term;
        if (term * term < 1e-20 * sum) break;
    }
    return sum;
}

// Full window of length len (symmetric), shape 0 sine, 1 KBD (alpha 4 long, 6 short).
std::vector<double> window(int shape, int len) {
    std::vector<double> w(len);
    if (shape == 0) {
        for (int i = 0; i < len; ++i) w[i] = std::sin(kPi * (i + 0.5) / len);
        return w;
    }
    const double alpha = len == 2048 ? 4 : 6;
    std::vector<double> k(len / 2 + 1);
    for (int p = 0; p <= len / 2; ++p) {
        const double r = (p - len / 4.0) / (len / 4.0);
        k[p] = bessel_i0(kPi * alpha * std::sqrt(std::max(0.0, 1 - r * r)));
    }
    double total = std::accumulate(k.begin(), k.end(), 0.0), acc = 0;
    for (int n = 0; n < len / 2; ++n) {
        acc += k[n];
        w[n] = w[len - 1 - n] = std::sqrt(acc / total);
    }
    return w;
}

// x[n] = 2/N' sum_k X[k] cos(2 pi / N' (n + n0)(k + 1/2)), n < N' = 2N, n0 = N'/4 + 1/2.
// The angle is 2 pi (2n + N'/2 + 1)(2k + 1) / (4N'): an index into one cosine table.
std::vector<double> imdct(const double* X, int n) {
    const int np = 2 * n, period = 4 * np;
    static std::vector<double> cosTab[2];
    std::vector<double>& ct = cosTab[n == 1024];
    if (ct.empty()) {
        ct.resize(period);
        for (int i = 0; i < period; ++i) ct[i] = std::cos(2 * kPi * i / period);
    }
    std::vector<double> x(np);
    for (int i = 0; i < np; ++i) {
        const long long a = 2LL * i + np / 2 + 1;
        double s = 0;
        for (int k = 0; k < n; ++k) s += X[k] * ct[(a * (2 * k + 1)) % period];
        x[i] = s * 2.0 / np;
    }
    return x;
}

// Windowed frame (2048 values) of one window_sequence; `scaleLong`/`scaleShort` multiply the
// contributions of long and short transforms (1 for the standard's output).
std::vector<double> model_frame(const double* X, int seq, int shape, int prev, double scaleLong = 1,
                                double scaleShort = 1) {
    std::vector<double> f(2048, 0.0);
    const std::vector<double> lp = window(prev, 2048), lc = window(shape, 2048);
    const std::vector<double> sp = window(prev, 256), sc = window(shape, 256);
    if (seq == kShort) {
        for (int w = 0; w < 8; ++w) {
            const std::vector<double> x = imdct(X + 128 * w, 128);
            for (int n = 0; n < 256; ++n) {
                const double win = n < 128 ? (w == 0 ? sp[n] : sc[n]) : sc[n];
                f[448 + 128 * w + n] += scaleShort * win * x[n];
            }
        }
        return f;
    }
    const std::vector<double> x = imdct(X, 1024);
    for (int n = 0; n < 2048; ++n) {
        double win;
        if (n < 1024) {
            win = seq == kStop ? (n < 448 ? 0 : n < 576 ? sp[n - 448] : 1) : lp[n];
        } else {
            win = seq == kStart ? (n < 1472 ? 1 : n < 1600 ? sc[n - 1344] : 0) : lc[n];
        }
        f[n] = scaleLong * win * x[n];
    }
    return f;
}

// --------------------------------------------------------------------------- helpers

// Random spectrum, Q3, with a spectral tilt like real audio: amplitude ~ level / (1 + k/64).
void random_spectrum(zuft::Rng& rng, int32_t* X, int seq, double level) {
    const int n = seq == kShort ? 128 : 1024;
    for (int i = 0; i < 1024; ++i) {
        const int k = i % n;
        const double amp = level / (1.0 + (seq == kShort ? 8.0 : 1.0) * k / 64.0);
        X[i] = static_cast<int32_t>(std::lround(amp * rng.uniform(-1.0f, 1.0f)));
    }
}

struct ErrStats {
    double maxErr = 0, sumSq = 0, count = 0;
    void add(double d) { maxErr = std::max(maxErr, std::fabs(d)), sumSq += d * d, ++count; }
};

struct Frame {
    int seq, shape;
};

// Runs frames through zufsMDCTInv_AAC_32s16s at `stride` and the model side by side; with stride 0
// through zufsMDCTInv_AAC_32s_I, whose long transforms contribute 32 times and short ones 4 times
// the standard's samples, in the input's units. Statistics per window_sequence of the frame that
// produced the output.
void run_sequence(const std::vector<Frame>& frames, double level, int stride, ErrStats stats[4], uint32_t seed) {
    zuft::Rng rng(seed);
    std::vector<int32_t> overlap(1024, 0);
    std::vector<double> modelOverlap(1024, 0.0);
    std::vector<int16_t> pcm(2048);
    int prev = frames[0].shape;
    for (const Frame& fr : frames) {
        std::vector<int32_t> X(1024);
        random_spectrum(rng, X.data(), fr.seq, level);
        std::vector<double> Xd(X.begin(), X.end());
        for (double& v : Xd) v /= stride ? 8 : 1;  // Q3 to real
        const std::vector<double> f = model_frame(Xd.data(), fr.seq, fr.shape, prev, stride ? 1 : 32, stride ? 1 : 4);
        std::fill(pcm.begin(), pcm.end(), int16_t{0x5A5A});
        ASSERT_EQ(stride ? zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), overlap.data(), fr.seq, fr.shape, prev, stride)
                         : zufsMDCTInv_AAC_32s_I(X.data(), overlap.data(), fr.seq, fr.shape, prev, 1024),
                  zufOk);
        for (int p = 0; p < 1024; ++p) {
            stats[fr.seq].add((stride ? pcm[p * stride] : X[p]) - (modelOverlap[p] + f[p]));
            ASSERT_TRUE(stride != 2 || pcm[p * 2 + 1] == int16_t{0x5A5A});
        }
        for (int m = 0; m < 1024; ++m) modelOverlap[m] = f[1024 + m];
        prev = fr.shape;
    }
}

// Every allowed transition with both shapes on each side.
std::vector<Frame> all_transitions(int repeats) {
    std::vector<Frame> v;
    const int seqs[7] = {kLong, kLong, kStart, kShort, kShort, kStop, kLong};
    for (int r = 0; r < repeats; ++r)
        for (int s0 = 0; s0 < 2; ++s0)
            for (int s1 = 0; s1 < 2; ++s1)
                for (int i = 0; i < 7; ++i) v.push_back({seqs[i], i % 2 ? s1 : s0});
    return v;
}

}  // namespace

// --------------------------------------------------------------------------- FFT and core

TEST(AacFft32s, VectorPathEqualsScalarAtEveryAlignment) {
    // Full 32-bit range as well: the rotations wrap 4d and must still agree bit for bit.
    zuft::Rng rng(8);
    for (int order = 2; order <= 9; ++order) {
        const int m = 1 << order;
        for (size_t mis : {0, 4, 8, 12}) {
            for (int full = 0; full < 2; ++full) {
                zuft::Placed<int32_t> v(2 * m, mis);
                std::vector<int32_t> ref(2 * m);
                const int32_t lim = static_cast<int32_t>(0x1FFFFFFF / (2 * m));
                for (int i = 0; i < 2 * m; ++i) v[i] = ref[i] = full ? rng.s32() : rng.range(-lim, lim);
                zuf::ownsIMDCT_FFT_32sc_I(v.data(), order);
                zuf::ownsIMDCT_FFT_32sc_I_ref(ref.data(), order);
                ASSERT_EQ(v.vec(), ref) << "order " << order << " misalignment " << mis;
                EXPECT_TRUE(v.guards_intact());
            }
        }
    }
}

TEST(AacFilterBank, CoreVectorRotationsEqualScalarAtEveryLevelAndAlignment) {
    // Levels from a few LSB to the full 32-bit range: the block scaling then takes every shift
    // from a left shift (quiet blocks) to a rounded right shift, and the unscaled core's sums wrap.
    zuft::Rng rng(30);
    for (int n : {1024, 128}) {
        for (int scaled = 0; scaled < 2; ++scaled) {
            for (int level = 2; level <= 32; level += 3) {
                const size_t mis = static_cast<size_t>(level) % 4 * 4;
                zuft::Placed<int32_t> v(n, mis);
                std::vector<int32_t> ref(n);
                for (int i = 0; i < n; ++i) v[i] = ref[i] = level == 32 ? rng.s32() : rng.s32() >> (32 - level);
                scaled ? zuf::ownsMDCTInv_Radix2_32s(v.data(), n) : zuf::ownsMDCTInv_Radix2_32s_I(v.data(), n);
                zuf::ownsMDCTInv_Radix2_ref(ref.data(), n, scaled != 0);
                ASSERT_EQ(v.vec(), ref) << "n " << n << " scaled " << scaled << " level " << level;
                EXPECT_TRUE(v.guards_intact());
            }
        }
    }
}

TEST(AacFilterBank, LongOverlapAddVectorPathsEqualScalarAtEveryAlignment) {
    // Full-range core and overlap: the 16-bit path's sums saturate, the 32-bit path's wrap.
    using Fn = void (*)(const Zuf32s*, Zuf32s*, Zuf32s*, const Zuf32s*, const Zuf32s*);
    const struct {
        int seq, wide;
        Fn fn;
    } cases[] = {{kLong, 0, zuf::ownsOverlapAdd_Long_32s},
                 {kStart, 0, zuf::ownsOverlapAdd_LongStart_32s},
                 {kStop, 0, zuf::ownsOverlapAdd_LongStop_32s},
                 {kLong, 1, zuf::ownsOverlapAdd_Long_AAC_32s_I},
                 {kStart, 1, zuf::ownsOverlapAdd_LongStart_AAC_32s_I},
                 {kStop, 1, zuf::ownsOverlapAdd_LongStop_AAC_32s_I}};
    const Zuf32s* longs[2] = {zuf::pWinSINLong, zuf::pWinKBDLong};
    const Zuf32s* shorts[2] = {zuf::pWinSINShort, zuf::pWinKBDShort};
    zuft::Rng rng(21);
    for (const auto& c : cases) {
        for (size_t mis : {0, 4, 8, 12}) {
            const int shape = static_cast<int>(mis / 4) & 1, prev = static_cast<int>(mis / 8);
            const Zuf32s* p = c.seq == kStop ? shorts[prev] : longs[prev];
            const Zuf32s* k = c.seq == kStart ? shorts[shape] : longs[shape];
            zuft::Placed<int32_t> core(1024, mis), sum(1024, mis), ov(1024, 12 - mis);
            std::vector<int32_t> refSum(1024), refOv(1024);
            for (int i = 0; i < 1024; ++i) {
                core[i] = rng.s32() >> (i & 3) * 8;
                ov[i] = refOv[i] = rng.s32() >> (i & 7) * 4;
            }
            c.fn(core.data(), sum.data(), ov.data(), p, k);
            zuf::ownsOverlapAdd_Long_ref(c.seq, c.wide, core.data(), refSum.data(), refOv.data(), p, k);
            ASSERT_EQ(sum.vec(), refSum) << "sequence " << c.seq << " wide " << c.wide << " misalignment " << mis;
            ASSERT_EQ(ov.vec(), refOv) << "sequence " << c.seq << " wide " << c.wide << " misalignment " << mis;
            EXPECT_TRUE(sum.guards_intact() && ov.guards_intact());
        }
    }
}

// --------------------------------------------------------------------------- the exported bank

TEST(AacFilterBank, EveryWindowSequenceAndShapeTransitionMatchesTheModel) {
    const int reps = emulated() ? 1 : 2;
    const char* names[4] = {"ONLY_LONG", "LONG_START", "EIGHT_SHORT", "LONG_STOP"};
    // Realistic level: output RMS of a few thousand LSB (spectral RMS ~ 2^20 in Q3 at low
    // frequencies, falling with frequency), and a quiet one.
    for (double level : {2.0e6, 2.0e4}) {
        ErrStats stats[4];
        for (int stride : {1, 2}) run_sequence(all_transitions(reps), level, stride, stats, 1234 + stride);
        for (int s = 0; s < 4; ++s) {
            EXPECT_LT(stats[s].maxErr, 1.0) << names[s] << " at level " << level;
            EXPECT_LT(std::sqrt(stats[s].sumSq / stats[s].count), 0.40) << names[s] << " at level " << level;
        }
    }
}

TEST(AacFilterBank, ThirtyTwoBitPathIsScaledModelOutput) {
    ErrStats stats[4];
    run_sequence(all_transitions(1), 1.0e5, 0, stats, 5);
    // The fixed-scale core's coherent truncation bias (up to about 64 units in a few outputs of a
    // long transform), halved by the window, from both overlapping halves.
    for (const ErrStats& s : stats) EXPECT_LE(s.maxErr, 96.0);
}

TEST(AacFilterBank, ChecksInOrder) {
    std::vector<int32_t> X(1024), ov(1024);
    std::vector<int16_t> pcm(2048);
    EXPECT_EQ((V{zufsMDCTInv_AAC_32s16s(nullptr, pcm.data(), ov.data(), 7, 0, 0, 1),
                 zufsMDCTInv_AAC_32s16s(X.data(), nullptr, ov.data(), 0, 0, 0, 1),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), nullptr, 0, 0, 0, 1),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), 4, 2, 0, 3),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), -1, 0, 0, 1),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), 0, 2, 0, 3),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), 0, 0, -1, 3),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), 0, 0, 0, 3),
                 zufsMDCTInv_AAC_32s16s(X.data(), pcm.data(), ov.data(), 0, 0, 0, 0),
                 zufsMDCTInv_AAC_32s_I(nullptr, ov.data(), 0, 0, 0, 2048),
                 zufsMDCTInv_AAC_32s_I(X.data(), nullptr, 0, 0, 0, 1024),
                 zufsMDCTInv_AAC_32s_I(X.data(), ov.data(), 4, 2, 0, 2048),
                 zufsMDCTInv_AAC_32s_I(X.data(), ov.data(), 0, 0, 2, 2048),
                 zufsMDCTInv_AAC_32s_I(X.data(), ov.data(), 0, 0, 0, 2048)}),
              (V{zufErrNullPtr, zufErrNullPtr, zufErrNullPtr, zufErrAacWinSeq, zufErrAacWinSeq, zufErrAacWinShape,
                 zufErrAacWinShape, zufErrAacStride, zufErrAacStride, zufErrNullPtr, zufErrNullPtr, zufErrAacWinSeq,
                 zufErrAacWinShape, zufErrSize}));
}

TEST(AacFilterBank, PcmOutputRoundsAndSaturatesOnEveryPath) {
    zuft::Rng rng(9);
    std::vector<int32_t> sum(1024);
    for (auto& v : sum) v = rng.s32() >> rng.range(0, 16);
    const int32_t edge[] = {INT32_MIN, INT32_MAX, 8 * 32767 + 3, 8 * 32767 + 4, -8 * 32768 - 4, -8 * 32768 - 5, -5, -4,
                            3,         4};
    for (int i = 0; i < 10; ++i) sum[100 + i] = edge[i];
    for (int stride : {1, 2}) {
        for (size_t mis : {0, 2, 6}) {
            zuft::Placed<int16_t> out(1024 * stride, mis);
            std::memset(out.data(), 0x33, 2048 * stride);
            zuf::ownsPcmAudioOutput_32s16s(sum.data(), out.data(), stride);
            for (int p = 0; p < 1024; ++p) {
                ASSERT_EQ(out[p * stride], std::clamp<int64_t>((int64_t{sum[p]} + 4) >> 3, -32768, 32767)) << p;
                if (stride == 2) {
                    ASSERT_EQ(out[p * 2 + 1], int16_t{0x3333});
                }
            }
            EXPECT_TRUE(out.guards_intact());
        }
    }
}

// The bit-exact output of both entry points (and of the FFT core) over a fixed pseudo-random
// sequence of frames, levels, shapes and strides, folded into a hash: any change of arithmetic,
// whatever path runs, shows here.
TEST(AacFilterBank, OutputIsBitExactlyStable) {
    std::mt19937 g(77);
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint32_t v) { h = (h ^ v) * 1099511628211ull; };
    for (int order = 2; order <= 9; ++order) {
        for (int it = 0; it < 20; ++it) {
            const int m = 1 << order;
            std::vector<int32_t> z(2 * m);
            const int32_t lim = 0x1FFFFFFF / (2 * m);
            for (auto& v : z) v = static_cast<int32_t>(g() % (2u * lim + 1)) - lim;
            zuf::ownsIMDCT_FFT_32sc_I(z.data(), order);
            for (auto v : z) mix(static_cast<uint32_t>(v));
        }
    }
    std::vector<int32_t> ov(1024, 0), ov2(1024, 0);
    std::vector<int16_t> pcm(2048);
    const int seqs[] = {0, 0, 1, 2, 2, 3, 0, 1, 2, 3, 0};
    int prev = 0;
    for (int lvl = 10; lvl <= 30; lvl += 4) {
        for (int i = 0; i < 11; ++i) {
            std::vector<int32_t> x(1024), y(1024);
            for (int k = 0; k < 1024; ++k) {
                x[k] = static_cast<int32_t>(g() % (2u << lvl)) - (1 << lvl);
                y[k] = x[k] >> 8;
            }
            const int sh = static_cast<int>(g() & 1);
            zufsMDCTInv_AAC_32s16s(x.data(), pcm.data(), ov.data(), seqs[i], sh, prev, 1 + (i & 1));
            zufsMDCTInv_AAC_32s_I(y.data(), ov2.data(), seqs[i], sh, prev, 1024);
            prev = sh;
            for (auto v : pcm) mix(static_cast<uint16_t>(v));
            for (auto v : ov) mix(static_cast<uint32_t>(v));
            for (auto v : y) mix(static_cast<uint32_t>(v));
            for (auto v : ov2) mix(static_cast<uint32_t>(v));
        }
    }
    EXPECT_EQ(h, 0xa57897b5cfd73ad6ull);
}
