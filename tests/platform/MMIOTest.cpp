#include "platform/MMIO.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using testutil::le32;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

using testutil::FileSizeLimit;

namespace {

std::string pattern(size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = char(x >> 16);
    }
    return s;
}

// Changes bytes of a file behind the handle's back, to see whether a read reaches the disk.
void pokeFile(const std::string& path, int64_t offset, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
    ::close(fd);
}

std::string readAt(HMMIO h, int32_t offset, int32_t n) {
    std::string s(size_t(n), '\0');
    EXPECT_EQ(mmioSeek(h, offset, SEEK_SET), offset);
    const int32_t got = mmioRead(h, s.data(), n);
    s.resize(size_t(got < 0 ? 0 : got));
    return s;
}


}  // namespace

TEST(MMIOTest, WritesAndReadsBackAcrossBufferBoundaries) {
    TempDir dir;
    const std::string path = dir.file("a.bin");
    const std::string data = pattern(100000);
    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    size_t at = 0;
    for (size_t piece : {1u, 7u, 8191u, 8192u, 20000u, 3u, 40000u}) {
        ASSERT_EQ(mmioWrite(h, data.data() + at, int32_t(piece)), int32_t(piece));
        at += piece;
    }
    ASSERT_EQ(mmioWrite(h, data.data() + at, int32_t(data.size() - at)), int32_t(data.size() - at));

    // Overwrite in the middle and read through the same handle: the buffer and the disk agree.
    std::string changed = data;
    changed.replace(30000, 5, "HELLO");
    ASSERT_EQ(mmioSeek(h, 30000, SEEK_SET), 30000);
    ASSERT_EQ(mmioWrite(h, "HELLO", 5), 5);
    EXPECT_EQ(readAt(h, 29998, 9), changed.substr(29998, 9));
    EXPECT_EQ(readAt(h, 0, 100000), changed);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 100000);
    EXPECT_EQ(mmioClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(readFile(path), changed);
}

TEST(MMIOTest, ReadsInAllSizesMatchTheFile) {
    TempDir dir;
    const std::string path = dir.file("r.bin");
    const std::string data = pattern(300001, 7);
    writeFile(path, data);
    for (int32_t piece : {1, 3, 4096, 5000, 65532, 300001}) {
        HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr);
        if (piece == 5000) {
            ASSERT_EQ(mmioSetBuffer(h, nullptr, 100000), MMSYSERR_NOERROR);
        }
        std::string got;
        std::vector<char> buf(static_cast<size_t>(piece));
        int32_t r;
        while ((r = mmioRead(h, buf.data(), piece)) > 0)
            got.append(buf.data(), size_t(r));
        EXPECT_EQ(r, 0) << piece;  // the end of the file reads 0, not an error
        EXPECT_EQ(got, data) << piece;
        mmioClose(h);
    }
}

TEST(MMIOTest, SeekInsideTheWindowStaysInTheBufferAndFarSeeksLoadOnlyABlock) {
    TempDir dir;
    const std::string path = dir.file("w.bin");
    const std::string data = pattern(400000, 3);
    writeFile(path, data);
    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 100000), MMSYSERR_NOERROR);

    // A seek and a 4-byte read load the aligned block around the position (offset 200000
    // lies in the block 196608..200703).
    EXPECT_EQ(readAt(h, 200000, 4), data.substr(200000, 4));
    pokeFile(path, 199000, "AAAA");
    pokeFile(path, 200800, "BBBB");
    // Inside the window: the buffer answers, the disk's change is not seen.
    EXPECT_EQ(readAt(h, 199000, 4), data.substr(199000, 4));
    // Past the block: a fresh read, so not the whole buffer was filled by the first read.
    EXPECT_EQ(readAt(h, 200800, 4), "BBBB");

    // A read that continues the previous one fills the whole buffer.
    EXPECT_EQ(readAt(h, 300000, 4), data.substr(300000, 4));
    std::string next(4000, '\0');
    ASSERT_EQ(mmioRead(h, next.data(), 4000), 4000);  // runs past the block: sequential
    EXPECT_EQ(next, data.substr(300004, 4000));
    pokeFile(path, 350000, "CCCC");
    EXPECT_EQ(readAt(h, 350000, 4), data.substr(350000, 4));  // already in the window
    mmioClose(h);
}

