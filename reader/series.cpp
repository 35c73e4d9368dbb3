#include "series.h"

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

bool intraday(const Times& times) {
    for (std::size_t i = 0; i < times.size(); ++i)
        if (times[i] % 86400 != 0) return true;
    return false;
}

}  // namespace tidemark::reader
