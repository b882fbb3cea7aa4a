#include "common/MMErrors.h"

namespace {

struct LibraryMessageEntry {
    int32_t id;  // LIBRARY_MESSAGE_BASE + n
    const char* text;
};

// The string table of the library's messages, one entry per TMMLibMessage value.
constexpr LibraryMessageEntry kLibraryMessages[] = {
    {LIBRARY_MESSAGE_BASE + lmInvalidWaveFormat, "Invalid wave format"},
    {LIBRARY_MESSAGE_BASE + lmChangeWhileOpen, "Change to property while device was open"},
    {LIBRARY_MESSAGE_BASE + lmNoPlayDevice, "No wave audio playing device found"},
    {LIBRARY_MESSAGE_BASE + lmInvalidDeviceID, "Invalid DeviceID"},
    {LIBRARY_MESSAGE_BASE + lmDeviceCantPlayFormat, "The actual device can''t play this format"},
    {LIBRARY_MESSAGE_BASE + lmUnableToOpenDevice, "Unable to open device"},
    {LIBRARY_MESSAGE_BASE + lmUnableToCloseDevice, "Unable to close device"},
    {LIBRARY_MESSAGE_BASE + lmUnableToStartDevice, "Unable to start device"},
    {LIBRARY_MESSAGE_BASE + lmCouldNotCreateThread, "Could not create thread"},
    {LIBRARY_MESSAGE_BASE + lmNoMemoryForWaveHeader, "Unable to allocate memory for wave header"},
    {LIBRARY_MESSAGE_BASE + lmErrorFillingBuffer, "Error filling wave buffer"},
    {LIBRARY_MESSAGE_BASE + lmUnknownDeviceError,
     "Specified error number is out of range (unknown error)"},
    {LIBRARY_MESSAGE_BASE + lmErrorReadingWaveFile, "Error reading wave file"},
    {LIBRARY_MESSAGE_BASE + lmInvalidWaveFile, "Invalid wave file..."},
    {LIBRARY_MESSAGE_BASE + lmUnableToOpenWaveFile, "Unable to open wave file"},
    {LIBRARY_MESSAGE_BASE + lmUnableToSetupIOBuffer, "Unable to setup file IO buffer"},
    {LIBRARY_MESSAGE_BASE + lmUnableToCreateWaveFile, "Unable to create wave file"},
    {LIBRARY_MESSAGE_BASE + lmErrorSeekingPosition, "Error seeking file position"},
    {LIBRARY_MESSAGE_BASE + lmNotValidAudioFile, "This is not a valid Audiofile"},
    {LIBRARY_MESSAGE_BASE + lmUnableToConvert, "Unable to convert to destination format"},
    {LIBRARY_MESSAGE_BASE + lmInvalidWaveFormatTag, "Invalid WaveFormat"},
    {LIBRARY_MESSAGE_BASE + lmUnableToLoadMpegDll, "Unable to load MMMPEG32.DLL"},
    {LIBRARY_MESSAGE_BASE + lmInvalidMpegDllVersion, "Invalid Mpeg Decoder DLL version"},
};

}  // namespace

std::string LibraryMessage(int32_t n) {
    for (const auto& entry : kLibraryMessages)
        if (entry.id == LIBRARY_MESSAGE_BASE + n)
            return entry.text;
    return {};
}
