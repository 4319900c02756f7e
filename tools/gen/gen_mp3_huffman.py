#!/usr/bin/env python3
"""Generates src/mp3/mp3_huff_tables.cpp: the packed Huffman decoding tables of Layer III from
the code tables of ISO/IEC 11172-3 Annex B, Table 3-B.7 (pairs 0..31, count1 A and B).

  gen_mp3_huffman.py [--data DIR] [src/mp3/mp3_huff_tables.cpp]      (input: data/mp3_huffman.txt)

Pair tables. Each table starts with 16 first-level entries indexed by the next 4 stream bits,
followed by a tree area holding the whole code tree in preorder (none for table 1, whose codes
all end within 4 bits). An entry with bit 0 set is a
leaf; bit 0 clear is an inner node, whose 0-child is the next entry and whose 1-child is the node
it references (small tables: node at byte entry >> 1; big tables: at byte offset entry & 0xFFFE,
i.e. entry / 2 entries). A 4-bit prefix that does not finish a code references the tree node
reached after those 4 bits, so a first-level reference always lands on an inner node.

Small tables (1..12, 8-bit entries, values 0..7). First-level leaves, kind = bits 3..1; the
4 looked-up bits may already hold sign bits:
  0  x = signed 2-bit field bits 7..6, y = signed field bits 5..4; 4 bits used
  1  as 0, 3 bits used (one given back)
  2  (0, 0), 2 bits;  3  (0, 0), 1 bit
  4  x = +-2 by one further sign bit, y = 0; 5 bits
  6  x = signed field bits 7..6, y = +-1 by one further sign bit; 5 bits
  5  magnitudes x = bits 7..6, y = bits 5..4, then a sign bit each, x first; 6 bits
Tree leaves: x = bits 7..5, y = bits 4..2.

Big tables (13, 15, 16, 24; 16-bit entries). First-level leaves:
  0  x = signed 4-bit field bits 11..8, y = 0; 4 bits
  1  (0, 0), 3 bits;  3  (0, 0), 1 bit
  4  x = +-1 by one further sign bit, y = 0 (5 bits); 5  x = 0, y = +-1 likewise
  6  x = signed field bits 11..8, y = +-1 by one further sign bit; 5 bits
  7  magnitudes x = bits 11..8, y = bits 7..4 after a 4-bit code; (15, 15) with linbits takes
     x's linbits and sign, then y's; otherwise a sign bit each, x first
Tree leaves: x = bits 9..6, y = bits 5..2.

Count1 table A, by the next 6 bits p: p >= 32 is (0, 0, 0, 0) in 1 bit (not stored);
16 <= p < 32: four signed 2-bit fields (v 7..6, w 5..4, x 3..2, y 1..0), 5 bits; 6 <= p < 16:
an index i, the 7th bit b selects entry i + b with four signed fields, 7 bits; p < 6: entry e,
low 3 bits 2: v = x = 0, w and y +-1 (8 bits); low 3 bits 3: magnitudes v = (e > 63), w = bit 5,
x = bit 4, y = bit 3 and three sign bits (9 bits); otherwise all four +-1 (10 bits).
Count1 table B has no table in this layout: its inverted 4-bit code is the magnitudes.
Signed count1 tables (_pHfQuadSigned[2][1024], the ones the decoder reads; [0] table A, [1] B),
by the next 10 bits, which always hold a whole code with its sign bits (at most 6 + 4): the
length of code and signs in bits 3..0 and v, w, x, y as signed 2-bit fields in bits 11..10,
9..8, 7..6, 5..4, signs applied. One lookup per quadruple, without branches.
Multi-level pair tables (_pHfFast<t>, 16-bit entries), the ones the decoder reads: a root of
2^FAST_ROOT entries indexed by the next FAST_ROOT bits, then subtables. A leaf (bit 15 clear)
holds the code length within its level in bits 4..0, y in bits 8..5 and x in bits 12..9 (sign
bits and linbits follow the code in the stream). A root leaf of a pair whose code and sign bits
fit in the FAST_ROOT looked-up bits (and that needs no linbits) has bit 14 set and holds the
signed values, signs applied: x in bits 13..9 and y in bits 8..4 (two's complement), the length
of code and signs in bits 3..0. A reference (bit 15 set) holds the width w
(1..7) of the subtable in bits 14..12 and its first entry, counted from the table start, in bits
11..0: the decoder takes the bits of the level it leaves and looks up the next w bits there. A
subtable is as wide as the longest rest of a code below it, at most FAST_SUB bits, so no lookup
reads past the end of the longest code.
"""
import cpp_emit as E


