#include "audio/MMCutLst.h"

#include <cstdio>
#include <string>

namespace {
[[noreturn]] void indexError(int32_t index) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EListError(text);
}
}  // namespace

const TMMSegment& TMMCutList::Items(int32_t index) const {
    if (index < 0 || index >= Count()) indexError(index);
    return items_[size_t(index)];
}

void TMMCutList::Grow() {
    capacity_ += capacity_ < 5 ? 4 : (capacity_ < 9 ? 8 : 16);
    items_.reserve(size_t(capacity_));
}

int32_t TMMCutList::Add(const TMMSegment& segment) {
    // Halve the interval to the first segment that starts after the new one.
    int32_t lo = 0, hi = Count();
    while (lo < hi) {
        const int32_t mid = (lo + hi) / 2;
        if (items_[size_t(mid)].StartSample <= segment.StartSample) lo = mid + 1;
        else hi = mid;
    }
    // Segments may overlap the starts of later ones, so every earlier one is tested.
    for (int32_t i = 0; i < lo; ++i) {
        const TMMSegment& prev = items_[size_t(i)];
        if (int64_t(segment.StartSample) < int64_t(prev.StartSample) + prev.Samples) return -1;
    }
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + lo, segment);
    return lo;
}

void TMMCutList::Delete(int32_t index) {
    if (index < 0 || index >= Count()) indexError(index);
    items_.erase(items_.begin() + index);
}

void TMMCutList::Clear() {
    items_.clear();
    items_.shrink_to_fit();
    capacity_ = 0;
}
