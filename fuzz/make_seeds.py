#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/ from the tests' documented cases.

Each target's input layout is described at the top of its source file. Run
from anywhere; the files are checked in, so this only needs re-running when
a case or a layout changes.
"""
import gzip
import math
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


def hlop(flags, mode, tolerance, levels, reserved=(0, 0), long=None):
    data = struct.pack("<Bidii", flags, mode, tolerance, *reserved)
    if long is not None:  # (extra levels beyond 2048, price step per repetition)
        data += struct.pack("<Hd", *long)
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
    # Long inputs: thousands of levels from a few, so that long runs sort
    # the way only they do.
    spread = [(0.0, 1, 0), (0.3, 2, 0), (0.1, 3, 0), (0.2, 1, 0)]
    write("hlop_long_fuzz", "ascending", hlop(0, 1, 0.05, spread, long=(100, 0.5)))
    write("hlop_long_fuzz", "descending", hlop(2, 2, 0.15, spread, long=(1000, -0.25)))
    write("hlop_long_fuzz", "equal_prices", hlop(0, 0, 0.0, spread, long=(0, 0.0)))
    write("hlop_long_fuzz", "split_by_nan",
          hlop(0, 1, 0.5, spread + [(NAN, 1, 0)] + spread, long=(1023, 1.0)))


def check_level_seeds():
    def case(name, price, tolerance, levels, flags=0):
        data = struct.pack("<Bddii", flags, price, tolerance, 3, -3)
        data += b"".join(struct.pack("<d", level) for level in levels)
        write("check_level_fuzz", name, data)

    case("later_level_nearer", 1.0012, 0.0005, [1.0, 1.001])
    case("first_match_wins", 1.0012, 0.0020, [1.0, 1.001])
    case("distance_equals_tolerance", 1.0, 0.5, [2.0, 1.5])
    case("zero_tolerance", 2.0, 0.0, [1.0, 2.0, 3.0])
    case("negative_zero_tolerance", 3.0, -0.0, [1.0, 2.0, 3.0])
    case("negative_tolerance", 2.0, -1.0, [2.0, 2.0])
    case("nan_tolerance", 9.0, NAN, [1.0, 2.0])
    case("nan_level", 9.0, 0.5, [1.0, NAN, 9.0])
    case("infinities", INF, INF, [1.0, INF, -INF])
    case("empty_and_negative", 1.0, 1.0, [1.0], flags=1)
    # Long runs wholly below, then wholly above the price, with levels a few
    # doubles either side of the edge of the tolerance late in each run.
    edge_low, edge_high = 150.5 - 0.25, 150.5 + 0.25
    below = [100.0 + i / 8 for i in range(200)] + [math.nextafter(edge_low, -INF), edge_low]
    above = [151.0 + i / 8 for i in range(200)] + [math.nextafter(edge_high, INF), edge_high]
    case("sorted_runs_edges", 150.5, 0.25, below + above)
    case("beyond_all_but_the_last", 1000.0, 1.0, [100.0 + i for i in range(300)] + [999.0])


def resize_seeds():
    def case(name, span, weights, flags=0):
        data = struct.pack("<Biii", flags, span, 5, -5)
        data += b"".join(struct.pack("<i", w) for w in weights)
        write("resize_fuzz", name, data)

    case("factor_10_over_29", 11, [10, 20, 40])
    case("negative_min", 5, [-25, 5, 15])
    case("span_0", 0, [100, 200])
    case("span_1", 1, [3, 8, 20])
    case("all_zero", 11, [0, 0, 0])
    case("zero_denominator", 11, [10, 11])
    case("negative_denominator", 11, [100, 100, 100])
    case("max_77", 11, [0, 30, 77])
    case("int32_limits", -2**31, [-2**31, 2**31 - 1, 0, 1])
    case("empty_and_negative", 11, [1], flags=1)


def fractal_seeds():
    def bar(time, low, high):
        return struct.pack("<iddddd", time, 0.0, low, high, 0.0, 0.0)

    def case(name, depth, shift, lows, highs, flags=0):
        data = struct.pack("<Biiii", flags, depth, shift, 1, -1)
        data += b"".join(bar(86400 * (i + 1), lo, hi) for i, (lo, hi) in enumerate(zip(lows, highs)))
        write("fractal_fuzz", name, data)

    highs = [1, 2, 3, 9, 4, 8, 10]
    lows = [5, 4, 3, 1, 2, 1, 0.5]
    case("documented_depth_3", 3, 0, lows, highs)
    case("documented_depth_1_misaligned", 1, 2, lows, highs, flags=3)
    case("depth_0", 0, 3, lows, highs)
    case("depth_negative", -2**31, 3, lows, highs, flags=5)
    case("nan_neighbours", 2, 0, [1, NAN, 1, NAN, 1], [2, NAN, 2, NAN, 2])
    case("zero_time", 1, 0, [1, 1, 1], [1, 1, 1])


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


def seed(name, text, flags=0):
    """One reader_fuzz seed: the flags byte, then the file's first 4,000 bytes."""
    data = text if isinstance(text, bytes) else text.encode("utf-8")
    write("reader_fuzz", name, bytes([flags]) + data[:4000])


