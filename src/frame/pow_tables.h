// The n^(4/3) table of the vector power functions (generated into pow_tables.cpp by
// tools/gen/gen_mp3_quant_tables.py): n^(4/3) rounded to single precision, n = 0..8206, the
// largest magnitude a Layer III spectrum can carry (15 + 2^13 - 1 with linbits 13).
#pragma once

namespace zuf {

extern const float pTablePow43[8207];

}  // namespace zuf
