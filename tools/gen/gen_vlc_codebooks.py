#!/usr/bin/env python3
"""Generates tools/example/vlc_codebooks.c: the AAC and MP3 Huffman codes in the input format of
the escape-block builder (tools/example/vlc_build.h), from the same code tables as the library's
own decoders.

  gen_vlc_codebooks.py [--data DIR] [tools/example/vlc_codebooks.c]
      (inputs: data/aac_spectral_huffman.txt, data/aac_scalefactor_huffman.txt, data/mp3_huffman.txt)

Every book is a list of VlcCodeword {x, y, code, length} (code right-aligned) plus how its pair is
read (VlcCodebook in tools/example/vlc_codebooks.h). The engine codes pairs, so:
  - pair books (AAC 5..11, MP3 big-value tables 1..31): (x, y) as in the standard; the unsigned
    ones (AAC 7..11, MP3) list magnitudes with sign_bits 1: a sign bit per non-zero value follows
    the codeword;
  - quadruple books (AAC 1..4, MP3 count1 A and B): the four values v0..v3 travel as the pair
    x = v0 * R + v1, y = v2 * R + v3 with R = 2 LAV + 1; the unsigned ones (AAC 3 and 4, count1)
    are listed once per sign combination, the codeword followed by the sign bits of the non-zero
    values in order (ISO/IEC 13818-7 8.3.3, ISO/IEC 11172-3 2.4.2.7), so every quadruple book is
    signed (sign_bits 0) and its pairs stay within -12..12, clear of the escape values;
  - the scale-factor book: index i (difference i - 60) as the pair (i / 11, i % 11).
MP3 tables 17..23 and 25..31 share the codewords of 16 and 24 and differ in linbits; tables 0, 4
and 14 are empty.
"""
import cpp_emit as E
import gen_mp3_huffman

SCRIPT = "gen_vlc_codebooks.py"


def bits(code):
    return int(code, 2), len(code)


def aac_books():
    books = {}
    params = {1: (4, True, 1), 2: (4, True, 1), 3: (4, False, 2), 4: (4, False, 2), 5: (2, True, 4),
              6: (2, True, 4), 7: (2, False, 7), 8: (2, False, 7), 9: (2, False, 12), 10: (2, False, 12),
              11: (2, False, 16)}
    for book, idx, length, code in E.read_records("aac_spectral_huffman.txt"):
        book, idx, length = int(book), int(idx), int(length)
        assert len(code) == length
        books.setdefault(book, []).append((idx, code))
    out = {}
    for book, entries in books.items():
        dim, signed, lav = params[book]
        mod, off = (2 * lav + 1, lav) if signed else (lav + 1, 0)
        words = []
        for idx, code in entries:
            vals, r = [], idx
            for k in range(dim):
                div = mod ** (dim - 1 - k)
                vals.append(r // div - off)
                r %= div
            if dim == 2:
                words.append((vals[0], vals[1], code))
            else:
                words += quads(vals, code, signed, lav)
        out[book] = words
    return out


def quads(vals, code, signed, lav):
    """A quadruple as packed signed pairs, one per sign combination for an unsigned book."""
    r = 2 * lav + 1
    nz = [k for k in range(4) if vals[k] != 0]
    combos = [()] if signed else [tuple((s >> (len(nz) - 1 - j)) & 1 for j in range(len(nz)))
                                  for s in range(1 << len(nz))]
    words = []
    for signs in combos:
        v = list(vals)
        for k, s in zip(nz, signs):
            if s:
                v[k] = -v[k]
        words.append((v[0] * r + v[1], v[2] * r + v[3], code + "".join(str(s) for s in signs)))
    return words


def scalefactor_book():
    words = []
    for idx, length, code in E.read_records("aac_scalefactor_huffman.txt"):
        assert len(code) == int(length)
        words.append((int(idx) // 11, int(idx) % 11, code))
    return words


def mp3_books():
    # The same reader as the library's MP3 decode trees: one parse of the standard's tables.
    pair_codes, quad_codes, linbits, alias = gen_mp3_huffman.read_tables()
    pairs = {t: [(x, y, code) for (x, y), code in p.items()] for t, p in pair_codes.items()}
    quad = {k: [w for v, code in q.items() for w in quads(list(v), code, False, 1)] for k, q in quad_codes.items()}
    return pairs, quad, linbits, alias


def word_array(name, words):
    items = [f"{{{x}, {y}, 0x{bits(c)[0]:x}u, {bits(c)[1]}}}" for x, y, c in words]
    return [f"static const VlcCodeword {name}[{len(words)}] = {{"] + E.wrap(items) + ["};", ""]


def book(words_name, count, sign_bits, dim, radix, lav, linbits):
    words = words_name if count else "NULL"
    return f"{{{{{words}, {count}, {sign_bits}}}, {dim}, {radix}, {lav}, {linbits}}}"


def render():
    aac = aac_books()
    aac_params = {1: (4, 3, 1), 2: (4, 3, 1), 3: (4, 5, 2), 4: (4, 5, 2), 5: (2, 0, 4), 6: (2, 0, 4),
                  7: (2, 0, 7), 8: (2, 0, 7), 9: (2, 0, 12), 10: (2, 0, 12), 11: (2, 0, 16)}
    unsigned_pairs = {7, 8, 9, 10, 11}
    sf = scalefactor_book()
    pairs, quad, linbits, alias = mp3_books()

    lines = E.stamp(SCRIPT, ["The AAC and MP3 Huffman codes in the escape-block builder's input format; the packing of",
                             "quadruples and scale factors into pairs is described in vlc_codebooks.h."])
    lines += ["#include \"example/vlc_codebooks.h\"", "", "#include <stddef.h>", ""]
    for b in range(1, 12):
        lines += word_array(f"aac_sp{b}", aac[b])
    lines += word_array("aac_sf", sf)
    for t in sorted(pairs):
        if pairs[t]:
            lines += word_array(f"mp3_t{t}", pairs[t])
    for q in ("A", "B"):
        lines += word_array(f"mp3_c1{q}", quad[q])

    rows = [book("NULL", 0, 0, 0, 0, 0, 0)]
    for b in range(1, 12):
        dim, radix, lav = aac_params[b]
        rows.append(book(f"aac_sp{b}", len(aac[b]), int(b in unsigned_pairs), dim, radix, lav, 0))
    lines += ["const VlcCodebook vlc_aac_spectral[12] = {"] + [f"    {r}," for r in rows] + ["};", ""]
    lines += [f"const VlcCodebook vlc_aac_scalefactor = {book('aac_sf', len(sf), 0, 1, 11, 60, 0)};", ""]
    rows = []
    for t in range(32):
        src = alias.get(t, t)
        n = len(pairs[src])
        lav = 0 if not n else 15 if t >= 13 else max(x for x, _, _ in pairs[src])
        rows.append(book(f"mp3_t{src}", n, 1, 2, 0, lav, linbits[t]))
    lines += ["const VlcCodebook vlc_mp3_pairs[32] = {"] + [f"    {r}," for r in rows] + ["};", ""]
    rows = [book(f"mp3_c1{q}", len(quad[q]), 0, 4, 3, 1, 0) for q in ("A", "B")]
    lines += ["const VlcCodebook vlc_mp3_count1[2] = {"] + [f"    {r}," for r in rows] + ["};"]
    for line in lines:
        assert len(line) <= E.WIDTH, line
    return [E.text(lines)]


if __name__ == "__main__":
    E.run(render, __doc__)
