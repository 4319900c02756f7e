#!/usr/bin/env bash
# zufdec and zufinfo run as a user runs them, on the committed vectors, in a scratch directory:
#
#   check-tools.sh SECTION ZUFDEC ZUFINFO SOURCE_DIR [EMULATOR]
#
# SECTION: safety (no input or existing output destroyed, no partial file), pipes, formats,
# conventions (options, exit codes, names), zufinfo, detect (both tools find the same format). Each check prints one line; the first
# failure ends the section with exit 1.
set -uo pipefail
section=$1 zufdec_bin=$2 zufinfo_bin=$3 src=$4 emulator=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
vec=$src/tests/vectors
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$vec/mp3/l3-si.bit" song.mp3
cp "$vec/aac/dec_44100_stereo_transients.aac" stereo.aac
cp "$vec/aac/dec_22050_mono_pns.aac" mono.aac

# shellcheck disable=SC2086
zufdec() { $emulator "$zufdec_bin" "$@"; }
# shellcheck disable=SC2086
zufinfo() { $emulator "$zufinfo_bin" "$@"; }
pcm() { python3 "$here/pcm.py" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }
# expect STATUS WHAT COMMAND...: runs COMMAND (stdout to out.txt, stderr to err.txt, stdin from
# /dev/null) and checks its exit status.
expect() {
    local want=$1 what=$2
    shift 2
    "$@" >out.txt 2>err.txt </dev/null
    local got=$?
    [ "$got" = "$want" ] || { cat err.txt; fail "$what: exit status $got, expected $want"; }
}
says() { grep -q -- "$2" "$1" || { cat "$1"; fail "$1 does not say '$2'"; }; }
leftovers() { ls -A "${1:-.}" | grep -q zufdec && fail "a temporary file was left: $(ls -A "${1:-.}")"; }

case $section in
safety)
    # The user's report: "zufdec a.mp3 a.mp3" overwrote the input. Every way of naming the input
    # as the output is refused (exit 3) and the input stays as it was.
    ln -s song.mp3 link.wav
    ln song.mp3 hard.wav
    mkdir sub
    for out in song.mp3 ./song.mp3 link.wav hard.wav "sub/../song.mp3" "$work/song.mp3"; do
        expect 3 "output $out is the input" zufdec -y song.mp3 -o "$out"
        says err.txt "is the input file"
    done
    append_to_input() { zufdec -y song.mp3 - >>song.mp3; }
    expect 3 "standard output is the input" append_to_input
    cmp -s song.mp3 "$vec/mp3/l3-si.bit" || fail "the input was changed"
    ok "an output that is the input is refused (name, ./, symlink, hard link, .., absolute path, stdout)"

    # An existing output: refused without -y (stdin is no terminal) and with -n, replaced with -y.
    expect 0 "first decode" zufdec song.mp3 out.wav
    cp out.wav first.wav
    echo "precious" >keep.wav
    expect 3 "existing output without -y" zufdec song.mp3 keep.wav
    says err.txt "keep.wav already exists: not overwritten"
    expect 3 "existing output with -n" zufdec -n -y song.mp3 keep.wav
    [ "$(cat keep.wav)" = precious ] || fail "keep.wav was overwritten"
    expect 0 "existing output with -y" zufdec -y song.mp3 keep.wav
    cmp -s keep.wav first.wav || fail "-y did not replace the output with the decoded audio"
    ok "existing outputs: kept without -y and with -n, replaced with -y"

    # Failures leave nothing: unusable input, a refused format, a missing directory.
    head -c 5000 /dev/urandom >noise.mp3
    expect 1 "unusable input" zufdec noise.mp3 noise.wav
    [ -e noise.wav ] && fail "noise.wav left behind after a failed decode"
    expect 1 "a PCE with coupling channels is refused" zufdec "$vec/adif_two_pce.adif" adif.wav
    [ -e adif.wav ] && fail "adif.wav left behind after a refused decode"
    expect 1 "missing directory" zufdec song.mp3 nodir/out.wav
    says err.txt "cannot create nodir/out.wav: No such file or directory"
    expect 1 "missing input" zufdec missing.mp3 missing.wav
    says err.txt "cannot open missing.mp3: No such file or directory"
    [ -e missing.wav ] && fail "missing.wav created for a missing input"
    leftovers
    ok "failed decodes leave no output and no temporary file"
    ;;

