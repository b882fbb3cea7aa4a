// The RIFF wave reader on arbitrary file contents: parse, then read the data range in small
// pieces, seek into its middle and read again.
// Libs: tessivo_audio
#include "audio/MMWaveIO.h"

#include "fuzz/FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const FuzzInput inputFile("waveio", ".wav");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!inputFile.Write(data, size)) return 0;
    TWaveIORecordPtr record;
    if (WaveIOOpen(inputFile.Path(), WAVE_FORMTYPE, WIOF_DISKFILE, record) != 0) return 0;
    std::vector<uint8_t> buffer(1000);
    if (WaveIOReopen(record.get()) == 0) {
        WaveIOSetBuffer(record.get(), 512);
        for (int i = 0; i < 4096 && WaveIORead(record.get(), buffer.data(), int32_t(buffer.size())) > 0; ++i) {
        }
        WaveIOSeek(record.get(), int32_t(record->DataSamples / 2));
        WaveIORead(record.get(), buffer.data(), int32_t(buffer.size()));
    }
    WaveIOFree(record);
    return 0;
}