TEST(MMIOTest, ChunksAreCreatedWithDirtySizesAndPadBytes) {
    TempDir dir;
    const std::string path = dir.file("c.riff");
    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{};
    riff.fccType = mmioStringToFOURCC("TEST");
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_TRUE(riff.dwFlags & MMIO_DIRTY);
    MMCKINFO odd{};
    odd.ckid = mmioStringToFOURCC("odd ");
    ASSERT_EQ(mmioCreateChunk(h, &odd, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "abc", 3), 3);
    ASSERT_EQ(mmioAscend(h, &odd), MMSYSERR_NOERROR);
    EXPECT_EQ(odd.cksize, 3u);
    EXPECT_FALSE(odd.dwFlags & MMIO_DIRTY);
    MMCKINFO list{};
    list.fccType = mmioStringToFOURCC("INFO");
    ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
    MMCKINFO name{};
    name.ckid = mmioStringToFOURCC("INAM");
    ASSERT_EQ(mmioCreateChunk(h, &name, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "xy", 2), 2);
    ASSERT_EQ(mmioAscend(h, &name), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &list), MMSYSERR_NOERROR);
    // A chunk that is not dirty keeps its size: ascending just skips to its end.
    MMCKINFO kept{};
    kept.ckid = mmioStringToFOURCC("kept");
    kept.cksize = 2;
    ASSERT_EQ(mmioCreateChunk(h, &kept, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "zz", 2), 2);
    kept.dwFlags = 0;
    ASSERT_EQ(mmioAscend(h, &kept), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &riff), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioClose(h), MMSYSERR_NOERROR);

    const std::string want = std::string("RIFF") + le32(48) + "TEST"      //
                             + "odd " + le32(3) + std::string("abc\0", 4)  // pad byte
                             + "LIST" + le32(14) + "INFO" + "INAM" + le32(2) + "xy" +
                             "kept" + le32(2) + "zz";
    EXPECT_EQ(readFile(path), want);

    // And navigate it.
    h = mmioOpen(path.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO r{};
    r.fccType = mmioStringToFOURCC("TEST");
    ASSERT_EQ(mmioDescend(h, &r, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(r.cksize, 48u);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 12);
    MMCKINFO l{};
    l.fccType = mmioStringToFOURCC("INFO");
    ASSERT_EQ(mmioDescend(h, &l, &r, MMIO_FINDLIST), MMSYSERR_NOERROR);
    EXPECT_EQ(l.dwDataOffset, 32u);
    MMCKINFO sub{};
    ASSERT_EQ(mmioDescend(h, &sub, &l, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sub.ckid, mmioStringToFOURCC("INAM"));
    ASSERT_EQ(mmioAscend(h, &sub), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioDescend(h, &sub, &l, 0), MMIOERR_CHUNKNOTFOUND);  // end of the list
    ASSERT_EQ(mmioAscend(h, &l), MMSYSERR_NOERROR);
    MMCKINFO k{};
    k.ckid = mmioStringToFOURCC("nope");
    EXPECT_EQ(mmioDescend(h, &k, &r, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h);
}

TEST(MMIOTest, TruncatedHeaderIsNotAChunk) {
    TempDir dir;
    const std::string path = dir.file("t.riff");
    writeFile(path, "RIFF\x10\0\0");
    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO ck{};
    EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h);
}

TEST(MMIOTest, OpenFlagsForNamesAndFailures) {
    TempDir dir;
    const std::string path = dir.file("e.bin");
    MMIOINFO info;
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    writeFile(path, "x");
    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_EXIST), mmioSuccess());
    EXPECT_EQ(mmioOpen(dir.path().c_str(), nullptr, MMIO_EXIST), nullptr);  // a folder is no file
    EXPECT_EQ(mmioOpen(dir.path().c_str(), &info, MMIO_READ), nullptr);  // a folder is no file
    EXPECT_NE(info.wErrorRet, 0u);

    // A read-only handle refuses writes at once instead of failing later.
    HMMIO ro = mmioOpen(path.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(mmioWrite(ro, "y", 1), -1);
    EXPECT_EQ(mmioClose(ro), MMSYSERR_NOERROR);

    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_DELETE), mmioSuccess());
    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_DELETE), nullptr);

    char name[MMIO_MAXPATH + 1] = "some/../rel.wav";
    ASSERT_EQ(mmioOpen(name, nullptr, MMIO_PARSE), mmioSuccess());
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(name), std::string(cwd) + "/rel.wav");
    std::string tooLong = "/" + std::string(MMIO_MAXPATH, 'a');
    std::vector<char> big(tooLong.begin(), tooLong.end());
    big.resize(tooLong.size() + 1, '\0');
    EXPECT_EQ(mmioOpen(big.data(), nullptr, MMIO_PARSE), nullptr);

    EXPECT_EQ(mmioStringToFOURCC("fmt"), mmioFOURCC('f', 'm', 't', ' '));
    EXPECT_EQ(mmioStringToFOURCC("wave", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', 'E'));
}

TEST(MMIOTest, FullDiskFailsTheCallThatMeetsIt) {
    TempDir dir;
    const std::string data = pattern(40000);
    {
        // Buffered small writes: the failure surfaces at a later write or at the flush.
        const std::string path = dir.file("full1.bin");
        FileSizeLimit limit(10000);
        HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr);
        bool failed = false;
        for (int i = 0; i < 10 && !failed; ++i)
            failed = mmioWrite(h, data.data() + i * 4000, 4000) != 4000;
        if (!failed)
            failed = mmioFlush(h) != MMSYSERR_NOERROR;
        EXPECT_TRUE(failed);
        MMIOINFO info;
        ASSERT_EQ(mmioGetInfo(h, &info), MMSYSERR_NOERROR);
        EXPECT_EQ(info.wErrorRet, MMIOERR_CANNOTWRITE);
        // Reads show what the disk holds, not the dropped bytes.
        EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 10000);
        mmioClose(h);
    }
    {
        // A large write goes straight to the file and fails itself.
        const std::string path = dir.file("full2.bin");
        FileSizeLimit limit(10000);
        HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(mmioWrite(h, data.data(), 40000), -1);
        EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 0);  // the position did not move
        mmioClose(h);
    }
    {
        // Bytes still buffered at close: the close reports them.
        const std::string path = dir.file("full3.bin");
        FileSizeLimit limit(100);
        HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(mmioWrite(h, data.data(), 1000), 1000);
        EXPECT_EQ(mmioClose(h), MMIOERR_CANNOTWRITE);
    }
}

