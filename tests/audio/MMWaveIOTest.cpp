#include "audio/MMWaveIO.h"

#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using testutil::le16;
using testutil::le32;
using testutil::readFile;
using testutil::run;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeFile;

using testutil::FileSizeLimit;

namespace {

struct Chunk {
    std::string id;
    size_t offset;  // of the header
    uint32_t size;
};

uint32_t rd32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(s[at + size_t(i)]);
    return v;
}

// The top-level chunks of a RIFF file, following the sizes as written.
std::vector<Chunk> chunksOf(const std::string& file) {
    std::vector<Chunk> out;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = rd32(file, at + 4);
        out.push_back({file.substr(at, 4), at, size});
        at += 8 + size + (size & 1);
    }
    return out;
}

std::string chunk(const std::string& id, const std::string& body) {
    std::string c = id + le32(uint32_t(body.size())) + body;
    if (body.size() & 1)
        c.push_back('\0');
    return c;
}

// Inserts bytes at offset and fixes the RIFF size.
std::string insertAt(std::string file, size_t offset, const std::string& bytes) {
    file.insert(offset, bytes);
    file.replace(4, 4, le32(uint32_t(file.size() - 8)));
    return file;
}

std::string fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                    uint16_t bits) {
    return le16(tag) + le16(channels) + le32(rate) + le32(avg) + le16(align) + le16(bits);
}

bool sox(const std::string& args) { return run("sox " + args + " 2>/dev/null") == 0; }

std::string soxi(const std::string& option, const std::string& path) {
    std::string out;
    run("soxi " + option + " " + shellQuote(path) + " 2>/dev/null", &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string soxRaw(const std::string& path) {
    std::string out;
    run("sox " + shellQuote(path) + " -t raw - 2>/dev/null", &out);
    return out;
}

// A short sine made by sox.
std::string soxWave(const TempDir& dir, const std::string& name, int bits, int channels,
                    const std::string& extra = "") {
    const std::string path = dir.file(name);
    EXPECT_TRUE(sox("-n -r 8000 -b " + std::to_string(bits) + " -c " + std::to_string(channels) + " " +
                    extra + " " + shellQuote(path) + " synth 0.1 sine 440"));
    return path;
}

std::string samples(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = char(x >> 24);
    }
    return s;
}

WAVEFORMATEX pcm(int bits, int channels, int rate) {
    WAVEFORMATEX f{};
    SetPCMFormat(&f, bits, channels, rate);
    return f;
}

// Writes a new wave file through the layer in pieces of the given size.
int32_t writeWave(const std::string& path, const WAVEFORMATEX& f, const std::string& data, size_t piece) {
    TWaveIORecordPtr rec = WaveIOCreateRecord(&f);
    EXPECT_NE(rec, nullptr);
    EXPECT_EQ(WaveIOCreate(rec.get(), path), WIOERR_NOERROR);
    for (size_t at = 0; at < data.size(); at += piece) {
        const int32_t n = int32_t(std::min(piece, data.size() - at));
        EXPECT_EQ(WaveIOWrite(rec.get(), data.data() + at, n), n);
    }
    const int32_t rc = WaveIOClose(rec.get());
    return rc;
}


}  // namespace