pipes)
    expect 0 "file output" zufdec stereo.aac ref.wav
    # Standard input and output, and /dev/stdout, through pipes: the WAV header then carries
    # 0xFFFFFFFF sizes and is read back to the end of the data.
    cat stereo.aac | zufdec -q - - 2>err.txt | cat >pipe.wav || fail "stdin to stdout"
    pcm compare ref.wav pipe.wav --finer >/dev/null 2>&1 && fail "16-bit pipe output finer than 16 bits?"
    pcm compare ref.wav pipe.wav >/dev/null || fail "stdin to stdout differs from the file output"
    [ "$(od -An -tx1 -j4 -N4 pipe.wav | tr -d ' ')" = ffffffff ] || fail "pipe WAV: RIFF size not 0xFFFFFFFF"
    zufdec -q stereo.aac /dev/stdout | cat >devstdout.wav || fail "/dev/stdout"
    cmp -s pipe.wav devstdout.wav || fail "/dev/stdout through a pipe differs from -"
    # Standard output redirected to a file can seek: the header gets its sizes.
    zufdec -q stereo.aac - >redirected.wav || fail "stdout to a file"
    cmp -s redirected.wav ref.wav || fail "stdout redirected to a file differs from the file output"
    # A named input to standard output by default ("-" in, "-" out).
    cat song.mp3 | zufdec -q - >song_stdin.wav || fail "stdin to default output"
    zufdec -q song.mp3 song_file.wav || fail "mp3 file"
    cmp -s song_stdin.wav song_file.wav || fail "stdin input differs from the file input"
    ok "- in, - out, /dev/stdout through a pipe, stdout to a file"
    # Raw PCM to a pipe.
    zufdec -q -f s16le mono.aac - | cat >mono.raw || fail "raw to a pipe"
    zufdec -q mono.aac mono.wav || fail "mono file"
    pcm compare mono.wav mono.raw s16le --exact >/dev/null || fail "raw s16le differs from the WAV samples"
    # FLAC is written by libsndfile, which does not write to a pipe: refused, clearly.
    if zufdec --version | grep -q "audio files: libsndfile"; then
        flac_to_pipe() {
            zufdec -f flac mono.aac - | cat >/dev/null
            return "${PIPESTATUS[0]}"
        }
        expect 1 "FLAC to a pipe" flac_to_pipe
        says err.txt "FLAC is written only to a file"
    fi
    ok "raw PCM to a pipe; FLAC refused on a pipe"
    ;;

