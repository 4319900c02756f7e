#!/usr/bin/env bash
# One table of how fast the library is beside the decoders and FFTs people use, all measured in
# the same run on the same inputs.
#
#   bench/compare.sh [RUNS] [--no-callgrind] [--preset=NAME]
#
# Builds the preset (release by default; release-avx2 times the AVX2 build) with benchmarks
# (zufdec, bench_stream, bench_fft) unless they are there, makes the inputs from one 2-minute music-like stereo signal at 44.1 kHz (the signal of
# bench/peers.sh):
#   AAC-LC 128 kbit/s ADTS (FFmpeg's encoder), MP3 128 kbit/s CBR and V2 VBR (LAME), MPEG-2 MP3
#   at 24 kHz, 64 kbit/s (LAME), and, where ../shared/vectors/he-aac is beside the checkout, an
#   HE-AAC stream (22.05 kHz core, SBR to 44.1 kHz) made of one of its samples repeated to about
#   two minutes (Debian's encoders write no SBR),
# and prints:
#   - per stream, zufdec against ffmpeg -threads 1 (its float and, for AAC, fixed-point decoder),
#     faad, mpg123 and madplay, each writing a 16-bit WAV file: best CPU time (user + system) of
#     RUNS interleaved runs (default 5), times real time, and the ratio our time / peer's
#     (below 1.0: we are faster);
#   - zufdec in memory (bench_stream: decoding only, no file I/O), same units;
#   - instructions per decoded second of audio under callgrind for zufdec and the main peer
#     (ffmpeg for AAC, mpg123 for MP3): a figure that does not move with the machine's load, so
#     an optimisation can be shown even on a busy machine;
#   - MP3 encoding of the same signal at 128 kbit/s CBR joint stereo: zufenc against lame -q 7,
#     -q 2 and -q 0, best CPU time of RUNS interleaved runs, ratio our time / LAME's;
#   - the complex and real FFTs for N = 64 .. 4096 against FFTW (ESTIMATE and MEASURE plans) and
#     KissFFT, from bench_fft (CPU time per transform, ratio ours / peer). Debian's FFTW runs AVX
#     kernels; bench/fftw-sse2.sh times the FFTs against an FFTW on the default build's SSE width.
# Peers that are not installed are left out of the table.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=5
callgrind=1
preset=release
for a in "$@"; do
    case "$a" in
        --no-callgrind) callgrind=0 ;;
        --preset=?*) preset=${a#--preset=} ;;
        [0-9]*) runs=$a ;;
        *) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

build=$root/build/$preset
if [ ! -x "$build/tools/zufdec" ] || [ ! -x "$build/tools/zufenc" ] || [ ! -x "$build/bench/bench_stream" ] ||
    [ ! -x "$build/bench/bench_fft" ]; then
    echo "compare.sh: building the $preset preset with benchmarks" >&2
    (cd "$root" && cmake --preset "$preset" -DZUF_BUILD_BENCH=ON >/dev/null &&
        cmake --build --preset "$preset" --target zufdec zufenc bench_stream bench_fft >/dev/null)
fi
command -v valgrind >/dev/null || callgrind=0

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
signal="aevalsrc=0.25*sin(2*PI*440*t)+0.15*sin(2*PI*1320*t+2*sin(2*PI*5*t))+0.05*sin(2*PI*3700*t)"
signal+="+0.02*(random(0)-0.5)|0.2*sin(2*PI*554*t+sin(2*PI*3*t))+0.1*sin(2*PI*2217*t)"
signal+="+0.03*sin(2*PI*9000*t)+0.02*(random(1)-0.5):s=44100:d=120:c=stereo"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$signal" -c:a pcm_s16le "$tmp/signal.wav"
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$tmp/signal.wav" -c:a aac -b:a 128k -f adts "$tmp/aac_lc_128k.aac"
lame --silent -b 128 -m j "$tmp/signal.wav" "$tmp/mp3_cbr_128k.mp3"
lame --silent -V 2 "$tmp/signal.wav" "$tmp/mp3_vbr_v2.mp3"
lame --silent --resample 24 -b 64 "$tmp/signal.wav" "$tmp/mp3_mpeg2_24k.mp3"
he=$root/../shared/vectors/he-aac/h08_nero_he1_st_22k44k.aac
if [ -f "$he" ]; then
    for _ in $(seq 60); do cat "$he"; done >"$tmp/he_aac_sbr.aac"
fi

PRESET=$preset ZUFDEC=$build/tools/zufdec ZUFENC=$build/tools/zufenc BENCH_STREAM=$build/bench/bench_stream BENCH_FFT=$build/bench/bench_fft \
    python3 - "$tmp" "$runs" "$callgrind" <<'PY'
import json, os, re, shlex, shutil, subprocess, sys

tmp, runs, use_callgrind = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
zufdec = os.environ["ZUFDEC"]
have = lambda t: shutil.which(t) is not None
ff = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -y"

def decoders(stream, kind):
    out = f"{tmp}/out"
    d = [("zufdec", f"{zufdec} -y -q {stream} {out}.zufdec.wav")]
    if "sbr" in stream:  # the low-power SBR path beside it (its ratio column: high-quality time / its own)
        d.append(("zufdec --sbr=lp", f"{zufdec} -y -q --sbr=lp {stream} {out}.zufdec_lp.wav"))
    if have("ffmpeg"):
        d.append(("ffmpeg", f"{ff} -i {stream} -c:a pcm_s16le {out}.ffmpeg.wav"))
        if kind == "aac":
            d.append(("ffmpeg aac_fixed", f"{ff} -c:a aac_fixed -i {stream} -c:a pcm_s16le {out}.fixed.wav"))
    if kind == "aac" and have("faad"):
        d.append(("faad", f"faad -q -b 1 -o {out}.faad.wav {stream}"))
    if kind == "mp3" and have("mpg123"):
        d.append(("mpg123", f"mpg123 -q -w {out}.mpg123.wav {stream}"))
    if kind == "mp3" and have("madplay"):
        d.append(("madplay", f"madplay -Q -b 16 -o wave:{out}.madplay.wav {stream}"))
    return d

