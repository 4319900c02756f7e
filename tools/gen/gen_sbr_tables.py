#!/usr/bin/env python3
"""Generates tools/example/sbr_tables.c and sbr_tables.h: the data tables of the example SBR
decoder (ISO/IEC 14496-3 4.6.18 and Annex 4.A).

  gen_sbr_tables.py [--data DIR] [tools/example/sbr_tables.c tools/example/sbr_tables.h]
      (inputs: data/sbr_huffman.txt, data/sbr_noise_table.txt, data/sbr_misc.txt)

Layout:
  - sbr_huff[10]: the ten Huffman books as binary trees, in the order of the SbrBook enum. A
    tree is an array of node pairs {child for bit 0, child for bit 1}; a child >= 0 is the next
    node, a child < 0 a leaf holding index -child - 1 (the difference is index - lav).
  - sbr_noise[512][2]: the noise table V (real, imaginary) as floats.
  - sbr_start_offset[6][16], and per SBR output rate (sbr_rates[]) its offset row, startMin,
    stopMin, goalSb (computed here from their definitions and checked against the data file's
    values) and the largest k2 - k0.
  - small tables: limiter bands per octave, limGain, h_smooth (current slot first), the sinusoid
    phase, newBw by previous and current bs_invf_mode.
The stop channel k2 is computed by the decoder itself; the formula is checked here against the
data file's stop_k2 values.
"""
import math

import cpp_emit as E

SCRIPT = "gen_sbr_tables.py"

BOOKS = [  # (name, lav) in SbrBook order
    ("t_huffman_env_1_5dB", 60), ("f_huffman_env_1_5dB", 60),
    ("t_huffman_env_bal_1_5dB", 24), ("f_huffman_env_bal_1_5dB", 24),
    ("t_huffman_env_3_0dB", 31), ("f_huffman_env_3_0dB", 31),
    ("t_huffman_env_bal_3_0dB", 12), ("f_huffman_env_bal_3_0dB", 12),
    ("t_huffman_noise_3_0dB", 31), ("t_huffman_noise_bal_3_0dB", 12),
]


def nint(x):
    return int(math.floor(x + 0.5))


def tree(entries):
    """Node pairs of the prefix code {codeword: index}."""
    nodes = [[None, None]]
    for code, idx in entries.items():
        n = 0
        for i, b in enumerate(code):
            b = int(b)
            if i == len(code) - 1:
                assert nodes[n][b] is None
                nodes[n][b] = -idx - 1
            else:
                if nodes[n][b] is None:
                    nodes.append([None, None])
                    nodes[n][b] = len(nodes) - 1
                assert nodes[n][b] >= 0
                n = nodes[n][b]
    for pair in nodes:  # a complete code leaves no empty branch
        assert None not in pair
    return nodes


def huffman():
    books = {}
    for name, idx, length, code in E.read_records("sbr_huffman.txt"):
        assert len(code) == int(length)
        books.setdefault(name, {})[code] = int(idx)
    out = []
    for name, lav in BOOKS:
        entries = books[name]
        assert sorted(entries.values()) == list(range(2 * lav + 1)), name
        assert sum(2.0 ** -len(c) for c in entries) == 1.0, name
        out.append((name, lav, tree(entries)))
    return out


def misc():
    m = {}
    for rec in E.read_records("sbr_misc.txt"):
        m.setdefault(rec[0], []).append(rec[1:])
    return m


def rate_values(fs):
    t = 3000 if fs < 32000 else 4000 if fs < 64000 else 5000
    return nint(128 * t / fs), nint(128 * 2 * t / fs), nint(2.048e6 / fs)


def stop_k2(stop_min):
    vk = [nint(stop_min * (64 / stop_min) ** (k / 13)) for k in range(14)]
    dk = sorted(vk[k + 1] - vk[k] for k in range(13))
    return [min(64, stop_min + sum(dk[:s])) for s in range(14)]


