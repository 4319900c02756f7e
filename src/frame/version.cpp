// The library's version record.
#include "zufack9/zuf_core.h"

namespace {

constexpr LibVersionRecord s_LibVer = {
    5, 2, 108, 366, {'k', '9', '\0', '\0'}, "libzufack9.so.5.2", "5.2", "Jul 11 2007",
};

}  // namespace

extern "C" ZUF_API const LibVersionRecord* zufacGetLibVersion(void) { return &s_LibVer; }
