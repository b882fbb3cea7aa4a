// The MPEG file source with the decoder library on arbitrary file contents: analyse, open,
// start and pull buffers until the end of the stream.
// Libs: tessivo_import
#include "audio/MMDSPObj.h"
#include "import/MMMPEG.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const FuzzInput inputFile("mpegfile", ".mp3");

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the decoder library beside the target every input would stop at the first call.
    if (!MpegLibrary()) {
        std::fprintf(stderr, "MMMPEGFileFuzz: the decoder library is not beside the target\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    try {
        TMMMPEGFile source;
        source.SetFileName(inputFile.Path());
        if (!source.PWaveFormat()) return 0;
        source.SetBufferSize(4096);
        source.Opened();
        source.Started();
        auto header = NewWaveHdr(4096);
        for (int i = 0; i < 2000; ++i) {
            header->wh.dwBufferLength = 4096;
            header->wh.dwBytesRecorded = 0;
            bool more = false;
            source.BufferLoad(header.get(), more);
            if (header->wh.dwBytesRecorded == 0 || !more) break;
        }
        source.Stopped();
        source.Closed();
    } catch (const EMMError&) {
        // Refusing a damaged stream with the component's error is the expected way out.
    }
    return 0;
}
