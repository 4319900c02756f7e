#!/usr/bin/env bash
# Times zufdec against mpg123 and ffmpeg (one thread) decoding the same MP3 stream to a 16-bit
# WAV file, and prints each one's speed in times real time and the ratios.
#
#   bench/peers.sh [STREAM.mp3] [RUNS]
#   bench/peers.sh aac [STREAM.aac] [RUNS]     (the AAC section below)
#
# Without a stream, a 120 s 128 kbit/s joint-stereo test stream is made with ffmpeg and lame.
# Each decoder runs RUNS times (default 7), the decoders taking turns; the best CPU time (user +
# system) counts, which is steadier than wall-clock time on a shared machine. zufdec is taken
# from $ZUFDEC, else from build/release/tools/zufdec or build/mp3/tools/zufdec of this checkout. Peers that are not
# installed are left out.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

# The test signal of both sections: two minutes of a music-like stereo mix (tones, vibrato, a
# little noise) at 44.1 kHz.
signal="aevalsrc=0.25*sin(2*PI*440*t)+0.15*sin(2*PI*1320*t+2*sin(2*PI*5*t))+0.05*sin(2*PI*3700*t)"
signal+="+0.02*(random(0)-0.5)|0.2*sin(2*PI*554*t+sin(2*PI*3*t))+0.1*sin(2*PI*2217*t)"
signal+="+0.03*sin(2*PI*9000*t)+0.02*(random(1)-0.5):s=44100:d=120:c=stereo"

# ---------------------------------------------------------------------------------- AAC
#   bench/peers.sh aac [STREAM.aac] [RUNS]
# Times zufdec against ffmpeg (one thread) and faad decoding the same ADTS AAC-LC stream to a
# 16-bit WAV file, in the same way (best CPU time of RUNS runs). Without a stream, a 120 s
# 128 kbit/s stereo 44.1 kHz stream is made with ffmpeg's encoder. zufdec is taken from $ZUFDEC,
# else from build/release, build/aacdec or build/mp3 of this checkout.
if [ "${1:-}" = aac ]; then
    zufdec=${ZUFDEC:-}
    for cand in "$root/build/release/tools/zufdec" "$root/build/aacdec/tools/zufdec" "$root/build/mp3/tools/zufdec"; do
        if [ -z "$zufdec" ] && [ -x "$cand" ]; then zufdec=$cand; fi
    done
    if [ -z "$zufdec" ] || [ ! -x "$zufdec" ]; then
        echo "peers.sh: no zufdec binary (build the release preset, or set ZUFDEC)" >&2
        exit 1
    fi
    runs=${3:-7}
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    stream=${2:-}
    if [ -z "$stream" ]; then
        stream="$tmp/test.aac"
        ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \
            "$signal" \
            -c:a aac -b:a 128k -fflags +bitexact -flags:a +bitexact -f adts "$stream"
    fi
    aac_best_cpu() {
        local best="" t
        for _ in $(seq "$runs"); do
            /usr/bin/time -f "%U %S" -o "$tmp/time.txt" "$@" >/dev/null 2>&1
            t=$(awk '{ print $1 + $2 }' "$tmp/time.txt")
            if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
        done
        echo "$best"
    }
    seconds=$("$zufdec" -y "$stream" "$tmp/zufdec.wav" 2>&1 | sed -n 's/^zufdec: \([0-9.]*\) s of audio.*/\1/p' | tail -1)
    echo "stream: $stream ($seconds s of audio), best of $runs runs, CPU time (user + system)"
    declare -A cpu
    cpu[zufdec]=$(aac_best_cpu "$zufdec" -y -q "$stream" "$tmp/zufdec.wav")
    if command -v ffmpeg >/dev/null; then
        ff=(ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -y)
        cpu[ffmpeg]=$(aac_best_cpu "${ff[@]}" -i "$stream" -c:a pcm_s16le "$tmp/ffmpeg.wav")
        # FFmpeg's fixed-point AAC decoder, the closest to ours in arithmetic.
        cpu[ffmpeg_fixed]=$(aac_best_cpu "${ff[@]}" -c:a aac_fixed -i "$stream" -c:a pcm_s16le "$tmp/ffmpeg_fixed.wav")
    fi
    if command -v faad >/dev/null; then
        cpu[faad]=$(aac_best_cpu faad -q -b 1 -o "$tmp/faad.wav" "$stream")
    fi
    for name in zufdec ffmpeg ffmpeg_fixed faad; do
        [ -n "${cpu[$name]:-}" ] || continue
        awk -v n="$name" -v c="${cpu[$name]}" -v s="$seconds" \
            'BEGIN { printf "%-12s %7.3f s  %7.0fx real time\n", n, c, (c > 0 ? s / c : 0) }'
    done
    for peer in ffmpeg ffmpeg_fixed faad; do
        [ -n "${cpu[$peer]:-}" ] || continue
        awk -v p="$peer" -v a="${cpu[zufdec]}" -v b="${cpu[$peer]}" \
            'BEGIN { printf "zufdec / %-12s speed ratio %.2f (%s)\n", p, (a > 0 ? b / a : 0),
                     (a < b ? "zufdec faster" : "zufdec slower") }'
    done
    exit 0
