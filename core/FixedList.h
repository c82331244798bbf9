// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <span>

namespace tactimo {

// A list with its storage inline: the clock state is copied on every packet
// list and every refresh, and must never touch the heap on the receive path.
template <typename T, std::size_t Capacity>
class FixedList {
public:
    static constexpr std::size_t capacity = Capacity;

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == Capacity; }

    const T& operator[](std::size_t i) const { return items_[i]; }
    const T& front() const { return items_[0]; }
    const T& back() const { return items_[count_ - 1]; }
    const T* begin() const { return items_.data(); }
    const T* end() const { return items_.data() + count_; }
    std::span<const T> span() const { return {items_.data(), count_}; }

    void clear() { count_ = 0; }

    // Appends; when full, the oldest entry is dropped first.
    void pushBack(const T& value) {
        if (count_ == Capacity) dropFront(1);
        items_[count_++] = value;
    }

    // Removes the oldest entries so that at most n remain.
    void keepNewest(std::size_t n) {
        if (count_ > n) dropFront(count_ - n);
    }

    friend bool operator==(const FixedList& a, const FixedList& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    void dropFront(std::size_t n) {
        std::copy(items_.begin() + n, items_.begin() + count_, items_.begin());
        count_ -= n;
    }

    std::array<T, Capacity> items_{};
    std::size_t count_ = 0;
};

} // namespace tactimo
