// Fixed-point helpers: every kernel states its arithmetic through these names, so the code
// reads like the formula it implements. Right shifts of signed values are arithmetic (C++20
// defines them so); wrapping arithmetic goes through unsigned types, never signed overflow.
#pragma once

#include <cstdint>

namespace zuf {

// Upper 32 bits of a signed 64-bit product (arithmetic shift right by 32).
constexpr int32_t hi(int64_t p) { return static_cast<int32_t>(p >> 32); }

// hi(a * b): a Q31 factor scales by one half, a Q30 factor by one quarter.
constexpr int32_t mulhi(int32_t a, int32_t b) { return hi(static_cast<int64_t>(a) * b); }

constexpr int16_t sat16(int64_t x) {
    return static_cast<int16_t>(x > INT16_MAX ? INT16_MAX : (x < INT16_MIN ? INT16_MIN : x));
}

constexpr int32_t sat32(int64_t x) {
    return static_cast<int32_t>(x > INT32_MAX ? INT32_MAX : (x < INT32_MIN ? INT32_MIN : x));
}

// Two's-complement wrapping sum and difference.
constexpr int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// x / 2^s rounded half up (add 2^(s-1), shift arithmetically), s >= 1; 64-bit so it cannot
// overflow for 32-bit x.
constexpr int64_t rshift_round(int64_t x, int s) { return (x + (int64_t{1} << (s - 1))) >> s; }

// x / 2^s rounded to nearest with ties to even, s >= 1:
// (x + 2^(s-1) - 1 + ((x >> s) & 1)) >> s, formed in 64 bits so no intermediate overflow.
constexpr int64_t rshift_round_even(int64_t x, int s) {
    return (x + (int64_t{1} << (s - 1)) - 1 + ((x >> s) & 1)) >> s;
}

// x * 2^s saturated to 32 bits, 0 <= s <= 31.
constexpr int32_t lshift_sat32(int32_t x, int s) { return sat32(static_cast<int64_t>(x) * (int64_t{1} << s)); }

// Count of leading zero bits; 32 for 0.
constexpr int clz32(uint32_t x) { return x ? __builtin_clz(x) : 32; }

// Number of bits needed to hold |x| below the sign: 0 for 0 and -1.
constexpr int norm32(int32_t x) {
    return x < 0 ? clz32(~static_cast<uint32_t>(x)) - 1 : clz32(static_cast<uint32_t>(x)) - 1;
}

}  // namespace zuf