TEST(MMWaveIOTest, WrittenFilesAreByteExactAndReadBackBySox) {
    TempDir dir;
    struct Case {
        int bits, channels, rate;
        size_t bytes, piece;
    };
    for (const Case& c : {Case{8, 1, 11025, 12345, 1000}, Case{16, 2, 44100, 40000, 4096}}) {
        const std::string path = dir.file("out" + std::to_string(c.bits) + ".wav");
        const std::string data = samples(c.bytes, unsigned(c.bits));
        const WAVEFORMATEX f = pcm(c.bits, c.channels, c.rate);
        ASSERT_EQ(writeWave(path, f, data, c.piece), WIOERR_NOERROR);

        const uint32_t frames = uint32_t(c.bytes / f.nBlockAlign);
        const std::string pad = (c.bytes & 1) ? std::string(1, '\0') : "";
        const std::string want = "RIFF" + le32(uint32_t(4 + 26 + 8 + c.bytes + pad.size() + 12)) + "WAVE" +
                                 "fmt " + le32(18) +
                                 std::string(reinterpret_cast<const char*>(&f), 16) + le16(0) +
                                 "data" + le32(uint32_t(c.bytes)) + data + pad +  //
                                 "fact" + le32(4) + le32(frames);
        const std::string got = readFile(path);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want) << "layout differs for " << c.bits << "-bit";

        EXPECT_EQ(soxi("-c", path), std::to_string(c.channels));
        EXPECT_EQ(soxi("-r", path), std::to_string(c.rate));
        EXPECT_EQ(soxi("-b", path), std::to_string(c.bits));
        EXPECT_EQ(soxi("-s", path), std::to_string(frames));
        EXPECT_TRUE(soxRaw(path) == data) << c.bits << "-bit samples differ";
    }
}

TEST(MMWaveIOTest, WritingOnAfterReopeningRewritesBothSizes) {
    TempDir dir;
    const std::string path = dir.file("grow.wav");
    const WAVEFORMATEX f = pcm(16, 2, 8000);
    const std::string first = samples(4000, 1), more = samples(8, 2);
    TWaveIORecordPtr rec = WaveIOCreateRecord(&f);
    ASSERT_EQ(WaveIOCreate(rec.get(), path), WIOERR_NOERROR);
    ASSERT_EQ(WaveIOWrite(rec.get(), first.data(), 4000), 4000);
    ASSERT_EQ(WaveIOClose(rec.get()), WIOERR_NOERROR);

    ASSERT_EQ(WaveIOReopen(rec.get()), WIOERR_NOERROR);
    ASSERT_EQ(WaveIOSeek(rec.get(), 999), WIOERR_NOERROR);  // the last frame
    ASSERT_EQ(WaveIOWrite(rec.get(), more.data(), 8), 8);
    EXPECT_EQ(rec->DataSamples, 1001u);
    ASSERT_EQ(WaveIOClose(rec.get()), WIOERR_NOERROR);

    const std::string file = readFile(path);
    EXPECT_EQ(rd32(file, 4), file.size() - 8);
    EXPECT_EQ(rd32(file, 42), 4004u);
    EXPECT_EQ(soxi("-s", path), "1001");
    EXPECT_TRUE(soxRaw(path) == first.substr(0, 3996) + more);
}

TEST(MMWaveIOTest, ParsesSoxFiles) {
    TempDir dir;
    for (int bits : {8, 16}) {
        for (int channels : {1, 2}) {
            const std::string path = soxWave(dir, "s.wav", bits, channels);
            TWaveIORecordPtr rec;
            ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(rec->Handle, nullptr);  // closed again
            EXPECT_EQ(rec->Format()->wFormatTag, WAVE_FORMAT_PCM);
            EXPECT_EQ(rec->Format()->nChannels, channels);
            EXPECT_EQ(rec->Format()->wBitsPerSample, bits);
            EXPECT_EQ(rec->Format()->nSamplesPerSec, 8000u);
            EXPECT_EQ(rec->DataSamples, 800u);
            EXPECT_EQ(rec->EndSample, 800u);
            EXPECT_EQ(rec->DataBytes, 800u * bits / 8 * channels);
            EXPECT_EQ(rec->DataOffset, 44u);
            EXPECT_EQ(rec->FileSize, uint32_t(std::filesystem::file_size(path)));
            EXPECT_EQ(rec->FileName, path);
            EXPECT_EQ(soxi("-s", path), "800");
            EXPECT_TRUE(IsWaveFile(path));
        }
    }
}