def render():
    books = huffman()
    noise = [(float(re), float(im)) for _, re, im in E.read_records("sbr_noise_table.txt")]
    assert len(noise) == 512
    m = misc()
    offsets = [[int(v) for v in r[1:]] for r in sorted(m["start_offset"], key=lambda r: int(r[0]))]
    assert len(offsets) == 6 and all(len(r) == 16 for r in offsets)
    rates = []
    for fs, row, smin, pmin, goal, maxk in m["rate"]:
        fs = int(fs)
        computed = rate_values(fs)
        assert computed == (int(smin), int(pmin), int(goal)), (fs, computed)
        rates.append((fs, int(row)) + computed + (int(maxk),))
    for rec in m["stop_k2"]:
        fs = int(rec[0])
        assert stop_k2(rate_values(fs)[1]) == [int(v) for v in rec[1:]], fs
    one = {k: [float(x) for x in v[0]] for k, v in m.items() if k in ("limiter_bands_per_octave", "lim_gain",
                                                                      "h_smooth", "phi_re", "phi_im")}
    assert abs(sum(one["h_smooth"]) - 1) < 1e-12
    new_bw = [[float(x) for x in r[1:]] for r in sorted(m["new_bw"], key=lambda r: int(r[0]))]
    consts = {r[0]: int(r[1]) for r in m["const"]}
    assert consts == {"NOISE_FLOOR_OFFSET": 6, "RATE": 2, "numTimeSlots": 16, "t_HFGen": 8, "t_HFAdj": 2}

    c = E.stamp(SCRIPT, ["Data tables of the example SBR decoder (ISO/IEC 14496-3 4.6.18, Annex 4.A)."])
    c += ['#include "example/sbr_tables.h"', ""]
    for name, lav, nodes in books:
        pairs = [f"{{{a}, {b}}}" for a, b in nodes]
        c += [f"static const short {name}[{len(nodes)}][2] = {{"] + E.wrap(pairs) + ["};", ""]
    rows = [f"    {{{name}, {lav}}}," for name, lav, _ in books]
    c += ["const SbrHuffBook sbr_huff[SBR_BOOKS] = {"] + rows + ["};", ""]
    c += E.array("const float sbr_noise[512][2]", [[E.hex_float(re), E.hex_float(im)] for re, im in noise]) + [""]
    c += E.array("const signed char sbr_start_offset[6][16]", offsets) + [""]
    c += E.comment("rate, start_offset row, startMin, stopMin, goalSb, largest k2 - k0")
    c += E.array("const SbrRate sbr_rates[SBR_RATES]", [list(r) for r in rates]) + [""]
    for cname, key in (("sbr_limiter_bands_per_octave[3]", "limiter_bands_per_octave"),
                       ("sbr_lim_gain[4]", "lim_gain"), ("sbr_h_smooth[5]", "h_smooth"), ("sbr_phi_re[4]", "phi_re"),
                       ("sbr_phi_im[4]", "phi_im")):
        c += E.array(f"const double {cname}", one[key], E.double)
    c += E.array("const double sbr_new_bw[4][4]", new_bw, E.double)

    h = E.stamp(SCRIPT, ["Data tables of the example SBR decoder (ISO/IEC 14496-3 4.6.18, Annex 4.A)."])
    h += ["#ifndef ZUF_EXAMPLE_SBR_TABLES_H", "#define ZUF_EXAMPLE_SBR_TABLES_H", ""]
    h += ["/* Huffman books, in sbr_huff[] order */", "enum {"]
    h += [f"    SBR_{name.upper().replace('HUFFMAN_', '')}," for name, _, _ in books] + ["    SBR_BOOKS", "};", ""]
    h += ["/* A tree of node pairs: child >= 0 the next node, < 0 the leaf of index -child - 1 (value index - lav). */",
          "typedef struct {", "    const short (*tree)[2];", "    int lav;", "} SbrHuffBook;", ""]
    h += ["typedef struct {", "    int fs, offset_row, start_min, stop_min, goal_sb, max_k2_k0;", "} SbrRate;", ""]
    h += [f"#define SBR_RATES {len(rates)}", ""]
    h += ["extern const SbrHuffBook sbr_huff[SBR_BOOKS];",
          "extern const float sbr_noise[512][2];          /* V: real, imaginary */",
          "extern const signed char sbr_start_offset[6][16];",
          "extern const SbrRate sbr_rates[SBR_RATES];",
          "extern const double sbr_limiter_bands_per_octave[3]; /* bs_limiter_bands 1..3 */",
          "extern const double sbr_lim_gain[4];",
          "extern const double sbr_h_smooth[5]; /* current slot first */",
          "extern const double sbr_phi_re[4];",
          "extern const double sbr_phi_im[4];",
          "extern const double sbr_new_bw[4][4]; /* [previous bs_invf_mode][current] */", "",
          "#endif /* ZUF_EXAMPLE_SBR_TABLES_H */"]
    for line in c + h:
        assert len(line) <= E.WIDTH, line
    return [E.text(c), E.text(h)]


if __name__ == "__main__":
    E.run(render, __doc__)
