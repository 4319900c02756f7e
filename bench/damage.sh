#!/usr/bin/env bash
# Damage one frame of committed AAC and MP3 vectors and see what each decoder makes of it:
# zufdec, ffmpeg, mpg123 (MP3) and faad (AAC) each decode the clean file and two damaged copies
# (eight bits flipped across the payload of the frame at 2/5 of the stream; that frame's header
# zeroed, 4 bytes for MP3, 7 for ADTS), the same damage as tests/test_stream_damage.cpp. Per
# case and tool it prints the output's length difference from the tool's own clean decode, in
# sample frames (0: the audio stays in sync), and how many frames (1152, 576 or 1024 sample
# frames) of the common length differ from it.
#
#   bench/damage.sh [ZUFDEC]
#
# zufdec is taken from the argument, $ZUFDEC, or build/release/tools/zufdec of this checkout.
# Peers that are not installed are left out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zufdec=${1:-${ZUFDEC:-$root/build/release/tools/zufdec}}
[ -x "$zufdec" ] || { echo "damage.sh: no zufdec at $zufdec (build the release preset)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
vectors="mp3/l3-si.bit mp3/lame_44100_js_128.mp3 mp3/lame_16000_ms_vbr.mp3 mp3/lame_48000_ms_crc.mp3
  mp3/lame_44100_free_format.mp3 aac/dec_44100_stereo_transients.aac aac/dec_44100_stereo_transients_crc.aac
  aac/dec_22050_mono_pns.aac aac/dec_32000_5.1.aac aac/dec_mpeg2_16000_stereo.aac"

# decode TOOL FILE OUT: raw s16le, the stream's own channels; fails when the tool is missing.
decode() {
    local tool=$1 in=$2 out=$3 kind
    case $in in *.aac) kind=aac ;; *) kind=mp3 ;; esac
    case $tool in
        zufdec) "$zufdec" -q -y -f s16le "$in" "$out" ;;
        ffmpeg) ffmpeg -nostdin -v quiet -y -f "$kind" -i "$in" -f s16le "$out" ;;
        mpg123) [ $kind = mp3 ] && mpg123 -q -s "$in" >"$out" ;;
        faad) [ $kind = aac ] && faad -q -f 2 -w "$in" >"$out" ;;
    esac
}

printf '%-40s %-7s %-7s %8s %7s\n' vector damage tool length frames
for v in $vectors; do
    src=$root/tests/vectors/$v
    base=$tmp/$(basename "$v")
    # The damaged copies, and "CHANNELS FRAME_SAMPLES" of the stream, from its frame headers.
    geometry=$(python3 - "$src" "$base" <<'EOF'
import sys
src, base = sys.argv[1], sys.argv[2]
s = bytearray(open(src, "rb").read())
ext = "aac" if base.endswith(".aac") else "mp3"
at = 0
if s[:3] == b"ID3":
    at = 10 + ((s[6] << 21) | (s[7] << 14) | (s[8] << 7) | s[9])
frames = []  # (offset, length, header bytes)
if ext == "aac":
    ch = {7: 8}.get((s[at + 2] & 1) << 2 | s[at + 3] >> 6, (s[at + 2] & 1) << 2 | s[at + 3] >> 6)
    per = 1024
    while at + 7 <= len(s):
        n = (s[at + 3] & 3) << 11 | s[at + 4] << 3 | s[at + 5] >> 5
        if n < 8 or at + n > len(s):
            break
        frames.append((at, n, 7 if s[at + 1] & 1 else 9))
        at += n
else:
    mpeg1 = (s[at + 1] >> 3) & 1
    ch, per = (1 if s[at + 3] >> 6 == 3 else 2), (1152 if mpeg1 else 576)
    rates = [44100, 48000, 32000]
    kbps1 = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    kbps2 = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
    while at + 4 <= len(s) and s[at] == 0xFF and (s[at + 1] & 0xE0) == 0xE0:
        b, rate = s[at + 2] >> 4, rates[(s[at + 2] >> 2) & 3] >> (1 - mpeg1)
        if b:
            n = (144 if mpeg1 else 72) * 1000 * (kbps1 if mpeg1 else kbps2)[b] // rate + (s[at + 2] >> 1 & 1)
        else:  # free format: the next header of the stream
            n = 4
            while at + n + 3 < len(s) and not (s[at + n] == 0xFF and s[at + n + 1] == s[at + 1]
                                               and (s[at + n + 2] | 2) == (s[at + 2] | 2)):
                n += 1
        if at + n > len(s):
            break
        frames.append((at, n, 4 if s[at + 1] & 1 else 6))
        at += n
off, n, head = frames[len(frames) * 2 // 5]
bits = bytearray(s)
for i in range(8):
    bits[off + head + (n - head) * i // 8] ^= 1 << i
hdr = bytearray(s)
hdr[off:off + (7 if ext == "aac" else 4)] = bytes(7 if ext == "aac" else 4)
open(base + ".bits." + ext, "wb").write(bits)
open(base + ".header." + ext, "wb").write(hdr)
print(ch, per)
EOF
)
    set -- $geometry
    ch=$1 per=$2
    ext=${v##*.}
    [ "$ext" = bit ] && ext=mp3
    cp "$src" "$base.clean.$ext"
    for tool in zufdec ffmpeg mpg123 faad; do
        command -v "$tool" >/dev/null || [ "$tool" = zufdec ] || continue
        decode "$tool" "$base.clean.$ext" "$tmp/clean.raw" 2>/dev/null || continue
        for damage in bits header; do
            rm -f "$tmp/$damage.raw"
            decode "$tool" "$base.$damage.$ext" "$tmp/$damage.raw" 2>/dev/null || true
            touch "$tmp/$damage.raw"  # no output at all: every sample frame missing
            python3 - "$tmp/clean.raw" "$tmp/$damage.raw" "$ch" "$per" "$v" "$damage" "$tool" <<'EOF'
import sys
a, b = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
ch, per = int(sys.argv[3]), int(sys.argv[4])
step = 2 * ch * per
common = min(len(a), len(b))
differ = sum(a[i:min(i + step, common)] != b[i:min(i + step, common)] for i in range(0, common, step))
print("%-40s %-7s %-7s %+8d %7d" % (sys.argv[5], sys.argv[6], sys.argv[7], (len(b) - len(a)) // (2 * ch), differ))
EOF
        done
    done
done
