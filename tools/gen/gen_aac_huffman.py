#!/usr/bin/env python3
"""Generates the AAC Huffman decode trees.

  gen_aac_huffman.py [--data DIR] [SRC_OUT]

The inputs are data/aac_scalefactor_huffman.txt (ISO/IEC 14496-3 Table 4.A.1) and
data/aac_spectral_huffman.txt (Tables 4.A.2 to 4.A.12). SRC_OUT (src/aac/aac_huffman_tables.cpp)
receives the decode trees the decoder walks:

  _pHfTableScf      one byte per node. Inner node: lowest bit 0, the 0-child is the next byte,
                    the 1-child lies (byte >> 1) bytes further on. Leaf: lowest bit 1, the
                    codeword index 0..120 in the upper seven bits.
  _pHfTableSp1..11  one 16-bit node each. Inner node: lowest bit 0, the 0-child is the next
                    node, the 1-child lies (node value) bytes further on (an even count).
                    Leaf: lowest bit 1; quadruple books hold four 3-bit two's-complement values
                    in bits 2-4, 5-7, 8-10, 11-13, pair books two 6-bit ones in bits 2-7, 8-13.

  _pHfFirstSp1..11  128 32-bit entries each, indexed by the next seven bits of the stream: for
                    a codeword of up to seven bits, its leaf node << 4 | its length (bit 4 set,
                    as every leaf's lowest bit is); for a longer one, the position of the
                    inner node those seven bits reach << 5 | 7 (bit 4 clear), where the walk
                    goes on.

Nodes are laid out in preorder (node, its 0-subtree, its 1-subtree), which keeps every 0-child
adjacent to its parent. The tests encode with the codewords of the data files themselves
(tests/support/aac_huffman_codewords.h reads them), never with anything derived from the trees.
"""
import cpp_emit as E

# book: (entries, dimension, unsigned, largest absolute value)
BOOKS = {
    1: (81, 4, False, 1), 2: (81, 4, False, 1), 3: (81, 4, True, 2), 4: (81, 4, True, 2),
    5: (81, 2, False, 4), 6: (81, 2, False, 4), 7: (64, 2, True, 7), 8: (64, 2, True, 7),
    9: (169, 2, True, 12), 10: (169, 2, True, 12), 11: (289, 2, True, 16),
}


def read_records(name, fields):
    recs = E.read_records(name)
    assert all(len(f) == fields for f in recs), name
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


FIRST_BITS = 7


def first_stage(tree):
    """The first FIRST_BITS levels of a spectral tree as one lookup table (see the docstring),
    found by walking the tree exactly as the decoder does."""
    out = []
    for prefix in range(1 << FIRST_BITS):
        pos, n, node = 0, 0, tree[0]
        while (node & 1) == 0 and n < FIRST_BITS:
            bit = (prefix >> (FIRST_BITS - 1 - n)) & 1
            pos += (node >> 1) if bit else 1
            n += 1
            node = tree[pos]
        out.append((node << 4) | n if node & 1 else (pos << 5) | n)
    return out


def render():
    scf = {}
    for idx, length, code in read_records("aac_scalefactor_huffman.txt", 3):
        assert len(code) == int(length)
        scf[int(idx)] = code
    assert sorted(scf) == list(range(121)) and scf[60] == "0"
    check_code(scf)

    codes = {b: {} for b in BOOKS}
    for book, idx, length, code in read_records("aac_spectral_huffman.txt", 4):
        assert len(code) == int(length)
        codes[int(book)][int(idx)] = code
    for b, (entries, _, _, _) in BOOKS.items():
        assert sorted(codes[b]) == list(range(entries)), b
        check_code(codes[b])

    src = E.stamp("gen_aac_huffman.py", [
        "Huffman decode trees of the codebooks of ISO/IEC 13818-7 (ISO/IEC 14496-3 Tables 4.A.1 to",
        "4.A.12) in preorder: every inner node's 0-child is the next node. The scale-factor tree has",
        "one byte per node (1-child (byte >> 1) bytes on; leaf: index << 1 | 1); the spectral trees",
        "16-bit nodes (1-child (node) bytes on; leaf: packed tuple << 2 | 1), each with a first-stage",
        "table of its first seven levels (leaf << 4 | length, or inner node position << 5 | 7)."])
    src += ['#include "aac/aac_huffman_tables.h"', ""]
    body = ["// scale factors: 121 codewords of 1..19 bits, index 60 (difference 0) is the code 0"]
    tree = scf_tree(scf)
    body += E.array(f"const Zuf8u _pHfTableScf[{len(tree)}]", tree, E.right(3), per_line=16)
    for b in BOOKS:
        entries, dim, unsigned, lav = BOOKS[b]
        tree = spectral_tree(b, codes[b])
        longest = max(len(c) for c in codes[b].values())
        kind = "unsigned" if unsigned else "signed"
        body += ["", f"// codebook {b}: {entries} codewords of up to {longest} bits, {kind} "
                 f"{'quadruples' if dim == 4 else 'pairs'}, largest value {lav}"]
        body += E.array(f"const Zuf16u _pHfTableSp{b}[{len(tree)}]", tree, E.hex_int(4), per_line=12)
        body += ["", f"// codebook {b}: the first {FIRST_BITS} levels of its tree, "
                 f"one entry per {FIRST_BITS}-bit prefix"]
        body += E.array(f"const Zuf32u _pHfFirstSp{b}[{1 << FIRST_BITS}]", first_stage(tree), E.hex_int(5),
                        per_line=10)
    src += E.namespace("zuf", body)

    return [E.text(src)]


if __name__ == "__main__":
    E.run(render, __doc__)
