/* Compiled with -std=c99 -pedantic -Werror: the public headers are plain C99. */
#include <zufack9/zufack9.h>
#include <zufack9/zuf_core.h>
#include <zufack9/zuf_aac.h>

int zuf_header_check_c(void);
int zuf_header_check_c(void) { return zufacGetLibVersion()->versionMajor; }
