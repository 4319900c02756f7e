/* libzufack9: audio-coding primitives for AAC and MP3 codecs. Umbrella header. */
#ifndef ZUFACK9_ZUFACK9_H
#define ZUFACK9_ZUFACK9_H

#include "zuf_core.h"
#include "zuf_aac.h"
#include "zuf_transforms.h"
#include "zuf_mp3.h"
#include "zuf_vq.h"
#include "zuf_vlc.h"
#include "zuf_sbr.h"

#endif /* ZUFACK9_ZUFACK9_H */
