#include "platform/FileUpdate.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <set>
#include <string>

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

namespace {

namespace fs = std::filesystem;

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

constexpr uid_t Nobody = 65534;

}  // namespace

TEST(FileUpdateTest, ReplacementIsUniqueBesideTheFileAndRemovesOnlyItsOwnStaleTemporaries) {
    TempDir dir;
    const std::string path = dir.file("song.mp3");
    writeFile(path, "0123456789");
    // The fixed name an older version used, planted as a link to a file of someone else's; a stale
    // temporary of a killed save of this file; one of another file.
    writeFile(dir.file("victim"), "victim");
    fs::create_symlink(dir.file("victim"), path + "~");
    const std::string stale = TFileUpdate::TempPrefix("song.mp3") + "a1B2c3";
    const std::string others = TFileUpdate::TempPrefix("other.mp3") + "a1B2c3";
    writeFile(dir.file(stale), "stale copy");
    writeFile(dir.file(others), "other copy");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.file(stale).c_str(), Nobody, Nobody), 0);
    }
    ::chmod(path.c_str(), 0640);

    TFileUpdate u;
    ASSERT_TRUE(u.Open(path));
    EXPECT_FALSE(fs::exists(dir.file(stale)));
    ASSERT_TRUE(u.Replace("HEAD", 4));
    u.Close();
    EXPECT_EQ(readFile(path), "HEAD456789");
    EXPECT_EQ(readFile(dir.file("victim")), "victim");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"song.mp3", "song.mp3~", "victim", others}));
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A name at the length limit still gets a temporary name the folder can hold.
    const std::string longName = std::string(250, 'n') + ".mp3";
    writeFile(dir.file(longName), "abc");
    ASSERT_TRUE(u.Open(dir.file(longName)));
    EXPECT_TRUE(u.Replace("x", 1));
    EXPECT_EQ(readFile(dir.file(longName)), "xbc");
    EXPECT_NE(TFileUpdate::TempPrefix(longName), TFileUpdate::TempPrefix(std::string(250, 'n') + ".mp2"));

    // A change within one page is written in place; one across a page boundary is refused there.
    writeFile(path, std::string(10000, 'a'));
    ASSERT_TRUE(u.Open(path));
    EXPECT_TRUE(u.WriteInPage(4090, "bbbbbb"));
    EXPECT_FALSE(u.WriteInPage(4090, "bbbbbbb"));
    EXPECT_EQ(readFile(path), std::string(4090, 'a') + "bbbbbb" + std::string(10000 - 4096, 'a'));
}

TEST(FileUpdateTest, ASecondUpdateWaitsForTheFirstAndLocksTheFileItLeft) {
    TempDir dir;
    const std::string path = dir.file("song.mp3");
    writeFile(path, "old data");
    TFileUpdate first;
    ASSERT_TRUE(first.Open(path));

    TFileUpdate second;
    EXPECT_FALSE(second.Open(path, std::chrono::milliseconds(50)));
    EXPECT_EQ(errno, EWOULDBLOCK);

    // Waiting while the first replaces the file: the second ends up on the new file, not on the
    // one that was renamed over.
    auto waiting = std::async(std::launch::async, [&] { return second.Open(path, std::chrono::seconds(10)); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_TRUE(first.Replace("new", 3));
    first.Close();
    ASSERT_TRUE(waiting.get());
    struct stat now {};
    ::stat(path.c_str(), &now);
    EXPECT_EQ(second.Stat().st_ino, now.st_ino);
    EXPECT_TRUE(second.WriteInPage(0, "N"));
    second.Close();
    EXPECT_EQ(readFile(path), "New data");
}

TEST(FileUpdateTest, OnlyAFileTheUserMayWriteIsReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user (nobody) needs root";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the folder is anybody's to write
    const std::string path = dir.file("song.mp3");
    const struct {
        uid_t owner;
        mode_t mode;
        bool replaced;
        mode_t modeAfter;
    } cases[] = {
        {0, 0644, false, 0644},        // root's file in a folder nobody may write
        {0, 0444, false, 0444},
        {0, 0666, true, 0666},         // anybody may write the file itself
        {Nobody, 0444, true, 0644},    // the owner's read-only attribute is cleared
        {Nobody, 0640, true, 0640},
    };
    for (const auto& c : cases) {
        writeFile(path, "old data");
        ASSERT_EQ(::chown(path.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) ::_exit(3);
            TFileUpdate u;
            ::_exit(u.Open(path) && u.Replace("new", 3) ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.replaced ? 0 : 1) << c.owner << " " << std::oct << c.mode;
        EXPECT_EQ(readFile(path), c.replaced ? "new data" : "old data");
        struct stat st {};
        ::stat(path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, c.modeAfter) << std::oct << c.mode;
        if (!c.replaced) {
            EXPECT_EQ(st.st_uid, c.owner);
        }
        EXPECT_EQ(names(dir.path()), std::set<std::string>{"song.mp3"});
    }
}
