#include "walk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <utility>

namespace tidemark::analysis {
namespace {

// A confirmed fractal as a candidate level.
struct Candidate {
    double price;
    int32_t strength;
    uint32_t seq;  // its place among the fractals in bar order
};

// The merge's order: by price, equal prices in bar order, as its stable sort
// leaves candidates handed over in bar order.
struct MergeOrder {
    bool operator()(const Candidate& a, const Candidate& b) const {
        return a.price < b.price || (a.price == b.price && a.seq < b.seq);
    }
};
using Candidates = std::set<Candidate, MergeOrder>;
using Slot = Candidates::const_iterator;

// Below every tolerance the fast path takes (0 or more).
constexpr double kNever = -1.0;

// A level and the run of neighbouring candidates (in merge order) that
// merged into it.
struct Run {
    Slot first;
    int32_t count;
    double price;
    int32_t weight;
    // The gap of the run's last merge, or a tolerance above it at which the
    // run was merged: down to it the run stays one level (kNever for a
    // single candidate).
    double low;
};

// The levels of the candidates in view, kept equal to what Hlop gives for
// all of them at the current tolerance.
//
// The fast path holds when the weights add (mode 1), every weight is 1 or
// more and their total stays below 2^31, and prices and tolerance are
// finite. Then (docs/scan.md, The walk):
// - each level is a run of neighbouring candidates, read off its weight;
// - merges come in an order that does not depend on the tolerance, with
//   gaps that never shrink, so the levels at a tolerance are all merges whose
//   gap is within it: a lower tolerance redoes, each on its own, the runs
//   whose last merge is wider, a higher one continues from the levels;
// - a new or expiring candidate is merged with the runs around it, and the
//   result stands when the outermost of those runs come out as they were:
//   their own merges, and so every merge across their outer sides, are then
//   unchanged. Otherwise more runs are taken in, up to all.
// Anything else merges all candidates in one call at every change.
class Levels {
public:
    Levels(const Exports& lib, int32_t mode) : lib_(lib), mode_(mode) {}

    void add(const Candidate& c) { changes_.push_back({c, true}); }
    void remove(const Candidate& c) { changes_.push_back({c, false}); }

    // Brings the levels up to the changes and the tolerance.
    void update(double tolerance) {
        for (const Change& change : changes_) {
            const Candidate& c = change.candidate;
            const int64_t sign = change.in ? 1 : -1;
            total_ += sign * c.strength;
            if (!std::isfinite(c.price) || c.strength < 1) unusual_ += sign;
        }
        const bool fast = mode_ == 1 && unusual_ == 0 && total_ <= std::numeric_limits<int32_t>::max() &&
                          std::isfinite(tolerance) && tolerance >= 0;
        // Nothing to redo; also at the start, when no candidate has come in
        // and there is no level at any tolerance.
        if (changes_.empty() && tolerance == tolerance_) return;
        if (!fast) {
            apply_changes();
            merge_all(tolerance, false);
        } else if (!runs_valid_) {
            apply_changes();
            merge_all(tolerance, true);
        } else {
            retolerate(tolerance);
            for (const Change& change : changes_) {
                if (!runs_valid_) break;
                change.in ? insert(change.candidate) : erase(change.candidate);
            }
            if (!runs_valid_) {
                apply_changes();
                merge_all(tolerance, false);
            } else {
                changes_.clear();
                publish();
            }
        }
        tolerance_ = tolerance;
    }

    const std::vector<double>& prices() const { return prices_; }
    const std::vector<int32_t>& weights() const { return weights_; }

private:
    struct Change {
        Candidate candidate;
        bool in;
    };

    // Hlop over p and w in place; returns how many levels survive (the
    // zeroed tail starts at the first zero weight: every weight is 1 or more).
    int32_t merge(std::vector<double>& p, std::vector<int32_t>& w, double tolerance) {
        const auto n = static_cast<int32_t>(p.size());
        tags_.assign(p.size(), 0);
        lib_.hlop(0, 0, p.data(), w.data(), tags_.data(), n, tolerance, mode_);
        int32_t levels = 0;
        while (levels < n && w[levels] != 0) ++levels;
        return levels;
    }

    // Also after the fast path gave up part way: the changes it made are in
    // the set already, and inserting or erasing again changes nothing.
    void apply_changes() {
        for (const Change& change : changes_)
            change.in ? (void)set_.insert(change.candidate) : (void)set_.erase(change.candidate);
        changes_.clear();
    }

    // All candidates in one call; with_runs also reads off the runs.
    void merge_all(double tolerance, bool with_runs) {
        collect(set_.begin(), set_.size(), block_);
        const int32_t n = merge_block(block_, tolerance);
        prices_.assign(p_.begin(), p_.begin() + n);
        weights_.assign(w_.begin(), w_.begin() + n);
        runs_.clear();
        runs_valid_ = with_runs && append_runs(block_, n, tolerance, runs_);
    }