TEST(MMIOTest, TinyCallerBuffersAndUnbufferedFilesBehaveTheSame) {
    TempDir dir;
    const std::string data = pattern(20000, 11);
    for (int32_t size : {0, 1, 16, 5000}) {
        const std::string path = dir.file("b" + std::to_string(size) + ".bin");
        std::vector<char> callerBuffer(16);
        HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(mmioSetBuffer(h, size == 16 ? callerBuffer.data() : nullptr, size), MMSYSERR_NOERROR);
        MMIOINFO info;
        ASSERT_EQ(mmioGetInfo(h, &info), MMSYSERR_NOERROR);
        EXPECT_EQ(info.cchBuffer, size);
        for (size_t at = 0; at < data.size(); at += 333)
            ASSERT_EQ(mmioWrite(h, data.data() + at, int32_t(std::min<size_t>(333, data.size() - at))),
                      int32_t(std::min<size_t>(333, data.size() - at)));
        ASSERT_EQ(mmioSeek(h, 1000, SEEK_SET), 1000);
        ASSERT_EQ(mmioWrite(h, "XYZ", 3), 3);
        std::string want = data;
        want.replace(1000, 3, "XYZ");
        EXPECT_EQ(readAt(h, 998, 7), want.substr(998, 7)) << size;
        std::string all;
        ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
        char piece[777];
        int32_t r;
        while ((r = mmioRead(h, piece, sizeof piece)) > 0)
            all.append(piece, size_t(r));
        EXPECT_EQ(all, want) << size;
        EXPECT_EQ(mmioSetBuffer(h, nullptr, -1), MMSYSERR_INVALPARAM);
        ASSERT_EQ(mmioClose(h), MMSYSERR_NOERROR);
        EXPECT_EQ(readFile(path), want) << size;
    }
}
