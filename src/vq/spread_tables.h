// The tables of zufsSpread_16s_Sfs (generated into spread_tables.cpp by
// tools/gen/gen_spread_tables.py). Internal: hidden like every library symbol.
#pragma once

#include <cstdint>

#include "zufack9/zuf_core.h"

namespace zuf {

extern const Zuf32s own_ac_sprdngfPowTable0[64];   // 10^((j - 64) / 5), Q31
extern const Zuf32s own_ac_sprdngfPowTable1[256];  // 10^(m / 1280), Q30
extern const Zuf32s own_ac_sprdngfPowTable2[256];  // 10^(m / 327680), Q30
extern const Zuf8u own_ac_sprdngfNorm[128];        // normalising left shift by the top byte

}  // namespace zuf

namespace zuf {

// Q23 square root of a Q23 argument in [2^23, 2^31) (spread.cpp).
int32_t own_ac_sprdngfSqrt(int32_t x);

}  // namespace zuf
