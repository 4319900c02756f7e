// Shared test helpers: seeded random data and buffers placed at a chosen misalignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace zuft {

// A deterministic generator per test, so failures reproduce.
struct Rng {
    std::mt19937 gen;
    explicit Rng(uint32_t seed = 12345) : gen(seed) {}
    uint32_t u32() { return gen(); }
    int32_t s32() { return static_cast<int32_t>(gen()); }
    int32_t range(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(gen); }
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); }
};

// A buffer of n elements of T whose first element sits `misalign` bytes past a 64-byte
// boundary, with guard bytes on both sides that check() verifies are untouched.
template <class T>
class Placed {
  public:
    static constexpr uint8_t kGuard = 0xA5;
    static constexpr std::size_t kPad = 64;

    Placed(std::size_t n, std::size_t misalign) : n_(n), misalign_(misalign), raw_(n * sizeof(T) + 3 * kPad) {
        std::memset(raw_.data(), kGuard, raw_.size());
        auto base = reinterpret_cast<std::uintptr_t>(raw_.data());
        start_ = ((base + kPad + 63) & ~std::uintptr_t{63}) + misalign - base;
    }
    T* data() { return reinterpret_cast<T*>(raw_.data() + start_); }
    const T* data() const { return reinterpret_cast<const T*>(raw_.data() + start_); }
    std::size_t size() const { return n_; }
    T& operator[](std::size_t i) { return data()[i]; }
    const T& operator[](std::size_t i) const { return data()[i]; }
    void assign(const std::vector<T>& v) { std::memcpy(static_cast<void*>(data()), v.data(), n_ * sizeof(T)); }
    std::vector<T> vec() const {
        std::vector<T> v(n_);
        std::memcpy(static_cast<void*>(v.data()), data(), n_ * sizeof(T));
        return v;
    }
    // True when nothing outside [data(), data() + n) was written.
    bool guards_intact() const {
        for (std::size_t i = 0; i < start_; ++i)
            if (raw_[i] != kGuard) return false;
        for (std::size_t i = start_ + n_ * sizeof(T); i < raw_.size(); ++i)
            if (raw_[i] != kGuard) return false;
        return true;
    }

  private:
    std::size_t n_, misalign_;
    std::vector<uint8_t> raw_;
    std::size_t start_;
};

// Bit-exact float comparison (distinguishes -0 and +0, equates identical NaN payloads).
inline uint32_t bits_of(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

}  // namespace zuft