TEST(MMWaveIOTest, SeeksAndReadsInsideTheData) {
    TempDir dir;
    const std::string path = dir.file("r.wav");
    const std::string data = samples(4000, 9);  // 1000 frames of 16-bit stereo
    ASSERT_EQ(writeWave(path, pcm(16, 2, 8000), data, 4000), WIOERR_NOERROR);
    TWaveIORecordPtr rec;
    ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
    char buf[4000];
    EXPECT_EQ(WaveIORead(rec.get(), buf, 4), -1);  // not open

    // Without a handle only the position moves.
    EXPECT_EQ(WaveIOSeek(rec.get(), 10), WIOERR_NOERROR);
    EXPECT_EQ(rec->SamplePos, 10u);
    EXPECT_EQ(WaveIOReopen(rec.get()), WIOERR_NOERROR);
    ASSERT_NE(rec->Handle, nullptr);
    EXPECT_EQ(rec->BytesLeft, 3960);
    ASSERT_EQ(WaveIORead(rec.get(), buf, 8), 8);
    EXPECT_EQ(std::string(buf, 8), data.substr(40, 8));
    EXPECT_EQ(rec->SamplePos, 12u);

    // Seeks clamp to the last frame; reads stop at the end of the range.
    EXPECT_EQ(WaveIOSeek(rec.get(), 5000), WIOERR_NOERROR);
    EXPECT_EQ(rec->SamplePos, 999u);
    EXPECT_EQ(rec->BytesLeft, 4);
    EXPECT_EQ(WaveIORead(rec.get(), buf, 100), 4);
    EXPECT_EQ(std::string(buf, 4), data.substr(3996, 4));
    EXPECT_EQ(rec->BytesLeft, 0);
    EXPECT_EQ(rec->SamplePos, 1000u);
    EXPECT_EQ(WaveIORead(rec.get(), buf, 100), -1);
    EXPECT_EQ(WaveIOSeek(rec.get(), -1), WIOERR_FILEERROR);

    // The editor's sparse pattern: a seek and one frame per column.
    for (int32_t frame = 0; frame < 1000; frame += 37) {
        ASSERT_EQ(WaveIOSeek(rec.get(), frame), WIOERR_NOERROR);
        ASSERT_EQ(WaveIORead(rec.get(), buf, 4), 4);
        ASSERT_EQ(std::string(buf, 4), data.substr(size_t(frame) * 4, 4)) << frame;
    }
    EXPECT_EQ(WaveIOSetBuffer(rec.get(), 100000), WIOERR_NOERROR);
    EXPECT_EQ(WaveIOSeek(rec.get(), 0), WIOERR_NOERROR);
    ASSERT_EQ(WaveIORead(rec.get(), buf, 4000), 4000);
    EXPECT_EQ(std::string(buf, 4000), data);
    EXPECT_EQ(WaveIOClose(rec.get()), WIOERR_NOERROR);
    EXPECT_EQ(rec->Handle, nullptr);
    EXPECT_EQ(WaveIOSetBuffer(rec.get(), 100000), WIOERR_NOFORMAT);
    EXPECT_EQ(readFile(path).size(), 4000u + 44 + 2 + 12);  // an unwritten file is not touched
}

