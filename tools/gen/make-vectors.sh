#!/usr/bin/env bash
# Makes the AAC stream-header vectors in tests/vectors/ from synthetic signals.
#
#   tools/gen/make-vectors.sh [OUTDIR [ISO_DIR]]   (default OUTDIR: tests/vectors of this checkout)
#
# ISO_DIR (or the environment variable ZUF_ISO_VECTORS) holds the ISO/IEC 11172-4 and 13818-4
# Layer III compliance streams (*.bit) with their reference PCM (*.pcm), which are copied next to
# the MP3 vectors. Default: shared/vectors/mp3 in the folder that holds this checkout (the shared
# folder sits beside every clone); when that directory is missing the copy is skipped with a
# message and the compliance files already in OUTDIR stay as they are.
#
# Needs Debian's ffmpeg (its native AAC encoder and ADTS muxer) and python3; faad, when present,
# is used as an independent check that every stream decodes. The outputs are committed: the
# tests read them and assert the fields that the commands below choose (sampling rate index,
# channel configuration, profile, protection_absent, MPEG id), not byte contents, so another
# ffmpeg version may produce different bytes and the tests still hold.
#
# What ffmpeg's ADTS muxer cannot do, and where it comes from instead:
#  - it never writes adts_error_check() (protection_absent is always 1): headers with crc_check
#    are hand-built in tests/test_aac_headers.cpp and tests/test_zufinfo.cpp, and adts_protect.py
#    writes CRC-protected copies of two decoder vectors;
#  - it writes one raw_data_block() per frame: aacpack.py re-packs frames four blocks at a time
#    (without CRC, several blocks are simply concatenated in the frame);
#  - it does not write ADIF: aacpack.py wraps ffmpeg's blocks in an ADIF header, and writes a
#    header-only stream with two program configuration elements by hand.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../tests/vectors}
iso=${2:-${ZUF_ISO_VECTORS:-$here/../../../shared/vectors/mp3}}
mkdir -p "$out"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ---------------------------------------------------------------------------------- MP3
# LAME streams for the MP3 decoder tests, in $out/mp3, each with a reference NAME.pcm: FFmpeg's
# floating-point decode (-c:a pcm_f32le) rounded to 16 bits (nearest, ties to even, clipped).
# The decoder under test must stay within 1 LSB of it. FFmpeg cannot read free-format streams:
# that one's reference is mpg123's floating-point decode (-e f32). Both skip the LAME tag frame
# and trim the encoder delay, so the tests align the output before comparing.
#   ZUF_VECTORS_ONLY=mp3 tools/gen/make-vectors.sh   makes only these.
mp3_vectors() {
    local d="$out/mp3"
    mkdir -p "$d"
    # Test signals: tones with vibrato and a little noise ("music"), a quiet tone bed with
    # decaying noise bursts every 0.3 s (transients: LAME switches to short blocks), and for
    # 24 kHz content between 6.8 and 7 kHz, where long band 18 starts at line 332 (not 330).
    local music="0.25*sin(2*PI*440*t)+0.15*sin(2*PI*1320*t+2*sin(2*PI*5*t))+0.05*sin(2*PI*3700*t)+0.02*(random(0)-0.5)"
    local music2="0.2*sin(2*PI*554*t+sin(2*PI*3*t))+0.1*sin(2*PI*2217*t)+0.03*sin(2*PI*9000*t)+0.02*(random(1)-0.5)"
    # (Commas inside an expression are escaped: lavfi separates filters with them.)
    local burst="0.05*sin(2*PI*330*t)+if(lt(mod(t\,0.3)\,0.03)\,0.6*(random(0)-0.5)*exp(-120*mod(t\,0.3))\,0)"
    local band18="0.2*sin(2*PI*6900*t)+0.15*sin(2*PI*6850*t)+0.1*sin(2*PI*700*t)+0.02*(random(0)-0.5)"
    mkwav() {  # NAME RATE "LEFT[|RIGHT]" SECONDS
        local layout=mono
        case $3 in *'|'*) layout=stereo ;; esac
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=$3:s=$2:d=$4:c=$layout" \
            -c:a pcm_s16le "$tmp/$1.wav"
    }
    reference() {  # NAME [mpg123]: NAME.mp3 -> NAME.pcm
        if [ "${2:-}" = mpg123 ]; then
            mpg123 -q -e f32 -s "$d/$1.mp3" >"$tmp/$1.f32"
        else
            ffmpeg -nostdin -hide_banner -loglevel error -y -i "$d/$1.mp3" -c:a pcm_f32le -f f32le "$tmp/$1.f32"
        fi
        python3 - "$tmp/$1.f32" "$d/$1.pcm" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
vals = struct.unpack("<%df" % (len(raw) // 4), raw)
out = bytearray()
for v in vals:
    s = max(-32768, min(32767, round(v * 32768.0)))
    out += struct.pack("<h", s)
open(sys.argv[2], "wb").write(out)
PY
    }
    # MPEG-1, joint stereo (LAME picks M/S or L/R per frame), CBR, with an ID3v2 and ID3v1 tag.
    mkwav js44 44100 "$music|$music2" 2
    lame --silent -b 128 -m j --add-id3v2 --tt "zufack9 js44" "$tmp/js44.wav" "$d/lame_44100_js_128.mp3"
    reference lame_44100_js_128
    # MPEG-1, forced M/S in every frame, 48 kHz, with CRC words.
    mkwav ms48 48000 "$music|$music2" 1.5
    lame --silent -b 160 -m f -p "$tmp/ms48.wav" "$d/lame_48000_ms_crc.mp3"
    reference lame_48000_ms_crc
    # MPEG-1 mono, 32 kHz, transients (short and mixed-in start/stop blocks).
    mkwav tr32 32000 "$burst" 2
    lame --silent -b 96 -m m "$tmp/tr32.wav" "$d/lame_32000_mono_transient.mp3"
    reference lame_32000_mono_transient
    # MPEG-1 joint stereo VBR, transients in one channel.
    mkwav vbr44 44100 "$music|$burst" 2
    lame --silent -V 2 -m j "$tmp/vbr44.wav" "$d/lame_44100_vbr_transient.mp3"
    reference lame_44100_vbr_transient
    # MPEG-2 (LSF) joint stereo, 22.05 kHz, transients.
    mkwav js22 22050 "$music|$burst" 2
    lame --silent -b 64 -m j "$tmp/js22.wav" "$d/lame_22050_js_transient.mp3"
    reference lame_22050_js_transient
    # MPEG-2 mono, 24 kHz, tones at 6.85 and 6.9 kHz: lines 328 to 331, which long band 17 holds
    # when band 18 starts at line 332 (ISO/IEC 13818-3 Table B.2, LAME's encoder) and band 18
    # when it starts at 330. FFmpeg 5.1 decodes with 330 and is off by hundreds of LSB here, so
    # the reference is mpg123's (332); FFmpeg's is kept as NAME.ffmpeg330.pcm to show the
    # difference.
    mkwav m24 24000 "$band18" 2
    lame --silent -b 48 -m m "$tmp/m24.wav" "$d/lame_24000_mono_band18.mp3"
    reference lame_24000_mono_band18
    mv "$d/lame_24000_mono_band18.pcm" "$d/lame_24000_mono_band18.ffmpeg330.pcm"
    reference lame_24000_mono_band18 mpg123
    # MPEG-2 forced M/S at 16 kHz, VBR.
    mkwav ms16 16000 "$music|$music2" 2
    lame --silent -V 4 -m f "$tmp/ms16.wav" "$d/lame_16000_ms_vbr.mp3"
    reference lame_16000_ms_vbr
    # MPEG-1 free format, 320 kbit/s.
    mkwav free44 44100 "$music|$music2" 1
    lame --silent --freeformat -b 320 "$tmp/free44.wav" "$d/lame_44100_free_format.mp3"
    reference lame_44100_free_format mpg123
    # Gapless: chirps (the tests compute the same source) through VBR with CRC words, MPEG-2 mono
    # and MPEG-1 stereo. No reference PCM: the decode must line up with the source itself.
    local chirp="0.4*sin(2*PI*(100*t+1950*t*t))" chirp2="0.3*sin(2*PI*(3000*t-1400*t*t))"
    mkwav c24 24000 "$chirp" 1
    lame --silent -V 2 -p -m m "$tmp/c24.wav" "$d/lame_24000_mono_vbr_crc.mp3"
    mkwav c44 44100 "$chirp|$chirp2" 0.5
    lame --silent -V 2 -p -m j "$tmp/c44.wav" "$d/lame_44100_stereo_vbr_crc.mp3"
    # ISO/IEC 11172-4 and 13818-4 compliance streams with their reference PCM, when present.
    if [ -d "$iso" ] && compgen -G "$iso/*.bit" >/dev/null; then
        cp "$iso"/*.bit "$iso"/*.pcm "$d/"
        chmod 644 "$d"/*
    else
        echo "make-vectors.sh: no compliance streams in $iso (pass ISO_DIR or set ZUF_ISO_VECTORS);" \
            "keeping the ones in $d" >&2
    fi
    ls -l "$d"
}
if [ "${ZUF_VECTORS_ONLY:-}" = mp3 ]; then
    mp3_vectors
    exit 0
fi

# ---------------------------------------------------------------------------------- AAC decoder vectors
# ADTS AAC-LC streams for the decoder tests (tests/test_aac_decode.cpp), in $out/aac as
# dec_*.aac, each with a reference dec_*.pcm: FFmpeg's floating-point AAC decode (-c:a pcm_f32le)
# rounded to 16 bits (nearest, ties to even, clipped), which is all the comparison uses (the
# conformance measurement of ISO/IEC 14496-26 compares 16-bit output with the reference rounded
# to 16 bits). FFmpeg's native encoder in bit-exact mode, 0.2 to 1.5 s per stream (more than
# ten frames each; about 1.3 MB in all, references included). Signals: "music" (tones with
# vibrato and a little noise), a different one per channel so that the pair does not collapse,
# tone beds with decaying noise bursts (transients: short windows, TNS), and wide-band noise
# (noise substitution). The tools that each stream really uses are counted by zufdec (stderr)
# and printed by the tests.
#   ZUF_VECTORS_ONLY=aacdec tools/gen/make-vectors.sh   makes only these.
aac_decoder_vectors() {
    local d="$out/aac"
    mkdir -p "$d"
    local music="0.25*sin(2*PI*440*t)+0.15*sin(2*PI*1320*t+2*sin(2*PI*5*t))+0.05*sin(2*PI*3700*t)+0.02*(random(0)-0.5)"
    local music2="0.2*sin(2*PI*554*t+sin(2*PI*3*t))+0.1*sin(2*PI*2217*t)+0.03*sin(2*PI*9000*t)+0.02*(random(1)-0.5)"
    local burst="0.05*sin(2*PI*330*t)+if(lt(mod(t\,0.3)\,0.03)\,0.6*(random(0)-0.5)*exp(-120*mod(t\,0.3))\,0)"
    local burst2="0.05*sin(2*PI*523*t)+if(lt(mod(t+0.1\,0.4)\,0.03)\,0.6*(random(1)-0.5)*exp(-120*mod(t+0.1\,0.4))\,0)"
    local noisy="0.1*sin(2*PI*300*t)+0.3*(random(0)-0.5)"
    # A pair with mostly common noise: with M/S forced, both channels' noise bands carry
    # ms_used, so the decoder must give them the same noise.
    local cnoisy="0.1*sin(2*PI*300*t)+0.3*(random(0)-0.5)+0.1*(random(1)-0.5)"
    local cnoisy2="0.1*sin(2*PI*300*t)+0.3*(random(0)-0.5)-0.1*(random(1)-0.5)"
    # Nearly the same signal in both channels (intensity stereo at a low rate).
    local near="0.25*sin(2*PI*440*t)+0.1*sin(2*PI*3100*t)+0.08*sin(2*PI*6300*t)+0.02*(random(0)-0.5)"
    local near2="0.2*sin(2*PI*440*t)+0.06*sin(2*PI*3100*t)+0.1*sin(2*PI*6300*t)+0.02*(random(0)-0.5)"
    # AAC_PROFILE=aac_main before aenc: a Main-profile stream (prediction) instead of LC.
    aenc() {  # NAME RATE "LEFT[|RIGHT]" SECONDS BITRATE [encoder/muxer options...]
        local name=$1 rate=$2 sig=$3 secs=$4 br=$5 layout=mono
        shift 5
        case $sig in *'|'*) layout=stereo ;; esac
        layout=${AENC_LAYOUT:-$layout}
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=$sig:s=$rate:d=$secs:c=$layout" \
            -c:a aac -profile:a "${AAC_PROFILE:-aac_low}" -b:a "$br" "$@" -fflags +bitexact -flags:a +bitexact -f adts "$d/$name.aac"
        ffmpeg -nostdin -hide_banner -loglevel error -y -i "$d/$name.aac" -c:a pcm_f32le -f f32le "$tmp/$name.f32"
        python3 - "$tmp/$name.f32" "$d/$name.pcm" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
vals = struct.unpack("<%df" % (len(raw) // 4), raw)
out = bytearray()
for v in vals:
    s = max(-32768, min(32767, round(v * 32768.0)))  # round() ties to even
    out += struct.pack("<h", s)
open(sys.argv[2], "wb").write(out)
PY
    }
    local nopns="-aac_pns 0"
    # shellcheck disable=SC2086
    {
        aenc dec_8000_mono 8000 "$music" 1.5 16k $nopns
        aenc dec_16000_mono_transients 16000 "$burst" 1.5 32k $nopns -aac_tns 1
        aenc dec_22050_stereo_ms_off 22050 "$music|$music2" 1 64k $nopns -aac_ms 0 -aac_is 0
        aenc dec_24000_stereo_ms_auto 24000 "$music|$music2" 1 64k $nopns -aac_is 0
        aenc dec_32000_stereo_ms_all 32000 "$music|$music2" 0.8 96k $nopns -aac_ms 1 -aac_is 0
        aenc dec_44100_stereo_is 44100 "$near|$near2" 0.8 40k $nopns -aac_is 1
        aenc dec_44100_stereo_transients 44100 "$burst|$burst2" 0.8 96k $nopns -aac_tns 1
        aenc dec_48000_stereo 48000 "$music|$music2" 0.7 128k $nopns
        aenc dec_mpeg2_16000_stereo 16000 "$music|$burst" 1 48k $nopns -write_mpeg2 1
        aenc dec_22050_mono_pns 22050 "$noisy" 1 24k -aac_pns 1
        aenc dec_32000_stereo_pns 32000 "$cnoisy|$cnoisy2" 0.8 48k -aac_pns 1 -aac_is 0 -aac_ms 1
        # The other sampling rates, mono, short (still more than ten frames each).
        aenc dec_11025_mono 11025 "$music" 1.3 16k $nopns
        aenc dec_12000_mono 12000 "$music" 1.2 16k $nopns
        aenc dec_64000_mono 64000 "$music" 0.3 96k $nopns
        aenc dec_88200_mono 88200 "$music" 0.25 96k $nopns
        aenc dec_96000_mono 96000 "$music" 0.2 96k $nopns
        # Multichannel: a tone of its own in every channel (FL FR FC LFE BL BR [SL SR], FFmpeg's
        # order), so that a channel in the wrong place is found by its tone
        # (tests/test_aac_decode.cpp). FFmpeg writes 7.1 as channel_configuration 7.
        local t="0.2*sin(2*PI*" m="*t)+0.02*(random(0)-0.5)"
        local six="${t}440$m|${t}660$m|${t}880$m|${t}60*t)|${t}1320$m|${t}1760$m"
        AENC_LAYOUT=5.1 aenc dec_32000_5.1 32000 "$six" 0.33 160k $nopns
        AENC_LAYOUT=7.1 aenc dec_32000_7.1 32000 "$six|${t}2200$m|${t}2640$m" 0.33 200k $nopns
        # Main profile with prediction (FFmpeg's encoder needs -strict -2 for it): without and with
        # intensity stereo, where decoders disagree on the predictors of the intensity bands.
        local pred="-aac_pred 1 -strict -2"
        AAC_PROFILE=aac_main aenc dec_main_44100_mono 44100 "$music" 1 64k $nopns $pred
        AAC_PROFILE=aac_main aenc dec_main_48000_stereo 48000 "$music|$music2" 1 128k $nopns $pred -aac_is 0
        AAC_PROFILE=aac_main aenc dec_main_44100_stereo_is 44100 "$near|$near2" 0.8 40k $nopns $pred -aac_is 1
        # Its reference is FAAD2's float decode instead: FFmpeg's decoder feeds zeros to the
        # predictors of the right channel's intensity bands, where ISO/IEC 13818-7 feeds them the
        # intensity values, as FAAD2 does. (faad leaves out the first frame; the tests align.)
        if command -v faad >/dev/null; then
            faad -q -b 4 -f 2 -o "$tmp/main_is.f32" "$d/dec_main_44100_stereo_is.aac"
            python3 -c 'import struct, sys; r = open(sys.argv[1], "rb").read(); v = struct.unpack("<%df" % (len(r) // 4), r)
open(sys.argv[2], "wb").write(b"".join(struct.pack("<h", max(-32768, min(32767, round(x * 32768.0)))) for x in v))' \
                "$tmp/main_is.f32" "$d/dec_main_44100_stereo_is.pcm"
        else
            echo "make-vectors: no faad; dec_main_44100_stereo_is.pcm is FFmpeg's decode" >&2
        fi
    }
    # AAC LTP: FFmpeg's encoder (-profile:a aac_ltp) never sends ltp_data, so ltp_inject.py writes
    # some into every third long-window frame; FFmpeg's decoder applies it, and so the reference.
    ltpenc() {  # NAME RATE "LEFT[|RIGHT]" LAYOUT
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=$3:s=$2:d=1:c=$4" -c:a aac \
            -profile:a aac_ltp -aac_ltp 1 -aac_pns 0 -strict -2 -q:a 0.3 -fflags +bitexact -flags:a +bitexact \
            -f adts "$tmp/$1.aac"
        python3 "$here/ltp_inject.py" "$tmp/$1.aac" "$d/$1.aac"
        ffmpeg -nostdin -hide_banner -loglevel error -y -i "$d/$1.aac" -c:a pcm_f32le -f f32le "$tmp/$1.f32"
        python3 - "$tmp/$1.f32" "$d/$1.pcm" <<'PY'
import struct, sys
raw = open(sys.argv[1], "rb").read()
vals = struct.unpack("<%df" % (len(raw) // 4), raw)
out = b"".join(struct.pack("<h", max(-32768, min(32767, round(v * 32768.0)))) for v in vals)
open(sys.argv[2], "wb").write(out)
PY
    }
    ltpenc dec_22050_mono_ltp 22050 "0.125*sin(2*PI*440*t)" mono
    ltpenc dec_16000_stereo_ltp 16000 "0.5*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t)" stereo
    # HE-AAC v1: FFmpeg's encoder writes no SBR, so sbr_inject.py appends an SBR payload to every
    # block of a 24 kHz LC stream, coding envelopes, noise floors and sinusoids on the schedule
    # documented in it (all four frame classes, time and frequency deltas, both amplitude
    # resolutions, coupling on and off). The core is a tone over white noise, so that every patch
    # has something to transpose. No reference PCM: tests/test_sbr_vectors.cpp measures the
    # levels the schedule coded and compares with FFmpeg's decode when ffmpeg is installed.
    sbrenc() {  # LAYOUT "LEFT[|RIGHT]"
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=$2:s=24000:d=2.5:c=$1" -c:a aac \
            -b:a 32k -aac_pns 0 -fflags +bitexact -flags:a +bitexact -f adts "$tmp/sbr_core.aac"
        python3 "$here/sbr_inject.py" "$tmp/sbr_core.aac" "$d/sbr_24000_$1.aac"
    }
    local sbrsrc="0.1*sin(2*PI*440*t)+0.2*(random(0)-0.5)" sbrsrc2="0.1*sin(2*PI*660*t)+0.2*(random(1)-0.5)"
    sbrenc mono "$sbrsrc"
    sbrenc stereo "$sbrsrc|$sbrsrc2"
    # The same blocks with the layout in a program configuration element: ADTS with
    # channel_configuration 0 and ADIF (ffmpeg writes neither for these layouts).
    for n in 5.1 7.1; do
        python3 "$here/aacpack.py" pce "$d/dec_32000_$n.aac" "$d/pce_32000_$n.aac"
        python3 "$here/aacpack.py" adif "$d/dec_32000_$n.aac" "$d/adif_32000_$n.adif"
    done
    # CRC-protected copies (ffmpeg's ADTS muxer writes no crc_check): adts_protect.py computes
    # the CRC words, for one raw data block per frame and for several.
    local p
    for p in "dec_8000_mono _crc 1" "dec_8000_mono _crc2 2" "dec_44100_stereo_transients _crc 1" \
        "dec_44100_stereo_transients _crc3 3"; do
        set -- $p
        python3 "$here/adts_protect.py" "$d/$1.aac" "$d/$1$2.aac" "$3"
    done
    ls -l "$d"/dec_*
    # The same streams in MP4 containers (moov last, 3GP, moov first, two tracks), and one straight from the
    # encoder into MP4, whose edit list skips the encoder's 1024 priming samples (a sine that the
    # test computes too).
    mux() { ffmpeg -nostdin -hide_banner -loglevel error -y -i "$d/$1.aac" "${@:3}" -c copy -fflags +bitexact "$d/$2"; }
    mux dec_44100_stereo_is mp4_44100_stereo_is.m4a
    mux dec_22050_mono_pns mp4_22050_mono_pns.3gp -f 3gp
    mux dec_mpeg2_16000_stereo mp4_mpeg2_16000_stereo_faststart.m4a -movflags +faststart
    # Two audio tracks interleaved: the first one's samples lie in many chunks of varying length.
    mux dec_32000_7.1 mp4_32000_7.1.m4a
    mux dec_44100_stereo_is mp4_two_tracks.m4a -i "$d/dec_22050_mono_pns.aac" -map 0 -map 1
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t):s=22050:d=0.5" \
        -c:a aac -b:a 32k -fflags +bitexact -flags:a +bitexact "$d/mp4_22050_mono_priming.m4a"
    ls -l "$d"/dec_* "$d"/mp4_*
}
if [ "${ZUF_VECTORS_ONLY:-}" = aacdec ]; then
    aac_decoder_vectors
    exit 0
fi

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
    "aevalsrc=0.3*sin(2*PI*300*t)|0.3*sin(2*PI*500*t)|0.3*sin(2*PI*700*t)|0.1*sin(2*PI*60*t)|\
0.2*sin(2*PI*900*t)|0.2*sin(2*PI*1100*t):s=48000:d=1:c=5.1" \
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
mp3_vectors
aac_decoder_vectors
ls -l "$out"

# ---------------------------------------------------------------------------------- AAC syntax
# Streams for the raw_data_block() walk of tests/test_aac_syntax_streams.cpp, in $out/aac.
# Together with the streams above they reach short windows, TNS, noise substitution (ffmpeg uses
# it even in MPEG-2 LC streams), intensity stereo, escape sequences, the ics_info of the LTP
# object type, and a fill element. The test checks only that every raw data block ends at its
# frame end, so another ffmpeg version's bytes serve as well.
aac_syntax_vectors() {
    local tone_bursts="0.9*sin(2*PI*120*t)*lt(mod(t\,0.37)\,0.03)+0.2*sin(2*PI*3000*t)"
    local tone_bursts2="0.6*sin(2*PI*80*t)*lt(mod(t+0.1\,0.29)\,0.02)+0.2*sin(2*PI*3000*t+0.3)"
    mkdir -p "$out/aac"
    # Loud low-frequency bursts: short windows, TNS and escapes.
    encode aac/adts_lc_44100_stereo_transients.aac "aevalsrc=$tone_bursts|$tone_bursts2:s=44100:d=1.5" 128k
    # Pink noise, the same in both channels: noise substitution and intensity stereo.
    encode aac/adts_lc_32000_stereo_noise.aac \
        "anoisesrc=color=pink:amplitude=0.3:sample_rate=32000:duration=1.5:seed=7" 48k -ac 2
    # AAC LTP object type (ffmpeg's encoder marks it experimental and in practice never sets
    # ltp_data_present, so this reaches the MPEG-4 ics_info and channel pair paths only).
    encode aac/adts_ltp_48000_stereo.aac \
        "aevalsrc=0.5*sin(2*PI*220*t)+0.2*sin(2*PI*1330*t)|0.4*sin(2*PI*330*t):s=48000:d=1.5" 64k \
        -profile:a aac_ltp -strict -2
    # Without bit-exact mode the encoder writes its version string in a fill element.
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=1000:sample_rate=16000:duration=1" \
        -c:a aac -b:a 24k -f adts "$out/aac/adts_lc_16000_mono_fill.aac"
    if command -v faad >/dev/null; then
        for f in "$out"/aac/adts_*.aac; do
            rm -f "$tmp/check.wav"
            faad -q -o "$tmp/check.wav" "$f" >/dev/null 2>&1 || true
            if [ "$(stat -c %s "$tmp/check.wav" 2>/dev/null || echo 0)" -le 4096 ]; then
                echo "faad cannot decode $f" >&2
                exit 1
            fi
        done
    fi
    ls -l "$out/aac"
}
aac_syntax_vectors
