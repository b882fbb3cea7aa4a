#include "tags/ID3v2.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------------------------------------
// The frame table

struct SlotIds {
    const char* id4;  // versions 2.3 and 2.4, and always for writing
    const char* id3;  // version 2.2
};

constexpr SlotIds Slots[TID3v2::SlotCount] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"}, {"TYER", "TYE"}, {"TCON", "TCO"},
    {"COMM", "COM"}, {"TCOM", "TCM"}, {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
    {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"}, {"TOAL", "TOT"}, {"TRIT", "TRI"}, {"TINT", "TIN"},
    {"TEXT", "TEX"}, {"TEST", "TES"}, {"TIDM", "TID"}, {"TCAR", "TCA"}, {"TVIN", "TVI"}, {"TMXI", "TMI"},
    {"TMXF", "TMF"}, {"TRFI", "TRI"}, {"TRFF", "TRF"}, {"TCAD", "TCD"}, {"TSUC", "TSU"}, {"TGRA", "TGR"},
    {"TVOC", "TVO"}, {"TTPE", "TTP"}, {"TPIN", "TPI"}, {"TPFI", "TPF"}, {"TPMI", "TPM"}, {"POPM", "POP"}};

// Zero-based slot numbers with their own rules.
enum Slot {
    slTitle = 0, slArtist = 1, slAlbum = 2, slTrack = 3, slYear = 4, slGenre = 5, slComment = 6,
    slLink = 11, slYearFallback = 12, slArtistFallback = 13, slTitleFallback = 14, slAlbumFallback = 15,
    slTSUC = 28, slRating = 35
};

using Getter = const std::string& (TID3v2::*)() const;
using Setter = void (TID3v2::*)(std::string_view);

// The plain text slots: read as decoded text, written as text.
struct TextSlot {
    int slot;
    Getter get;
    Setter set;  // null for TSUC, which has no setter
};

const TextSlot TextSlots[] = {
    {7, &TID3v2::Composer, &TID3v2::SetComposer},
    {8, &TID3v2::Encoder, &TID3v2::SetEncoder},
    {9, &TID3v2::RightsNotice, &TID3v2::SetRightsNotice},
    {10, &TID3v2::Language, &TID3v2::SetLanguage},
    {16, &TID3v2::FrameTRIT, &TID3v2::SetFrameTRIT},
    {17, &TID3v2::IntroMark, &TID3v2::SetIntroMark},
    {18, &TID3v2::FrameTEXT, &TID3v2::SetFrameTEXT},
    {19, &TID3v2::FrameTEST, &TID3v2::SetFrameTEST},
    {20, &TID3v2::FrameTIDM, &TID3v2::SetFrameTIDM},
    {21, &TID3v2::StampMark, &TID3v2::SetStampMark},
    {22, &TID3v2::StampFile, &TID3v2::SetStampFile},
    {23, &TID3v2::StartMark, &TID3v2::SetStartMark},
    {24, &TID3v2::EndMark, &TID3v2::SetEndMark},
    {25, &TID3v2::ChorusStartMark, &TID3v2::SetChorusStartMark},
    {26, &TID3v2::ChorusEndMark, &TID3v2::SetChorusEndMark},
    {27, &TID3v2::FrameTCAD, &TID3v2::SetFrameTCAD},
    {28, &TID3v2::FrameTSUC, nullptr},
    {29, &TID3v2::FrameTGRA, &TID3v2::SetFrameTGRA},
    {30, &TID3v2::FrameTVOC, &TID3v2::SetFrameTVOC},
    {31, &TID3v2::FrameTTPE, &TID3v2::SetFrameTTPE},
    {32, &TID3v2::FrameTPIN, &TID3v2::SetFrameTPIN},
    {33, &TID3v2::FrameTPFI, &TID3v2::SetFrameTPFI},
    {34, &TID3v2::MixMark, &TID3v2::SetMixMark},
};

bool IsTableId4(std::string_view id) {
    for (const auto& s : Slots)
        if (id == s.id4) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Text encodings: one place for all of them. Text is UTF-8 inside the program.

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(b, e - b));
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Code points of a UTF-8 text. A byte that does not start a valid sequence stands for the Latin-1
// character of the same code, so no byte of a caller's text is ever dropped.
std::vector<uint32_t> CodePoints(std::string_view s) {
    std::vector<uint32_t> cps;
    cps.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int len = 0;
        uint32_t cp = 0, min = 0;
        if (c < 0x80) { cps.push_back(c); ++i; continue; }
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
            cps.push_back(cp);
            i += len;
        } else {
            cps.push_back(c);
            ++i;
        }
    }
    return cps;
}