TEST(MMWaveIOTest, InfoTextsAndDispChunksSurviveARewrite) {
    TempDir dir;
    const std::string path = dir.file("info.wav");
    ASSERT_EQ(run("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=0.1:sample_rate=8000 "
                  "-ac 2 -c:a pcm_s16le -metadata title='Título é' -metadata artist=Quelt " +
                  shellQuote(path)),
              0);
    // A DISP chunk of text after the format.
    std::string file = readFile(path);
    file = insertAt(file, 12 + 8 + 16, chunk("DISP", le32(1) + std::string("Vinheta\0", 8)));
    writeFile(path, file);

    TWaveIORecordPtr rec;
    ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
    const auto text = [&rec](const char* id) {
        for (const auto& e : rec->InfoList)
            if (e.Id == mmioStringToFOURCC(id))
                return e.Text;
        return std::string("?");
    };
    EXPECT_EQ(text("INAM"), "Título é");
    EXPECT_EQ(text("IART"), "Quelt");
    EXPECT_EQ(text("ISFT").substr(0, 4), "Lavf");
    EXPECT_EQ(text("ICMT"), "");
    ASSERT_EQ(rec->DispList.size(), 1u);
    EXPECT_EQ(rec->DispList[0].Type, 1u);
    EXPECT_EQ(rec->DispList[0].Data, "Vinheta");
    EXPECT_EQ(rec->DataSamples, 800u);

    // Write over the first frames of the existing file and finish it.
    const std::string original = soxRaw(path);
    ASSERT_EQ(original.size(), 3200u);
    ASSERT_EQ(WaveIOReopen(rec.get()), WIOERR_NOERROR);
    const std::string fresh = samples(400, 4);
    ASSERT_EQ(WaveIOWrite(rec.get(), fresh.data(), 400), 400);
    ASSERT_EQ(WaveIOClose(rec.get()), WIOERR_NOERROR);

    const std::string rewritten = readFile(path);
    std::vector<std::string> ids;
    for (const Chunk& c : chunksOf(rewritten))
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"fmt ", "DISP", "LIST", "data", "fact", "DISP", "LIST"}));
    EXPECT_EQ(rd32(rewritten, 4), rewritten.size() - 8);
    EXPECT_EQ(soxRaw(path), fresh + original.substr(400));

    TWaveIORecordPtr again;
    ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, again), WIOERR_NOERROR);
    for (size_t i = 0; i < again->InfoList.size(); ++i)
        EXPECT_EQ(again->InfoList[i].Text, rec->InfoList[i].Text) << i;
    ASSERT_EQ(again->DispList.size(), 2u);
    EXPECT_EQ(again->DispList[1].Data, "Vinheta");
    EXPECT_EQ(again->DataSamples, 800u);
    EXPECT_NE(rewritten.find(std::string("INAM") + le32(11) + "Título é" + std::string(1, '\0')),
              std::string::npos);
}

TEST(MMWaveIOTest, SizesInHeadersAreCheckedAgainstTheFile) {
    TempDir dir;
    const std::string base = readFile(soxWave(dir, "base.wav", 16, 2));  // 3200 data bytes at 44
    ASSERT_EQ(base.size(), 3244u);
    const std::string path = dir.file("t.wav");
    TWaveIORecordPtr rec;

    // A data header that says 0, with sound and with silence after it.
    for (const std::string& body : {base.substr(44), std::string(3200, '\0')}) {
        std::string f = base.substr(0, 44) + body;
        f.replace(40, 4, le32(0));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 3200u);
        EXPECT_EQ(rec->DataSamples, 800u);
    }
    // ... but a real chunk right after an empty data chunk ends it.
    {
        std::string f = base.substr(0, 36) + chunk("data", "") + chunk("LIST", "INFO" + chunk("INAM", "x"));
        f.replace(4, 4, le32(uint32_t(f.size() - 8)));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 0u);
        EXPECT_EQ(rec->InfoList[14].Text, "x");  // INAM
    }
    // RIFF and data sizes beyond the file (what sox writes to a pipe), plus a partial frame.
    {
        const std::string piped = dir.file("piped.wav");
        ASSERT_EQ(run("sox -n -r 8000 -b 16 -c 2 -t wav - synth 0.1 sine 440 2>/dev/null | cat > " +
                      shellQuote(piped)),
                  0);
        std::string f = readFile(piped) + "xyz";
        ASSERT_GT(rd32(f, 4), f.size());
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 3200u);
        EXPECT_EQ(rec->FileSize, 3247u);
        EXPECT_EQ(rec->RiffChunk.cksize, 3239u);
    }
    // An unfinished file of ours: RIFF and data sizes still 0 as created.
    {
        const std::string unfinished = dir.file("unfinished.wav");
        const WAVEFORMATEX f = pcm(16, 2, 8000);
        TWaveIORecordPtr w = WaveIOCreateRecord(&f);
        ASSERT_EQ(WaveIOCreate(w.get(), unfinished), WIOERR_NOERROR);
        const std::string data = samples(4000, 3);
        ASSERT_EQ(WaveIOWrite(w.get(), data.data(), 4000), 4000);
        ASSERT_EQ(mmioFlush(w->Handle), MMSYSERR_NOERROR);
        ASSERT_EQ(rd32(readFile(unfinished), 4), 0u);
        ASSERT_EQ(WaveIOOpen(unfinished, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 4000u);
        EXPECT_EQ(rec->DataSamples, 1000u);
    }
    // A data header that says less than there is: the data reaches to the end of the file.
    {
        std::string f = base;
        f.replace(40, 4, le32(100));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 3200u);
    }
    // PCM whose stored alignment and rate disagree with bits and channels: corrected after the
    // data size was rounded with the stored alignment (3200 bytes in blocks of 6: 3198).
    {
        std::string f = base;
        f.replace(20, 16, fmtBody(1, 2, 8000, 12345, 6, 16));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 3198u);
        EXPECT_EQ(rec->Format()->nBlockAlign, 4);
        EXPECT_EQ(rec->Format()->nAvgBytesPerSec, 32000u);
        // 3198 / 4 = 799.5 would round up to 800 frames, 2 bytes more than the data has.
        EXPECT_EQ(rec->DataSamples, 799u);
    }
}

