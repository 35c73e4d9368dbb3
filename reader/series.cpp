#include "series.h"

#include <algorithm>

#include "bars.h"
#include "text.h"

namespace tidemark::reader {

OrderCheck check_order(const Times& times) {
    OrderCheck check;
    const std::size_t n = times.size();
    if (n == 0) return check;
    check.newest_first = times[0] > times[n - 1];
    for (std::size_t i = 1; i < n; ++i) {
        const int64_t t = times[i], prev = times[i - 1];
        if (check.newest_first ? t < prev : t > prev) continue;
        check.ok = false;
        check.index = i;
        return check;
    }
    return check;
}

std::string order_fault_text(const Times& times, const OrderCheck& check) {
    const int64_t t = times[check.index], prev = times[check.index - 1];
    const bool with_times = t % 86400 != 0 || prev % 86400 != 0;
    const std::string here = time_text(t, with_times), there = time_text(prev, with_times);
    if (t == prev) return "date " + here + " repeats the date of the bar before it: one bar per date";
    return "date " + here + (check.newest_first ? " comes after " : " comes before ") + there +
           ", the bar before it: the bars run " + (check.newest_first ? "newest" : "oldest") +
           " first (by their first and last dates), one bar per date";
}

bool merge_series(BarSeries& out, std::vector<uint32_t>& lines, const std::vector<std::size_t>& restarts,
                  long& line, std::string& why) {
    std::vector<Bar>& bars = out.bars;
    out.newest_first = bars.front().time > bars.back().time;
    const auto before = [&](int64_t a, int64_t b) { return out.newest_first ? a > b : a < b; };
    bool merge = false;
    std::size_t restart = 0;
    for (std::size_t i = 1; i < bars.size(); ++i) {
        const int64_t t = bars[i].time, prev = bars[i - 1].time;
        while (restart < restarts.size() && restarts[restart] < i) ++restart;
        if (!before(prev, t) && t != prev && restart < restarts.size() && restarts[restart] == i) {
            merge = true;
            continue;
        }
        if (before(prev, t) || t == prev) continue;
        OrderCheck fault;
        fault.newest_first = out.newest_first;
        fault.ok = false;
        fault.index = i;
        line = static_cast<long>(lines[i]);
        why = order_fault_text(times_of(bars), fault);
        return false;
    }
    if (out.newest_first) {
        std::reverse(bars.begin(), bars.end());
        std::reverse(lines.begin(), lines.end());
    }
    if (merge) {
        std::vector<std::size_t> order(bars.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return bars[a].time < bars[b].time; });
        std::vector<Bar> sorted(bars.size());
        std::vector<uint32_t> sorted_lines(bars.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            sorted[i] = bars[order[i]];
            sorted_lines[i] = lines[order[i]];
        }
        bars.swap(sorted);
        lines.swap(sorted_lines);
    }
    std::size_t kept = 1;
    for (std::size_t i = 1; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const Bar& prev = bars[kept - 1];
        if (bar.time != prev.time) {
            bars[kept] = bar;
            lines[kept] = lines[i];
            ++kept;
            continue;
        }
        if (!same_values(bar, prev)) {
            const bool with_time = bar.time % 86400 != 0;
            const uint32_t a = std::min(lines[i], lines[kept - 1]), b = std::max(lines[i], lines[kept - 1]);
            line = static_cast<long>(b);
            why = "date " + time_text(bar.time, with_time) + " repeats the date on line " + std::to_string(a) +
                  " with other prices: one bar per date";
            return false;
        }
        ++out.duplicates_dropped;
    }
    bars.resize(kept);
    lines.resize(kept);
    return true;
}

bool intraday(const Times& times) {
    for (std::size_t i = 0; i < times.size(); ++i)
        if (times[i] % 86400 != 0) return true;
    return false;
}

}  // namespace tidemark::reader
