// Psychoacoustic model two: the fixed-point model against a double-precision model of ISO/IEC
// 11172-3 psychoacoustic model 2 built here from the standard's partition tables (tools/gen/data),
// and the block-switching, delay and stereo rules on signals made to trigger them.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mp3/mp3_psy.h"
#include "support/mp3_test_util.h"
#include "support/test_util.h"

using namespace zuf;
using namespace zuft;
using cd = std::complex<double>;

namespace {

struct Part {
    int first, n;
    double qthr, norm, snr, bval;
};
struct Table {
    std::vector<Part> p;
    std::vector<int> bu, bo;
    std::vector<double> w1, w2;
};

// The standard's partition table of 44.1 kHz (long or short); qthr in the library's energy scale
// (FFT of the 16-bit samples times 16, so energies times 256).
Table load(const char* kind) {
    std::ifstream f(std::string(ZUF_SOURCE_DIR) + "/tools/gen/data/mp3_psy2_44100_" + kind + ".txt");
    Table t;
    for (std::string line; std::getline(f, line);) {
        std::istringstream s(line);
        std::string tag;
        s >> tag;
        double v[7];
        for (double& x : v) s >> x;
        if (tag == "partition" && kind[0] == 'l') t.p.push_back({int(v[6]), int(v[1]), 256 * v[3], v[4], 0, v[5]});
        if (tag == "partition" && kind[0] == 's') t.p.push_back({int(v[6]), int(v[1]), 256 * v[2], v[3], v[4], v[5]});
        if (tag == "sfb")
            t.bu.push_back(int(v[2])), t.bo.push_back(int(v[3])), t.w1.push_back(v[4]), t.w2.push_back(v[5]);
    }
    return t;
}

// Model 2 spreading function between the Bark values of target b and source j.
double spreading(double bt, double bs, bool above) {
    const double dz = (bt - bs) * (above ? 3.0 : 1.5), t = dz + 0.474;
    const double x = dz >= 0.5 && dz <= 2.5 ? 8 * ((dz - 0.5) * (dz - 0.5) - 2 * (dz - 0.5)) : 0;
    const double y = 15.811389 + 7.5 * t - 17.5 * std::sqrt(1 + t * t);
    return y <= -60 ? 0 : std::pow(10, (x + y) / 10);
}

// 16 times the DFT (lines 0..n/2) of the samples times the Q15 Hann window, each product
// truncated to an integer as the model's input stage defines.
std::vector<cd> dft(const Zuf16s* x, int n) {
    std::vector<cd> X(n / 2 + 1);
    for (int i = 0; i < n; ++i) {
        const double w = std::min(32767.0, std::round(16384 * (1 - std::cos(2 * M_PI * (i + 0.5) / n))));
        const double v = 16 * std::floor(x[i] * w / 32768);
        for (int k = 0; k <= n / 2; ++k) X[k] += v * std::polar(1.0, -2 * M_PI * k * i / n);
    }
    return X;
}

// One channel of the double model: per granule the long and short analyses, with its own state.
struct Model {
    Table L = load("long"), S = load("short");
    std::vector<cd> hist[2] = {std::vector<cd>(6), std::vector<cd>(6)};
    std::vector<double> nb1 = std::vector<double>(64), nb2 = std::vector<double>(64), nbs = std::vector<double>(48);
    int type = 0;
    std::vector<double> e, ecb, thr, ratioL, es[3], ecbs[3], thrs[3], ratioS;
    double pe = 0, E[3] = {};

