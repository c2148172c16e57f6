#pragma once

#include "grammar/Random.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace ombrel {

// Weighted entries with a running total. Weights are relative to the total, not to 1.
// Picking keeps, beside the entries, where each entry's share of [0, 1) starts, worked out at
// the first pick after a change: a pick then searches those bounds instead of adding the shares
// up again, so a city of many cells picks from many definitions in time proportional to the
// cells, not to their product. Like the generation it serves, a list is used from one thread.
template <class T> class WeightedList {
public:
    struct Entry {
        float weight;
        T item;
    };

    void add(float weight, T item) {
        total_ += weight; // accumulated as a 32-bit float, in the order entries were added
        entries_.push_back(Entry{weight, std::move(item)});
        bounds_.clear();
    }

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    float total() const { return total_; }
    const std::vector<Entry>& entries() const { return entries_; }
    // The entries to change in place; the bounds of picking are worked out again afterwards.
    std::vector<Entry>& entries() {
        bounds_.clear();
        return entries_;
    }
    void clear() {
        entries_.clear();
        bounds_.clear();
        total_ = 0.0f;
    }

    // Index of the entry that a random draw u in [0, 1) chooses: the first entry whose share,
    // running from the sum of the shares before it (each share weight / total, summed as
    // 32-bit floats in order) up to and without the sum with it, holds u. The first entry when
    // none does (the rounded sum stays below u, or the total is 0). The list must not be empty.
    std::size_t pickIndex(float u) const {
        if (bounds_.empty()) {
            workOutBounds();
        }
        if (!ascending_) {
            // Negative weights (or a total that is not a number) make the sums go back and
            // forth: only the first share that holds u counts.
            for (std::size_t i = 0; i + 1 < bounds_.size(); ++i) {
                if (bounds_[i] <= u && u < bounds_[i + 1]) {
                    return i;
                }
            }
            return 0;
        }
        // Rising sums: every share before the first end above u ends at or below u, so that
        // share is the only one that can hold u.
        const auto end = std::upper_bound(bounds_.begin() + 1, bounds_.end(), u);
        if (end == bounds_.end()) {
            return 0;
        }
        const std::size_t i = static_cast<std::size_t>(end - bounds_.begin()) - 1;
        return bounds_[i] <= u ? i : 0;
    }

private:
    void workOutBounds() const {
        bounds_.reserve(entries_.size() + 1);
        float acc = 0.0f;
        bounds_.push_back(acc);
        ascending_ = true;
        for (const Entry& entry : entries_) {
            const float next = acc + entry.weight / total_;
            // False for a step down and for a sum that is not a number.
            ascending_ = ascending_ && next >= acc;
            bounds_.push_back(next);
            acc = next;
        }
    }

    float total_ = 0.0f;
    std::vector<Entry> entries_;
    // The sum of the shares before each entry, and after the last; empty until the next pick.
    mutable std::vector<float> bounds_;
    mutable bool ascending_ = true;
};

// Index of the entry that a random draw u in [0, 1) chooses (see WeightedList::pickIndex).
template <class T> std::size_t pickWeightedIndex(const WeightedList<T>& list, float u) {
    return list.pickIndex(u);
}

// Picks one entry with exactly one randomUnit() draw. Callers skip the pick (and the draw) when
// the list is empty; calling it on an empty list is a programming error.
template <class T> const T& pickWeighted(const WeightedList<T>& list) {
    const float u = static_cast<float>(randomUnit());
    return list.entries()[pickWeightedIndex(list, u)].item;
}

} // namespace ombrel
