#pragma once
// Sorting of framework arrays in place. Both sorts are introspective (quicksort partitions, heap
// sort past the depth limit, insertion sort for short ranges) and so not stable: a caller that
// needs a fixed order of equal elements breaks ties in its comparator (by index, for
// SortIndecies).
//
// Bounds that run past the array throw "Out of Range"; the sums are taken in 64 bits so that no
// start and count can wrap around into range.

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "ObjectBase/Exception.h"
#include "Utilities/Storage/IArray.h"

namespace Orv::ArrayUtils {

// Sorts elements start .. start + count - 1 by less(a, b). Nothing when count is below 2.
template <class T, class Less>
void Sort(IArray<T>& array, uint32_t start, uint32_t count, Less less)
{
    if (count < 2) {
        return;
    }
    if (uint64_t{start} + count > array.GetCount()) {
        ORV_THROW(OutOfRange);
    }
    T* const first = array.GetData() + start;
    std::sort(first, first + count, less);
}

// indices becomes first, first + 1, ..., first + count - 1, then ordered so that
// comparator(source[indices[i]], source[indices[i + 1]]) holds where the elements differ. The
// source is not changed.
template <class T, class Comparator>
void SortIndecies(IArray<uint32_t>& indices, const IArray<T>& source, uint32_t first,
                  uint32_t count, Comparator comparator)
{
    if (uint64_t{first} + count > source.GetCount()) {
        ORV_THROW(OutOfRange);
    }
    if (indices.SetCount(count) != static_cast<int32_t>(count)) {
        ORV_THROW_FAILED_RESULT(E_OUTOFMEMORY);
    }
    if (count == 0) {
        return;
    }
    uint32_t* const begin = indices.GetData();
    std::iota(begin, begin + count, first);
    if (count < 2) {
        return;
    }
    const T* const elements = source.GetData();
    std::sort(begin, begin + count,
              [&](uint32_t a, uint32_t b) { return comparator(elements[a], elements[b]); });
}

}  // namespace Orv::ArrayUtils