    static double cw(cd x, cd x1, cd x2) {
        const double r1 = std::abs(x1), r2 = std::abs(x2), rp = 2 * r1 - r2;
        const cd pred = std::polar(rp, 2 * std::arg(x1) - std::arg(x2));
        return std::abs(x) + std::abs(rp) == 0 ? 0 : std::abs(x - pred) / (std::abs(x) + std::abs(rp));
    }
    static std::vector<double> sums(const Table& t, const std::vector<cd>& X, const std::vector<double>* w) {
        std::vector<double> out(t.p.size());
        for (size_t b = 0; b < t.p.size(); ++b)
            for (int i = t.p[b].first; i < t.p[b].first + t.p[b].n; ++i) out[b] += std::norm(X[i]) * (w ? (*w)[i] : 1);
        return out;
    }
    static std::vector<double> spread(const Table& t, const std::vector<double>& in) {
        std::vector<double> out(t.p.size());
        for (size_t b = 0; b < t.p.size(); ++b)
            for (size_t j = 0; j < t.p.size(); ++j)
                out[b] += spreading(t.p[b].bval, t.p[j].bval, j >= b) * t.p[b].norm * in[j];
        return out;
    }
    static void ratios(const Table& t, const std::vector<double>& en, const std::vector<double>& th, double* r,
                       int stride) {
        for (size_t s = 0; s + 1 <= t.bu.size(); ++s) {
            const int a = t.bu[s], z = s + 1 < t.bu.size() ? t.bu[s + 1] : t.bo[s];
            double ne = t.w1[s] * en[a] + t.w2[s] * en[z], nt = t.w1[s] * th[a] + t.w2[s] * th[z];
            for (int j = a + 1; j < z; ++j) ne += en[j], nt += th[j];
            r[s * stride] = ne == 0 ? 1 : std::min(1.0, nt / ne);
        }
    }
    void granule(const Zuf16s* pcm) {
        const std::vector<cd> X = dft(pcm, 1024);
        std::vector<cd> Xs[3];
        for (int w = 0; w < 3; ++w) Xs[w] = dft(pcm + 192 * (w + 1), 256);
        std::vector<double> c(513, 0.4);
        for (int k = 0; k < 6; ++k) c[k] = cw(X[k], hist[0][k], hist[1][k]), hist[1][k] = hist[0][k], hist[0][k] = X[k];
        for (int j = 6; j < 206; ++j) c[j] = cw(Xs[2][(j - 6) / 4 + 2], Xs[1][(j - 6) / 4 + 2], Xs[0][(j - 6) / 4 + 2]);
        e = sums(L, X, nullptr), ecb = spread(L, e);
        const std::vector<double> ct = spread(L, sums(L, X, &c));
        thr.assign(L.p.size(), 0);
        pe = 0;
        for (size_t b = 0; b < L.p.size(); ++b) {
            const double tb = std::clamp(-0.299 - 0.43 * std::log(ct[b] / ecb[b]), 0.0, 1.0);
            const double nb = ecb[b] == 0 ? 1 : ecb[b] * std::pow(10, -(6 + 12 * tb) / 10);
            thr[b] = std::max(L.p[b].qthr, std::min({nb, 2 * nb1[b], type == 2 ? nb : 16 * nb2[b]}));
            nb2[b] = nb1[b], nb1[b] = nb;
            pe += L.p[b].n * std::log10(std::max(e[b] / (thr[b] + 1), 1.0));
        }
        std::vector<double> nbw[3];
        for (int w = 0; w < 3; ++w) {
            es[w] = sums(S, Xs[w], nullptr), ecbs[w] = spread(S, es[w]), nbw[w] = ecbs[w];
            E[w] = 0;
            for (size_t b = 0; b < S.p.size(); ++b) nbw[w][b] *= std::pow(10, S.p[b].snr / 10), E[w] += es[w][b];
        }
        for (int w = 0; w < 3; ++w) {
            thrs[w].resize(S.p.size());
            for (size_t b = 0; b < S.p.size(); ++b)
                thrs[w][b] = std::max(S.p[b].qthr, std::min(nbw[w][b], w ? nbw[w - 1][b] : nbs[b]));
        }
        nbs = nbw[2];
        ratioL.assign(21, 0), ratioS.assign(36, 0);
        ratios(L, e, thr, ratioL.data(), 1);
        for (int w = 0; w < 3; ++w) ratios(S, es[w], thrs[w], ratioS.data() + w, 3);
        const double lo = std::min({E[0], E[1], E[2]}), hi = std::max({E[0], E[1], E[2]});
        const bool want = hi > 40 * lo || (hi > 8 * lo && pe >= 801) || pe >= 1001;
        type = want ? 2 : type == 2 ? 3 : 0;
    }
};

// Equal within rel (relative), plus floor times the largest wanted value and, for energies, the
// effect of an FFT rounding error of 100 on the amplitude; the first miss is reported.
template <class A>
void expect_close(const A& got, const std::vector<double>& want, int n, double rel, double floor, const char* what) {
    const double peak = *std::max_element(want.begin(), want.begin() + n);
    for (int i = 0; i < n; ++i) {
        const double g = double(got[i]), m = std::max(std::fabs(want[i]), std::fabs(g));
        const double tol = rel * m + floor * peak + 200 * std::sqrt(m);
        if (std::fabs(g - want[i]) > tol) {
            ADD_FAILURE() << what << " " << i << ": " << g << " vs " << want[i];
            return;
        }
    }
}

std::vector<Zuf16s> signal(const char* kind, int samples, int channels = 1) {
    std::vector<Zuf16s> x(samples * channels);
    uint32_t seed = 12345;
    for (int i = 0; i < samples; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = int32_t(seed) / 2147483648.0, tone = std::sin(2 * M_PI * 1000.5 * i / 44100);
            double v = kind[0] == 's' ? 12000 * tone : kind[0] == 'n' ? 8000 * noise : 0;
            if (kind[0] == 'a') v = i < 3000 ? 30 * noise : 16000 * tone;  // attack: hush, then a loud tone
            if (kind[0] == 'm') v = c == 0 ? 12000 * tone : i < 3000 ? 0 : 9000 * noise;  // left steady, right attack
            x[i * channels + c] = Zuf16s(std::lround(v));
        }
    return x;
}

struct PsyRun {
    Mp3FrameHeader h;
    Mp3PsyState st{};
    std::vector<Zuf8u> work = std::vector<Zuf8u>(ZUF_MP3_PSY_WORK_BYTES + 3);
    Mp3PsyOutput out[4];
    Mp3SideInfo si[4];
    Zuf32s bound[6];
    int nch, ngr;
    explicit PsyRun(int id, int mode, int bitrate = 9)
        : h(make_header(id, 0, mode)), nch(mode == 3 ? 1 : 2), ngr(id ? 2 : 1) {
        h.bitrate_index = bitrate;
    }
    void call(const Zuf16s* pcm) {
        ASSERT_EQ(zufsPsychoacousticModelTwo_MP3_16s(pcm, out, bound, si, &h, &st, nullptr, work.data() + 3), zufOk);
    }
    PsyWork_MP3* w() { return ownsPsyWork_MP3(work.data() + 3); }
};

}  // namespace

