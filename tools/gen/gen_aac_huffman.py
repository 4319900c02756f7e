#!/usr/bin/env python3
"""Generates the AAC Huffman decode trees and a plain codeword table for the tests.

  gen_aac_huffman.py TABLES_DIR SRC_OUT TEST_OUT

TABLES_DIR holds aac_scalefactor_huffman.txt (ISO/IEC 14496-3 Table 4.A.1) and
aac_spectral_huffman.txt (Tables 4.A.2 to 4.A.12). SRC_OUT (src/aac/aac_huffman_tables.cpp)
receives the decode trees the decoder walks:

  _pHfTableScf      one byte per node. Inner node: lowest bit 0, the 0-child is the next byte,
                    the 1-child lies (byte >> 1) bytes further on. Leaf: lowest bit 1, the
                    codeword index 0..120 in the upper seven bits.
  _pHfTableSp1..11  one 16-bit node each. Inner node: lowest bit 0, the 0-child is the next
                    node, the 1-child lies (node value) bytes further on (an even count).
                    Leaf: lowest bit 1; quadruple books hold four 3-bit two's-complement values
                    in bits 2-4, 5-7, 8-10, 11-13, pair books two 6-bit ones in bits 2-7, 8-13.

Nodes are laid out in preorder (node, its 0-subtree, its 1-subtree), which keeps every 0-child
adjacent to its parent. TEST_OUT (tests/support/aac_huffman_codewords.h) receives the codewords
themselves, (length, code) by index, so that the tests encode with the standard's codes directly
instead of with anything derived from the trees.
"""
import os
import sys

# book: (entries, dimension, unsigned, largest absolute value)
BOOKS = {
    1: (81, 4, False, 1), 2: (81, 4, False, 1), 3: (81, 4, True, 2), 4: (81, 4, True, 2),
    5: (81, 2, False, 4), 6: (81, 2, False, 4), 7: (64, 2, True, 7), 8: (64, 2, True, 7),
    9: (169, 2, True, 12), 10: (169, 2, True, 12), 11: (289, 2, True, 16),
}


def read_records(path, fields):
    recs = []
    for line in open(path):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        f = line.split()
        assert len(f) == fields, line
        recs.append(f)
    return recs


def check_code(codes):
    """codes: {index: bitstring}. Prefix-free and complete (Kraft sum exactly 1)."""
    from fractions import Fraction
    assert sum(Fraction(1, 2 ** len(c)) for c in codes.values()) == 1
    s = sorted(codes.values())
    assert all(not b.startswith(a) for a, b in zip(s, s[1:]))


def build_trie(codes):
    root = {}
    for idx, c in codes.items():
        node = root
        for b in c[:-1]:
            node = node.setdefault(b, {})
            assert isinstance(node, dict)
        assert c[-1] not in node
        node[c[-1]] = idx
    return root


def preorder(trie):
    """Flattens the trie: list of ('leaf', index) or ('inner', position of the 1-child)."""
    out = []

    def emit(node):
        pos = len(out)
        if not isinstance(node, dict):
            out.append(("leaf", node))
            return
        out.append(None)
        emit(node["0"])
        one = len(out)
        emit(node["1"])
        out[pos] = ("inner", one - pos)
    emit(trie)
    return out


def values_of(book, idx):
    entries, dim, unsigned, lav = BOOKS[book]
    mod, off = (lav + 1, 0) if unsigned else (2 * lav + 1, lav)
    vals = []
    for k in range(dim - 1, -1, -1):
        d = idx // mod ** k
        idx -= d * mod ** k
        vals.append(d - off)
    return vals


def twos(v, width):
    assert -(1 << (width - 1)) <= v < (1 << (width - 1)), (v, width)
    return v & ((1 << width) - 1)


def scf_tree(codes):
    nodes = preorder(build_trie(codes))
    assert len(nodes) == 241
    out = []
    for kind, v in nodes:
        if kind == "leaf":
            out.append((v << 1) | 1)
        else:
            assert 1 <= v <= 127, v
            out.append(v << 1)
    return out


def spectral_tree(book, codes):
    entries, dim, _, _ = BOOKS[book]
    nodes = preorder(build_trie(codes))
    assert len(nodes) == 2 * entries - 1
    assert nodes[0][0] == "inner"
    out = []
    for kind, v in nodes:
        if kind == "inner":
            assert 2 * v < 65536
            out.append(2 * v)
            continue
        vals = values_of(book, v)
        word = 1
        if dim == 4:
            for i, x in enumerate(vals):
                word |= twos(x, 3) << (2 + 3 * i)
        else:
            for i, x in enumerate(vals):
                word |= twos(x, 6) << (2 + 6 * i)
        out.append(word)
    return out


