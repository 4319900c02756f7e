#!/usr/bin/env bash
# Mutation check of the test suite: applies deliberate single-line faults to a copy of the working
# tree, one at a time, and shows that the tests catch each of them.
#
# The faults are listed in tools/mutate.faults (format described at its top). The script never
# touches the checkout it is run from: it copies the working tree (tracked files and untracked
# files that are not ignored, without build directories) into a temporary directory, configures a
# release build there once (tests, tools and the fuzz harnesses, which run as tests too; no
# benchmarks), builds it, checks that the unmutated suite passes, and then for each fault applies
# it, rebuilds incrementally, runs ctest, records the outcome and restores the file:
#
#   CAUGHT       the build succeeded and at least one test failed (or timed out)
#   MISSED       every test passed: a gap in the tests (or an equivalent mutant)
#   NOT-APPLIED  the anchor was not found, or found more than once, in the file
#   BUILD-ERROR  the mutated tree did not build
#
# It prints a table (id, module, result, first failing test, description) and the summary
# "N caught, M missed"; the exit status is 0 only when every selected fault was caught.
#
# Usage: tools/mutate.sh [options] [SELECTOR...]
#   SELECTOR            a fault id or a module (common, frame, aac, mp3, transforms); shell
#                       globs are allowed (e.g. 'mp3-req-*'). None: every fault.
#   -j, --jobs N        build jobs (default 2)
#   --ctest-jobs N      ctest jobs (default 2)
#   -t, --timeout SEC   per-test timeout; a mutant that hangs counts as caught (default 300)
#   -k, --keep          keep the temporary directory (build tree and per-fault logs)
#   -f, --faults FILE   fault list (default tools/mutate.faults beside this script)
#   --isa NAME          build the copy with -DZUF_ISA=NAME (default: the default build); the
#                       AVX2 build's own code paths have their list: --isa avx2 -f
#                       tools/mutate-avx2.faults
#   -l, --list          list the selected faults and exit
#   -c, --check         only check that every selected anchor occurs exactly once in the
#                       working tree (no copy, no build); exit non-zero otherwise
#   -h, --help          this text
#
# Needs bash, git, cmake, ninja, ctest and python3 (scripts/install-deps.sh installs them).
set -uo pipefail

# Everything runs inside main, which bash reads whole before running it: editing this file (or the
# fault list, which is copied first) while a run is going on cannot disturb that run.
main() {

usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(git -C "$script_dir" rev-parse --show-toplevel 2>/dev/null) || {
    echo "mutate: not inside a git checkout" >&2
    exit 2
}
faults="$script_dir/mutate.faults"
jobs=2
ctest_jobs=2
timeout=300
keep=0
isa=
mode=run
selectors=()

while [ $# -gt 0 ]; do
    case "$1" in
        -j | --jobs) jobs=$2; shift 2 ;;
        --jobs=*) jobs=${1#*=}; shift ;;
        --ctest-jobs) ctest_jobs=$2; shift 2 ;;
        --ctest-jobs=*) ctest_jobs=${1#*=}; shift ;;
        -t | --timeout) timeout=$2; shift 2 ;;
        --timeout=*) timeout=${1#*=}; shift ;;
        -k | --keep) keep=1; shift ;;
        -f | --faults) faults=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
        --isa) isa=$2; shift 2 ;;
        --isa=*) isa=${1#*=}; shift ;;
        -l | --list) mode=list; shift ;;
        -c | --check) mode=check; shift ;;
        -h | --help) usage; exit 0 ;;
        -*) echo "mutate: unknown option $1 (see --help)" >&2; exit 2 ;;
        *) selectors+=("$1"); shift ;;
    esac
done
[ -f "$faults" ] || { echo "mutate: no fault list at $faults" >&2; exit 2; }
for n in "$jobs" "$ctest_jobs" "$timeout"; do
    [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "mutate: '$n' is not a positive number" >&2; exit 2; }