formats)
    # Every format against the 16-bit WAV of the same input: MP3 carries 16 bits (exact), AAC
    # carries the filter bank's wider samples (within 1 LSB, most samples finer).
    for in in song.mp3 stereo.aac mono.aac; do
        base=${in%.*}
        ext=${in##*.}
        mode=--exact
        [ "$ext" = aac ] && mode=--finer
        zufdec -q "$in" "$base.16.wav" || fail "$in: 16-bit WAV"
        [ "$(pcm info "$base.16.wav" | cut -d' ' -f1)" = s16le ] || fail "$in: the default is not 16-bit"
        zufdec -q -b 24 "$in" "$base.24.wav" || fail "$in: -b 24"
        zufdec -q "$in" -b f32 -o "$base.f32.wav" || fail "$in: -b f32"
        zufdec -q -f s24le "$in" -o "$base.s24" || fail "$in: -f s24le"
        zufdec -q -f f32le "$in" -o "$base.f32" || fail "$in: -f f32le"
        zufdec -q -b 24 "$in" - | cat >"$base.24pipe.wav" || fail "$in: 24-bit to a pipe"
        zufdec -q -b f32 "$in" - | cat >"$base.f32pipe.wav" || fail "$in: float to a pipe"
        for f in "$base.24.wav" "$base.f32.wav" "$base.24pipe.wav" "$base.f32pipe.wav"; do
            pcm compare "$base.16.wav" "$f" "$mode" || fail "$f"
        done
        pcm compare "$base.16.wav" "$base.s24" s24le "$mode" || fail "$base.s24"
        pcm compare "$base.16.wav" "$base.f32" f32le "$mode" || fail "$base.f32"
        pcm same "$base.24.wav" "$base.24pipe.wav" || fail "$in: 24-bit samples differ between file and pipe"
        pcm same "$base.f32.wav" "$base.f32pipe.wav" || fail "$in: float samples differ between file and pipe"
        if zufdec --version | grep -q "audio files: libsndfile"; then
            zufdec -q "$in" "$base.flac" || fail "$in: FLAC"
            zufdec -q -b 24 "$in" "$base.24.flac" || fail "$in: 24-bit FLAC"
            [ "$(head -c 4 "$base.flac")" = fLaC ] || fail "$base.flac is not FLAC"
            if command -v ffmpeg >/dev/null; then
                ffmpeg -v error -i "$base.flac" -f wav -y "$base.flac.wav" &&
                    pcm compare "$base.16.wav" "$base.flac.wav" --exact >/dev/null ||
                    fail "$base.flac: samples differ from the 16-bit WAV"
                ffmpeg -v error -i "$base.24.flac" -c:a pcm_s24le -f wav -y "$base.24flac.wav" &&
                    pcm same "$base.24.wav" "$base.24flac.wav" ||
                    fail "$base.24.flac: samples differ from the 24-bit WAV"
            fi
        fi
    done
    expect 2 "FLAC float" zufdec -b f32 -f flac mono.aac x.flac
    expect 2 "-b with raw" zufdec -b 24 -f s16le mono.aac x.raw
    expect 2 "unknown format" zufdec -f mp3 mono.aac x.mp3
    ok "16/24-bit/float WAV, raw s16le/s24le/f32le and FLAC agree with the 16-bit output"
    ;;

conventions)
    expect 0 "--help" zufdec --help
    says out.txt "usage: zufdec"
    says out.txt "Exit status: 0"
    [ -s err.txt ] && fail "--help wrote to stderr"
    expect 0 "--version" zufdec --version
    says out.txt "zufdec [0-9]"
    says out.txt "libzufack9.so.5"
    expect 2 "no arguments" zufdec
    says err.txt "usage: zufdec"
    for opt in -x --bogus --output; do
        expect 2 "option $opt" zufdec song.mp3 "$opt"
        says err.txt "zufdec: "
        [ -e "$opt" ] && fail "$opt was taken for a file name"
    done
    says err.txt "needs a value"
    expect 2 "one output for two inputs" zufdec song.mp3 mono.aac -o x.wav
    # Options after the names; -q prints nothing on success.
    expect 0 "options last" zufdec song.mp3 q.wav -q -y
    [ -s err.txt ] && fail "-q printed: $(cat err.txt)"
    expect 0 "summary" zufdec song.mp3 -o s.wav
    says err.txt "118 frames decoded"
    says err.txt "wrote s.wav (WAV 16-bit)"
    grep -q '%' err.txt && fail "progress shown although stderr is no terminal"
    # Default names, several inputs, extension per format.
    mkdir d
    cp song.mp3 mono.aac d/
    cp song.mp3 d/noext
    expect 0 "several inputs" zufdec -q d/song.mp3 d/mono.aac d/noext
    for f in d/song.wav d/mono.wav d/noext.wav; do [ -s "$f" ] || fail "$f not written"; done
    cmp -s d/song.wav s.wav || fail "d/song.wav differs from s.wav"
    expect 0 "default raw name" zufdec -q -f s16le d/song.mp3
    [ -s d/song.raw ] || fail "d/song.raw not written"
    expect 3 "several inputs, one refused" zufdec d/song.mp3 d/mono.aac -q
    # The highest status counts: a missing input (1) and a refused output (3).
    expect 3 "missing and refused" zufdec -q missing.mp3 d/song.mp3
    says err.txt "cannot open missing.mp3"
    # A failed write is reported with its reason, also when the whole output was still held back
    # for one larger write at the end (a short stream).
    if [ -w /dev/full ]; then
        head -c 4000 song.mp3 >short.mp3
        for input in song.mp3 short.mp3; do
            expect 1 "write error ($input)" zufdec -q -y "$input" /dev/full
            says err.txt "error writing /dev/full: No space left on device"
        done
    fi
    ok "help, version, unknown options, option order, -q, default names, several inputs, exit codes, write errors"
    ;;