def reader_seeds():
    """reader_fuzz: a flags byte (see reader_fuzz.cpp), then a file's bytes."""
    reader_format_seeds()
    reader_shape_seeds()
    fast_rows_seeds()


def reader_format_seeds():
    """The encodings, separators, line ends and number forms files come in."""
    # The start of the real sample, as the shared data folder has it.
    sample = os.path.join(HERE, "..", "data", "daily-bars.csv")
    with open(sample, "rb") as f:
        head = f.read(3000)
    head = head[: head.rfind(b"\n") + 1]
    seed("real_daily_bars", head)
    seed("real_daily_bars_chunked_past_the_head", head, flags=8 | 3)
    seed("real_daily_bars_crlf", head.replace(b"\n", b"\r\n"), flags=8 | 32 | 6)
    seed("real_daily_bars_gzip", gzip.compress(head, mtime=0))
    rows = "2020-01-02,10,12,9,11,5\n2020-01-03,11,13.5,10,12,6\n2020-01-06,12,15,11,14,7\n"
    seed("no_header", rows, flags=1)
    seed("cr_line_ends", "Date,Open,High,Low,Close\r" + rows.replace("\n", "\r"), flags=2)
    seed("mark_quotes_blanks", "\ufeff\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Volume\"\n\n"
         "\"2020-01-02\", 10 ,12,9,11,5\n  \n2020-01-03,11,13.5,10,12,6\n")
    seed("semicolons_decimal_commas", "Datum;Date;Open;High;Low;Close;Volume\nx;2020-01-02;10;12;9;11;5\n"
         "y;2020-01-03;11;13,5;10;12;6\n")
    seed("tabs_newest_first", "date\topen\thigh\tlow\tclose\n2020-01-06\t12\t15\t11\t14\n"
         "2020-01-03\t11\t13.5\t10\t12\n2020-01-02\t10\t12\t9\t11\n", flags=4)
    seed("date_and_time_columns", "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<VOL>\n"
         "2020.01.02\t09:30:00\t10\t12\t9\t11\t5\n2020.01.02\t09:31:00\t11\t13.5\t10\t12\t6\n")
    seed("offsets_and_epochs", "timestamp,open,high,low,close\n2020-01-02T00:00Z,10,12,9,11\n"
         "2020-01-03T02:00:00.250+02:00,11,13.5,10,12\n1578268800,12,15,11,14\n")
    seed("quotes_with_separators", "Date;Open;High;Low;Close;\"Note, with, \"\"quotes\"\", and commas\"\n"
         "2020-01-02;10;12;9;11;\"a;b\"\n")
    seed("exponents_and_signs", "2020-01-02,+10,1.2e1,9.0,11\n2020-01-03,11,13.5,1e1,12\n"
         "2020-01-06,-0,1e-320,-1e-320,0\n")
    seed("utf16_little_endian", ("Date,Open,High,Low,Close,Name\n2020-01-02,10,12,9,11,\u20ac\U0001F600\n")
         .encode("utf-16-le").join([b"\xff\xfe", b""]))
    seed("utf16_big_endian", b"\xfe\xff" + rows.encode("utf-16-be"), flags=5)
    seed("utf16_in_gzip", gzip.compress(b"\xff\xfe" + rows.encode("utf-16-le"), mtime=0))
    seed("windows_1252", b"Symbol;Date;Open;High;Low;Close\nSoci\xe9t\xe9;2020-01-02;10;12;9;11\n"
         b"\x80uro;2020-01-03;11;13,5;10;12\n")
    seed("two_gzip_members", gzip.compress(rows[:30].encode(), mtime=0) + gzip.compress(rows[30:].encode(), mtime=0))
    seed("zero_bytes", b"\0" * 64)