// The data ends with the RIFF chunk, or with the data chunk where only its pad byte follows:
// what is appended to a finished file (an ID3v1 tag, a chunk, more sound) is no sound of it.
TEST(MMWaveIOTest, TheDataNeverReachesPastTheRiffChunk) {
    TempDir dir;
    const std::string stereo = readFile(soxWave(dir, "stereo.wav", 16, 2));  // 3200 data bytes at 44
    std::string odd = readFile(soxWave(dir, "mono.wav", 8, 1)).substr(0, 44) + samples(801, 4) + '\x80';
    odd.replace(40, 4, le32(801));
    odd.replace(4, 4, le32(uint32_t(odd.size() - 8)));
    const std::string id3v1 = "TAG" + std::string("Song title") + std::string(115, ' ');
    const struct {
        const char* name;
        std::string file;
        uint32_t dataBytes;
    } cases[] = {
        {"ID3v1 tag appended", stereo + id3v1, 3200},
        {"chunk appended", stereo + chunk("LIST", "INFO" + chunk("INAM", "x")), 3200},
        {"sound appended", stereo + samples(4000, 5), 3200},
        {"pad byte, then an ID3v1 tag", odd + id3v1, 801},
    };
    const std::string path = dir.file("t.wav");
    for (const auto& c : cases) {
        writeFile(path, c.file);
        TWaveIORecordPtr rec;
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR) << c.name;
        EXPECT_EQ(rec->DataBytes, c.dataBytes) << c.name;
        ASSERT_EQ(WaveIOReopen(rec.get()), WIOERR_NOERROR);
        std::string all(c.file.size(), '\0');
        const int32_t n = WaveIORead(rec.get(), all.data(), int32_t(all.size()));
        EXPECT_TRUE(all.substr(0, size_t(std::max(n, 0))) == c.file.substr(44, c.dataBytes)) << c.name;
        WaveIOClose(rec.get());
    }
}

