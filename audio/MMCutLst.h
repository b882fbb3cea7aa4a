// The segment list of a wave: ranges of frames, ordered by their first frame, that make up
// what a wave plays. A loaded wave holds exactly one segment, its play range.
#pragma once

#include "audio/MMDSPObj.h"
#include "common/MMObj.h"

#include <cstdint>
#include <vector>

// An index outside a list.
class EListError : public EMMError {
public:
    using EMMError::EMMError;
};

struct TMMSegment {
    int32_t StartSample = 0;  // first frame
    int32_t StartByte = 0;    // offset of the first frame within the data
    int32_t Samples = 0;      // frame count
    int32_t Bytes = 0;        // byte count
    int32_t Reserved = 0;
};

class TMMCutList : public TMMObject {
public:
    int32_t Count() const { return int32_t(items_.size()); }
    int32_t Capacity() const { return capacity_; }
    // The segment at index; EListError "List index out of bounds (%d)" outside the list.
    const TMMSegment& Items(int32_t index) const;
    // Inserts segment in the order of first frames. Returns its index, or -1 when its first
    // frame lies inside a segment already in the list (nothing is added then).
    int32_t Add(const TMMSegment& segment);
    // Removes the segment at index; EListError outside the list.
    void Delete(int32_t index);
    void Clear();

private:
    void Grow();

    std::vector<TMMSegment> items_;
    int32_t capacity_ = 0;
};
