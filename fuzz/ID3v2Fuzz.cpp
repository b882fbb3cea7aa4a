// The ID3v2 reader, the popularimeter reader and the 2.3 writer on arbitrary file contents. Besides
// the sanitizers, every write is checked: the new file is a version 2.3 tag followed by exactly the
// bytes that followed the old tag, and it reads back with the markers that were set.
// Links: tags/ID3v2.cpp platform/FileUpdate.cpp
#include "tags/ID3v2.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

const FuzzInput inputFile("id3v2", ".mp3");

std::string ReadBack() {
    std::ifstream in(inputFile.Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Aborts, naming the broken check, so that libFuzzer keeps the input.
#define Check(condition)                                                    \
    do {                                                                    \
        if (!(condition)) {                                                 \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                   \
        }                                                                   \
    } while (0)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    TID3v2 tag;
    if (!tag.ReadFromFile(inputFile.Path())) return 0;
    TID3v2::ReadPopularimeter(inputFile.Path());
    volatile size_t sink = tag.Title().size() + tag.Comment().size() + tag.Link().size() + tag.Year().size() +
                           tag.Genre().size() + tag.TrackNumber() + tag.Rating();
    (void)sink;

    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t oldTag = static_cast<size_t>(tag.TagTotalSize());
    tag.SetIntroMark("0:12.345");
    tag.SetComment(tag.Comment() + "\xE2\x82\xAC");  // forces encoding 1
    // Only a file without a tag that starts with another container's header is refused, untouched.
    bool container = false;
    for (const char* magic : {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS"})
        container = container || input.compare(0, 4, magic) == 0;
    if (size >= 10 && oldTag == 0 && container) {
        Check(!tag.SaveToFile(inputFile.Path()));
        Check(ReadBack() == input);
        return 0;
    }
    Check(tag.SaveToFile(inputFile.Path()));

    const std::string out = ReadBack();
    Check(out.size() >= 10 && out.compare(0, 6, std::string("ID3\3\0\0", 6)) == 0);
    TID3v2 again;
    Check(again.ReadFromFile(inputFile.Path()));
    const size_t newTag = static_cast<size_t>(again.TagTotalSize());
    Check(again.TagVersion() == 3 && newTag >= 10 && newTag <= out.size());
    Check(out.compare(newTag, std::string::npos, input, oldTag, std::string::npos) == 0);
    Check(again.IntroMark() == "0:12.345");
    Check(again.Comment() == tag.Comment());
    return 0;
}