done

# ---------------------------------------------------------------- scratch directory, fault list helper
# Everything goes to one temporary directory: the helper, a copy of the fault list, and in a run
# the copied tree, its build and the logs. It is removed on exit unless --keep is given.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zuf-mutate.XXXXXX") || exit 2
cleanup() {
    if [ "$keep" = 1 ] && [ "$mode" = run ]; then
        echo "mutate: kept $tmp"
    else
        rm -rf "$tmp"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
helper="$tmp/helper.py"
cp "$faults" "$tmp/faults" || exit 2
faults="$tmp/faults"

# python3 does the exact-string work (anchors are full of characters that sed would read as
# syntax): parsing the list, selecting, checking and applying a fault, and copying the tree.
cat >"$helper" <<'PY'
import fnmatch, os, shutil, subprocess, sys

def load(path):
    faults, seen = [], set()
    with open(path, encoding="utf-8") as f:
        for no, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = [p.strip() for p in line.rstrip("\n").split("|||")]
            if len(parts) != 5 or not all(parts[:3]) or not parts[4]:
                sys.exit(f"{path}:{no}: expected 'id ||| file ||| anchor ||| replacement ||| description'")
            fid, file, anchor, repl, desc = parts
            if fid in seen:
                sys.exit(f"{path}:{no}: duplicate id {fid}")
            if anchor == repl:
                sys.exit(f"{path}:{no}: {fid}: the replacement equals the anchor")
            seen.add(fid)
            segs = file.split("/")
            module = segs[1] if len(segs) > 2 and segs[0] == "src" else segs[0]
            faults.append(dict(id=fid, file=file, anchor=anchor, repl=repl, desc=desc, module=module))
    return faults

def select(faults, sels):
    if not sels:
        return faults
    out = [f for f in faults if any(fnmatch.fnmatchcase(f["id"], s) or f["module"] == s for s in sels)]
    unknown = [s for s in sels if not any(fnmatch.fnmatchcase(f["id"], s) or f["module"] == s for f in faults)]
    if unknown:
        sys.exit("no fault matches: " + " ".join(unknown))
    return out

def check(root, f):
    path = os.path.join(root, f["file"])
    if not os.path.isfile(path):
        return None, "file not found"
    text = open(path, encoding="utf-8").read()
    n = text.count(f["anchor"])
    if n == 0:
        return None, "anchor not found"
    if n > 1:
        return None, f"anchor ambiguous ({n} occurrences)"
    return text, ""

cmd, listfile = sys.argv[1], sys.argv[2]
faults = load(listfile)
if cmd == "select":  # id, module, file, description: one tab-separated line per fault
    for f in select(faults, sys.argv[3:]):
        print("\t".join((f["id"], f["module"], f["file"], f["desc"])))
elif cmd == "check":  # root, selectors...
    bad = 0
    for f in select(faults, sys.argv[4:]):
        _, why = check(sys.argv[3], f)
        if why:
            bad += 1
            print(f"{f['id']}: {f['file']}: {why}")
    print(f"{bad} of {len(select(faults, sys.argv[4:]))} anchors unusable" if bad else "every anchor occurs exactly once")
    sys.exit(1 if bad else 0)
elif cmd == "apply":  # root, id, backup: writes the mutant, keeps the original at backup
    root, fid, backup = sys.argv[3:6]
    f = next(x for x in faults if x["id"] == fid)
    text, why = check(root, f)
    if why:
        print(why)
        sys.exit(3)
    path = os.path.join(root, f["file"])
    shutil.copyfile(path, backup)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text.replace(f["anchor"], f["repl"], 1))
