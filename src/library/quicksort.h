// A quicksort on the middle element. Stored lists and walk orders follow
// the order it gives to elements that compare equal, so every table whose
// keys can tie sorts with it; a sort on a key that never ties (the header
// store's) may use any method. Recursing into the smaller side keeps the
// stack shallow without changing that order; the bounds guards keep a
// comparison that is not a strict ordering from running off the array.
#pragma once

#include <cstddef>
#include <utility>

namespace zorvex {

template <typename T, typename Less>
void MiddlePivotSort(T* a, std::ptrdiff_t lo, std::ptrdiff_t hi, Less less) {
    while (lo < hi) {
        T pivot = a[lo + (hi - lo) / 2];
        std::ptrdiff_t i = lo, j = hi;
        while (i <= j) {
            while (i < hi && less(a[i], pivot)) ++i;
            while (j > lo && less(pivot, a[j])) --j;
            if (i <= j) std::swap(a[i++], a[j--]);
        }
        // Now [lo, j] and [i, hi] remain, both smaller than [lo, hi].
        if (j - lo < hi - i) {
            MiddlePivotSort(a, lo, j, less);
            lo = i;
        } else {
            MiddlePivotSort(a, i, hi, less);
            hi = j;
        }
    }
}

}  // namespace zorvex