zufinfo)
    expect 0 "--help" zufinfo --help
    says out.txt "usage: zufinfo"
    expect 0 "--version" zufinfo --version
    says out.txt "libzufack9.so.5"
    expect 0 "listing" zufinfo song.mp3
    grep -q libzufack9 out.txt && fail "the library banner is printed without --version"
    expect 2 "unknown option" zufinfo --bogus song.mp3
    # MPEG-2.5 (8 kHz, 40 kbit/s: 360-byte frames) is named as such.
    python3 -c "import sys; sys.stdout.buffer.write((bytes([0xFF, 0xE3, 0x58, 0xC0]) + bytes(356)) * 4)" >m25.mp3
    expect 0 "MPEG-2.5" zufinfo --summary m25.mp3
    says out.txt "MP3 MPEG-2.5 Layer III, 8000 Hz"
    # Several files and --json, parsed back: one object per file, the error of the missing one.
    expect 1 "json" zufinfo --json song.mp3 stereo.aac "$vec/adif_two_pce.adif" missing.aac
    python3 - out.txt <<'EOF' || fail "zufinfo --json output"
import json, sys
files = json.load(open(sys.argv[1]))
assert [f["file"].rsplit("/", 1)[-1] for f in files] == ["song.mp3", "stereo.aac", "adif_two_pce.adif", "missing.aac"]
mp3, aac, adif, missing = files
assert (mp3["format"], mp3["version"], mp3["sample_rate"], mp3["channels"]) == ("MP3", "MPEG-1", 44100, 1)
assert mp3["frames"] == 118
assert (aac["format"], aac["profile"], aac["channels"], aac["crc"], aac["truncated"]) == ("ADTS", "LC", 2, False, False)
assert abs(aac["duration"] - aac["frames"] * 1024 / 44100) < 1e-3
assert (adif["format"], adif["channels"], adif["lfe_channels"]) == ("ADIF", 6, 1)
assert "error" in missing
EOF
    ok "help, version, no banner, MPEG-2.5, several files, --json parsed back"
    ;;
detect)
    # One format detection for both tools: every committed stream and fuzzer reproducer (their
    # first 30000 bytes), and copies with the first bytes destroyed, cut to 1000 bytes, or behind
    # sync-like junk, are
    # taken for the same format (or for none) by zufdec and zufinfo.
    n=0
    for f in "$vec"/*.* "$vec"/aac/*.* "$vec"/mp3/*.* "$src"/fuzz/corpus/*/*; do
        case $f in *.pcm) continue ;; esac
        head -c 30000 "$f" >v0  # detection looks at the start; decoding all of it costs time
        head -c 1000 "$f" >v1
        { head -c 3 /dev/zero; tail -c +4 "$f"; } >v2
        { for i in 1 2 3 4 5 6 7 8; do printf '\377\361\120\200'; done; cat "$f"; } >v3
        for v in v0 v1 v2 v3; do
            zufdec -y -f s16le "$v" /dev/null >/dev/null 2>dec.txt
            zufinfo -j "$v" >info.txt 2>/dev/null
            dec=$(sed -n 's/^zufdec: v.: \(refused: \)\{0,1\}\(AAC (ADTS)\|AAC (ADIF)\|MP4\|MPEG-[0-9.]* Layer [I]*\).*/\2/p' \
                dec.txt | head -1)
            grep -q "no MP3 or AAC stream found" dec.txt && dec=none
            [ -n "$dec" ] || continue  # refused for what the stream holds (a CCE, a cut 'moov'), or no frame
            info=$(sed -n 's/.*"format": "\([A-Z0-9]*\)".*/\1/p; s/.*"error": "\(MP4\).*/\1/p
                s/.*"error": "\(MPEG-[0-9.]* Layer [I]*\) stream.*/\1/p; s/.*"error": "unknown format.*/none/p' info.txt)
            case $dec in "AAC (ADTS)") dec=ADTS ;; "AAC (ADIF)") dec=ADIF ;; *"Layer III") dec=MP3 ;; esac
            [ "$dec" = "$info" ] || fail "$f as $v: zufdec says $dec, zufinfo $info"
            n=$((n + 1))
        done
    done
    [ $n -gt 250 ] || fail "only $n inputs compared"
    ok "zufdec and zufinfo detect $n inputs alike"
    ;;
*)
    fail "unknown section $section"
    ;;
esac
