// The ID3v1 reader on arbitrary file contents.
// Links: tags/ID3v1.cpp
#include "tags/ID3v1.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const FuzzInput inputFile("id3v1", ".mp3");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    TID3v1 tag;
    const bool read = tag.ReadFromFile(inputFile.Path());
    if (read != (size >= 128)) __builtin_trap();
    volatile size_t sink = tag.Title().size() + tag.Artist().size() + tag.Album().size() + tag.Year().size() +
                           tag.Comment().size() + tag.Genre().size() + tag.TrackNumber() + tag.TagVersion();
    (void)sink;
    return 0;
}
