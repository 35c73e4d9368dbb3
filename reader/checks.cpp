#include "checks.h"

#include "row.h"
#include "series.h"
#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {

ArrayCheck check_arrays(const ArrayBars& b) {
    ArrayCheck check;
    const auto fail = [&](std::size_t row, std::string what) {
        check.ok = false;
        check.row = row;
        check.what = std::move(what);
        return check;
    };
    if (b.size == 0) return fail(0, "no bars");
    for (std::size_t i = 0; i < b.size; ++i) {
        if (b.time != nullptr && !in_record_time(b.time[i]))
            return fail(i, outside_time_range(time_text(b.time[i], b.time[i] % 86400 != 0), false));
        const double values[kBarValues] = {b.open[i], b.high[i], b.low[i], b.close[i],
                                           b.volume != nullptr ? b.volume[i] : 0.0};
        if (const BarCheck bad = check_bar(values)) {
            const std::string texts[kBarValues] = {exact(values[0]), exact(values[1]), exact(values[2]),
                                                   exact(values[3]), exact(values[4])};
            return fail(i, bar_fault_text(bad, texts));
        }
    }
    if (b.time == nullptr) return check;
    const Times times(b.time, b.size);
    const OrderCheck order = check_order(times);
    if (order) return fail(order.index, order_fault_text(times, order));
    check.newest_first = order.newest_first;
    check.intraday = intraday(times);
    return check;
}

}  // namespace tidemark::reader
