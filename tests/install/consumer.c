/* A caller of the installed library: prints the version and unpacks one ADTS header. */
#include <stdio.h>
#include <string.h>
#include <zufack9/zufack9.h>

int main(void) {
    const LibVersionRecord *v = zufacGetLibVersion();
    /* MPEG-4 ADTS, LC, 44.1 kHz, stereo, 371-byte frame, no CRC. */
    Zuf8u bytes[16] = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Zuf8u *p = bytes;
    AacAdtsFrameHeader h;
    Zuf8u *block = zufsMalloc_8u(100);
    memset(&h, 0, sizeof h);
    if (zufsUnpackADTSFrameHeader_AAC(&p, &h) != zufOk || p != bytes + 7) return 1;
    if (h.aac_frame_length != 371 || h.channel_configuration != 2 || h.sampling_frequency_index != 4) return 2;
    if (!block || ((size_t)block & 31u) != 0) return 3;
    zufsFree(block);
    printf("%s %s ok\n", v->libName, v->versionText);
    return 0;
}