// Partition and spread energies (0.1 %), thresholds (2 %: the tonality estimate), band ratios (5 %,
// bands far from the signal hold little more than rounding) and the perceptual entropy (2 %) of the last granule of each
// frame, on a tone, white noise and an attack, two granules per call.
TEST(Mp3Psy, MatchesDoubleModel) {
    for (const char* kind : {"sine", "noise", "attack"}) {
        const std::vector<Zuf16s> x = signal(kind, 576 * 12 + 448);
        PsyRun r(1, 3);
        Model m;
        for (int g = 0; g < 12; ++g) {
            m.granule(x.data() + 576 * g);
            if (g % 2 == 0) continue;
            r.call(x.data() + 576 * (g - 1));
            const PsyChannel_MP3& c = r.w()->ch[0];
            SCOPED_TRACE(std::string(kind) + " granule " + std::to_string(g));
            expect_close(c.eLong, m.e, 63, 1e-3, 1e-9, "e");
            expect_close(c.ecbLong, m.ecb, 63, 1e-3, 1e-9, "ecb");
            expect_close(c.thrLong, m.thr, 63, 0.02, 1e-9, "thr");
            for (int w = 0; w < 3; ++w) {
                expect_close(c.eShort[w], m.es[w], 39, 1e-3, 1e-9, "eShort");
                expect_close(c.thrShort[w], m.thrs[w], 39, 0.02, 1e-9, "thrShort");
            }
            std::vector<double> rl(m.ratioL), rs(m.ratioS);
            for (double& v : rl) v *= 2147483647.0;
            for (double& v : rs) v *= 2147483647.0;
            expect_close(c.ratioLong, rl, 21, 0.05, 1e-6, "ratioLong");
            expect_close(c.ratioShort, rs, 36, 0.05, 1e-6, "ratioShort");
            EXPECT_NEAR(c.pe, m.pe, 0.02 * m.pe + 2);
            EXPECT_EQ(r.st.blockType[0], m.type);
        }
    }
}

