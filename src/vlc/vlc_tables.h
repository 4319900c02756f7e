// Constant tables of the escape-block engine. Both are defined by a formula and computed by the
// compiler (constant initialisation, nothing runs at load time).
#pragma once

#include <array>
#include <cstdint>

#include "zufack9/zuf_core.h"

namespace zuf::vlc {

namespace detail {

constexpr std::array<Zuf32u, 33> make_masks() {
    std::array<Zuf32u, 33> t{};
    for (int n = 0; n <= 32; ++n) t[n] = static_cast<Zuf32u>((uint64_t{1} << n) - 1u);
    return t;
}

constexpr std::array<Zuf8u, 512> make_escape_prefix() {
    std::array<Zuf8u, 512> t{};
    for (int i = 0; i < 512; ++i) {
        int ones = 0;
        while (ones < 9 && ((i >> (8 - ones)) & 1)) ++ones;
        t[i] = static_cast<Zuf8u>(4 + ones);
    }
    return t;
}

}  // namespace detail

// table[n] = 2^n - 1 for n = 0..32: the mask of an n-bit field.
inline constexpr std::array<Zuf32u, 33> table = detail::make_masks();

// aac_table[i] = 4 + the number of leading one bits of i read as a 9-bit number (13 for 511):
// the N of an AAC escape word (ISO/IEC 13818-7 8.3.5) whose first nine bits are i, since the
// word starts with N - 4 one bits and a zero bit. N above 12 is too long for a 13-bit magnitude.
inline constexpr std::array<Zuf8u, 512> aac_table = detail::make_escape_prefix();

static_assert(table[0] == 0 && table[5] == 31 && table[32] == 0xFFFFFFFFu);
static_assert(aac_table[0] == 4 && aac_table[256] == 5 && aac_table[510] == 12 && aac_table[511] == 13);

}  // namespace zuf::vlc
