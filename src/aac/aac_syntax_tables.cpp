// Small constant tables of the AAC channel syntax that are not Huffman trees.
#include "aac/aac_huffman_tables.h"

#if defined(__i386__)
static_assert(sizeof(zuf::AacCbParam) == 20);
#endif

namespace zuf {

// ISO/IEC 13818-7 Table 8.2 (spectrum Huffman codebooks): unsigned books carry magnitudes
// followed by sign bits; book 11 codes 16 as the escape.
const AacCbParam _pCbParam_AAC[16] = {
    {0, 0, 0, 0, nullptr},  // ZERO_HCB
    {1, 0, 4, 1, _pHfTableSp1},    {2, 0, 4, 1, _pHfTableSp2},    {3, 1, 4, 2, _pHfTableSp3},
    {4, 1, 4, 2, _pHfTableSp4},    {5, 0, 2, 4, _pHfTableSp5},    {6, 0, 2, 4, _pHfTableSp6},
    {7, 1, 2, 7, _pHfTableSp7},    {8, 1, 2, 7, _pHfTableSp8},    {9, 1, 2, 12, _pHfTableSp9},
    {10, 1, 2, 12, _pHfTableSp10}, {11, 1, 2, 16, _pHfTableSp11}, {12, 0, 0, 0, nullptr},  // reserved
    {13, 0, 0, 0, nullptr},                                                                // NOISE_HCB
    {14, 0, 0, 0, nullptr},                                                                // INTENSITY_HCB2
    {15, 0, 0, 0, nullptr},                                                                // INTENSITY_HCB
};

// 0.570829, 0.696616, 0.813004, 0.911304, 0.984900, 1.067894, 1.194601, 1.369533 in Q14.
const Zuf16s _Tab_LtpCoef_AAC[8] = {9352, 11413, 13320, 14931, 16137, 17496, 19572, 22438};

}  // namespace zuf