    void publish() {
        prices_.resize(runs_.size());
        weights_.resize(runs_.size());
        for (std::size_t k = 0; k < runs_.size(); ++k) {
            prices_[k] = runs_[k].price;
            weights_[k] = runs_[k].weight;
        }
    }

    void collect(Slot first, std::size_t count, std::vector<Slot>& out) const {
        out.clear();
        for (std::size_t i = 0; i < count; ++i, ++first) out.push_back(first);
    }

    // The candidates of block as levels at tolerance 0, in p_ and w_.
    void load(const std::vector<Slot>& block) {
        p_.clear();
        w_.clear();
        for (Slot s : block) {
            p_.push_back(s->price);
            w_.push_back(s->strength);
        }
    }

    // Merges the candidates of block: the levels come back in p_ and w_, the
    // candidates' strengths stay in strengths_. Returns how many levels.
    int32_t merge_block(const std::vector<Slot>& block, double tolerance) {
        load(block);
        strengths_ = w_;
        return merge(p_, w_, tolerance);
    }

    // The run lengths of the last merge (strengths_ into the first `levels`
    // of w_) in lengths_; false, with runs_valid_ cleared, when the weights
    // do not read off as runs.
    bool read_lengths(int32_t levels) {
        if (runs_by_weight(strengths_.data(), strengths_.size(), w_.data(), static_cast<std::size_t>(levels),
                           lengths_))
            return true;
        runs_valid_ = false;
        return false;
    }

    // The runs of block's merge (merge_block) into out, merged at tolerance.
    // False, with runs_valid_ cleared, when the weights do not read off as
    // runs.
    bool append_runs(const std::vector<Slot>& block, int32_t levels, double tolerance, std::vector<Run>& out) {
        if (!read_lengths(levels)) return false;
        std::size_t at = 0;
        for (std::size_t k = 0; k < lengths_.size(); ++k) {
            const double low = lengths_[k] == 1 ? kNever : tolerance;
            out.push_back({block[at], lengths_[k], p_[k], w_[k], low});
            at += static_cast<std::size_t>(lengths_[k]);
        }
        return true;
    }

    // Merges the candidates of block at tolerance_ into the runs [lo, hi].
    // False when an outermost run (other than the first or last of all) does
    // not come out as it was; runs_valid_ is cleared when the weights do not
    // read off as runs.
    bool remerge(std::size_t lo, std::size_t hi, const std::vector<Slot>& block, double tolerance) {
        const int32_t n = merge_block(block, tolerance);
        fresh_.clear();
        if (!append_runs(block, n, tolerance, fresh_)) return false;
        const bool inner_lo = lo > 0, inner_hi = hi + 1 < runs_.size();
        if (inner_lo && fresh_.front().count != runs_[lo].count) return false;
        if (inner_hi && fresh_.back().count != runs_[hi].count) return false;
        // The outermost runs are the very runs they were: their bounds hold.
        if (inner_lo) fresh_.front().low = runs_[lo].low;
        if (inner_hi) fresh_.back().low = runs_[hi].low;
        runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(lo), runs_.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
        runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(lo), fresh_.begin(), fresh_.end());
        return true;
    }

    // The run whose first candidate is the last at or before c; 0 when c
    // comes before every run.
    std::size_t run_of(const Candidate& c) const {
        const auto it = std::upper_bound(runs_.begin(), runs_.end(), c,
                                         [](const Candidate& x, const Run& r) { return MergeOrder()(x, *r.first); });
        return it == runs_.begin() ? 0 : static_cast<std::size_t>(it - runs_.begin()) - 1;
    }

    // Merges the runs around `center` again with the change made, taking in
    // twice as many runs on each side each time the outermost ones change.
    // It ends at the latest with all runs taken in: nothing is compared then.
    void local_change(std::size_t center, const Candidate* added, Slot added_slot, const Candidate* removed) {
        for (std::size_t reach = 1;; reach *= 2) {
            const std::size_t lo = center > reach ? center - reach : 0;
            const std::size_t hi = std::min(runs_.size() - 1, center + reach);
            std::size_t count = 0;
            for (std::size_t k = lo; k <= hi; ++k) count += static_cast<std::size_t>(runs_[k].count);
            Slot first = runs_[lo].first;
            if (added != nullptr) {
                ++count;
                if (MergeOrder()(*added, *first)) first = added_slot;
            }
            collect(first, count, block_);
            if (removed != nullptr)
                block_.erase(std::remove_if(block_.begin(), block_.end(),
                                            [&](Slot s) { return !MergeOrder()(*s, *removed) && !MergeOrder()(*removed, *s); }),
                             block_.end());
            if (remerge(lo, hi, block_, tolerance_) || !runs_valid_) return;
        }
    }