def read_tables():
    pairs, quads, linbits, alias = {}, {}, {}, {}
    cur = None
    for fld in E.read_records("mp3_huffman.txt"):
        if fld[0] == "table":
            cur = int(fld[1])
            linbits[cur] = int(fld[3])
            pairs[cur] = {}
            if "codes_of" in fld:
                alias[cur] = int(fld[fld.index("codes_of") + 1])
        elif fld[0] == "count1":
            cur = fld[1]
            quads[cur] = {}
        elif fld[0] in ("A", "B"):
            quads[cur][tuple(int(v) for v in fld[1:5])] = fld[6]
        else:
            x, y, length, code = int(fld[1]), int(fld[2]), int(fld[3]), fld[4]
            assert len(code) == length
            pairs[cur][(x, y)] = code
    return pairs, quads, linbits, alias


class Node:
    def __init__(self):
        self.child = [None, None]
        self.leaf = None


def build_tree(codes):
    root = Node()
    for value, code in codes.items():
        n = root
        for b in code:
            b = int(b)
            if n.child[b] is None:
                n.child[b] = Node()
            n = n.child[b]
        assert n.leaf is None and n.child == [None, None]
        n.leaf = value
    return root


def preorder(root):
    """Nodes in preorder (0-child subtree before the 1-child subtree) with their indexes."""
    order, index = [], {}

    def visit(n):
        index[id(n)] = len(order)
        order.append(n)
        if n.leaf is None:
            assert n.child[0] and n.child[1], "the code tables are complete"
            visit(n.child[0])
            visit(n.child[1])
    visit(root)
    return order, index


def signed_field(v, bits):
    return v & ((1 << bits) - 1)


def first_level_small(codes, p):
    """Entry for the 4-bit prefix p of a small table, or None when no code ends within 4 bits."""
    bits = format(p, "04b")
    for (x, y), code in codes.items():
        if not bits.startswith(code[:4]) or len(code) > 4:
            continue
        rest = bits[len(code):]
        nsign = (x != 0) + (y != 0)
        total = len(code) + nsign
        if total <= 4:
            sx = -1 if (x and rest[0] == "1") else 1
            sy = -1 if (y and rest[(x != 0)] == "1") else 1
            vx, vy = sx * x, sy * y
            assert -2 <= vx <= 1 and -2 <= vy <= 1, (x, y, code)
            kind = {4: 0, 3: 1, 2: 2, 1: 3}[total]
            if kind >= 2:
                assert x == 0 and y == 0
            return (signed_field(vx, 2) << 6) | (signed_field(vy, 2) << 4) | (kind << 1) | 1
        if len(code) == 4 and x == 2 and y == 0:
            return (2 << 6) | (4 << 1) | 1
        if y == 1 and ((len(code) == 3 and x == 1) or (len(code) == 4 and x == 0)):
            vx = -x if (x and rest[0] == "1") else x
            return (signed_field(vx, 2) << 6) | (1 << 4) | (6 << 1) | 1
        assert len(code) == 4 and x and y and x <= 3 and y <= 3, (x, y, code)
        return (x << 6) | (y << 4) | (5 << 1) | 1
    return None


def first_level_big(codes, p, linbits):
    bits = format(p, "04b")
    for (x, y), code in codes.items():
        if not bits.startswith(code[:4]) or len(code) > 4:
            continue
        rest = bits[len(code):]
        nsign = (x != 0) + (y != 0)
        if x == 0 and y == 0:
            kind = {1: 3, 3: 1, 4: 0}[len(code)]
            return (kind << 1) | 1
        if y == 0 and len(code) + nsign == 4:
            vx = -x if rest[0] == "1" else x
            assert -8 <= vx <= 7
            return (signed_field(vx, 4) << 8) | (0 << 1) | 1
        if len(code) == 4 and x == 1 and y == 0:
            return (1 << 8) | (4 << 1) | 1
        if len(code) == 4 and x == 0 and y == 1:
            return (1 << 4) | (5 << 1) | 1
        if len(code) == 3 and x == 1 and y == 1:
            vx = -1 if rest[0] == "1" else 1
            return (signed_field(vx, 4) << 8) | (1 << 4) | (6 << 1) | 1
        assert len(code) == 4 and x and y, (x, y, code)
        assert x != 15 or (y == 15 and linbits > 0)
        return (x << 8) | (y << 4) | (7 << 1) | 1
    return None


