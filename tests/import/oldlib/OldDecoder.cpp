// A decoder library of a version the program refuses (19): every other entry point exists, so
// only the version check can turn it away.
#include "import/mpeglib/MpegDecoder.h"

#define OLD_EXPORT extern "C" __attribute__((visibility("default")))

OLD_EXPORT int32_t mpeg_Version(void) { return MPEG_MIN_VERSION - 1; }
OLD_EXPORT int32_t mpeg_Init(int32_t* code, mpeg_InfoCallback, void*) {
    if (code) *code = MPEG_OK;
    return 1;
}
OLD_EXPORT int32_t mpeg_Done(int32_t* handle) {
    if (handle) *handle = 0;
    return MPEG_OK;
}
