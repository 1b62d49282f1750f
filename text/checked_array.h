// A one-based array whose every element access is checked against its bounds. An index
// below 1 or above the element count raises the fatal runtime error at the caller's site.
#pragma once

#include <utility>
#include <vector>

#include "text/fatal_error.h"

template <typename T>
class CheckedArray {
public:
    CheckedArray() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }

    T& At(int index, fatal::Site site) { return items_[Checked(index, site)]; }
    const T& At(int index, fatal::Site site) const { return items_[Checked(index, site)]; }

    void Append(T value) { items_.push_back(std::move(value)); }
    void Clear() { items_.clear(); }

    // For range-for over all elements: no index, nothing to check.
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    size_t Checked(int index, fatal::Site site) const {
        if (index < 1) fatal::Raise(fatal::kIndexBelowOne, fatal::IndexBelowOneText(), site);
        if (index > Count())
            fatal::Raise(fatal::kIndexAboveCount, fatal::IndexAboveCountText(), site);
        return static_cast<size_t>(index - 1);
    }

    std::vector<T> items_;
};
