"""Prints the goal ratios of the native build and of each Windows DLL side by
side, from the "ratio <key> <value> <numerator s> <denominator s>" lines of
bench/ratios.cpp, with each DLL's cost against the native build: its ratio
over the native one (the native one over its own for a ratio that should be
high). Goal: at most 1.3 for every ratio of each DLL.

Usage: ratio_table.py NATIVE.txt X86.txt X64.txt
"""
import sys

WHAT = {
    "hlop_vs_stable_sort": ("Hlop 1,000,000 / stable_sort", True),
    "hlop_signed_vs_stable_sort": ("Hlop signed, mode 2 / stable_sort", True),
    "reference_vs_hlop": ("reference / Hlop, 10,000", False),
    "check_level_vs_sum": ("CheckLevel 1,000,000 / vector sum", True),
    "check_level_unsorted_vs_sum": ("CheckLevel unsorted / vector sum", True),
    "resize_vs_loop": ("Resize 1,000,000 / multiply loop", True),
    "up_fractal_guard": ("CheckUpFractal d2 / unguarded", True),
    "check_level_guard": ("CheckLevel 8 / unguarded", True),
}
LIMIT = 1.3


def read(path):
    ratios = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 5 and parts[0] == "ratio":
                ratios[parts[1]] = (float(parts[2]), float(parts[3]), float(parts[4]))
    return ratios


def main():
    native, x86, x64 = (read(p) for p in sys.argv[1:4])
    if not native:
        sys.exit("no ratios from the native build")
    print(f"{'ratio':36} {'native':>9} {'x86':>9} {'x64':>9} {'x86 cost':>9} {'x64 cost':>9}")
    above = []
    for key, (what, lower_is_better) in WHAT.items():
        row = [native.get(key), x86.get(key), x64.get(key)]
        cells = [f"{r[0]:9.2f}" if r else f"{'-':>9}" for r in row]
        costs = []
        for name, r in (("x86", row[1]), ("x64", row[2])):
            if not r or not row[0]:
                costs.append(f"{'-':>9}")
                continue
            cost = r[0] / row[0][0] if lower_is_better else row[0][0] / r[0]
            mark = "!" if cost > LIMIT else " "
            if cost > LIMIT:
                above.append(f"{name} {what}: {cost:.2f}")
            costs.append(f"{cost:8.2f}{mark}")
        print(f"{what:36} {' '.join(cells)} {' '.join(costs)}")
    print(f"cost: the DLL's ratio against the native one, goal <= {LIMIT}"
          " (! above it; see docs/performance.md)")
    for line in above:
        print("  above the goal:", line)


if __name__ == "__main__":
    main()