    void insert(const Candidate& c) {
        const Slot slot = set_.insert(c).first;
        if (runs_.empty()) {
            runs_.push_back({slot, 1, c.price, c.strength, kNever});
            return;
        }
        local_change(run_of(c), &c, slot, nullptr);
    }

    void erase(const Candidate& c) {
        const std::size_t center = run_of(c);
        if (runs_.size() == 1 && runs_[0].count == 1) {
            runs_.clear();
        } else {
            local_change(center, nullptr, set_.end(), &c);
        }
        set_.erase(c);
    }

    // The gap of the run's last merge: the lowest tolerance at which its
    // candidates still merge into one level (at most `at`, at which they
    // do), below which the run must be merged again. The levels at any
    // tolerance below it are apart by more than that tolerance, and each of
    // their gaps is crossed by a merge no narrower, so the widest of them is
    // a lower bound; merging on to it (from those levels) either gives one
    // level, and the bound is the gap, or fewer levels to take the next bound
    // from. It starts from the candidates as levels at tolerance 0.
    double last_gap(const Run& run, double at) {
        if (run.count == 1) return kNever;
        collect(run.first, static_cast<std::size_t>(run.count), block_);
        load(block_);
        while (p_.size() > 1) {
            double widest = 0;
            for (std::size_t i = 0; i + 1 < p_.size(); ++i) widest = std::max(widest, p_[i + 1] - p_[i]);
            if (!(widest < at)) return at;
            const int32_t n = merge(p_, w_, widest);
            if (n == 1) return widest;
            p_.resize(static_cast<std::size_t>(n));
            w_.resize(static_cast<std::size_t>(n));
        }
        return at;
    }

    void retolerate(double tolerance) {
        if (tolerance == tolerance_) return;
        const bool lower = tolerance < tolerance_;
        tolerance_ = tolerance;
        // Most changes of the default tolerance touch no level.
        bool touched = false;
        for (std::size_t k = 0; k < runs_.size() && !touched; ++k)
            touched = lower ? runs_[k].low > tolerance
                            : k > 0 && !(runs_[k].price - runs_[k - 1].price > tolerance);
        if (!touched) return;
        fresh_.clear();
        if (lower) {
            // Merges whose gap is above the new tolerance come undone, in each
            // run on its own.
            for (const Run& run : runs_) {
                if (run.low <= tolerance) {
                    fresh_.push_back(run);
                    continue;
                }
                collect(run.first, static_cast<std::size_t>(run.count), block_);
                const int32_t n = merge_block(block_, tolerance);
                if (n == 1) {
                    Run same = run;
                    same.low = last_gap(run, tolerance);
                    fresh_.push_back(same);
                } else if (!append_runs(block_, n, tolerance, fresh_)) {
                    return;
                }
            }
        } else {
            // The merges go on from the levels: chains of levels within the
            // new tolerance merge, each on its own.
            std::size_t i = 0;
            while (i < runs_.size()) {
                std::size_t j = i;
                while (j + 1 < runs_.size() && !(runs_[j + 1].price - runs_[j].price > tolerance)) ++j;
                if (j == i) {
                    fresh_.push_back(runs_[i++]);
                    continue;
                }
                p_.clear();
                w_.clear();
                for (std::size_t k = i; k <= j; ++k) {
                    p_.push_back(runs_[k].price);
                    w_.push_back(runs_[k].weight);
                }
                strengths_ = w_;
                if (!read_lengths(merge(p_, w_, tolerance))) return;
                std::size_t at = i;
                for (std::size_t k = 0; k < lengths_.size(); ++k) {
                    Run joined = runs_[at];
                    if (lengths_[k] > 1) {
                        for (int32_t m = 1; m < lengths_[k]; ++m) joined.count += runs_[at + m].count;
                        joined.price = p_[k];
                        joined.weight = w_[k];
                        joined.low = tolerance;
                    }
                    fresh_.push_back(joined);
                    at += static_cast<std::size_t>(lengths_[k]);
                }
                i = j + 1;
            }
        }
        runs_.swap(fresh_);
    }

    const Exports& lib_;
    int32_t mode_;
    Candidates set_;
    std::vector<Change> changes_;
    int64_t total_ = 0;    // the candidates' strengths
    int64_t unusual_ = 0;  // candidates the fast path cannot vouch for
    double tolerance_ = 0;     // prices_ and weights_ are the levels at it
    bool runs_valid_ = false;  // and runs_ holds them with their runs
    std::vector<Run> runs_, fresh_;
    std::vector<double> prices_, p_;
    std::vector<int32_t> weights_, w_, strengths_, lengths_, tags_;
    std::vector<Slot> block_;
};

// The first bar in view at bar t: of its last `window` bars, or of all.
std::size_t first_in_view(std::size_t window, std::size_t t) { return window > 0 && t + 1 > window ? t + 1 - window : 0; }

}  // namespace