// Decodes one string of an ID3v2 frame in encoding enc (0 Latin-1, 1 UTF-16 with byte-order mark,
// 2 UTF-16 big-endian, 3 UTF-8), up to its terminator or the end of the bytes. *used receives the
// bytes taken, terminator included.
std::string DecodeString(uint8_t enc, const uint8_t* p, size_t n, size_t* used = nullptr) {
    std::string out;
    if (enc == 1 || enc == 2) {
        size_t i = 0;
        bool big = enc == 2;
        if (enc == 1 && n >= 2) {
            if (p[0] == 0xFF && p[1] == 0xFE) { big = false; i = 2; }
            else if (p[0] == 0xFE && p[1] == 0xFF) { big = true; i = 2; }
        }
        size_t end = n;
        for (; i + 1 < n; i += 2) {
            uint32_t u = big ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]);
            if (u == 0) { end = i + 2; break; }
            if (u == 0xFEFF) continue;  // a byte-order mark inside a string
            if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
                const uint32_t lo = big ? (p[i + 2] << 8 | p[i + 3]) : (p[i + 3] << 8 | p[i + 2]);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                    i += 2;
                    continue;
                }
            }
            if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
            AppendUtf8(out, u);
        }
        if (used) *used = std::min(end, n);
        return out;
    }
    const uint8_t* z = static_cast<const uint8_t*>(std::memchr(p, 0, n));
    const size_t len = z ? static_cast<size_t>(z - p) : n;
    if (used) *used = z ? len + 1 : n;
    if (enc == 3) {
        for (uint32_t cp : CodePoints(std::string_view(reinterpret_cast<const char*>(p), len)))
            AppendUtf8(out, cp);
    } else {
        for (size_t i = 0; i < len; ++i) AppendUtf8(out, p[i]);
    }
    return out;
}

// The encoding byte and bytes of a text to write: encoding 0 when every character is Latin-1,
// otherwise encoding 1 with a little-endian byte-order mark.
struct Encoded {
    uint8_t enc;
    std::string bytes;
};

