// The binary interface of the MPEG audio decoder library: the mpeg_* entry points the
// program looks up by name after loading the library at run time, their result codes and the
// packed file-information record. Plain C types only, so that the loader and the library
// agree without sharing anything else; the decoder behind it is private to the library.
#pragma once

#include <cstddef>
#include <cstdint>

// File name of the library; the program loads it from its own folder.
#define MPEG_DECODER_LIBRARY_NAME "libmmmpeg32.so"

// The version this library reports; the program refuses anything below MPEG_MIN_VERSION.
constexpr int32_t MPEG_DECODER_VERSION = 20;
constexpr int32_t MPEG_MIN_VERSION = 20;

// Result codes: 0 is success, everything else an error with a text from mpeg_GetErrorText.
// mpeg_ReadDataBytes returns the negated code.
enum : int32_t {
    MPEG_OK = 0,
    MPEG_ERR_HANDLE = 1,     // not a handle of a live instance
    MPEG_ERR_PARAM = 2,      // an argument out of range or a null pointer
    MPEG_ERR_NOMEM = 3,
    MPEG_ERR_OPEN = 4,       // the file cannot be opened or read
    MPEG_ERR_FORMAT = 5,     // no MPEG audio found in the file
    MPEG_ERR_NOFILE = 6,     // the instance holds no file
    MPEG_ERR_NOTOPEN = 7,    // the file is not open for decoding
    MPEG_ERR_SEEK = 8,       // the frame cannot be reached
    MPEG_ERR_DECODE = 9,     // the decoder failed before producing any sound
    MPEG_ERR_INIT = 10,      // the decoder engine could not start
    MPEG_ERR_LAST = MPEG_ERR_INIT
};

// MPEG version byte of the record: 0 for the low-sampling-frequency extensions (MPEG 2 and
// 2.5), 1 for MPEG 1.
enum : uint8_t { MPEG_VERSION_LSF = 0, MPEG_VERSION_1 = 1 };
// Mode byte of the record.
enum : uint8_t { MPEG_MODE_STEREO = 0, MPEG_MODE_JOINT = 1, MPEG_MODE_DUAL = 2, MPEG_MODE_SINGLE = 3 };
// Channel modes: which channels a stereo stream delivers.
enum : int32_t { MPEG_CHANNEL_LEFT = 0, MPEG_CHANNEL_RIGHT = 1, MPEG_CHANNEL_BOTH = 2, MPEG_CHANNEL_DOWNMIX = 3 };

#pragma pack(push, 1)
// The file information, 164 bytes. The program reads the fields up to FrameTime; the rest
// is this library's own.
struct TMpegFileInfo {
    uint8_t Version;       // MPEG_VERSION_*
    int32_t Layer;         // 1, 2 or 3
    int32_t SampleRate;    // Hz, of the stream
    int32_t PlayBackRate;  // Hz, of the decoded PCM
    int32_t BitRate;       // kbit/s; the average over the file for variable bit rates
    uint8_t Mode;          // MPEG_MODE_*
    int32_t Frames;        // MPEG frames in the file
    int32_t Time;          // milliseconds of decoded sound
    double FrameTime;      // milliseconds per frame
    int32_t Channels;      // channels of the stream (1 or 2)
    int64_t Samples;       // decoded sample frames (encoder delay and padding removed)
    uint8_t Vbr;           // 1 when the bit rate varies
    uint8_t Reserved[117];
};
#pragma pack(pop)
static_assert(sizeof(TMpegFileInfo) == 164, "the file-information record is 164 bytes");
static_assert(offsetof(TMpegFileInfo, Layer) == 1 && offsetof(TMpegFileInfo, SampleRate) == 5 &&
                  offsetof(TMpegFileInfo, PlayBackRate) == 9 && offsetof(TMpegFileInfo, BitRate) == 13 &&
                  offsetof(TMpegFileInfo, Mode) == 17 && offsetof(TMpegFileInfo, Frames) == 18 &&
                  offsetof(TMpegFileInfo, Time) == 22 && offsetof(TMpegFileInfo, FrameTime) == 26,
              "the fields the program reads sit packed in this order");

extern "C" {
// Runs whenever the file information of the instance changes (a file was set or cleared).
typedef void (*mpeg_InfoCallback)(int32_t handle, void* data);
// Optional filter over the raw file bytes before they are decoded (e.g. to undo a scrambling);
// it runs while the decode mode is not 0 and may change the count bytes in place.
typedef void (*mpeg_DecodeCallback)(void* data, uint8_t* bytes, int32_t count, int64_t fileOffset);

typedef int32_t (*mpeg_Version_t)(void);
typedef int32_t (*mpeg_Init_t)(int32_t* code, mpeg_InfoCallback callback, void* data);
typedef int32_t (*mpeg_Done_t)(int32_t* handle);
typedef int32_t (*mpeg_SetDecodeCallback_t)(int32_t handle, mpeg_DecodeCallback callback, void* data);
typedef int32_t (*mpeg_SetDecodeMode_t)(int32_t handle, uint8_t mode);
typedef int32_t (*mpeg_Clear_t)(int32_t handle);
typedef int32_t (*mpeg_SetTrailingHeader_t)(int32_t handle, int32_t value);
typedef int32_t (*mpeg_SetExactPosition_t)(int32_t handle, int32_t value);
typedef int32_t (*mpeg_SetFileName_t)(int32_t handle, const char* path);
typedef int32_t (*mpeg_GetFileName_t)(int32_t handle, char* buffer, int32_t size);
typedef int32_t (*mpeg_GetEmpty_t)(int32_t handle);
typedef int32_t (*mpeg_GetFileInfo_t)(int32_t handle, TMpegFileInfo* info);
typedef int32_t (*mpeg_SetChannelMode_t)(int32_t handle, int32_t mode);
typedef int32_t (*mpeg_GetChannelMode_t)(int32_t handle, int32_t* mode);
typedef int32_t (*mpeg_SetPosition_t)(int32_t handle, int32_t frame);
typedef int32_t (*mpeg_GetPosition_t)(int32_t handle);
typedef int32_t (*mpeg_OpenFile_t)(int32_t handle);
typedef int32_t (*mpeg_CloseFile_t)(int32_t handle);
typedef int32_t (*mpeg_ResetFile_t)(int32_t handle);
typedef int32_t (*mpeg_ReadDataBytes_t)(int32_t handle, void* buffer, int32_t count);
typedef int32_t (*mpeg_GetDone_t)(int32_t handle);
typedef int32_t (*mpeg_GetErrorText_t)(int32_t code, char* buffer, int32_t size);
}
