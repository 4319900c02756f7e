// The gain table of zufsCalcSF_16s32f (generated into csf_tables.cpp by
// tools/gen/gen_csf_table.py). Internal: hidden like every library symbol.
#pragma once

namespace zuf {

// 1024 quarter powers of two, 2^((k - 512) / 4), then +inf and three zeros.
constexpr int kCsfTableLen = 1024 + 4;
extern const float t_csf[kCsfTableLen];

}  // namespace zuf
