// The MP3 decoder's constant tables whose errors the functional tests could miss: the formula
// tables recomputed here in long double, the synthesis window against Table 3-B.3. (The band
// tables and the standard's small tables are checked through the parsers and the requantiser,
// whose tests model them with values typed in from ISO/IEC 11172-3 and 13818-3.)
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "mp3/mp3_tables.h"
#include "support/mp3_test_util.h"

namespace {

using namespace zuf;

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Doubles generated from 40-digit values: within an ulp or two of a long double recomputation.
void expect_close(double got, long double want, const char* what, int i) {
    const long double tol = 4e-16L * std::fabs(want) + 1e-18L;
    EXPECT_LE(std::fabs(static_cast<long double>(got) - want), tol) << what << "[" << i << "]";
}

TEST(Mp3Tables, RequantiserTables) {
    for (int n = 0; n < 8207; ++n) {
        const long double v = std::pow(static_cast<long double>(n), 4.0L / 3.0L) * 16384.0L;
        ASSERT_EQ(pReqTable[n], static_cast<Zuf32u>(std::llround(v))) << n;
    }
    for (int k = 0; k < 4; ++k) {
        const long double q31 = std::round(std::pow(2.0L, -k / 4.0L) * 2147483648.0L);
        EXPECT_EQ(_pMP3Sqrt14_32s[k], static_cast<Zuf32s>(std::fmin(q31, 2147483647.0L)));
        EXPECT_EQ(_pMP3Pow2Q30[k], static_cast<Zuf32u>(std::floor(std::pow(2.0L, k / 4.0L) * 1073741824.0L)));
    }
    for (int k = 0; k < 7; ++k) {
        const long double t = std::tan(k * kPi / 12);
        const long double v = k == 6 ? 1.0L : t / (1 + t);
        EXPECT_EQ(_pIsLeft[k], static_cast<Zuf32s>(std::fmin(std::round(v * 2147483648.0L), 2147483647.0L))) << k;
    }
    EXPECT_EQ(_pIsLeft[7], 0x7FFFFFFF);
}

TEST(Mp3Tables, TransformTables) {
    for (int i = 0; i < 8; ++i) {
        const long double c = zuft::kAliasC[i];
        expect_close(cCs[i], 1 / std::sqrt(1 + c * c), "cs", i);
        expect_close(cCa[i], c / std::sqrt(1 + c * c), "ca", i);
    }
    const int order[8] = {2, 4, 6, 8, 1, 3, 5, 7};
    for (int m = 0; m < 5; ++m)
        for (int k = 0; k < 8; ++k)
            expect_close(DCT36Coeff[8 * m + k], std::cos(kPi * order[k] * (2 * m + 1) / 18), "k9", 8 * m + k);
    for (int m = 0; m < 9; ++m) expect_close(DCT36Post[m], 1 / (2 * std::cos(kPi * (2 * m + 1) / 36)), "post", m);
    const int types[3] = {0, 1, 3};
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 36; ++i) {
            const int m = i < 9 ? i + 9 : i < 27 ? 26 - i : i - 27;
            const long double sign = i < 9 ? 1 : -1;
            expect_close(DCTWinLong[t][i],
                         sign * zuft::imdct_window(types[t], i) / (8 * std::cos(kPi * (2 * m + 1) / 72)), "winlong",
                         36 * t + i);
        }
    for (int m = 0; m < 6; ++m)
        for (int k = 0; k < 6; ++k)
            expect_close(DCT12x3Coef[6 * m + k], std::cos(kPi * (2 * m + 1) * (2 * k + 1) / 24), "k6", 6 * m + k);
    for (int i = 0; i < 12; ++i)
        expect_close(DCTWinShort[i], (i < 3 ? 1 : -1) * std::sin(kPi / 12 * (i + 0.5L)) / 4, "winshort", i);
    const double* stages[5] = {H16, H8, H4, H2, H1};
    for (int s = 0, n = 32; s < 5; ++s, n /= 2)
        for (int k = 0; k < n / 2; ++k)
            expect_close(stages[s][k], 1 / (2 * std::cos(kPi * (2 * k + 1) / (2 * n))), "H", k);
}

TEST(Mp3Tables, SynthesisWindowAgainstTable3B3) {
    const std::vector<double> d = zuft::synthesis_window();
    ASSERT_EQ(d.size(), 512u);
    // Q30, exact: each D[i] is a multiple of 2^-16 printed with nine decimals.
    auto q30 = [&](int i) { return static_cast<Zuf32s>(std::lround(d[static_cast<size_t>(i)] * 65536.0) << 14); };
    EXPECT_EQ(q30(256), 75038 << 14);  // 1.144989014
    for (int t = 0; t < 33; ++t) {
        const int m = t % 16;
        // Row j, output j: D[j + 32 m] times the sign of the matrixed value it meets.
        EXPECT_EQ(_pDiQ30[0][t], m % 2 ? -q30(32 * m) : q30(32 * m));
        for (int j = 1; j < 16; ++j) {
            EXPECT_EQ(_pDiQ30[j][t], m % 2 ? -q30(j + 32 * m) : q30(j + 32 * m)) << j << " " << t;
            EXPECT_EQ(_pDiQ30[32 - j][t], -q30(32 - j + 32 * m)) << j << " " << t;
        }
        EXPECT_EQ(_pDiQ30[16][t], m % 2 ? -q30(16 + 32 * m) : 0);
    }
    for (int r = 0; r < 32; ++r) {
        Zuf32u half = 0;
        for (int t = 0; t < 16; ++t) half += static_cast<Zuf32u>(_pDiQ30[r][t] / 2);
        EXPECT_EQ(static_cast<Zuf32u>(_pDiHalfSum[r]), half) << r;
    }
}

}  // namespace