elif cmd == "copytree":  # source root, destination: the working tree without build directories
    src, dst = sys.argv[3:5]
    names = subprocess.run(["git", "-C", src, "ls-files", "-co", "--exclude-standard", "-z"],
                           check=True, capture_output=True).stdout.split(b"\0")
    for raw in names:
        name = raw.decode()
        if not name or name.split("/")[0].startswith("build"):
            continue
        s = os.path.join(src, name)
        if not os.path.lexists(s):  # deleted in the working tree
            continue
        d = os.path.join(dst, name)
        os.makedirs(os.path.dirname(d), exist_ok=True)
        shutil.copy2(s, d, follow_symlinks=False)
else:
    sys.exit("unknown helper command " + cmd)
PY

mapfile -t selected < <(python3 "$helper" select "$faults" "${selectors[@]}") || exit 2
[ ${#selected[@]} -gt 0 ] || { echo "mutate: no faults selected" >&2; exit 2; }

if [ "$mode" = list ]; then
    for line in "${selected[@]}"; do
        IFS=$'\t' read -r id module file desc <<<"$line"
        printf '%-22s %-11s %-34s %s\n' "$id" "$module" "$file" "$desc"
    done
    exit 0
fi
if [ "$mode" = check ]; then
    python3 "$helper" check "$faults" "$root" "${selectors[@]}"
    exit $?
fi

# ---------------------------------------------------------------- copy, configure, baseline
start=$SECONDS
src="$tmp/src"
bld="$tmp/build"
logs="$tmp/logs"
mkdir -p "$src" "$logs"
echo "mutate: copying the working tree of $root to $src"
python3 "$helper" copytree "$faults" "$root" "$src" || { echo "mutate: copy failed" >&2; exit 2; }

echo "mutate: configuring and building (release${isa:+, ZUF_ISA=$isa}, tests + tools + fuzz harnesses, -j$jobs)"
if ! cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUF_BUILD_TESTS=ON -DZUF_BUILD_TOOLS=ON \
    -DZUF_BUILD_FUZZ=ON -DZUF_BUILD_BENCH=OFF ${isa:+-DZUF_ISA="$isa"} >"$logs/configure.log" 2>&1; then
    tail -n 30 "$logs/configure.log" >&2
    echo "mutate: configure failed" >&2
    exit 2
fi
if ! cmake --build "$bld" -j "$jobs" >"$logs/build-baseline.log" 2>&1; then
    tail -n 30 "$logs/build-baseline.log" >&2
    echo "mutate: the unmutated tree does not build" >&2
    exit 2
fi

# tables.regenerate is left out: it would flag any edit of a generated table as drift, and a wrong
# table entry must be caught by the behaviour it breaks.
run_ctest() {  # log file; extra ctest arguments
    local log=$1
    shift
    ctest --test-dir "$bld" -j "$ctest_jobs" --timeout "$timeout" --no-tests=error -E '^tables[.]regenerate$' "$@" \
        >"$log" 2>&1
}

echo "mutate: running the unmutated suite"
base_start=$SECONDS
if ! run_ctest "$logs/ctest-baseline.log"; then
    grep -E '\*\*\*|Failed|Timeout' "$logs/ctest-baseline.log" | tail -n 20 >&2
    echo "mutate: the unmutated suite fails; fix that first" >&2
    exit 2
fi
ntests=$(grep -Eo '[0-9]+ tests passed|out of [0-9]+' "$logs/ctest-baseline.log" | grep -Eo '[0-9]+$' | tail -n 1)
echo "mutate: baseline passes (${ntests:-?} tests, $((SECONDS - base_start)) s)"

# Two phases per mutant: the tests that took under a second in the baseline first, the slow ones
# (fuzz harnesses, exhaustive accuracy sweeps) only when all of those pass. ctest lets a running
# test finish after a failure, so a mutant that a quick test catches would otherwise wait for the
# slowest test started before it. Test numbers are stable: mutants do not change the test list.
python3 - "$logs/ctest-baseline.log" "$tmp/fast.tests" "$tmp/slow.tests" <<'PY'
import re, sys
fast, slow = [], []
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    m = re.search(r"Test +#([0-9]+): .* Passed +([0-9.]+) sec", line)
    if m:
        (fast if float(m.group(2)) < 1.0 else slow).append(m.group(1))
for path, ids in ((sys.argv[2], fast), (sys.argv[3], slow)):
    with open(path, "w") as f:
        f.write("0,0,0," + ",".join(ids) + "\n" if ids else "")
PY
phases=()
for ph in fast slow; do
    [ -s "$tmp/$ph.tests" ] && phases+=("$tmp/$ph.tests")
done
[ ${#phases[@]} -gt 0 ] || phases=("")

# The first failing test of a ctest log: its name, with the reason when it is not a plain failure.
first_failure() {
    sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.*(.*\*\*\*.*[^ ]) +[0-9.]+ sec$/\1 \2/p' "$1" | head -n 1 |
        sed -E 's/\*\*\*/ /; s/:$//; s/  +/ /g; s/ Failed$//'
}

# ---------------------------------------------------------------- the faults
declare -a r_id r_mod r_res r_test r_desc r_secs
caught=0
missed=0
other=0
total=${#selected[@]}
i=0
for line in "${selected[@]}"; do
    IFS=$'\t' read -r id module file desc <<<"$line"
    i=$((i + 1))
    t0=$SECONDS
    backup="$tmp/original"
    test_name=""
    if ! why=$(python3 "$helper" apply "$faults" "$src" "$id" "$backup"); then
        result=NOT-APPLIED
        test_name="$why"
        other=$((other + 1))
    else
        if ! cmake --build "$bld" -j "$jobs" >"$logs/$id.build.log" 2>&1; then
            result=BUILD-ERROR
            test_name="see $id.build.log"
            other=$((other + 1))
        else
            result=MISSED
            : >"$logs/$id.ctest.log"
            for ph in "${phases[@]}"; do
                if ! run_ctest "$logs/$id.ctest.part" --stop-on-failure ${ph:+-I "$ph"}; then
                    result=CAUGHT
                fi
                cat "$logs/$id.ctest.part" >>"$logs/$id.ctest.log"
                rm -f "$logs/$id.ctest.part"
                [ "$result" = CAUGHT ] && break
            done
            if [ "$result" = CAUGHT ]; then
                test_name=$(first_failure "$logs/$id.ctest.log")
                [ -n "$test_name" ] || test_name="(ctest failed)"
                caught=$((caught + 1))
            else
                missed=$((missed + 1))
            fi
        fi
        # Restore with a fresh modification time, so that the next build recompiles the file.
        cat "$backup" >"$src/$file"
        rm -f "$backup"
    fi
    r_id+=("$id")
    r_mod+=("$module")
    r_res+=("$result")
    r_test+=("$test_name")
    r_desc+=("$desc")
    r_secs+=($((SECONDS - t0)))
    printf '[%d/%d] %-22s %-11s %4d s  %s\n' "$i" "$total" "$id" "$result" "$((SECONDS - t0))" "$test_name"
done

# ---------------------------------------------------------------- report
echo
printf '%-22s %-11s %-11s %-5s %-52s %s\n' ID MODULE RESULT SECS "FIRST FAILING TEST" DESCRIPTION
for k in "${!r_id[@]}"; do
    printf '%-22s %-11s %-11s %-5s %-52s %s\n' "${r_id[$k]}" "${r_mod[$k]}" "${r_res[$k]}" "${r_secs[$k]}" \
        "${r_test[$k]:--}" "${r_desc[$k]}"
done
echo
echo "mutate: $total faults in $((SECONDS - start)) s"
if [ "$other" -gt 0 ]; then
    echo "$caught caught, $missed missed, $other not applied or not built"
else
    echo "$caught caught, $missed missed"
fi
[ "$missed" -eq 0 ] && [ "$other" -eq 0 ]
}

main "$@"; exit $?  # one line: bash has read it whole before main starts
