#pragma once

#include "grammar/Random.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace ombrel {

// Weighted entries with a running total. Weights are relative to the total, not to 1.
template <class T> class WeightedList {
public:
    struct Entry {
        float weight;
        T item;
    };

    void add(float weight, T item) {
        total_ += weight; // accumulated as a 32-bit float, in the order entries were added
        entries_.push_back(Entry{weight, std::move(item)});
    }

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    float total() const { return total_; }
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<Entry>& entries() { return entries_; }
    void clear() {
        entries_.clear();
        total_ = 0.0f;
    }

private:
    float total_ = 0.0f;
    std::vector<Entry> entries_;
};

// Index of the entry that a random draw u in [0, 1) chooses. Falls back to the first entry when
// the rounded running sum stays below u or the total is 0. The list must not be empty.
template <class T> std::size_t pickWeightedIndex(const WeightedList<T>& list, float u) {
    const auto& entries = list.entries();
    float acc = 0.0f;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const float next = acc + entries[i].weight / list.total();
        if (acc <= u && u < next) {
            return i;
        }
        acc = next;
    }
    return 0;
}

// Picks one entry with exactly one randomUnit() draw. Callers skip the pick (and the draw) when
// the list is empty; calling it on an empty list is a programming error.
template <class T> const T& pickWeighted(const WeightedList<T>& list) {
    const float u = static_cast<float>(randomUnit());
    return list.entries()[pickWeightedIndex(list, u)].item;
}

} // namespace ombrel