fi
zufdec=${ZUFDEC:-}
if [ -z "$zufdec" ]; then
    for cand in "$root/build/release/tools/zufdec" "$root/build/mp3/tools/zufdec"; do
        if [ -x "$cand" ]; then
            zufdec=$cand
            break
        fi
    done
fi
if [ -z "$zufdec" ] || [ ! -x "$zufdec" ]; then
    echo "peers.sh: no zufdec binary (build the release preset, or set ZUFDEC)" >&2
    exit 1
fi
runs=${2:-7}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

stream=${1:-}
if [ -z "$stream" ]; then
    stream="$tmp/test.mp3"
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \
        "$signal" \
        -c:a pcm_s16le "$tmp/test.wav"
    lame --silent -b 128 -m j "$tmp/test.wav" "$stream"
fi

# Audio duration from zufdec's own report.
seconds=$("$zufdec" -y "$stream" "$tmp/zufdec.wav" 2>&1 | sed -n 's/^zufdec: \([0-9.]*\) s of audio.*/\1/p' | tail -1)
echo "stream: $stream ($seconds s of audio), best of $runs runs, CPU time (user + system)"

# Each decoder runs RUNS times, taking turns so that they meet the same machine load; the best
# CPU time (user + system, from the children's resource usage, in microseconds) counts.
commands=("zufdec|$zufdec -y -q $stream $tmp/zufdec.wav")
if command -v mpg123 >/dev/null; then
    commands+=("mpg123|mpg123 -q -w $tmp/mpg123.wav $stream")
fi
if command -v ffmpeg >/dev/null; then
    commands+=("ffmpeg|ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -y -i $stream -c:a pcm_s16le \
$tmp/ffmpeg.wav")
fi
declare -A cpu
while IFS='=' read -r name value; do
    cpu[$name]=$value
done < <(python3 - "$runs" "${commands[@]}" <<'PY'
import os, shlex, sys
runs, specs = int(sys.argv[1]), [a.split("|", 1) for a in sys.argv[2:]]
best = {}
for _ in range(runs):
    for name, cmd in specs:
        argv = shlex.split(cmd)
        pid = os.fork()
        if pid == 0:
            fd = os.open(os.devnull, os.O_WRONLY)
            os.dup2(fd, 1)
            os.dup2(fd, 2)
            try:
                os.execvp(argv[0], argv)
            finally:
                os._exit(127)
        _, status, ru = os.wait4(pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("peers.sh: %s failed" % name)
        t = ru.ru_utime + ru.ru_stime
        best[name] = min(t, best.get(name, t))
for name, t in best.items():
    print("%s=%.4f" % (name, t))
PY
)

for name in zufdec mpg123 ffmpeg; do
    [ -n "${cpu[$name]:-}" ] || continue
    awk -v n="$name" -v c="${cpu[$name]}" -v s="$seconds" \
        'BEGIN { printf "%-8s %8.4f s  %7.0fx real time\n", n, c, (c > 0 ? s / c : 0) }'
done
for peer in mpg123 ffmpeg; do
    [ -n "${cpu[$peer]:-}" ] || continue
    awk -v p="$peer" -v a="${cpu[zufdec]}" -v b="${cpu[$peer]}" \
        'BEGIN { printf "zufdec / %-7s speed ratio %.2f (%s)\n", p, (a > 0 ? b / a : 0),
                 (a < b ? "zufdec faster" : "zufdec slower") }'
done
