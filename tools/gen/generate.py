#!/usr/bin/env python3
"""Every table generator of tools/gen/ and the committed files it makes, in one list.

  generate.py                 regenerate every file in place (then review `git diff`)
  generate.py --check DIR     generate into DIR (same relative paths) and compare with the
                              committed files byte for byte; names each file that differs and
                              exits 1 if any does
  generate.py --list          print 'generator: outputs' for every generator

Extra arguments after the options select generators by script name (default: all).
Generators read their inputs from tools/gen/data/ only; see cpp_emit.py for the command line
they share.
"""
import filecmp
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

# generator script (in tools/gen/) -> the files it writes, relative to the repository root,
# in the order the script takes them on its command line.
MANIFEST = {
    "gen_aac_band_tables.py": ["src/aac/aac_band_tables.cpp"],
    "gen_aac_fdp_tables.py": ["src/aac/aac_fdp_tables.cpp"],
    "gen_aac_filterbank_tables.py": ["src/aac/aac_filterbank_tables.cpp"],
    "gen_aac_huffman.py": ["src/aac/aac_huffman_tables.cpp"],
    "gen_aac_quant_tables.py": ["src/aac/aac_quant_tables.cpp"],
    "gen_aac_stereo_tables.py": ["src/aac/aac_stereo_tables.cpp"],
    "gen_aac_tns_tables.py": ["src/aac/aac_tns_tables.cpp"],
    "gen_csf_table.py": ["src/frame/csf_tables.cpp"],
    "gen_fft_32sc_tables.py": ["src/transforms/fft_32sc_tables.cpp"],
    "gen_fft_tables.py": ["src/transforms/fft_tables.cpp"],
    "gen_mp3_enc_tables.py": ["src/mp3/mp3_enc_tables.cpp"],
    "gen_mp3_huffman.py": ["src/mp3/mp3_huff_tables.cpp"],
    "gen_mp3_psy_tables.py": ["src/mp3/mp3_psy_tables.cpp"],
    "gen_mp3_pqmf_tables.py": ["src/sbr/mp3_pqmf_tables.cpp"],
    "gen_mp3_huffman_enc.py": ["src/mp3/mp3_huff_enc_tables.cpp"],
    "gen_mp3_quant_tables.py": ["src/mp3/mp3_quant_tables.cpp", "src/frame/pow_tables.cpp"],
    "gen_mp3_tables.py": ["src/mp3/mp3_tables.cpp"],
    "gen_sbr_qmf_float_tables.py": ["src/sbr/sbr_qmf_float_tables.cpp"],
    "gen_sbr_qmf_fixed_tables.py": ["src/sbr/sbr_qmf_fixed_tables.cpp"],
    "gen_sbr_enc_tables.py": ["src/sbr/sbr_enc_tables.cpp"],
    "gen_sbr_enc_tables.py": ["src/sbr/sbr_enc_tables.cpp"],
    "gen_sbr_qmf_float_tables.py": ["src/sbr/sbr_qmf_float_tables.cpp"],
    "gen_sbr_window.py": ["src/sbr/sbr_window_tables.cpp"],
    "gen_spread_tables.py": ["src/vq/spread_tables.cpp"],
    "gen_sbr_tables.py": ["tools/example/sbr_tables.c", "tools/example/sbr_tables.h"],
    "gen_vlc_codebooks.py": ["tools/example/vlc_codebooks.c"],
}


def outputs_of(script):
    return MANIFEST[script]


def generate(script, root):
    """Runs one generator, writing its outputs under root (created as needed)."""
    outs = [os.path.join(root, p) for p in MANIFEST[script]]
    for o in outs:
        os.makedirs(os.path.dirname(o), exist_ok=True)
    subprocess.run([sys.executable, os.path.join(HERE, script)] + outs, check=True)
    return outs


def main(argv):
    check_dir = None
    if argv[:1] == ["--list"]:
        for script, outs in MANIFEST.items():
            print(f"{script}: {' '.join(outs)}")
        return 0
    if argv[:1] == ["--check"]:
        if len(argv) < 2:
            sys.exit(__doc__)
        check_dir, argv = os.path.abspath(argv[1]), argv[2:]
    if any(a.startswith("-") for a in argv) or any(a not in MANIFEST for a in argv):
        sys.exit(__doc__)
    scripts = argv or list(MANIFEST)
    drift = []
    for script in scripts:
        generate(script, check_dir or ROOT)
        if check_dir:
            for rel in MANIFEST[script]:
                committed = os.path.join(ROOT, rel)
                fresh = os.path.join(check_dir, rel)
                if not os.path.exists(committed) or not filecmp.cmp(committed, fresh, shallow=False):
                    drift.append((rel, script, fresh))
    for rel, script, fresh in drift:
        print(f"DRIFT: {rel} differs from what tools/gen/{script} makes now ({fresh});"
              f" compare with: diff -u {rel} {fresh}", file=sys.stderr)
    if check_dir and not drift:
        n = sum(len(MANIFEST[s]) for s in scripts)
        print(f"all {n} generated files match their generators")
    return 1 if drift else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