TEST(MMWaveIOTest, RepeatedAndMissingChunks) {
    TempDir dir;
    const std::string base = readFile(soxWave(dir, "base.wav", 8, 1));  // 800 data bytes at 44
    const std::string path = dir.file("t.wav");
    TWaveIORecordPtr rec;

    // A fact chunk never changes the frame count; a second one ends the scan.
    {
        std::string f = insertAt(base, 36, chunk("fact", le32(999)));
        f += chunk("fact", le32(5)) + chunk("LIST", "INFO" + chunk("INAM", "late"));
        f.replace(4, 4, le32(uint32_t(f.size() - 8)));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataSamples, 800u);
        EXPECT_EQ(rec->DataBytes, 800u);  // up to the header of the second fact
        EXPECT_EQ(rec->InfoList[14].Text, "");
    }
    // sox's own fact chunk (mu-law): the format is kept, frames come from the bytes.
    {
        const std::string ulaw = dir.file("u.wav");
        ASSERT_TRUE(sox("-n -r 8000 -e u-law -c 1 " + shellQuote(ulaw) + " synth 0.1 sine 440"));
        ASSERT_EQ(WaveIOOpen(ulaw, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->Format()->wFormatTag, WAVE_FORMAT_MULAW);
        EXPECT_EQ(rec->DataSamples, 800u);
    }
    // A second fmt chunk ends the scan: the first format holds, later chunks are unseen.
    {
        std::string f = base + chunk("fmt ", fmtBody(1, 2, 44100, 176400, 4, 16)) +
                        chunk("LIST", "INFO" + chunk("INAM", "late"));
        f.replace(4, 4, le32(uint32_t(f.size() - 8)));
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->Format()->nSamplesPerSec, 8000u);
        EXPECT_EQ(rec->Format()->nChannels, 1);
        EXPECT_EQ(rec->DataBytes, 800u);
        EXPECT_EQ(rec->InfoList[14].Text, "");
    }
    // No fmt chunk: 101 and no record.
    {
        std::string f = base;
        f.replace(12, 4, "junk");
        writeFile(path, f);
        rec = WaveIOCreateRecord(nullptr);
        EXPECT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOFORMAT);
        EXPECT_EQ(rec, nullptr);
        EXPECT_FALSE(IsWaveFile(path));
    }
    // No data chunk: a valid format with no frames, not the whole file read as samples.
    {
        std::string f = base;
        f.replace(36, 4, "junk");
        writeFile(path, f);
        ASSERT_EQ(WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_NOERROR);
        EXPECT_EQ(rec->DataBytes, 0u);
        EXPECT_EQ(rec->DataSamples, 0u);
    }
}

TEST(MMWaveIOTest, BadInputGivesItsResultCode) {
    TempDir dir;
    const std::string base = readFile(soxWave(dir, "base.wav", 16, 1));
    const std::string path = dir.file("bad.wav");
    TWaveIORecordPtr rec;
    const auto openWith = [&](const std::string& bytes) {
        writeFile(path, bytes);
        const int32_t rc = WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec);
        EXPECT_EQ(rec == nullptr, rc != WIOERR_NOERROR);
        return rc;
    };
    EXPECT_EQ(openWith("RIFX" + base.substr(4)), WIOERR_FILEERROR);             // not RIFF
    EXPECT_EQ(openWith(base.substr(0, 8) + "AVI " + base.substr(12)), WIOERR_FILEERROR);  // not WAVE
    EXPECT_EQ(openWith(base.substr(0, 10)), WIOERR_FILEERROR);                  // truncated header
    EXPECT_EQ(openWith(""), WIOERR_FILEERROR);
    EXPECT_EQ(openWith(base.substr(0, 30)), WIOERR_FILEERROR);  // fmt cut by the end of the file
    {
        std::string f = base;
        f.replace(32, 2, le16(0));  // block alignment 0
        EXPECT_EQ(openWith(f), WIOERR_FILEERROR);
    }
    {
        // The 14-byte format of old files has no bit width.
        std::string f = "RIFF" + le32(0) + "WAVE" + chunk("fmt ", base.substr(20, 14)) + chunk("data", "abcd");
        f.replace(4, 4, le32(uint32_t(f.size() - 8)));
        EXPECT_EQ(openWith(f), WIOERR_FILEERROR);
    }
    {
        // A PCM width that leaves no whole byte per frame.
        std::string f = base;
        f.replace(20, 16, fmtBody(1, 1, 8000, 8000, 1, 4));
        EXPECT_EQ(openWith(f), WIOERR_FILEERROR);
    }
    {
        // A chunk reaching beyond the RIFF chunk after the format and the data ends the scan,
        // and the data still ends at its header.
        std::string f = base + chunk("LIST", "INFO" + chunk("INAM", "late"));
        f.replace(4, 4, le32(uint32_t(base.size())));  // the RIFF chunk ends inside the list
        EXPECT_EQ(openWith(f), WIOERR_NOERROR);
        EXPECT_EQ(rec->InfoList[14].Text, "");
        EXPECT_EQ(rec->DataBytes, 1600u);
    }
    {
        // Before the data it is cut to the end of the file and read.
        std::string f = base.substr(0, 36) + "LIST" + le32(5000) + "INFO" + chunk("INAM", "cut");
        f.replace(4, 4, le32(uint32_t(f.size() - 8)));
        EXPECT_EQ(openWith(f), WIOERR_NOERROR);
        EXPECT_EQ(rec->InfoList[14].Text, "cut");
        EXPECT_EQ(rec->DataBytes, 0u);
    }
    EXPECT_EQ(WaveIOOpen(dir.file("missing.wav"), WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_FILEERROR);
    EXPECT_EQ(WaveIOOpen("", WAVE_FORMTYPE, WIOF_DISKFILE, rec), WIOERR_BADRECORD);

    // Calls without a record.
    char b[4];
    EXPECT_EQ(WaveIOSeek(nullptr, 0), WIOERR_FILEERROR);
    EXPECT_EQ(WaveIORead(nullptr, b, 4), -1);
    EXPECT_EQ(WaveIOWrite(nullptr, b, 4), -1);
    EXPECT_EQ(WaveIOClose(nullptr), WIOERR_NOERROR);
    EXPECT_EQ(WaveIOReopen(nullptr), WIOERR_BADRECORD);
    EXPECT_EQ(WaveIOSetBuffer(nullptr, 10), WIOERR_BADRECORD);
    EXPECT_EQ(WaveIOCreate(nullptr, path), WIOERR_BADRECORD);
    TWaveIORecordPtr none;
    EXPECT_EQ(WaveIOFree(none), WIOERR_BADRECORD);
}

