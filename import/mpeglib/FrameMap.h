// Which stretches of an MPEG audio file the decoder is given. Long stretches that can hold no
// frame (zeros, noise, a broken copy) are left out, so that the decoder, which looks for the
// next frame one byte at a time, never crawls through them; everything else is kept as it is.
#pragma once

#include <cstdint>
#include <vector>

namespace mpeglib {

// One kept stretch: `size` bytes at file offset `at`, seen by the decoder at offset `view`.
struct Span {
    int64_t view = 0;
    int64_t at = 0;
    int64_t size = 0;
};

// Bytes of junk between frames that are always handed to the decoder, and the shortest
// stretch worth leaving out.
constexpr int64_t kJunkMargin = 512;
constexpr int64_t kMinLeftOut = 16384;

// Reads the first `end` bytes of the open file `fd` once, in large blocks, and returns the
// stretches to keep, in file order, one after the other in the decoder's view. A stretch is
// left out when it lies after the first frame, holds no frame header that a second one
// follows at its frame length (or, in free format, within a frame's reach), no ID3v2 tag and
// no byte of the frames before it, and is at least kMinLeftOut long; kJunkMargin bytes of it
// stay on either side, ending on bytes that start nothing the decoder looks for. A file
// without such a stretch gives one span, the whole range; a read error gives the whole range too.
std::vector<Span> MapFrames(int fd, int64_t end);

}  // namespace mpeglib
