// The comment's line breaks between the memo and the tag.
#include "app/CommentText.h"

#include <gtest/gtest.h>

TEST(CommentTextTest, LinesAreWrittenWithCrLfAndReadFromEitherLineEnd) {
    const struct {
        QString memo;
        std::string tag;
    } toTag[] = {
        {"uma linha", "uma linha"},
        {QString::fromUtf8("primeira\nsegunda ção"), "primeira\r\nsegunda ção"},
        {"a\r\nb\rc\n\nd", "a\r\nb\r\nc\r\n\r\nd"},
        {QString("a") + QChar::LineSeparator + "b" + QChar::ParagraphSeparator + "c", "a\r\nb\r\nc"},
        {"", ""},
    };
    for (const auto& c : toTag) EXPECT_EQ(CommentForTag(c.memo), c.tag) << c.memo.toStdString();

    for (const char* stored : {"um\ndois\n\ntrês", "um\r\ndois\r\n\r\ntrês", "um\rdois\r\rtrês"})
        EXPECT_EQ(CommentForMemo(stored), QString::fromUtf8("um\ndois\n\ntrês")) << stored;
    EXPECT_EQ(CommentForTag(CommentForMemo("um\r\ndois")), "um\r\ndois");
}
