// Saves that are killed at any moment or run twice at once: the file afterwards holds one
// complete version of the tag and its audio bytes.
#include "tags/ID3v2.h"
#include "tags/U_Funcoes.h"

#include "Id3TestUtil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

using namespace id3test;
using testutil::readFile;
using testutil::sha256;
using testutil::TempDir;
using testutil::writeFile;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `save` in a child process, returning once the child has run `prepare`; Wait gives its exit
// status (or 128 + the signal that ended it).
struct Child {
    pid_t pid = -1;
    explicit Child(const std::function<bool()>& save, const std::function<void()>& prepare = [] {}) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            prepare();
            if (::write(ready[1], "r", 1) != 1) ::_exit(2);
            ::_exit(save() ? 0 : 1);
        }
        ::close(ready[1]);
        char c;
        if (::read(ready[0], &c, 1) != 1) ADD_FAILURE() << "the child ended before its save";
        ::close(ready[0]);
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

// A song tagged as players leave it: a title and a 1 MB cover picture ahead of everything else.
std::string songWithPicture(const TempDir& dir, const std::string& sound) {
    const std::string path = dir.file("picture.mp3");
    writeFile(path, sound);
    EXPECT_TRUE(mutagenRun(path, "import random\n"
                                 "random.seed(9)\n"
                                 "t = ID3()\n"
                                 "t.add(TIT2(encoding=0, text='Capa'))\n"
                                 "t.add(APIC(encoding=0, mime='image/jpeg', type=3, desc='',\n"
                                 "           data=bytes(random.getrandbits(8) for _ in range(1 << 20))))\n"
                                 "t.add(TINT(encoding=0, text='0:00.500'))\n"
                                 "t.save(path, v2_version=3, padding=lambda info: 0)\n"));
    return readFile(path);
}

}  // namespace

TEST(SaveSafetyTest, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    // In memory when it can: a kill leaves the same page-cache states there, and the rounds do
    // not wait for a disk.
    TempDir dir(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path());
    const std::string sound = audio(200000, 4);
    const std::string picture = songWithPicture(dir, sound);
    const std::string path = dir.file("song.mp3");
    // The child reads the tag and makes its change before the clock starts: the kills land in the save.
    TID3v2 t;
    const auto save = [&] { return t.SaveToFile(path); };
    struct Case {
        std::string before;
        std::function<void(TID3v2&)> change;
        std::string after;
        Clock::duration took{};
        int old = 0, done = 0;
    };
    std::vector<Case> cases;
    auto add = [&](const std::string& before, const std::function<void(TID3v2&)>& change) {
        cases.emplace_back();
        cases.back().before = before;
        cases.back().change = change;
    };
    // The first save of the picture file needs a new file; a later one makes a marker longer (which
    // must not move the picture in place), and a long comment moves bytes across pages; a small tag
    // is changed in place.
    add(picture, [](TID3v2& t) { t.SetIntroMark("0:01.000"); });
    add("", [](TID3v2& t) { t.SetIntroMark("10:02.500"); });
    add("", [](TID3v2& t) { t.SetComment(std::string(6000, 'c')); });
    add(tag(3, frame3("TIT2", latin1("Pequeno")) + std::string(4000, '\0')) + sound,
        [](TID3v2& t) { t.SetStartMark("0:00.100"); });
    auto prepare = [&](const Case& c) {
        return [&] {
            t.ReadFromFile(path);
            c.change(t);
        };
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        Case& c = cases[i];
        if (c.before.empty()) c.before = cases[0].after;
        writeFile(path, c.before);
        Child child(save, prepare(c));
        const auto start = Clock::now();
        ASSERT_EQ(child.Wait(), 0);
        c.took = Clock::now() - start;
        c.after = readFile(path);
        ASSERT_NE(c.after, c.before);
        EXPECT_EQ(sha256(c.after.substr(c.after.size() - sound.size())), sha256(sound));
    }

    std::mt19937 random(42);
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
        Case& c = cases[static_cast<size_t>(round) % cases.size()];
        writeFile(path, c.before);
        Child child(save, prepare(c));
        const auto range = std::max<Clock::duration>(c.took, std::chrono::milliseconds(2)) * 6 / 5;
        auto delay = std::uniform_int_distribution<Clock::rep>(0, range.count())(random) * Clock::duration(1);
        // On a loaded machine a save's time varies widely: in the last quarter of the rounds a case
        // whose kills all landed on one side of its save aims at the other.
        if (round >= kRounds * 3 / 4 && c.old == 0) delay = Clock::duration(0);
        if (round >= kRounds * 3 / 4 && c.done == 0) delay = range * 10;
        std::this_thread::sleep_for(delay);
        ::kill(child.pid, SIGKILL);
        child.Wait();
        const std::string now = readFile(path);
        ASSERT_TRUE(now == c.before || now == c.after) << "round " << round;
        (now == c.before ? c.old : c.done)++;
    }
    for (const Case& c : cases) {
        EXPECT_GT(c.old, 0);  // kills landed before the save ended as well as after
        EXPECT_GT(c.done, 0);
    }
    // Whatever killed saves left behind goes with the next save of the file.
    ASSERT_EQ(Child(save, prepare(cases[1])).Wait(), 0);
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"picture.mp3", "song.mp3"}));
    EXPECT_EQ(textOf(mutagenTag(path), "TINT"), "10:02.500");
}

TEST(SaveSafetyTest, TwoEditorSavesOfOneFileBothLand) {
    TempDir dir;
    const std::string sound = audio(100000, 6);
    const std::string picture = songWithPicture(dir, sound);
    const std::string path = dir.file("song.mp3");
    for (int round = 0; round < 24; ++round) {
        // Both read the file, then save at once: one a marker (in place once the tag has room), the
        // other a marker and, every other round, a comment too long for the room (a new file).
        writeFile(path, round % 3 == 0 ? picture : tag(3, frame3("TIT2", latin1("T")) + std::string(4000, '\0')) + sound);
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        auto editor = [&](const std::string& intro, const std::string& mix, const std::string& comment) {
            return [&, intro, mix, comment] {
                ::close(go[1]);
                char c;
                if (::read(go[0], &c, 1) != 0) return false;
                const std::string e;
                return WriteMarkers(path, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, e, comment, intro, e, e, e,
                                    e, e, e, mix);
            };
        };
        const std::string comment = round % 2 ? std::string(5000, 'k') : "curto";
        const auto load = [&] {
            OpenAudioInfo("MP3");
            ReadAudioInfo(path);
        };
        Child a(editor("0:0" + std::to_string(round % 10) + ".000", "", ""), load);
        Child b(editor("", "1:" + std::to_string(10 + round) + ".000", comment), load);
        ::close(go[0]);
        ::close(go[1]);  // both go
        EXPECT_EQ(a.Wait(), 0);
        EXPECT_EQ(b.Wait(), 0);
        TID3v2 t;
        ASSERT_TRUE(t.ReadFromFile(path));
        EXPECT_EQ(t.IntroMark(), "0:0" + std::to_string(round % 10) + ".000") << round;
        EXPECT_EQ(t.MixMark(), "1:" + std::to_string(10 + round) + ".000") << round;
        EXPECT_EQ(t.Comment(), comment) << round;
        const std::string file = readFile(path);
        EXPECT_EQ(sha256(file.substr(file.size() - sound.size())), sha256(sound)) << round;
    }
    EXPECT_EQ(textOf(mutagenTag(path), "TCAD"), "S");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"picture.mp3", "song.mp3"}));
}