// Block types, one granule late: a steady tone stays long; a loud onset after a hush makes the
// granule before it a start block and itself short; the steady tone after it gives 2, 3, 0.
TEST(Mp3Psy, BlockSwitchingAndDelay) {
    struct Case {
        const char* kind;
        const char* types;  // side-information block_type from call 3 on (one granule per call; the calls before
                            // leave the start-up, which follows a silent granule)
    } cases[] = {{"sine", "000000000"}, {"attack", "012300000"}};
    for (const Case& cs : cases) {
        const std::vector<Zuf16s> x = signal(cs.kind, 576 * 14 + 448);
        PsyRun r(0, 3);
        std::string types;
        int decided = -1;
        for (int g = 0; g < 12; ++g) {
            r.call(x.data() + 576 * g);
            if (g >= 3) types += char('0' + r.si[0].block_type);
            EXPECT_EQ(r.si[0].window_switching_flag, r.si[0].block_type != 0);
            if (decided >= 0) {
                EXPECT_EQ(r.si[0].block_type == 2 || r.si[0].block_type == 3, decided != 0);
            }
            decided = r.st.blockType[0];  // written to the side information one call later
        }
        EXPECT_EQ(types, cs.types) << cs.kind;
    }
}

// Stereo decision and intensity bounds; single-channel and plain stereo frames keep mode_extension.
TEST(Mp3Psy, StereoDecision) {
    const std::vector<Zuf16s> same = signal("sine", 576 * 8 + 448, 2), mixed = signal("mixed", 576 * 8 + 448, 2);
    for (int mode : {0, 3}) {
        PsyRun r(1, mode);
        for (int f = 0; f < 4; ++f) {
            r.h.mode_extension = 0x55;
            r.call(same.data() + 2 * 1152 * f);
            EXPECT_EQ(r.h.mode_extension, 0x55);
        }
    }
    PsyRun m(1, 1);  // different block types: never mid/side
    bool differed = false;
    for (int f = 0; f < 4; ++f) {
        m.call(mixed.data() + 2 * 1152 * f);
        const bool diff = m.si[0].block_type != m.si[1].block_type || m.si[2].block_type != m.si[3].block_type;
        differed |= diff;
        if (diff) {
            EXPECT_EQ(m.h.mode_extension, 0);
        }
    }
    EXPECT_TRUE(differed);
    {  // equal channels, so the entropies favour mid/side, but the left one is made short (then stop)
        PsyRun r(1, 1);
        for (int f = 0; f < 3; ++f) r.call(same.data() + 2 * 1152 * f);
        ASSERT_EQ(r.h.mode_extension, 2);
        r.st.blockType[0] = 2;
        r.call(same.data() + 2 * 1152 * 3);
        EXPECT_EQ(r.si[0].block_type, 2);
        EXPECT_EQ(r.si[2].block_type, 3);
        EXPECT_EQ(r.si[1].block_type, 0);
        EXPECT_EQ(r.h.mode_extension, 0);
    }
    for (int bitrate : {6, 7, 8, 9}) {  // equal channels (side silent) after the start-up: mid/side, bounds
        for (int sf = 0; sf < 3; ++sf) {
            PsyRun r(1, 1, bitrate);
            r.h.sampling_frequency = sf;
            for (int f = 0; f < 3; ++f) r.call(same.data() + 2 * 1152 * f);
            EXPECT_EQ(r.si[2].block_type, 0);
            EXPECT_EQ(r.h.mode_extension, bitrate < 9 ? 3 : 2);
            const int want[3][3] = {{13, 12, 13}, {15, 15, 16}, {18, 18, 18}};
            EXPECT_EQ(r.bound[3], bitrate < 9 ? want[bitrate - 6][sf] : 22) << bitrate << " " << sf;
        }
    }
}

TEST(Mp3Psy, NullPointers) {
    std::vector<Zuf16s> x(576 * 4 + 1024);
    PsyRun r(1, 0);
    auto f = [&](const Zuf16s* a, Mp3PsyOutput* b, Zuf32s* c, Mp3SideInfo* d, Mp3FrameHeader* e, Mp3PsyState* g,
                 Zuf8u* h) { return zufsPsychoacousticModelTwo_MP3_16s(a, b, c, d, e, g, nullptr, h); };
    expect_null_each(f, x.data(), r.out, r.bound, r.si, &r.h, &r.st, r.work.data());
    EXPECT_EQ(f(x.data(), r.out, r.bound, r.si, &r.h, &r.st, r.work.data()), zufOk);
}

