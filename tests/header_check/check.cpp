// The public headers also compile as C++ and give C linkage.
#include <zufack9/zufack9.h>

int zuf_header_check_cxx() { return zufacGetLibVersion()->versionMinor; }
