// Scale-factor band tables of the AAC decoder, indexed by sampling_frequency_index 0..11
// (96000 Hz .. 8000 Hz), shared by the syntax parsers and the spectral tools.
#pragma once

#include "zufack9/zuf_core.h"

namespace zuf {

// swb_offset lists (start bin of each band, then the closing 1024 or 128).
extern const Zuf16s* const _pAACSwbOffsetTableLong[12];
extern const Zuf16s* const _pAACSwbOffsetTableShort[12];
// Number of scale-factor bands: 41 41 47 49 49 51 47 47 43 43 43 40 (long),
// 12 12 12 14 14 14 15 15 15 15 15 15 (short).
extern const Zuf16s _pAACNumSwbTableLong[12];
extern const Zuf16s _pAACNumSwbTableShort[12];

}  // namespace zuf
