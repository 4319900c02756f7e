/* zufinfo: prints the library version (stream listing comes with the ADTS/ADIF parser). */
#include <stdio.h>
#include <zufack9/zufack9.h>

int main(void) {
    const LibVersionRecord *v = zufacGetLibVersion();
    printf("%s %d.%d\n", v->libName, v->versionMajor, v->versionMinor);
    return 0;
}