Encoded EncodeText(std::string_view text) {
    const auto cps = CodePoints(text);
    Encoded e{0, {}};
    if (std::all_of(cps.begin(), cps.end(), [](uint32_t c) { return c <= 0xFF; })) {
        for (uint32_t c : cps) e.bytes += static_cast<char>(c);
        return e;
    }
    e.enc = 1;
    e.bytes = "\xFF\xFE";
    auto put = [&](uint32_t u) {
        e.bytes += static_cast<char>(u & 0xFF);
        e.bytes += static_cast<char>(u >> 8);
    };
    for (uint32_t c : cps) {
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return e;
}

// A URL is Latin-1 in every encoding; characters beyond it are percent-encoded as UTF-8.
std::string EncodeUrl(std::string_view text) {
    std::string out;
    static const char hex[] = "0123456789ABCDEF";
    for (uint32_t c : CodePoints(text)) {
        if (c <= 0xFF) {
            out += static_cast<char>(c);
            continue;
        }
        std::string u;
        AppendUtf8(u, c);
        for (unsigned char b : u) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Tag layout

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Syncsafe(const uint8_t* p) { return uint32_t(p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 | (p[3] & 0x7F); }

void PutBe32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
}

// Undoes unsynchronisation: every FF 00 becomes FF.
std::string Deunsync(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out += in[i];
        if (static_cast<unsigned char>(in[i]) == 0xFF && i + 1 < in.size() && in[i + 1] == 0) ++i;
    }
    return out;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The first 10 bytes of the file and its length.
struct Header {
    uint8_t bytes[10]{};
    int64_t fileLength = 0;
    bool IsId3() const { return bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3'; }
    uint8_t Version() const { return bytes[3]; }
    uint8_t Flags() const { return bytes[5]; }
    // Size of header, body and footer; 0 when it is not a tag, when a size byte is not a 7-bit
    // group (so that no broken header ever makes the writer skip audio bytes), or when it claims
    // more than the file holds.
    int32_t TotalSize() const {
        if (!IsId3()) return 0;
        for (int i = 6; i < 10; ++i)
            if (bytes[i] & 0x80) return 0;
        int64_t size = int64_t(bytes[6]) * (1 << 21) + bytes[7] * (1 << 14) + bytes[8] * (1 << 7) + bytes[9] + 10;
        if (bytes[5] & 0x10) size += 10;
        return size > fileLength ? 0 : static_cast<int32_t>(size);
    }
};

bool ReadHeader(std::FILE* f, Header& h) {
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    h.fileLength = st.st_size;
    return std::fread(h.bytes, 1, 10, f) == 10;
}

// One frame as it stands in the tag (after the tag-level unsynchronisation is undone).
struct RawFrame {
    std::string id;
    uint8_t status = 0, format = 0;  // the two flag bytes (none in version 2.2)
    std::string data;
    bool truncated = false;  // the frame ran past the end of the tag
};

// The frames of a whole tag (header included). Never reads outside the bytes given.
std::vector<RawFrame> ParseFrames(std::string_view tag) {
    std::vector<RawFrame> frames;
    if (tag.size() < 10) return frames;
    const auto* hb = reinterpret_cast<const uint8_t*>(tag.data());
    const uint8_t version = hb[3], flags = hb[5];
    if (version < 2 || version > 4) return frames;
    const size_t bodySize = std::min<size_t>(Syncsafe(hb + 6), tag.size() - 10);
    std::string body(tag.substr(10, bodySize));
    if (version == 2 && (flags & 0x40)) return frames;  // compressed 2.2 tag: no scheme was ever defined
    if (version < 4 && (flags & 0x80)) body = Deunsync(body);
    const auto* b = reinterpret_cast<const uint8_t*>(body.data());
    const size_t n = body.size();

    size_t pos = 0;
    if (version >= 3 && (flags & 0x40)) {  // extended header
        if (n < 4) return frames;
        const size_t ext = version == 3 ? size_t(Be32(b)) + 4 : size_t(Syncsafe(b));
        if (ext > n) return frames;
        pos = ext;
    }
    const size_t headerLen = version == 2 ? 6 : 10;
    while (pos + headerLen <= n) {
        if (b[pos] < 'A' || b[pos] > 'Z') break;  // padding or garbage
        RawFrame fr;
        size_t size;
        if (version == 2) {
            fr.id.assign(body, pos, 3);
            size = size_t(b[pos + 3]) << 16 | size_t(b[pos + 4]) << 8 | b[pos + 5];
        } else {
            fr.id.assign(body, pos, 4);
            // Some 2.4 writers put plain 32-bit sizes; a byte with its top bit set cannot be a
            // 7-bit group, so such a size is taken as plain.
            const bool plain = version == 3 || ((b[pos + 4] | b[pos + 5] | b[pos + 6] | b[pos + 7]) & 0x80);
            size = plain ? Be32(b + pos + 4) : Syncsafe(b + pos + 4);
            fr.status = b[pos + 8];
            fr.format = b[pos + 9];
        }
        const size_t start = pos + headerLen;
        if (size > n - start) {
            size = n - start;
            fr.truncated = true;
        }
        fr.data.assign(body, start, size);
        frames.push_back(std::move(fr));
        pos = start + size;
    }
    return frames;
}

// The data of a frame as a reader of its content needs it, or nothing when it is compressed or
// encrypted.
std::optional<std::string> ContentOf(const RawFrame& fr, uint8_t version, uint8_t tagFlags) {
    std::string d = fr.data;
    if (version == 3) {
        if (fr.format & 0xC0) return std::nullopt;  // compressed or encrypted
        if (fr.format & 0x20) d.erase(0, 1);        // group identifier
    } else if (version == 4) {
        if (fr.format & 0x0C) return std::nullopt;  // compressed or encrypted
        if (fr.format & 0x40) d.erase(0, 1);        // group identifier
        if (fr.format & 0x01) d.erase(0, std::min<size_t>(4, d.size()));  // data-length indicator
        if ((fr.format & 0x02) || (tagFlags & 0x80)) d = Deunsync(d);
    }
    return d;
}

// The rating byte after the zero-terminated e-mail of a POPM frame, if there is one.
std::optional<uint8_t> PopmRating(const std::string& d) {
    const size_t z = d.find('\0');
    if (z == std::string::npos || z + 1 >= d.size()) return std::nullopt;
    return static_cast<uint8_t>(d[z + 1]);
}

// The whole tag of an open file (header included), or empty when there is none to read.
std::string ReadTagBytes(std::FILE* f, const Header& h) {
    const int32_t total = h.TotalSize();
    if (total <= 10) return {};
    std::string tag(static_cast<size_t>(total), '\0');
    if (fseeko(f, 0, SEEK_SET) != 0) return {};
    tag.resize(std::fread(tag.data(), 1, tag.size(), f));
    return tag;
}

std::string DecodeFrameText(const std::string& raw) {
    if (raw.empty()) return {};
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    return Trim(DecodeString(p[0], p + 1, raw.size() - 1));
}

// Comment (skip = 3, the language) and link (skip = 0): the text after the description.
std::string DecodeAfterDescription(const std::string& raw, size_t skip, bool latin1Text) {
    if (raw.size() < 1 + skip) return {};
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    const uint8_t enc = p[0];
    size_t used = 0;
    const size_t start = 1 + skip;
    DecodeString(enc, p + start, raw.size() - start, &used);
    const size_t text = start + used;
    return Trim(DecodeString(latin1Text ? 0 : enc, p + text, raw.size() - text));
}

int32_t ParseDecimal(const std::string& s, bool* ok) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i == s.size()) { *ok = false; return 0; }
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9' || v > 0x7FFFFFFF) { *ok = false; return 0; }
        v = v * 10 + (s[i] - '0');
    }
    if (v > 0x7FFFFFFF) { *ok = false; return 0; }
    *ok = true;
    return static_cast<int32_t>(neg ? -v : v);
}

// ---------------------------------------------------------------------------------------------
// Writing

std::string FrameBytes(const char* id, const std::string& data, uint8_t status = 0, uint8_t format = 0) {
    std::string f(id, 4);
    PutBe32(f, static_cast<uint32_t>(data.size()));
    f += static_cast<char>(status);
    f += static_cast<char>(format);
    f += data;
    return f;
}

// An old frame in its version 2.3 form, or nothing when it cannot be carried into a 2.3 tag.
std::optional<std::string> CarriedFrame(const RawFrame& fr, uint8_t version, uint8_t tagFlags) {
    if (fr.truncated || fr.data.empty() || IsTableId4(fr.id)) return std::nullopt;
    for (char c : fr.id)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return std::nullopt;  // not a frame ID
    if (version == 3) return FrameBytes(fr.id.c_str(), fr.data, fr.status, fr.format);
    // 2.4: unsynchronised, data-length indicator, compressed or encrypted frames have no 2.3 form.
    if ((fr.format & 0x0F) || (tagFlags & 0x80)) return std::nullopt;
    const uint8_t status = uint8_t((fr.status & 0x40) << 1 | (fr.status & 0x20) << 1 | (fr.status & 0x10) << 1);
    const uint8_t format = uint8_t((fr.format & 0x40) ? 0x20 : 0);
    return FrameBytes(fr.id.c_str(), fr.data, status, format);
}

// Files whose format puts its own header at offset 0: RIFF/RF64 wave, AIFF, FLAC, Ogg.
bool IsContainerHeader(const uint8_t* b) {
    for (const char* magic : {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS"})
        if (std::memcmp(b, magic, 4) == 0) return true;
    return false;
}

struct FdCloser {
    int fd = -1;
    FdCloser() = default;
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool PWriteAll(int fd, const char* p, size_t n, off_t off) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        off += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Copies the source from offset `from` to its end onto the end of dst; true when every byte
// arrived.
bool CopyRest(int src, int64_t from, int64_t length, int dst, bool failWrite) {
    off_t in = from;
    int64_t left = length - from;
    if (left < 0) return false;
    if (failWrite) return false;
    // The kernel copies without bringing the data through user space when it can.
    while (left > 0) {
        const ssize_t c = ::copy_file_range(src, &in, dst, nullptr, static_cast<size_t>(std::min<int64_t>(left, 1 << 30)), 0);
        if (c < 0 && errno == EINTR) continue;
        if (c <= 0) break;
        left -= c;
    }
    if (left == 0) return true;
    std::vector<char> buf(1 << 20);
    while (left > 0) {
        const ssize_t r = ::pread(src, buf.data(), static_cast<size_t>(std::min<int64_t>(left, buf.size())), in);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        if (!WriteAll(dst, buf.data(), static_cast<size_t>(r))) return false;
        in += r;
        left -= r;
    }
    return true;
}

void SyncFolder(const std::filesystem::path& file) {
    const int d = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TID3v2::TID3v2() { Reset(); }

void TID3v2::Reset() {
    tagFound_ = false;
    tagVersion_ = 0;
    tagTotalSize_ = 0;
    for (std::string* s : {&title_, &artist_, &album_, &year_, &genre_, &comment_, &composer_, &encoder_,
                           &rightsNotice_, &language_, &link_, &frameTRIT_, &introMark_, &frameTEXT_,
                           &frameTEST_, &frameTIDM_, &stampMark_, &stampFile_, &startMark_, &endMark_,
                           &chorusStartMark_, &chorusEndMark_, &frameTCAD_, &frameTSUC_, &frameTGRA_,
                           &frameTVOC_, &frameTTPE_, &frameTPIN_, &frameTPFI_, &mixMark_})
        s->clear();
    trackNumber_ = 0;
    rating_ = 0;
}

bool TID3v2::ReadFromFile(const std::string& FileName) {
    Reset();
    FilePtr f(std::fopen(FileName.c_str(), "rb"));
    if (!f) return false;
    Header h;
    if (!ReadHeader(f.get(), h)) return false;
    if (!h.IsId3()) return true;
    tagFound_ = true;
    tagVersion_ = h.Version();
    tagTotalSize_ = h.TotalSize();
    if (tagVersion_ < 2 || tagVersion_ > 4 || tagTotalSize_ <= 0) return true;

    const std::string tag = ReadTagBytes(f.get(), h);
    f.reset();

    std::array<std::optional<std::string>, SlotCount> slot;
    std::optional<uint8_t> firstRating;
    for (const RawFrame& fr : ParseFrames(tag)) {
        const auto content = ContentOf(fr, tagVersion_, h.Flags());
        if (!content) continue;
        for (int i = 0; i < SlotCount; ++i) {
            if (fr.id != (tagVersion_ == 2 ? Slots[i].id3 : Slots[i].id4)) continue;
            if (i == slRating) {
                if (!firstRating) firstRating = PopmRating(*content).value_or(0);
                if (!content->empty() && (*content)[0] == 0) slot[i] = *content;  // empty e-mail
            } else if (!content->empty() && static_cast<uint8_t>((*content)[0]) <= 3) {
                slot[i] = *content;
            }
        }
    }
    auto text = [&](int i) { return slot[i] ? DecodeFrameText(*slot[i]) : std::string(); };

    title_ = text(slTitle);
    if (title_.empty()) title_ = text(slTitleFallback);
    artist_ = text(slArtist);
    if (artist_.empty()) artist_ = text(slArtistFallback);
    album_ = text(slAlbum);
    if (album_.empty()) album_ = text(slAlbumFallback);

    std::string track = text(slTrack);
    if (const size_t slash = track.find('/'); slash != std::string::npos) track.erase(slash);
    bool ok = false;
    const int32_t n = ParseDecimal(track, &ok);
    trackNumber_ = ok ? static_cast<uint16_t>(n) : 0;

    year_ = text(slYear);
    if (year_.empty()) {
        const auto cps = CodePoints(text(slYearFallback));
        for (size_t i = 0; i < cps.size() && i < 4; ++i) AppendUtf8(year_, cps[i]);
    }
    genre_ = text(slGenre);
    if (const size_t close = genre_.rfind(')'); close != std::string::npos) genre_ = Trim(genre_.substr(close + 1));

    if (slot[slComment]) comment_ = DecodeAfterDescription(*slot[slComment], 3, false);
    if (slot[slLink]) link_ = DecodeAfterDescription(*slot[slLink], 0, true);

    for (const TextSlot& t : TextSlots) {
        if (t.set) (this->*t.set)(text(t.slot));
    }
    frameTSUC_ = text(slTSUC);

    if (slot[slRating])
        rating_ = slot[slRating]->size() > 1 ? static_cast<uint8_t>((*slot[slRating])[1]) : 0;
    else
        rating_ = firstRating.value_or(0);
    return true;
}

uint8_t TID3v2::ReadPopularimeter(const std::string& FileName) {
    FilePtr f(std::fopen(FileName.c_str(), "rb"));
    if (!f) return 0;
    Header h;
    if (!ReadHeader(f.get(), h) || !h.IsId3()) return 0;
    const std::string tag = ReadTagBytes(f.get(), h);
    const char* popm = h.Version() == 2 ? "POP" : "POPM";
    for (const RawFrame& fr : ParseFrames(tag)) {
        if (fr.id != popm) continue;
        const auto content = ContentOf(fr, h.Version(), h.Flags());
        return content ? PopmRating(*content).value_or(0) : 0;
    }
    return 0;
}

bool TID3v2::SaveToFile(const std::string& FileName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Through a symbolic link the file it names is tagged; the link stays a link.
    const fs::path target = fs::canonical(fs::path(FileName), ec);
    if (ec) return false;

    FdCloser src;
    src.fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (src.fd < 0) return false;
    struct stat st {};
    if (fstat(src.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;

    // The old header and, for a 2.3/2.4 tag, the frames that are not in the table.
    Header h;
    h.fileLength = st.st_size;
    const bool headerRead = ::pread(src.fd, h.bytes, 10, 0) == 10;
    const int32_t existing = headerRead ? h.TotalSize() : 0;
    // A tag in front of a container's own header makes the file unreadable to the readers of that
    // container (and to this program's own import), so such a file is left alone.
    if (existing == 0 && headerRead && IsContainerHeader(h.bytes)) return false;
    std::string carried;
    if (existing > 10 && (h.Version() == 3 || h.Version() == 4)) {
        std::string tag(static_cast<size_t>(existing), '\0');
        const ssize_t r = ::pread(src.fd, tag.data(), tag.size(), 0);
        if (r != static_cast<ssize_t>(tag.size())) return false;
        for (const RawFrame& fr : ParseFrames(tag))
            if (auto bytes = CarriedFrame(fr, h.Version(), h.Flags())) carried += *bytes;
    }

    // The table's frames, in slot order.
    std::array<std::string, SlotCount> data;
    auto textData = [](const std::string& s) {
        if (s.empty()) return std::string();
        const Encoded e = EncodeText(s);
        return static_cast<char>(e.enc) + e.bytes;
    };
    data[slTitle] = textData(title_);
    data[slArtist] = textData(artist_);
    data[slAlbum] = textData(album_);
    if (trackNumber_ > 0) data[slTrack] = textData(std::to_string(trackNumber_));
    data[slYear] = textData(year_);
    data[slGenre] = textData(genre_);
    if (!comment_.empty()) {
        const Encoded e = EncodeText(comment_);
        const std::string emptyDescription = e.enc == 0 ? std::string(1, '\0') : std::string("\xFF\xFE\0\0", 4);
        data[slComment] = static_cast<char>(e.enc) + std::string("eng") + emptyDescription + e.bytes;
    }
    if (!link_.empty()) data[slLink] = std::string(2, '\0') + EncodeUrl(link_);
    for (const TextSlot& t : TextSlots) data[t.slot] = textData((this->*t.get)());
    data[slRating] = std::string(1, '\0') + static_cast<char>(rating_);

    std::string frames;
    for (int i = 0; i < SlotCount; ++i)
        if (!data[i].empty()) frames += FrameBytes(Slots[i].id4, data[i]);
    frames += carried;

    const int64_t needed = 10 + static_cast<int64_t>(frames.size());
    const int64_t padded = (needed + 4095) / 4096 * 4096;
    const bool inPlace = existing > 0 && existing >= needed && existing <= padded;
    const int64_t size = inPlace ? existing : padded;
    if (size - 10 >= (int64_t(1) << 28)) return false;  // beyond what a tag's size field can hold

    std::string tag = "ID3";
    tag += '\x03';
    tag += '\0';
    tag += '\0';
    for (int s = 21; s >= 0; s -= 7) tag += static_cast<char>(((size - 10) >> s) & 0x7F);
    tag += frames;
    tag.resize(static_cast<size_t>(size), '\0');

    const mode_t mode = st.st_mode & 07777;
    if (inPlace) {
        src.reset();
        // A read-only file is made writable, as saving it is what the operator asked for.
        if (!(mode & S_IWUSR) && ::chmod(target.c_str(), mode | S_IWUSR) != 0) return false;
        FdCloser dst;
        dst.fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        bool ok = dst.fd >= 0 && PWriteAll(dst.fd, tag.data(), tag.size(), 0) && ::fsync(dst.fd) == 0;
        if (!ok && !(mode & S_IWUSR)) ::chmod(target.c_str(), mode);
        return ok;
    }

    // Whole-file rewrite: the new file is built beside the original and only replaces it, in one
    // rename, once every byte of it is on disk. Until then the original is not touched.
    const fs::path temp = fs::path(target.string() + "~");
    FdCloser dst;
    dst.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (dst.fd < 0) return false;
    bool ok = WriteAll(dst.fd, tag.data(), tag.size()) &&
              CopyRest(src.fd, existing, st.st_size, dst.fd, failAt_ == TRewriteStep::rsWrite);
    if (ok) {
        struct stat out {};
        ok = fstat(dst.fd, &out) == 0 && out.st_size == size + st.st_size - existing;
    }
    if (ok) {
        if (fchown(dst.fd, st.st_uid, st.st_gid) != 0) {
            // Another owner cannot be given by an ordinary user; the file stays the user's own.
        }
        ok = ::fchmod(dst.fd, mode | S_IWUSR) == 0;
    }
    if (ok) ok = failAt_ != TRewriteStep::rsFlush && ::fsync(dst.fd) == 0;
    if (ok) {
        ok = ::close(dst.fd) == 0;
        dst.fd = -1;
    }
    dst.reset();
    if (ok) ok = failAt_ != TRewriteStep::rsRename && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target);
    return true;
}

// Setters: every text is stored trimmed.
void TID3v2::SetTitle(std::string_view v) { title_ = Trim(v); }
void TID3v2::SetArtist(std::string_view v) { artist_ = Trim(v); }
void TID3v2::SetAlbum(std::string_view v) { album_ = Trim(v); }
void TID3v2::SetYear(std::string_view v) { year_ = Trim(v); }
void TID3v2::SetGenre(std::string_view v) { genre_ = Trim(v); }
void TID3v2::SetComment(std::string_view v) { comment_ = Trim(v); }
void TID3v2::SetComposer(std::string_view v) { composer_ = Trim(v); }
void TID3v2::SetEncoder(std::string_view v) { encoder_ = Trim(v); }
void TID3v2::SetRightsNotice(std::string_view v) { rightsNotice_ = Trim(v); }
void TID3v2::SetLanguage(std::string_view v) { language_ = Trim(v); }
void TID3v2::SetLink(std::string_view v) { link_ = Trim(v); }
void TID3v2::SetFrameTRIT(std::string_view v) { frameTRIT_ = Trim(v); }
void TID3v2::SetIntroMark(std::string_view v) { introMark_ = Trim(v); }
void TID3v2::SetFrameTEXT(std::string_view v) { frameTEXT_ = Trim(v); }
void TID3v2::SetFrameTEST(std::string_view v) { frameTEST_ = Trim(v); }
void TID3v2::SetFrameTIDM(std::string_view v) { frameTIDM_ = Trim(v); }
void TID3v2::SetStampMark(std::string_view v) { stampMark_ = Trim(v); }
void TID3v2::SetStampFile(std::string_view v) { stampFile_ = Trim(v); }
void TID3v2::SetStartMark(std::string_view v) { startMark_ = Trim(v); }
void TID3v2::SetEndMark(std::string_view v) { endMark_ = Trim(v); }
void TID3v2::SetChorusStartMark(std::string_view v) { chorusStartMark_ = Trim(v); }
void TID3v2::SetChorusEndMark(std::string_view v) { chorusEndMark_ = Trim(v); }
void TID3v2::SetFrameTCAD(std::string_view v) { frameTCAD_ = Trim(v); }
void TID3v2::SetFrameTGRA(std::string_view v) { frameTGRA_ = Trim(v); }
void TID3v2::SetFrameTVOC(std::string_view v) { frameTVOC_ = Trim(v); }
void TID3v2::SetFrameTTPE(std::string_view v) { frameTTPE_ = Trim(v); }
void TID3v2::SetFrameTPIN(std::string_view v) { frameTPIN_ = Trim(v); }
void TID3v2::SetFrameTPFI(std::string_view v) { frameTPFI_ = Trim(v); }
void TID3v2::SetMixMark(std::string_view v) { mixMark_ = Trim(v); }
