// The rollback guard: it runs on a failure, not after Dismiss, and a failing undo does not
// replace the error that caused it.
#include "common/ScopeExit.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ScopeExitTest, UndoesOnFailureOnlyAndKeepsTheFirstError) {
    int undone = 0;
    {
        auto undo = ScopeExit([&] { ++undone; });
        undo.Dismiss();
    }
    EXPECT_EQ(undone, 0);
    try {
        auto undo = ScopeExit([&] {
            ++undone;
            throw std::logic_error("undo failed");
        });
        throw std::runtime_error("work failed");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "work failed");
    }
    EXPECT_EQ(undone, 1);
}

}  // namespace
