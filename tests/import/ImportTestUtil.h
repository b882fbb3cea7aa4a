// Helpers of the import tests: reading a RIFF wave back, the reference decodes of the outside
// tools, and sample comparisons.
#pragma once

#include "support/TestUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace importtest {

struct WavData {
    uint16_t tag = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0;
    std::string fmt;   // the whole fmt chunk body
    std::string data;  // the data chunk body
    bool ok = false;
};

inline uint32_t rd32(const std::string& s, size_t p) {
    return uint32_t(uint8_t(s[p])) | uint32_t(uint8_t(s[p + 1])) << 8 | uint32_t(uint8_t(s[p + 2])) << 16 |
           uint32_t(uint8_t(s[p + 3])) << 24;
}
inline uint16_t rd16(const std::string& s, size_t p) { return uint16_t(uint8_t(s[p]) | uint8_t(s[p + 1]) << 8); }

// Parses a RIFF WAVE written by a tool (the data chunk taken at its stated size, cut to the file).
inline WavData readWav(const std::string& path) {
    WavData w;
    const std::string b = testutil::readFile(path);
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return w;
    size_t p = 12;
    bool haveFmt = false;
    while (p + 8 <= b.size()) {
        const std::string id = b.substr(p, 4);
        uint64_t size = rd32(b, p + 4);
        if (id == "data" && (size == 0xFFFFFFFFu || p + 8 + size > b.size())) size = b.size() - p - 8;
        if (id == "fmt ") {
            w.fmt = b.substr(p + 8, size_t(size));
            w.tag = rd16(w.fmt, 0);
            w.channels = rd16(w.fmt, 2);
            w.rate = rd32(w.fmt, 4);
            w.blockAlign = rd16(w.fmt, 12);
            w.bits = rd16(w.fmt, 14);
            haveFmt = true;
        } else if (id == "data") {
            w.data = b.substr(p + 8, size_t(size));
            w.ok = haveFmt;
            return w;
        }
        p += 8 + size_t(size) + (size & 1);
    }
    return w;
}

// The PCM the reference player writes for an MP3 (16-bit, the file's rate and channels).
inline WavData mpg123Decode(const std::string& mp3, const std::string& wavOut) {
    if (testutil::run("mpg123 -q -w " + testutil::shellQuote(wavOut) + " " + testutil::shellQuote(mp3) +
                      " 2>/dev/null") != 0)
        return {};
    return readWav(wavOut);
}

inline std::vector<int16_t> samples16(const std::string& bytes) {
    std::vector<int16_t> v(bytes.size() / 2);
    std::memcpy(v.data(), bytes.data(), v.size() * 2);
    return v;
}

// The largest difference between two 16-bit sample strings of equal length; huge when the
// lengths differ.
inline int maxDiff16(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return 1 << 30;
    const auto x = samples16(a), y = samples16(b);
    int m = 0;
    for (size_t i = 0; i < x.size(); ++i) m = std::max(m, std::abs(int(x[i]) - int(y[i])));
    return m;
}

}  // namespace importtest
