#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ from the tests' documented cases.

Each target's input layout is described at the top of its source file. Run
from anywhere; the files are checked in, so this only needs re-running when
a case or a layout changes.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
NAN = float("nan")
INF = float("inf")


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def hlop(flags, mode, tolerance, levels, reserved=(0, 0)):
    data = struct.pack("<Bidii", flags, mode, tolerance, *reserved)
    for price, weight, tag in levels:
        data += struct.pack("<dii", price, weight, tag)
    return data


def hlop_seeds():
    cases = {
        "sort_only": (0, 0.0, [(3.0, 1), (1.0, 2), (2.0, 3)]),
        "mode1_heavier_lower": (1, 0.2, [(1.0, 5), (1.1, 2), (3.0, 1)]),
        "mode0_gap_equals_tolerance": (0, 0.5, [(1.0, 1), (1.5, 2), (5.0, 1)]),
        "mode2_lighter_lower": (2, 0.5, [(2.0, 1), (2.1, 3), (5.0, 1)]),
        "equal_weights": (1, 0.1, [(1.0, 2), (1.05, 2), (9.0, 1)]),
        "equal_gaps": (1, 0.5, [(1.0, 1), (1.5, 2), (2.0, 5), (9.0, 1)]),
        "mode7": (7, 0.5, [(1.0, 1), (1.5, 2), (5.0, 1)]),
        "nan_tolerance": (1, NAN, [(1.0, 1), (5.0, 2), (9.0, 3)]),
        "nan_and_infinities": (1, 0.1, [(1.0, 1), (NAN, 2), (0.5, 3), (INF, 1), (INF, 1)]),
        "mode2_zero_weight_sum": (2, 0.5, [(1.0, 2), (1.1, -2), (1.15, 0)]),
        "int32_limits": (1, 1.0, [(1.0, 2**31 - 1), (1.1, 1), (2.0, -2**31), (2.2, -1)]),
    }
    for name, (mode, tolerance, levels) in cases.items():
        rows = [(p, w, 100 + i) for i, (p, w) in enumerate(levels)]
        write("hlop_fuzz", name, hlop(0, mode, tolerance, rows, (7, -7)))
    # Grid prices (int16 / 8 in the first two bytes).
    grid = [(struct.unpack("<d", struct.pack("<hxxxxxx", g))[0], w, 0)
            for g, w in [(8, 1), (9, 2), (10, 5), (40, 1), (12, 3), (11, 3)]]
    write("hlop_fuzz", "grid_prices", hlop(2, 2, 0.25, grid))
    write("hlop_fuzz", "negative_count", hlop(1, 1, 1.0, [(1.0, 1, 0)]))


def stopwatch_seeds():
    create, start, stop, null = 0, 1, 2, 3

    def ops(*pairs):
        return bytes(b for pair in pairs for b in pair)

    # Two readings from one start, then a release; release flag 256 keeps it.
    write("stopwatch_fuzz", "read_twice_then_release",
          ops((create, 0), (start, 0), (stop, 0), (stop, 0), (stop + 4, 0)))
    write("stopwatch_fuzz", "release_256_keeps",
          ops((create, 1), (start, 1), (stop + 8, 1), (stop, 1), (stop + 4, 1)))
    write("stopwatch_fuzz", "never_started", ops((create, 2), (stop + 4, 2)))
    write("stopwatch_fuzz", "null_handles", ops((null, 0), (null + 4, 0)))
    write("stopwatch_fuzz", "many_live",
          ops(*[(create, i) for i in range(8)], *[(start, i) for i in range(8)],
              *[(stop + 4 * (i % 8), i) for i in range(8)]))


if __name__ == "__main__":
    hlop_seeds()
    stopwatch_seeds()
