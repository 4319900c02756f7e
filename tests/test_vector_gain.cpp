// Gain builders: MakeFloat against ldexp over the whole exponent range, and CalcSF.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "frame/vec_kernels.h"
#include "support/checkasm.h"
#include "zufack9/zuf_core.h"

namespace {

using zuft::bits_of;
using zuft::checkasm;
using zuft::Rng;

// m * 2^-(15 + e): exact in double wherever double's range allows, then one rounding to float
// (below double's range the float result is a signed zero either way).
float model_make_float(Zuf16s m, Zuf16s e) { return static_cast<float>(std::ldexp(static_cast<double>(m), -15 - e)); }

TEST(VectorGain, MakeFloatAgainstLdexp) {
    // Every exponent with every special mantissa in one long vector, aligned and not.
    std::vector<Zuf16s> m, e;
    std::vector<int> exps = {INT16_MIN, INT16_MIN + 1, -1000, 1000, INT16_MAX - 1, INT16_MAX};
    for (int x = -200; x <= 200; ++x) exps.push_back(x);
    for (int ex : exps) {
        for (Zuf16s y : {0, 1, -1, 3, -3, 32767, -32768, 16384, -12345, 12345, 5, 255, -256})
            e.push_back(static_cast<Zuf16s>(ex)), m.push_back(y);
    }
    const int len = static_cast<int>(m.size());
    for (int aligned = 1; aligned >= 0; --aligned) {
        zuft::Placed<Zuf16s> pm(len, 0), pe(len, aligned ? 0 : 2);
        zuft::Placed<Zuf32f> pd(len, 0);
        pm.assign(m), pe.assign(e);
        ASSERT_EQ(zufsMakeFloat_16s32f(pm.data(), pe.data(), len, pd.data()), aligned ? zufOk : zufWarnMisaligned);
        for (int i = 0; i < len; ++i)
            ASSERT_EQ(bits_of(pd[i]), bits_of(model_make_float(m[i], e[i]))) << "m " << m[i] << " e " << e[i];
        ASSERT_TRUE(pd.guards_intact());
    }
    // Random data everywhere: the status is 2 exactly when an array is misaligned, and the
    // result never depends on it.
    auto gen = [](Rng& r, int) { return std::pair{Zuf16s(r.s32()), Zuf16s(r.range(-150, 120))}; };
    auto call = [](const Zuf16s* a, const Zuf16s* b, Zuf32f* d, int n) {
        const auto al = (reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b) | uintptr_t(d)) % 16 == 0;
        return zufsMakeFloat_16s32f(a, b, n, d) == (al ? zufOk : zufWarnMisaligned) ? 0 : -1;
    };
    auto ref = [](const Zuf16s* a, const Zuf16s* b, Zuf32f* d, int n) { zuf::ownsMakeFloat_16s32f_ref(a, b, n, d); };
    checkasm<Zuf16s, Zuf16s, Zuf32f>(31, gen, call, ref, model_make_float);
}

// ---------------------------------------------------------------- CalcSF

// The index: (x - sat16(offset + 512)) modulo 1024, in plain wide arithmetic.
float model_calc_sf(Zuf16s x, int offset) {
    const int64_t base = std::clamp<int64_t>(int64_t{offset} + 512, INT16_MIN, INT16_MAX);
    const int64_t idx = ((x - base) % 1024 + 1024) % 1024;
    return static_cast<float>(std::exp2(static_cast<long double>(idx - 512) / 4));
}

TEST(VectorGain, CalcSF) {
    for (int offset : {0, 100, -100, 32000, -33000, 40000, INT_MAX, INT_MIN, 32255, 32256}) {
        checkasm<Zuf16s, Zuf16s, Zuf32f>(
            32,
            [offset](Rng& r, int i) {
                const auto v = static_cast<Zuf16s>(i % 2 ? r.s32() : int64_t{offset} + r.range(-600, 600));
                return std::pair{v, v};
            },
            [offset](const Zuf16s* s, const Zuf16s*, Zuf32f* d, int n) { return zufsCalcSF_16s32f(s, offset, d, n); },
            nullptr, [offset](Zuf16s x, Zuf16s) { return model_calc_sf(x, offset); });
    }
    Zuf32f d = 1.0f;
    const Zuf16s a = 0;
    zuft::expect_status(zufErrNullPtr,
                        {zufsMakeFloat_16s32f(&a, nullptr, 0, &d), zufsCalcSF_16s32f(nullptr, 0, &d, 0)});
    zuft::expect_status(zufErrSize, {zufsMakeFloat_16s32f(&a, &a, 0, &d), zufsCalcSF_16s32f(&a, 0, &d, 0)});
    EXPECT_EQ(d, 1.0f);
}

}  // namespace
