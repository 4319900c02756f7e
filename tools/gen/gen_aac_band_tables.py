#!/usr/bin/env python3
"""Generates src/aac/aac_band_tables.cpp: the scale-factor band offsets (swb_offset) of
ISO/IEC 13818-7 / 14496-3 for long (1024-line) and short (128-line) windows, all 12 sampling
frequency indices, from the standard's published data (data/aac_swb_offsets.txt).

usage: gen_aac_band_tables.py [--data DIR] [src/aac/aac_band_tables.cpp]
"""
import cpp_emit as E


def read_tables():
    tables = {"long": {}, "short": {}}
    for f in E.read_records("aac_swb_offsets.txt"):
        kind, idx, rate, num = f[0], int(f[1]), int(f[2]), int(f[3])
        offs = [int(x) for x in f[4:]]
        assert len(offs) == num + 1, f
        assert offs[0] == 0 and offs[-1] == (1024 if kind == "long" else 128), f
        assert all(a < b for a, b in zip(offs, offs[1:])), f
        tables[kind][idx] = (rate, offs)
    assert sorted(tables["long"]) == list(range(12)) and sorted(tables["short"]) == list(range(12))
    return tables


def render():
    tables = read_tables()
    out = E.stamp("gen_aac_band_tables.py", [
        "Scale-factor band offsets of ISO/IEC 13818-7 and ISO/IEC 14496-3 by sampling_frequency_index,",
        "long (1024-line) and short (128-line) windows."])
    out += ['#include "aac/aac_band_tables.h"', ""]
    body = ["namespace {", ""]
    for kind in ("long", "short"):
        for idx in range(12):
            rate, offs = tables[kind][idx]
            body.append(f"// {rate} Hz, {len(offs) - 1} bands")
            body += E.array(f"constexpr Zuf16s kSwb{kind.capitalize()}{idx}[{len(offs)}]", offs, inline=False)
    body += ["", "}  // namespace", ""]
    for kind in ("long", "short"):
        body += E.array(f"const Zuf16s* const _pAACSwbOffsetTable{kind.capitalize()}[12]",
                        [f"kSwb{kind.capitalize()}{i}" for i in range(12)], inline=False)
    for kind in ("long", "short"):
        body += E.array(f"const Zuf16s _pAACNumSwbTable{kind.capitalize()}[12]",
                        [len(tables[kind][i][1]) - 1 for i in range(12)], inline=False)
    out += E.namespace("zuf", body)
    return [E.text(out)]


if __name__ == "__main__":
    E.run(render, __doc__)
