// Internal kernels of the MP3 decoder with their scalar references, for the exported functions
// and for the tests that hold each vector kernel against its scalar reference.
#pragma once

#include "zufack9/zuf_mp3.h"

namespace zuf {

// Requantisation of a run of n values with attenuation e (quarter steps), src and dst may be
// the same: sign(x) min(pReqTable[|x|] 2^(((-e) mod 4) / 4) in Q30 >> (18 - floor(-e / 4)),
// 2^31 - 1). False when a magnitude exceeds 8206 (taken as 8206).
bool ownsRequantRun_MP3_ref(const Zuf32s* src, Zuf32s* dst, int n, int e);
bool ownsRequantRun_MP3_sse2(const Zuf32s* src, Zuf32s* dst, int n, int e);

// Synthesis matrixing: the 32-point cosine transform X_j = sum_k cos(j (2k + 1) pi / 64) S_k of
// 32 subband samples, rounded to integers (ties to even) and saturated.
void ownsDct32_MP3_ref(const Zuf32s* src, Zuf32s* x);
void ownsDct32_MP3_sse2(const Zuf32s* src, Zuf32s* x);

// Synthesis window stage over the history rows of slot position pos: 32 sums, each of 16
// products hi(value * coefficient), in 32-bit wrapping arithmetic (before the final rounding).
void ownsSynthWindow_MP3_ref(const Zuf32s* hist, int pos, Zuf32s* sums);
void ownsSynthWindow_MP3_sse2(const Zuf32s* hist, int pos, Zuf32s* sums);

// One subband's windowed inverse MDCT, 18 lines to 36 outputs (block type 2: three short ones).
void ownsImdct_MP3_ref(const Zuf32s* in, Zuf32s* out, int block_type);
// Two adjacent subbands at once (in: 36 lines; out: 72 values, output i of the first subband at
// 2i and of the second at 2i + 1).
void ownsImdctPair_MP3_sse2(const Zuf32s* in, Zuf32s* out, int block_type);

// The whole inverse hybrid transform of zufsMDCTInv_MP3_32s (arguments checked): with the
// vector kernels, and all scalar as the reference.
void ownsMDCTInv_MP3(Zuf32s* xr, Zuf32s* y, Zuf32s* overlap, int nz, int* prev, int block_type, int mixed);
void ownsMDCTInv_MP3_ref(Zuf32s* xr, Zuf32s* y, Zuf32s* overlap, int nz, int* prev, int block_type, int mixed);

}  // namespace zuf