def reader_shape_seeds():
    """Files laid out as download libraries, portals and spreadsheets lay them out."""
    seed("download_library_three_header_rows", "Price,Close,High,Low,Open,Volume\nTicker,ACME,ACME,ACME,ACME,ACME\n"
         "Date,,,,,\n2020-01-02,11,12,9,10,5\n2020-01-03,12,13.5,10,11,6\n")
    seed("reset_index_and_units_rows", "Date,Close,High,Low,Open,Volume\n,ACME,ACME,ACME,ACME,ACME\n"
         ",USD,USD,USD,USD,shares\n2020-01-02,11,12,9,10,5\n2020-01-03,12,13.5,10,11,6\n")
    seed("notes_dividends_splits", "Date\tOpen\tHigh\tLow\tClose*\tVolume\n\"Jan 3, 2020\"\t11\t13.5\t10\t12\t6\n"
         "\"Jan 3, 2020\"\t0.08 Dividend\n\"Jan 2, 2020\"\t10\t12\t9\t11\t5\n\"Jan 2, 2020\"\t2:1 Stock Split\n"
         "*Close price adjusted for splits.\nData provided by Example Ltd.\n", flags=4)
    seed("epoch_milliseconds_klines", "1577923200000,10,12,9,11,5,1578009599999,55.5,77,1.5,2.5,0\n"
         "1578009600000,11,13.5,10,12,6,1578095999999,66.5,88,1.5,2.5,0\n", flags=1)
    seed("epoch_microseconds_header", "open_time,open,high,low,close,volume,close_time\n"
         "1577923200000000,10,12,9,11,5,1578009599999999\n1578009600000000,11,13.5,10,12,6,1578095999999999\n")
    seed("epoch_nanoseconds", "timestamp,open,high,low,close\n1577923200000000000,10,12,9,11\n"
         "1578009600000000000,11,13.5,10,12\n")
    seed("date_and_time_no_header", "2020.01.02,00:00,10,12,9,11,5\n2020.01.03,00:00,11,13.5,10,12,6\n", flags=2)
    seed("swiss_and_indian_groupings", "Date,Open,High,Low,Close,Volume\n2020-01-02,CHF 1'010.5,1'012,1'009,"
         "1'011,\"1,55,800\"\n2020-01-03,Rs. 1010,\"1,012\",1\xe2\x80\x99009,1011,1'234'567\n")
    seed("tab_decimal_commas", "Date\tOpen\tHigh\tLow\tClose\tVolume\n02.01.2020\t10\t12,25\t9,5\t11\t5\n"
         "03.01.2020\t11\t13,5\t10\t12\t1.234\n", flags=3)
    seed("windows_1252_currency", b"Date;Open;High;Low;Close\n2020-01-02;\x8010,5;12 \x80;\xa39;11\xa3\n"
         b"2020-01-03;\xa511;13,5;10;12\n")
    seed("spreadsheet_errors", "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n2020-01-03,#N/A,#VALUE!,#DIV/0!,#N/A\n"
         "2020-01-06,11,13.5,10,12\n")
    seed("closes_alone", "DATE,SP500\n2020-01-02,3257.85\n2020-01-03,.\n2020-01-06,3246.28\n")
    seed("table_of_closes", "Date,OTHER,ACME,THIRD\n2020-01-02,,11,7\n2020-01-03,12.5,12,7\n", flags=128)
    seed("symbol_column_chosen", "Symbol,Date,Open,High,Low,Close\nACME,2020-01-02,10,12,9,11\n"
         "OTHER,2020-01-02,1,2,0,1\nacme,2020-01-03,11,13.5,10,12\n", flags=128 | 2)
    seed("months_weeks_quarters", "Month,Close\n2020-01,1\nFeb 2020,2\n2020-W09,3\n2020Q2,4\nQ3 2020,5\n200302,6\n")
    seed("failed_downloads", "<!DOCTYPE html>\n<html><body>Rate limited</body></html>\n")
    seed("service_answer_in_json", '{"Error Message": "Invalid API call.", "Note": "5 calls per minute"}\n')


def fast_rows_seeds():
    """Minute bars for the fast rows, with lines among them that are not quite
    of their shape, for the stages to read in between."""
    minutes = ["2020-01-02 %02d:%02d,%d.25,%d.5,%d,%d.75,%d" % (9 + i // 60, i % 60, 100 + i % 3, 101 + i % 3,
                                                                 99 + i % 3, 100 + i % 3, 1000 + i) for i in range(60)]
    parts = minutes[20].split(",")
    minutes[20] = ",".join(parts[:1] + ['"%s"' % parts[1]] + parts[2:])
    minutes[30] = minutes[30].replace(" ", "T")
    minutes[31] = minutes[31] + "\r"
    minutes[40] = minutes[39]
    seed("fast_rows_minutes", "Date,Open,High,Low,Close,Volume\n" + "\n".join(minutes) + "\n")
    seed("fast_rows_pasted_header", "Date,Open,High,Low,Close,Volume\n" + "\n".join(minutes[:30]) +
         "\nDate,Open,High,Low,Close,Volume\n" + "\n".join(minutes[25:]) + "\n", flags=8 | 7)


if __name__ == "__main__":
    hlop_seeds()
    check_level_seeds()
    resize_seeds()
    fractal_seeds()
    stopwatch_seeds()
    reader_seeds()
