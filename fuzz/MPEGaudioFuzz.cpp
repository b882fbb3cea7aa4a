// The MPEG analyser (with its ID3v2 and ID3v1 readers) on arbitrary file contents.
// Links: tags/MPEGaudio.cpp tags/ID3v2.cpp tags/ID3v1.cpp platform/FileUpdate.cpp
#include "tags/ID3v1.h"
#include "tags/ID3v2.h"
#include "tags/MPEGaudio.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const FuzzInput inputFile("mpeg", ".mp3");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    TMPEGaudio mpeg;
    mpeg.ReadFromFile(inputFile.Path());
    // Every derived value, so that each arithmetic path runs on what was read.
    volatile double sink = mpeg.Duration() + mpeg.BitRate() + mpeg.SampleRate() + double(mpeg.FrameCount()) +
                           mpeg.EncoderID() + mpeg.Valid();
    sink = sink + double(mpeg.Version().size() + mpeg.Layer().size() + mpeg.ChannelMode().size() +
                         mpeg.Emphasis().size() + mpeg.Encoder().size() + mpeg.Id3v2Tag().Title().size() +
                         mpeg.Id3v1Tag().Genre().size());
    (void)sink;
    return 0;
}
