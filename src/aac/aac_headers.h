// Internal routines behind the AAC stream-header exports. The raw-data-block parser reuses
// ownsDecodePrgCfgElt_AAC for program_config_element() inside a block.
#pragma once

#include "zufack9/zuf_aac.h"

namespace zuf {

// adts_fixed_header() + adts_variable_header() (+ crc_check), ISO/IEC 13818-7 6.2. Starts on a
// byte boundary and ends on one: 56 bits, or 72 when protection_absent is 0.
void ownsUnpackADTSFrameHeader_AAC(Zuf8u** ppBitStream, AacAdtsFrameHeader* pFrameHeader);

// program_config_element() after its element id, ISO/IEC 13818-7 8.5, at any bit position.
// Validates nothing and returns zufOk.
zufResult ownsDecodePrgCfgElt_AAC(Zuf8u** ppBitStream, int* pOffset, AacPrgCfgElt* pPrgCfgElt);

// adif_header(), ISO/IEC 13818-7 6.1. prgCfgEltMax is known to be 1..16.
zufResult ownsUnpackADIFHeader_AAC(Zuf8u** ppBitStream, AacAdifHeader* pAdifHeader, AacPrgCfgElt* pPrgCfgElt,
                                   int prgCfgEltMax);

}  // namespace zuf
