// Asks the process-wide loader for the decoder library twice and prints what it got; the
// loader reports a failure on standard error. Run from a folder with no library, an old one or
// the real one.
#include "import/MMMPEG.h"

#include <cstdio>

int main(int argc, char** argv) {
    const bool first = MpegLibrary() != nullptr;
    const bool second = MpegLibrary() != nullptr;
    std::printf("first=%d second=%d", first, second);
    if (argc > 1) std::printf(" mpeg=%d", IsMpegFile(argv[1]) ? 1 : 0);
    std::printf("\n");
    return 0;
}
