#!/usr/bin/env bash
# Makes the AAC stream-header vectors in tests/vectors/ from synthetic signals.
#
#   tools/gen/make-vectors.sh [OUTDIR]        (default: tests/vectors of this checkout)
#
# Needs Debian's ffmpeg (its native AAC encoder and ADTS muxer) and python3; faad, when present,
# is used as an independent check that every stream decodes. The outputs are committed: the
# tests read them and assert the fields that the commands below choose (sampling rate index,
# channel configuration, profile, protection_absent, MPEG id), not byte contents, so another
# ffmpeg version may produce different bytes and the tests still hold.
#
# What ffmpeg's ADTS muxer cannot do, and where it comes from instead:
#  - it never writes adts_error_check() (protection_absent is always 1): headers with crc_check
#    are hand-built in tests/test_aac_headers.cpp and tests/test_zufinfo.cpp;
#  - it writes one raw_data_block() per frame: aacpack.py re-packs frames four blocks at a time
#    (without CRC, several blocks are simply concatenated in the frame);
#  - it does not write ADIF: aacpack.py wraps ffmpeg's blocks in an ADIF header, and writes a
#    header-only stream with two program configuration elements by hand.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../tests/vectors}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# encode NAME SOURCE BITRATE [extra ffmpeg options...]: bit-exact mode keeps the encoder's
# version string out of the stream.
encode() {
    local name=$1 src=$2 rate=$3
    shift 3
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$src" \
        -c:a aac -b:a "$rate" "$@" -fflags +bitexact -flags:a +bitexact -f adts "$out/$name"
}

# Mono: a tone; stereo and 5.1: a different tone per channel, so no channel pair collapses.
encode adts_lc_8000_mono.aac "sine=frequency=440:sample_rate=8000:duration=3" 16k
encode adts_lc_22050_mono.aac "sine=frequency=1000:sample_rate=22050:duration=2" 32k
encode adts_lc_44100_stereo.aac \
    "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=2:c=stereo" 64k
encode adts_lc_48000_stereo.aac \
    "aevalsrc=0.4*sin(2*PI*523*t)|0.3*sin(2*PI*784*t)*sin(2*PI*2*t):s=48000:d=2:c=stereo" 96k
encode adts_mpeg2_lc_32000_stereo.aac \
    "aevalsrc=0.4*sin(2*PI*330*t)|0.4*sin(2*PI*495*t):s=32000:d=2:c=stereo" 48k -write_mpeg2 1
encode adts_main_44100_mono.aac "sine=frequency=880:sample_rate=44100:duration=1" 48k -profile:a aac_main
encode adts_lc_48000_5.1.aac \
    "aevalsrc=0.3*sin(2*PI*300*t)|0.3*sin(2*PI*500*t)|0.3*sin(2*PI*700*t)|0.1*sin(2*PI*60*t)|0.2*sin(2*PI*900*t)|0.2*sin(2*PI*1100*t):s=48000:d=1:c=5.1" \
    160k

# Four raw data blocks per frame (the last frame takes the remainder).
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
    -i "sine=frequency=600:sample_rate=16000:duration=2" -c:a aac -b:a 24k \
    -fflags +bitexact -flags:a +bitexact -f adts "$tmp/16k.aac"
python3 "$here/aacpack.py" repack "$tmp/16k.aac" "$out/adts_lc_16000_mono_4blk.aac" 4

# ADIF: variable rate, one PCE (one CPE, tag 0), followed by the raw data blocks of the
# 44.1 kHz stereo stream.
python3 "$here/aacpack.py" adif "$out/adts_lc_44100_stereo.aac" "$out/adif_lc_44100_stereo.adif"
# ADIF header only: constant rate with buffer fullness, copyright id "ZUFACK9TV", two PCEs
# (a 6.1 layout with LFE, assoc data, a coupling channel, mono and matrix mixdowns; a stereo
# one with a stereo mixdown), each with a comment (the second holds a quote, a newline and a
# control byte).
python3 "$here/aacpack.py" adif-two-pce "$out/adif_two_pce.adif"

# Independent check: faad must decode every stream to a non-empty WAV. Neither faad nor ffmpeg
# decodes past the first block of a multi-block ADTS frame, so the 4-block stream is left out.
if command -v faad >/dev/null; then
    for f in "$out"/adts_*.aac "$out"/adif_lc_*.adif; do
        case $f in *_4blk.aac) continue ;; esac
        rm -f "$tmp/check.wav"
        faad -q -o "$tmp/check.wav" "$f" >/dev/null 2>&1 || true
        if [ "$(stat -c %s "$tmp/check.wav" 2>/dev/null || echo 0)" -le 4096 ]; then
            echo "faad cannot decode $f" >&2
            exit 1
        fi
    done
fi
ls -l "$out"