// The SSE2 spreading sum equals its scalar reference and the exact floor sums of double-width
// products, for energies up to 2^62 - 1 and factors up to 2^31 - 1, at every length and offset.
TEST(Mp3Psy, WeightedSumMatchesScalarAndExactProducts) {
    zuft::Rng rng(17);
    std::vector<uint64_t> raw(80);
    std::vector<Zuf64s> e(80), r(80);
    std::vector<Zuf32s> f(80);
    for (int round = 0; round < 40; ++round) {
        for (auto& v : raw) v = (uint64_t{rng.u32()} << 32) | rng.u32();
        for (auto& v : f) v = static_cast<Zuf32s>(rng.u32() >> (1 + round % 20));
        if (round == 0) raw.assign(raw.size(), ~uint64_t{0}), f.assign(f.size(), INT32_MAX);
        for (int n = 0; n <= 64; n += 1 + n / 8) {
            // Energies as large as n terms allow (their sum stays below 2^62); r is e reversed.
            const int shift = 2 + std::bit_width(static_cast<unsigned>(n)) + round % 30;
            for (size_t j = 0; j < raw.size(); ++j)
                e[j] = static_cast<Zuf64s>(raw[j] >> shift),
                r[j] = static_cast<Zuf64s>(raw[raw.size() - 1 - j] >> shift);
            for (int off = 0; off < 3; ++off) {
                Zuf64s v, w;
                ownsWeightedSums_MP3(e.data() + off, r.data() + off, f.data() + off, n, &v, &w);
                ASSERT_EQ(v, ownsWeightedSum_MP3_ref(e.data() + off, f.data() + off, n)) << round << " " << n;
                ASSERT_EQ(w, ownsWeightedSum_MP3_ref(r.data() + off, f.data() + off, n)) << round << " " << n;
#if defined(__SIZEOF_INT128__)
                unsigned __int128 exact = 0;
                for (int j = 0; j < n; ++j)
                    exact += (static_cast<unsigned __int128>(e[off + j]) * static_cast<uint64_t>(f[off + j])) >> 31;
                ASSERT_EQ(static_cast<uint64_t>(v), static_cast<uint64_t>(exact)) << round << " " << n;
#endif
            }
        }
    }
}

// The SSE2 input window equals its scalar reference at every offset, for mono and interleaved
// stereo input, extremes included, and leaves the values around its output alone.
TEST(Mp3Psy, WindowMatchesScalarAtAnyOffset) {
    std::vector<Zuf16s> pcm(2 * 1024 + 16), win(1024 + 8);
    uint32_t seed = 5;
    for (auto& v : pcm) v = static_cast<Zuf16s>((seed = seed * 1664525u + 1013904223u) >> 16);
    for (auto& v : win) v = static_cast<Zuf16s>((seed = seed * 1664525u + 1013904223u) >> 16);
    pcm[3] = pcm[5] = -32768, win[0] = win[1] = -32768, win[2] = 32767;
    for (const int step : {1, 2})
        for (const int n : {256, 1024, 9})
            for (int off = 0; off < 8; ++off) {
                std::vector<Zuf32s> a(n + 16, 7), b(n + 16, 7);
                ownsPsyWindow_MP3(pcm.data() + off, step, win.data() + (off & 3), n, a.data() + 8 + off % 3);
                ownsPsyWindow_MP3_ref(pcm.data() + off, step, win.data() + (off & 3), n, b.data() + 8 + off % 3);
                EXPECT_EQ(a, b) << step << " " << n << " " << off;
                // An input that ends with the buffer (the sanitizer build sees any read past it).
                const std::vector<Zuf16s> tight(pcm.begin() + off, pcm.begin() + off + step * (n - 1) + 1);
                ownsPsyWindow_MP3(tight.data(), step, win.data() + (off & 3), n, a.data() + 8 + off % 3);
                EXPECT_EQ(a, b) << step << " " << n << " " << off;
            }
}