def pack_pair_table(codes, big, linbits=0):
    root = build_tree(codes)
    order, index = preorder(root)
    tree = []
    for i, n in enumerate(order):
        if n.leaf is not None:
            x, y = n.leaf
            tree.append(((x << 6) | (y << 2) | 1) if big else ((x << 5) | (y << 2) | 1))
        else:
            ref = index[id(n.child[1])]
            assert index[id(n.child[0])] == i + 1
            tree.append(2 * ref if big else ref << 1)
            assert tree[-1] < (1 << 16 if big else 1 << 8)
    first = []
    for p in range(16):
        e = first_level_big(codes, p, linbits) if big else first_level_small(codes, p)
        if e is None:
            n = root
            for b in format(p, "04b"):
                n = n.child[int(b)]
            assert n.leaf is None
            e = 2 * index[id(n)] if big else index[id(n)] << 1
        first.append(e)
    if all(e & 1 for e in first):
        return first  # every code ends within 4 bits (table 1): no tree area
    return first + tree


FAST_ROOT, FAST_SUB = 9, 5


def pack_fast(codes):
    entries = []

    def build(sub, bits):
        base = len(entries)
        entries.extend([None] * (1 << bits))
        deeper = []
        for p in range(1 << bits):
            s = format(p, f"0{bits}b")
            leaf = [(v, c) for v, c in sub.items() if len(c) <= bits and s.startswith(c)]
            if leaf:
                (x, y), c = leaf[0]
                n = len(c) + (x != 0) + (y != 0)
                if base == 0 and n <= bits and x != 15 and y != 15:
                    signs = iter(s[len(c):n])
                    vx = -x if x and next(signs) == "1" else x
                    vy = -y if y and next(signs) == "1" else y
                    entries[base + p] = 0x4000 | (signed_field(vx, 5) << 9) | (signed_field(vy, 5) << 4) | n
                else:
                    entries[base + p] = len(c) | (y << 5) | (x << 9)
            else:
                deeper.append((p, {v: c[bits:] for v, c in sub.items() if len(c) > bits and c.startswith(s)}))
        for p, rest in deeper:
            w = min(max(len(c) for c in rest.values()), FAST_SUB)
            at = build(rest, w)
            assert at < 4096
            entries[base + p] = 0x8000 | (w << 12) | at
        return base

    build(codes, FAST_ROOT)
    return entries


def pack_count1_a(codes):
    table = [0] * 52
    by_code = {code: v for v, code in codes.items()}
    pair_slot = 32

    def fields(v):
        return sum(signed_field(c, 2) << (6 - 2 * k) for k, c in enumerate(v))

    for p in range(32):
        bits = format(p, "06b")
        if p >= 16:  # 4-bit code, one non-zero value, its sign is the 5th bit
            v = by_code[bits[:4]]
            assert sum(map(abs, v)) == 1
            s = -1 if bits[4] == "1" else 1
            table[p] = fields(tuple(s * c for c in v))
        elif p >= 6:  # 5-bit code, two non-zero values: first sign in p, second the 7th bit
            if p % 2 == 0:
                v = by_code[bits[:5]]
                assert sum(map(abs, v)) == 2
                for s1 in (0, 1):
                    table[p + s1] = pair_slot
                    for s2 in (0, 1):
                        signs = iter([s1, s2])
                        table[pair_slot + s2] = fields(tuple((-c if next(signs) else c) if c else 0 for c in v))
                    pair_slot += 2
        else:  # 6-bit code
            v = by_code[bits]
            n = sum(v)
            if n == 2:
                assert v == (0, 1, 0, 1)
                table[p] = 2
            elif n == 3:
                table[p] = (64 if v[0] else 0) | (v[1] << 5) | (v[2] << 4) | (v[3] << 3) | 3
            else:
                assert n == 4
                table[p] = 0
    assert pair_slot == 52
    return table