void walk(const Exports& lib, const BarSeries& series, const Settings& settings, std::size_t window,
          const WalkSink& sink, const Progress& progress) {
    const std::vector<Bar>& bars = series.bars;
    const std::size_t n = bars.size();
    if (n == 0) return;
    const std::vector<Fractal> fractals = find_fractals(lib, bars, settings.depth);
    const auto depth = static_cast<std::size_t>(std::max(settings.depth, 0));
    Levels levels(lib, settings.mode);
    std::size_t next_in = 0, next_out = 0;  // fractals confirmed so far, and expired so far
    double range_sum = 0;
    bool started = false;
    std::vector<int32_t> scaled;
    const std::size_t step = std::max<std::size_t>(1, n / 100);
    for (std::size_t t = 0; t < n; ++t) {
        const std::size_t first = first_in_view(window, t);
        // A fractal counts from the bar that confirms it while its whole
        // neighbourhood is in view.
        while (next_out < next_in && fractals[next_out].bar < first + depth) {
            const Fractal& f = fractals[next_out];
            levels.remove({f.price, f.strength, static_cast<uint32_t>(next_out)});
            ++next_out;
        }
        while (next_in < fractals.size() && fractals[next_in].bar + depth <= t) {
            const Fractal& f = fractals[next_in];
            if (f.bar >= first + depth) levels.add({f.price, f.strength, static_cast<uint32_t>(next_in)});
            else next_out = next_in + 1;  // never in view: the window is too short for it
            ++next_in;
        }
        // The mean range in the one-shot's order: a running sum over all bars
        // so far is that sum; a window's is summed afresh.
        double mean = 0;
        if (window == 0) {
            range_sum += bars[t].high - bars[t].low;
            mean = std::isfinite(range_sum) ? range_sum / static_cast<double>(t + 1) : mean_range(bars.data(), t + 1);
        } else {
            mean = mean_range(bars.data() + first, t + 1 - first);
        }
        const double tolerance = tolerance_of(settings, mean);
        levels.update(tolerance);

        const std::vector<double>& prices = levels.prices();
        const std::vector<int32_t>& weights = levels.weights();
        if (progress && (t + 1) % step == 0) progress("walking", static_cast<double>(t + 1) / static_cast<double>(n));
        if (!started && prices.empty()) continue;
        started = true;
        const auto count = static_cast<int32_t>(prices.size());
        const double close = bars[t].close;
        const int32_t close_level = lib.check_level(0, 0, close, tolerance, prices.data(), count);
        ScreenRow row = place_close(close, tolerance, prices.data(), prices.size(), close_level);
        row.bars = t + 1 - first;
        row.last_time = bars[t].time;
        row.intraday = series.intraday;
        if (count > 0) {
            // Resize scales every weight by one factor of the smallest and
            // largest: those two and the weights shown give the same values.
            const auto extremes = std::minmax_element(weights.begin(), weights.end());
            const int32_t lightest = *extremes.first, heaviest = *extremes.second;
            const auto weight = [&](bool has, int32_t index) { return has ? weights[index] : lightest; };
            scaled.assign({lightest, heaviest, weight(row.on_level, row.level_index),
                           weight(row.has_below, row.below_index), weight(row.has_above, row.above_index)});
            lib.resize(0, 0, settings.span, scaled.data(), static_cast<int32_t>(scaled.size()));
            if (row.on_level) row.level_weight = scaled[2];
            if (row.has_below) row.below_weight = scaled[3];
            if (row.has_above) row.above_weight = scaled[4];
        }
        sink(t, row);
    }
    if (progress) progress("walking", 1.0);
}

Walk walk(const Exports& lib, const BarSeries& series, const Settings& settings, std::size_t window,
          const Progress& progress) {
    Walk w;
    w.first_bar = series.bars.size();
    walk(lib, series, settings, window, [&](std::size_t bar, const ScreenRow& row) {
        if (w.rows.empty()) w.first_bar = bar;
        w.rows.push_back(row);
    }, progress);
    return w;
}

ScreenRow walk_row_by_analysis(const Exports& lib, const BarSeries& series, const Settings& settings,
                               std::size_t window, std::size_t bar) {
    const std::size_t first = first_in_view(window, bar);
    BarSeries view;
    view.bars.assign(series.bars.begin() + static_cast<std::ptrdiff_t>(first),
                     series.bars.begin() + static_cast<std::ptrdiff_t>(bar) + 1);
    view.intraday = series.intraday;
    Settings s = settings;
    s.count_fractals = false;
    return screen_row(view, analyse(lib, view, s));
}

}  // namespace tidemark::analysis
