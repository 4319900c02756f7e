// Small helpers shared by the transform families: byte-size arithmetic and the per-call work
// buffer that is either the caller's (used from its first 32-byte boundary) or allocated through
// the library allocator for the duration of the call.
#pragma once

#include <cstdint>

#include "common/context.h"
#include "zufack9/zuf_core.h"

namespace zuf::xf {

constexpr int64_t round32(int64_t bytes) { return (bytes + 31) & ~int64_t{31}; }
constexpr bool fits_i32(int64_t bytes) { return bytes >= 0 && bytes <= INT32_MAX; }

// The work memory of one transform call. Released on every exit by the destructor.
class WorkBuffer {
  public:
    WorkBuffer(Zuf8u* given, int64_t bytes) {
        if (bytes <= 0) return;
        if (given) {
            ptr_ = align_up(given, 32);
        } else {
            owned_ = zufsMalloc_8u(static_cast<int>(bytes));
            ptr_ = owned_;
            failed_ = owned_ == nullptr;
        }
    }
    ~WorkBuffer() {
        if (owned_) zufsFree(owned_);  // the common case, the caller's buffer, skips the call
    }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    bool failed() const { return failed_; }
    template <class T = float>
    T* get() const {
        return reinterpret_cast<T*>(ptr_);
    }

  private:
    Zuf8u* ptr_ = nullptr;
    Zuf8u* owned_ = nullptr;
    bool failed_ = false;
};

// Runs fn(work) with the work buffer of one call (T* at its 32-byte boundary): zufErrNoMemory
// when the caller passed none and none can be allocated, else zufOk.
template <class T = float, class Fn>
zufResult ownsWithWork(Zuf8u* given, int64_t bytes, Fn fn) {
    WorkBuffer work(given, bytes);
    if (work.failed()) return zufErrNoMemory;
    fn(work.get<T>());
    return zufOk;
}

}  // namespace zuf::xf