def pack_count1_signed(codes):
    table = [None] * 1024
    for v, code in codes.items():
        nz = [k for k in range(4) if v[k]]
        n = len(code) + len(nz)
        for signs in range(1 << len(nz)):
            vals = list(v)
            for j, k in enumerate(nz):
                if signs >> (len(nz) - 1 - j) & 1:  # first sign bit belongs to the first non-zero value
                    vals[k] = -vals[k]
            prefix = int(code, 2) << len(nz) | signs
            entry = n | sum(signed_field(c, 2) << (10 - 2 * k) for k, c in enumerate(vals))
            for rest in range(1 << (10 - n)):
                idx = prefix << (10 - n) | rest
                assert table[idx] is None
                table[idx] = entry
    assert None not in table
    return table


def render():
    pairs, quads, linbits, alias = read_tables()
    assert [linbits[t] for t in range(13, 32)] == [0, 0, 0, 1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13]
    small = {t: pack_pair_table(pairs[t], False) for t in range(1, 13) if pairs[t]}
    big = {t: pack_pair_table(pairs[t], True, linbits[t]) for t in (13, 15, 16, 24)}
    sizes = {t: len(v) for t, v in small.items()}
    assert [sizes[t] for t in (1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12)] == [16, 33, 33, 47, 47, 87, 87, 87, 143, 143, 143]
    assert all(len(v) == 527 for v in big.values())  # 1054 bytes
    qa = pack_count1_a(quads["A"])
    # Count1 table B is the inverted 4-bit magnitude pattern (ISO/IEC 11172-3 Table 3-B.7).
    assert all(code == format(15 - (8 * v + 4 * w + 2 * x + y), "04b") for (v, w, x, y), code in quads["B"].items())

    out = E.stamp("gen_mp3_huffman.py", [
        "Packed Huffman decoding tables of Layer III from ISO/IEC 11172-3 Annex B, Table 3-B.7.",
        "The layout is described in the generator and in mp3_huffman.cpp."])
    out += ['#include "mp3/mp3_tables.h"', ""]
    body = ["namespace {"]
    for t, v in small.items():
        body += E.array(f"const Zuf8u _pHfPTable{t}[{len(v)}]", v, per_line=16, inline=False)
    for t, v in big.items():
        body += E.array(f"const Zuf16u _pHfPTable{t}[{len(v)}]", v, per_line=12, inline=False)
    fast = {t: pack_fast(pairs[t]) for t in list(small) + list(big)}
    for t, v in fast.items():
        body += E.array(f"const Zuf16u _pHfFast{t}[{len(v)}]", v, per_line=12, inline=False)
    body += ["}  // namespace", ""]
    body += E.array("const Zuf8u* const _pHuffmanSmallTables[13]",
                    [f"_pHfPTable{t}" if t in small else "nullptr" for t in range(13)], inline=False)
    body += ["", "// Tables 16..23 share the codes of 16, 25..31 those of 24; they differ in linbits only."]
    names = ["nullptr" if t == 14 else f"_pHfPTable{t if t in (13, 15) else 16 if t < 24 else 24}"
             for t in range(13, 32)]
    body += E.array("const Zuf16u* const _pHuffmanBigTables[19]", names, inline=False)
    body += ["", "// Multi-level tables of pair tables 0..31 (null: 0, 4, 14); 16..23 and 24..31 share theirs."]
    names = ["nullptr" if t not in fast and t < 16 else f"_pHfFast{t if t in fast else 16 if t < 24 else 24}"
             for t in range(32)]
    body += E.array("const Zuf16u* const _pHuffmanFastTables[32]", names, inline=False)
    body += [""] + E.array("const Zuf8u _pHfLinbits[19]", [linbits[t] for t in range(13, 32)])
    body += [""] + E.array("const Zuf8u _pHfQTable0[52]", qa, per_line=13)
    signed = [pack_count1_signed(quads["A"]), pack_count1_signed(quads["B"])]
    body += [""] + E.array("const Zuf16u _pHfQuadSigned[2][1024]", signed, per_line=12)
    body += [""] + E.array("const Zuf32u _pBitsMasks[16]", [(1 << n) - 1 for n in range(16)], E.unsigned)
    byte_sizes = []
    for t in range(32):
        if t in small:
            byte_sizes.append(len(small[t]))
        elif t >= 13 and t != 14:
            byte_sizes.append(1054)
        else:
            byte_sizes.append(0)
    body += [""] + E.array("const Zuf16u _pHfTableBytes[32]", byte_sizes, per_line=16)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