def cpu_of(cmd):
    argv = shlex.split(cmd)
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1); os.dup2(fd, 2)
        try:
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    _, status, ru = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"compare.sh: failed: {cmd}")
    return ru.ru_utime + ru.ru_stime

def audio_seconds(stream):
    r = subprocess.run([zufdec, "-y", stream, f"{tmp}/probe.wav"], capture_output=True, text=True)
    m = re.search(r"zufdec: ([0-9.]+) s of audio", r.stderr + r.stdout)
    return float(m.group(1))

def in_memory(stream):
    env = dict(os.environ, ZUF_BENCH_STREAM=stream)
    r = subprocess.run([os.environ["BENCH_STREAM"], "--benchmark_format=json", "--benchmark_min_time=0.5"],
                       capture_output=True, text=True, env=env, check=True)
    b = json.loads(r.stdout)["benchmarks"][0]
    return b["cpu_time"] / 1000.0  # milliseconds -> seconds

def instructions(cmd):
    r = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={tmp}/cg.out"] + shlex.split(cmd),
                       capture_output=True, text=True)
    m = re.search(r"Collected : ([0-9]+)", r.stderr)
    return int(m.group(1)) if m else None

streams = [("AAC-LC 128k", f"{tmp}/aac_lc_128k.aac", "aac", "ffmpeg"),
           ("MP3 CBR 128k", f"{tmp}/mp3_cbr_128k.mp3", "mp3", "mpg123"),
           ("MP3 VBR V2", f"{tmp}/mp3_vbr_v2.mp3", "mp3", "mpg123"),
           ("MP3 MPEG-2 24k", f"{tmp}/mp3_mpeg2_24k.mp3", "mp3", "mpg123")]
if os.path.exists(f"{tmp}/he_aac_sbr.aac"):
    streams.insert(1, ("HE-AAC (SBR)", f"{tmp}/he_aac_sbr.aac", "aac", "ffmpeg"))
print(f"{os.environ['PRESET']} build; best CPU time (user + system) of {runs} interleaved runs; ratio = zufdec's"
      " time / the peer's (below 1: zufdec faster)\n")
print(f"{'stream':<15} {'decoder':<18} {'CPU s':>8} {'x real time':>12} {'ratio':>7}")
for title, stream, kind, main_peer in streams:
    secs = audio_seconds(stream)
    decs = decoders(stream, kind)
    best = {}
    for _ in range(runs):
        for name, cmd in decs:
            t = cpu_of(cmd)
            best[name] = min(t, best.get(name, t))
    ours = best["zufdec"]
    for name, _ in decs:
        t = best[name]
        ratio = "" if name == "zufdec" else f"{ours / t:7.2f}"
        print(f"{title:<15} {name:<18} {t:8.3f} {secs / t:12.0f} {ratio:>7}")
        title = ""
    mem = in_memory(stream)
    print(f"{'':<15} {'zufdec in memory':<18} {mem:8.3f} {secs / mem:12.0f}")
    if use_callgrind:
        cmds = dict(decs)
        zi = instructions(cmds["zufdec"])
        line = f"{'':<15} callgrind: zufdec {zi / secs / 1e6:.1f} M instructions per audio second"
        if main_peer in cmds:
            pi = instructions(cmds[main_peer])
            if zi and pi:
                line += f", {main_peer} {pi / secs / 1e6:.1f} M, ratio {zi / pi:.2f}"
        print(line)

if have("lame"):
    encs = [("zufenc", f"{os.environ['ZUFENC']} -y -q -b 128 {tmp}/signal.wav {tmp}/enc.zufenc.mp3")]
    encs += [(f"lame -q {q}", f"lame --silent --cbr -b 128 -m j -q {q} {tmp}/signal.wav {tmp}/enc.lame{q}.mp3")
             for q in (7, 2, 0)]
    best = {}
    for _ in range(runs):
        for name, cmd in encs:
            t = cpu_of(cmd)
            best[name] = min(t, best.get(name, t))
    print(f"\nMP3 encoding, 120 s at 128 kbit/s CBR joint stereo; ratio = zufenc's time / the peer's")
    print(f"{'encoder':<18} {'CPU s':>8} {'x real time':>12} {'ratio':>7}")
    for name, _ in encs:
        t = best[name]
        ratio = "" if name == "zufenc" else f"{best['zufenc'] / t:7.2f}"
        print(f"{name:<18} {t:8.3f} {120 / t:12.0f} {ratio:>7}")

print("\nFFT, CPU time per transform (bench_fft), ratio = ours / peer")
r = subprocess.run([os.environ["BENCH_FFT"], "--benchmark_filter=^(cfft_fwd|cfft_inv|rfft)/.*/(64|128|256|512|1024|2048|4096)$",
                    "--benchmark_min_time=0.05"], capture_output=True, text=True, check=True)
table = r.stdout[r.stdout.find("\ntransform"):].strip().splitlines()
print(table[0])
for line in table[1:]:
    f = line.split()
    if len(f) > 1 and f[1].isdigit() and 64 <= int(f[1]) <= 4096:
        print(line)
print("(Debian's FFTW runs its AVX kernels; bench/fftw-sse2.sh compares with an FFTW limited to SSE2, the default"
      " build's width)")
PY
