// The WAV header reader on arbitrary file contents.
// Links: tags/WAVfile.cpp
#include "tags/WAVfile.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const FuzzInput inputFile("wav", ".wav");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    TWAVfile wav;
    wav.ReadFromFile(inputFile.Path());
    volatile double sink = wav.Duration() + double(wav.ChannelMode().size()) + wav.HeaderSize() + wav.FileSize();
    (void)sink;
    return 0;
}