def wrap(values, fmt, per_line):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(fmt(v) for v in values[i:i + per_line]) + ",")
    return lines


def main(tables_dir, src_out, test_out):
    scf = {}
    for idx, length, code in read_records(os.path.join(tables_dir, "aac_scalefactor_huffman.txt"), 3):
        assert len(code) == int(length)
        scf[int(idx)] = code
    assert sorted(scf) == list(range(121)) and scf[60] == "0"
    check_code(scf)

    codes = {b: {} for b in BOOKS}
    for book, idx, length, code in read_records(os.path.join(tables_dir, "aac_spectral_huffman.txt"), 4):
        assert len(code) == int(length)
        codes[int(book)][int(idx)] = code
    for b, (entries, _, _, _) in BOOKS.items():
        assert sorted(codes[b]) == list(range(entries)), b
        check_code(codes[b])

    src = []
    w = src.append
    w("// Generated by tools/gen/gen_aac_huffman.py from the Huffman codebooks of ISO/IEC 13818-7")
    w("// (ISO/IEC 14496-3 Tables 4.A.1 to 4.A.12). Do not edit.")
    w("//")
    w("// Decode trees in preorder: every inner node's 0-child is the next node. The scale-factor")
    w("// tree has one byte per node (1-child (byte >> 1) bytes on; leaf: index << 1 | 1); the")
    w("// spectral trees 16-bit nodes (1-child (node) bytes on; leaf: packed tuple << 2 | 1).")
    w('#include "aac/aac_huffman_tables.h"')
    w("")
    w("namespace zuf {")
    w("")
    tree = scf_tree(scf)
    w(f"// scale factors: 121 codewords of 1..19 bits, index 60 (difference 0) is the code 0")
    w(f"const Zuf8u _pHfTableScf[{len(tree)}] = {{")
    src.extend(wrap(tree, lambda v: f"{v:3d}", 16))
    w("};")
    for b in BOOKS:
        entries, dim, unsigned, lav = BOOKS[b]
        tree = spectral_tree(b, codes[b])
        longest = max(len(c) for c in codes[b].values())
        kind = "unsigned" if unsigned else "signed"
        w("")
        w(f"// codebook {b}: {entries} codewords of up to {longest} bits, {kind} {'quadruples' if dim == 4 else 'pairs'}, "
          f"largest value {lav}")
        w(f"const Zuf16u _pHfTableSp{b}[{len(tree)}] = {{")
        src.extend(wrap(tree, lambda v: f"0x{v:04x}", 12))
        w("};")
    w("")
    w("}  // namespace zuf")

    tst = []
    t = tst.append
    t("// Generated by tools/gen/gen_aac_huffman.py: the Huffman codewords of ISO/IEC 13818-7")
    t("// (ISO/IEC 14496-3 Tables 4.A.1 to 4.A.12) as plain (length, code) pairs by codeword index,")
    t("// the code right-aligned, first transmitted bit most significant. Do not edit.")
    t("#pragma once")
    t("")
    t("#include <cstdint>")
    t("")
    t("namespace zuft::aac {")
    t("")
    t("struct Codeword {")
    t("    int len;")
    t("    uint32_t code;")
    t("};")
    t("")
    t("// scale-factor codebook, index = difference + 60")
    t("inline constexpr Codeword kScfCodes[121] = {")
    tst.extend(wrap([scf[i] for i in range(121)], lambda c: f"{{{len(c)}, 0x{int(c, 2):x}}}", 6))
    t("};")
    for b in BOOKS:
        t("")
        t(f"inline constexpr Codeword kSpectralCodes{b}[{BOOKS[b][0]}] = {{")
        tst.extend(wrap([codes[b][i] for i in range(BOOKS[b][0])], lambda c: f"{{{len(c)}, 0x{int(c, 2):x}}}", 6))
        t("};")
    t("")
    t("// by codebook number; entry 0 is unused")
    t("inline constexpr const Codeword* kSpectralCodes[12] = {")
    t("    nullptr, " + ", ".join(f"kSpectralCodes{b}" for b in BOOKS) + ",")
    t("};")
    t("inline constexpr int kSpectralEntries[12] = {0, " + ", ".join(str(BOOKS[b][0]) for b in BOOKS) + "};")
    t("")
    t("}  // namespace zuft::aac")

    with open(src_out, "w") as f:
        f.write("\n".join(src) + "\n")
    with open(test_out, "w") as f:
        f.write("\n".join(tst) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
