#!/usr/bin/env python3
"""Generates src/mp3/mp3_huff_enc_tables.cpp: the Huffman code tables of the Layer III encoder,
from the same code tables of ISO/IEC 11172-3 Annex B, Table 3-B.7 that the decoder's packed
tables are made of (read by gen_mp3_huffman.py).

  gen_mp3_huffman_enc.py [--data DIR] [src/mp3/mp3_huff_enc_tables.cpp]   (input: data/mp3_huffman.txt)

Code tables. _pHuffmanCodeN holds, for every value pair of table N, two unsigned 16-bit words:
the code word (right-aligned; the longest codes, 19 bits in table 13, begin with enough zeros
that every value fits 16 bits) and its length. Pair (x, y) is entry x * xlen + y, xlen being the
values per axis. Tables 16..23 share the codes of 16, 24..31 those of 24 (they differ in
linbits); 0, 4 and 14 have no codes. _pHuffmanCode32 and _pHuffmanCode33 are the count1 tables
A and B, quadruple (v, w, x, y) of magnitudes 0 or 1 at entry 8v + 4w + 2x + y. Sign bits are
not part of the codes.

pHf_table: 34 entries, tables 0..31 then count1 A and B: {xlen, linbits, 2^linbits for tables
16..31 (else 0), code table} (xlen 0 and a null code table for 0, 4 and 14; xlen 2 for A and B).
Packed lengths, for counting bits. The tables that the bit count weighs against each other share
their xlen: 1; 2, 3; 5, 6; 7, 8, 9; 10, 11, 12; 13, 15; and the escape codes of 16 and 24. Per
group and value pair, _pHuffmanLenPacked holds one unsigned 64-bit word with a 16-bit field per
table of the group (in that order): the code length plus the sign bits of the pair (one per
non-zero value); the top field counts the values of 15 (the escapes, in tables 16..31). Sums over
a region's pairs stay within the fields (288 pairs of at most 21 bits). pHfPacked[t] gives table
t's group (offset into _pHuffmanLenPacked) and field; tables 17..23 and 25..31 read 16's and 24's.
"""
import cpp_emit as E
import gen_mp3_huffman

SCRIPT = "gen_mp3_huffman_enc.py"


def code_table(codes, xlen):
    words = []
    for x in range(xlen):
        for y in range(xlen):
            code = codes[(x, y)]
            assert int(code, 2) < 1 << 16 and len(code) <= 19
            words += [int(code, 2), len(code)]
    return words


def render():
    pairs, quads, linbits, alias = gen_mp3_huffman.read_tables()
    own = [t for t in range(32) if pairs[t]]
    assert own == [1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24]
    xlen = {t: max(x for x, _ in pairs[t]) + 1 for t in own}
    tables = {t: code_table(pairs[t], xlen[t]) for t in own}
    for name, key in ((32, "A"), (33, "B")):
        q = quads[key]
        tables[name] = sum(([int(q[v], 2), len(q[v])] for v in sorted(q, key=lambda v: 8 * v[0] + 4 * v[1] +
                                                                        2 * v[2] + v[3])), [])
        assert len(tables[name]) == 32

    out = E.stamp(SCRIPT, [
        "Huffman code tables of the Layer III encoder, ISO/IEC 11172-3 Annex B, Table 3-B.7: (code word,",
        "length) per value pair (entry x * xlen + y) or count1 quadruple (entry 8v + 4w + 2x + y).",
        "The layout is described in the generator and in mp3_huff_encode.h."])
    out += ['#include "mp3/mp3_huff_encode.h"', ""]
    body = []
    for t, v in tables.items():
        n = len(v) // 2
        what = f"count1 table {'A' if t == 32 else 'B'}" if t >= 32 else f"{xlen[t]} x {xlen[t]} pairs"
        body += [f"// {what}"]
        body += E.array(f"const Zuf16u _pHuffmanCode{t}[2 * {n}]", v, per_line=16, inline=False) + [""]

    def entry(t):
        if t >= 32:
            return f"{{2, 0, 0, _pHuffmanCode{t}}}"
        src = alias.get(t, t)
        if not pairs[src]:
            return "{0, 0, 0, nullptr}"
        lb = linbits[t]
        return f"{{{xlen[src]}, {lb}, {1 << lb if t >= 16 else 0}, _pHuffmanCode{src}}}"

    groups = [(1,), (2, 3), (5, 6), (7, 8, 9), (10, 11, 12), (13, 15), (16, 24)]
    packed, where = [], {}
    for g in groups:
        n = xlen[g[0]]
        assert all(xlen[t] == n for t in g)
        for f, t in enumerate(g):
            where[t] = (len(packed), f)
        for x in range(n):
            for y in range(n):
                word = sum((tables[t][2 * (x * n + y) + 1] + (x != 0) + (y != 0)) << (16 * f) for f, t in enumerate(g))
                packed.append(word + (((x == 15) + (y == 15)) << 48))
    for t in range(17, 32):
        if t != 24:
            where[t] = where[alias[t]]
    body += ["// Code lengths plus sign bits of the value pairs, by group of tables of one xlen (16-bit fields)."]
    body += E.array(f"const Zuf64u _pHuffmanLenPacked[{len(packed)}]", packed, fmt=lambda v: f"0x{v:016X}u",
                    per_line=4, inline=False) + [""]
    body += ["// Tables 0..31: {offset of the group in _pHuffmanLenPacked, field} (tables without codes: {0, 0})."]
    body += ["const Mp3HuffmanPacked pHfPacked[32] = {"]
    body += E.wrap([f"{{{where[t][0]}, {where[t][1]}}}" if t in where else "{0, 0}" for t in range(32)], per_line=8)
    body += ["};", ""]
    body += ["// Tables 0..31, then count1 A (32) and B (33): {xlen, linbits, 2^linbits (16..31), codes}."]
    body += ["const Mp3HuffmanEncTable pHf_table[34] = {"]
    body += E.wrap([entry(t) for t in range(34)], per_line=4)
    body += ["};"]
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
