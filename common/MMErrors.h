// The library's one exception base and its numbered messages. Every component family raises
// its own class (EMMWaveError, EMMTriggerError, EMMDIBError, EFBError, EConvertError, ...),
// all derived from EMMError, with the fixed texts of the table below or of its own module.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class EMMError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The library's numbered messages: the text of n is string entry LIBRARY_MESSAGE_BASE + n.
constexpr int32_t LIBRARY_MESSAGE_BASE = 28000;
enum TMMLibMessage : int32_t {
    lmInvalidWaveFormat = 1,        // "Invalid wave format"
    lmChangeWhileOpen,              // "Change to property while device was open"
    lmNoPlayDevice,                 // "No wave audio playing device found"
    lmInvalidDeviceID,              // "Invalid DeviceID"
    lmDeviceCantPlayFormat,         // "The actual device can''t play this format"
    lmUnableToOpenDevice,           // "Unable to open device"
    lmUnableToCloseDevice,          // "Unable to close device"
    lmUnableToStartDevice,          // "Unable to start device"
    lmCouldNotCreateThread,         // "Could not create thread"
    lmNoMemoryForWaveHeader,        // "Unable to allocate memory for wave header"
    lmErrorFillingBuffer,           // "Error filling wave buffer"
    lmUnknownDeviceError,           // "Specified error number is out of range (unknown error)"
    lmErrorReadingWaveFile,         // "Error reading wave file"
    lmInvalidWaveFile,              // "Invalid wave file..."
    lmUnableToOpenWaveFile,         // "Unable to open wave file"
    lmUnableToSetupIOBuffer,        // "Unable to setup file IO buffer"
    lmUnableToCreateWaveFile,       // "Unable to create wave file"
    lmErrorSeekingPosition,         // "Error seeking file position"
    lmNotValidAudioFile,            // "This is not a valid Audiofile"
    lmUnableToConvert,              // "Unable to convert to destination format"
    lmInvalidWaveFormatTag,         // "Invalid WaveFormat"
    lmUnableToLoadMpegDll,          // "Unable to load MMMPEG32.DLL"
    lmInvalidMpegDllVersion,        // "Invalid Mpeg Decoder DLL version"
    lmLast = lmInvalidMpegDllVersion
};
// The text of library message n; empty for a number without one.
std::string LibraryMessage(int32_t n);
