#include "platform/FileNames.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

TEST(FileNamesTest, EveryByteOfANameSurvivesTheRoundTripAndIsShownAsWellAsItCanBe) {
    const struct {
        std::string bytes;
        const char* shown;  // UTF-8
    } cases[] = {
        {"song.mp3", "song.mp3"},
        {"can\xC3\xA7\xC3\xA3o.mp3", "can\xC3\xA7\xC3\xA3o.mp3"},      // UTF-8
        {"can\xE7\xE3o.mp3", "can\xC3\xA7\xC3\xA3o.mp3"},              // Latin-1, shown as such
        {"\xC0\xAF-\xED\xA0\x80-\xF4\x90\x80\x80", "\xC3\x80\xC2\xAF-\xC3\xAD\xC2\xA0\xC2\x80-\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},
        {"a\xE2\x82", "a\xC3\xA2\xC2\x82"},                              // cut short at the end
        {"\xF0\x9F\x8E\xB5 \xFF", "\xF0\x9F\x8E\xB5 \xC3\xBF"},        // a character beyond 16 bits
    };
    for (const auto& c : cases) {
        const QString held = FileNameToQString(c.bytes);
        EXPECT_EQ(FileNameBytes(held), c.bytes) << c.shown;
        EXPECT_EQ(DisplayFileName(held).toStdString(), c.shown);
    }
    // Any other text gives its UTF-8.
    EXPECT_EQ(FileNameBytes(QString::fromUtf8("can\xC3\xA7\xC3\xA3o")), "can\xC3\xA7\xC3\xA3o");

    testutil::TempDir dir;
    const std::string latin1 = dir.file("can\xE7\xE3o.mp3");
    testutil::writeFile(latin1, "x");
    EXPECT_TRUE(IsRegularFile(FileNameToQString(latin1)));
    EXPECT_FALSE(IsRegularFile(QString::fromLatin1(latin1.c_str())));  // what Qt would make of it
    EXPECT_FALSE(IsRegularFile(FileNameToQString(dir.path().string())));
    char arg0[] = "tessivo", arg1[] = "can\xE7\xE3o.mp3";
    char* argv[] = {arg0, arg1, nullptr};
    EXPECT_EQ(ArgumentsAsFileNames(2, argv), QStringList{FileNameToQString(arg1)});
}