TEST(MMWaveIOTest, FailedCreateLeavesNoFile) {
    TempDir dir;
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    TWaveIORecordPtr rec = WaveIOCreateRecord(&f);
    EXPECT_EQ(WaveIOCreate(rec.get(), ""), WIOERR_BADRECORD);
    EXPECT_EQ(WaveIOCreate(rec.get(), dir.file("no/such/folder/x.wav")), WIOERR_FILEERROR);
    // A folder nobody may create files in, root included.
    EXPECT_EQ(WaveIOCreate(rec.get(), "/proc/tessivo-waveio-test.wav"), WIOERR_FILEERROR);
    EXPECT_FALSE(std::filesystem::exists("/proc/tessivo-waveio-test.wav"));
    EXPECT_EQ(rec->Handle, nullptr);
    if (geteuid() != 0) {  // permissions bind everyone but root
        const std::filesystem::path locked = dir.path() / "locked";
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_EQ(WaveIOCreate(rec.get(), (locked / "x.wav").string()), WIOERR_FILEERROR);
        EXPECT_FALSE(std::filesystem::exists(locked / "x.wav"));
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
    {
        // The file opens but its headers cannot be written: it is deleted again.
        FileSizeLimit limit(20);
        EXPECT_EQ(WaveIOCreate(rec.get(), dir.file("small.wav")), WIOERR_FILEERROR);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("small.wav")));
    EXPECT_EQ(rec->Handle, nullptr);
}

