// One read of a text against another: the same outcome, the same bars bit
// for bit, the same counts and the same message. For the tests that hold the
// fast rows (reader/fast.h) to what the stages alone give.
#ifndef TIDEMARK_TESTS_READ_COMPARE_H
#define TIDEMARK_TESTS_READ_COMPARE_H

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "bars.h"
#include "bytes.h"

namespace read_compare {

using tidemark::reader::BarSeries;
using tidemark::reader::ReadError;
using tidemark::reader::ReadOptions;
using tidemark::reader::Source;

struct Read {
    bool ok = false;
    BarSeries series;
    ReadError error;
};

inline Read read_source(Source& source, ReadOptions options, bool fast) {
    options.fast_rows = fast;
    Read r;
    r.ok = tidemark::reader::read_series("f.csv", source, r.series, r.error, nullptr, options);
    return r;
}

inline Read read_text(const std::string& text, const ReadOptions& options, bool fast, std::size_t chunk = 0) {
    tidemark::reader::MemorySource source(text, chunk);
    return read_source(source, options, fast);
}

// Everything a read gives but fast_lines, which tells only who read them.
inline void expect_same(const Read& got, const Read& want, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(got.ok, want.ok) << (got.ok ? want.error.text() : got.error.text());
    EXPECT_EQ(got.error.text(), want.error.text());
    EXPECT_EQ(got.error.symbols, want.error.symbols);
    const BarSeries &a = got.series, &b = want.series;
    ASSERT_EQ(a.bars.size(), b.bars.size());
    if (!a.bars.empty()) {
        for (std::size_t i = 0; i < a.bars.size(); ++i)
            ASSERT_EQ(std::memcmp(&a.bars[i], &b.bars[i], sizeof a.bars[i]), 0) << "bar " << i;
    }
    EXPECT_EQ(a.intraday, b.intraday);
    EXPECT_EQ(a.newest_first, b.newest_first);
    EXPECT_EQ(a.duplicates_dropped, b.duplicates_dropped);
    EXPECT_EQ(a.placeholder_rows, b.placeholder_rows);
    EXPECT_EQ(a.unknown_volumes, b.unknown_volumes);
    EXPECT_EQ(a.close_column, b.close_column);
    EXPECT_EQ(a.other_symbol_rows, b.other_symbol_rows);
    EXPECT_EQ(a.close_only, b.close_only);
    EXPECT_EQ(a.period, b.period);
    EXPECT_EQ(a.name_rows_skipped, b.name_rows_skipped);
    EXPECT_EQ(a.notes_skipped, b.notes_skipped);
}

// The text read with the fast rows against the stages alone, both whole.
inline Read expect_fast_as_stages(const std::string& text, const ReadOptions& options, const std::string& what) {
    Read fast = read_text(text, options, true);
    expect_same(fast, read_text(text, options, false), what);
    return fast;
}

}  // namespace read_compare

#endif
