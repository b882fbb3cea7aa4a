#include "audio/MMCutLst.h"

#include <gtest/gtest.h>

namespace {
TMMSegment seg(int32_t start, int32_t samples) {
    TMMSegment s;
    s.StartSample = start;
    s.Samples = samples;
    s.StartByte = start * 4;
    s.Bytes = samples * 4;
    return s;
}
}  // namespace

TEST(MMCutLstTest, KeepsSegmentsOrderedAndRefusesStartsInsideOthers) {
    TMMCutList list;
    EXPECT_EQ(list.Add(seg(100, 50)), 0);
    EXPECT_EQ(list.Add(seg(10, 20)), 0);    // before the first
    EXPECT_EQ(list.Add(seg(300, 10)), 2);   // after the last
    EXPECT_EQ(list.Add(seg(150, 100)), 2);  // right at the end of [100, 150)
    EXPECT_EQ(list.Add(seg(149, 1)), -1);   // last frame of [100, 150)
    EXPECT_EQ(list.Add(seg(10, 5)), -1);    // first frame of [10, 30)
    EXPECT_EQ(list.Add(seg(200, 5)), -1);   // inside [150, 250)
    ASSERT_EQ(list.Count(), 4);
    const int32_t starts[] = {10, 100, 150, 300};
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(list.Items(i).StartSample, starts[i]);
    EXPECT_EQ(list.Items(1).Bytes, 200);

    // A long segment can cover starts beyond its neighbour.
    TMMCutList overlap;
    overlap.Add(seg(0, 1000));
    EXPECT_EQ(overlap.Add(seg(500, 10)), -1);
    // A segment of no frames contains nothing.
    TMMCutList empty;
    EXPECT_EQ(empty.Add(seg(7, 0)), 0);
    EXPECT_EQ(empty.Add(seg(7, 3)), 1);

    list.Delete(0);
    EXPECT_EQ(list.Items(0).StartSample, 100);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(MMCutLstTest, IndexOutsideTheListRaisesWithItsNumber) {
    TMMCutList list;
    list.Add(seg(0, 10));
    try {
        list.Items(1);
        FAIL() << "no exception";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (1)");
    }
    try {
        list.Delete(-1);
        FAIL() << "no exception";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
    }
}

TEST(MMCutLstTest, CapacityGrowsByFourEightThenSixteen) {
    TMMCutList list;
    std::vector<int32_t> caps;
    for (int32_t i = 0; i < 30; ++i) {
        list.Add(seg(i * 10, 1));
        if (caps.empty() || caps.back() != list.Capacity()) caps.push_back(list.Capacity());
    }
    EXPECT_EQ(caps, (std::vector<int32_t>{4, 8, 16, 32}));
}