TEST(MMWaveIOTest, FullDiskWhileWritingFinishesTheFileWithWhatReachedTheDisk) {
    TempDir dir;
    const WAVEFORMATEX f = pcm(16, 2, 44100);
    const std::string data = samples(200000, 5);
    // Three 32768-byte writes fit after the 46 header bytes. With room for 5 more bytes the
    // trailing fact chunk no longer fits; with 100000 it does.
    for (uint64_t limit : {uint64_t(46 + 3 * 32768 + 5), uint64_t(100000)}) {
        const std::string path = dir.file("full" + std::to_string(limit) + ".wav");
        TWaveIORecordPtr rec = WaveIOCreateRecord(&f);
        int32_t closeResult, r = 0;
        size_t at = 0;
        {
            FileSizeLimit fsize(limit);
            ASSERT_EQ(WaveIOCreate(rec.get(), path), WIOERR_NOERROR);
            while (at < data.size() && (r = WaveIOWrite(rec.get(), data.data() + at, 32768)) > 0)
                at += size_t(r);
            closeResult = WaveIOClose(rec.get());
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(at, 3u * 32768);
        const bool finished = limit == 100000;
        EXPECT_EQ(closeResult, finished ? WIOERR_NOERROR : WIOERR_FILEERROR);
        const std::string file = readFile(path);
        EXPECT_EQ(rd32(file, 42), 3u * 32768);
        EXPECT_EQ(rd32(file, 4), 38 + 3u * 32768 + (finished ? 12 : 0));
        EXPECT_EQ(rec->DataBytes, 3u * 32768);
        EXPECT_EQ(rec->DataSamples, 3u * 8192);
        EXPECT_EQ(soxi("-s", path), std::to_string(3 * 8192));
        EXPECT_TRUE(soxRaw(path) == data.substr(0, 3 * 32768));
    }
}

TEST(MMWaveIOTest, CreateRecordCopiesTheFormat) {
    WAVEFORMATEX f = pcm(8, 1, 22050);
    f.cbSize = 12;  // PCM carries no extra bytes
    TWaveIORecordPtr rec = WaveIOCreateRecord(&f);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->Format()->cbSize, 0);
    EXPECT_EQ(rec->Format()->nAvgBytesPerSec, 22050u);
    EXPECT_GE(rec->FormatBytes(), 19u);
    EXPECT_EQ(WaveIOCreateRecord(nullptr), nullptr);
    for (const auto& e : rec->InfoList)
        EXPECT_TRUE(e.Text.empty());
    EXPECT_EQ(rec->InfoList[0].Id, mmioStringToFOURCC("IARL"));
    EXPECT_EQ(rec->InfoList[22].Id, mmioStringToFOURCC("ITCH"));
    EXPECT_EQ(WaveIOFree(rec), WIOERR_NOERROR);
    EXPECT_EQ(rec, nullptr);
}

TEST(MMWaveIOTest, DamagedHeadersNeverGiveAnInconsistentRecord) {
    TempDir dir;
    std::string base = readFile(soxWave(dir, "base.wav", 16, 2));
    base += chunk("LIST", "INFO" + chunk("INAM", "abc") + chunk("ICMT", "x")) + chunk("DISP", le32(1) + "t");
    base.replace(4, 4, le32(uint32_t(base.size() - 8)));
    uint32_t x = 12345;
    const auto next = [&x] { return x = x * 1103515245u + 12345u, x >> 8; };
    int parsed = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string f = base;
        // Damage a few header bytes (the first 48, or the trailing chunks), or cut the file.
        for (int k = 0; k < 3; ++k) {
            const size_t at = (next() & 1) ? next() % 48 : 3244 + next() % (f.size() - 3244);
            f[at] = char(next());
        }
        if (next() % 4 == 0)
            f.resize(next() % f.size());
        // A new name each round: truncating a file just written makes the file system
        // write it out at once.
        const std::string path = dir.file("m" + std::to_string(round) + ".wav");
        writeFile(path, f);
        TWaveIORecordPtr rec;
        const int32_t rc = WaveIOOpen(path, WAVE_FORMTYPE, WIOF_DISKFILE, rec);
        ASSERT_EQ(rec == nullptr, rc != WIOERR_NOERROR) << round;
        if (!rec)
            continue;
        ++parsed;
        const WAVEFORMATEX* fmt = rec->Format();
        ASSERT_NE(fmt->nBlockAlign, 0) << round;
        ASSERT_NE(fmt->nAvgBytesPerSec, 0u) << round;
        ASSERT_LE(uint64_t(rec->DataOffset) + rec->DataBytes, rec->FileSize) << round;
        ASSERT_EQ(rec->FileSize, f.size()) << round;
        // Reading the whole range stays inside the file.
        if (rec->DataSamples > 0) {
            ASSERT_EQ(WaveIOReopen(rec.get()), WIOERR_NOERROR) << round;
        }
        std::string buf(rec->DataBytes + 16, '\0');
        int64_t total = 0;
        int32_t r;
        while (rec->Handle && (r = WaveIORead(rec.get(), buf.data(), int32_t(buf.size()))) > 0)
            total += r;
        ASSERT_LE(total, int64_t(rec->DataBytes)) << round;
    }
    EXPECT_GT(parsed, 300);
}
