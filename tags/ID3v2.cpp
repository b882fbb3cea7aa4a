#include "tags/ID3v2.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/Utf8.h"
#include "platform/FileUpdate.h"

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

// ---------------------------------------------------------------------------------------------
// Text encodings: one place for all of them. Text is UTF-8 inside the program.

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(b, e - b));
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

bool IsLatin1(std::string_view text) {
    const auto cps = CodePoints(text);
    return std::all_of(cps.begin(), cps.end(), [](uint32_t c) { return c <= 0xFF; });
}

// The bytes of a text in encoding 0 (Latin-1; the text must be Latin-1) or 1 (UTF-16 with a
// little-endian byte-order mark).
std::string EncodeAs(uint8_t enc, std::string_view text) {
    std::string out;
    const auto cps = CodePoints(text);
    if (enc == 0) {
        for (uint32_t c : cps) out += static_cast<char>(c);
        return out;
    }
    out = "\xFF\xFE";
    auto put = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (uint32_t c : cps) {
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

// The encoding byte and bytes of a text to write: encoding 0 when every character is Latin-1,
// otherwise encoding 1.
struct Encoded {
    uint8_t enc;
    std::string bytes;
};

Encoded EncodeText(std::string_view text) {
    const uint8_t enc = IsLatin1(text) ? 0 : 1;
    return {enc, EncodeAs(enc, text)};
}

// An encoding byte and texts in one encoding that holds them all, separated by terminators (and
// one after the last with terminateLast).
std::string EncodeStrings(const std::vector<std::string>& texts, bool terminateLast = false) {
    const uint8_t enc = std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return IsLatin1(t); }) ? 0 : 1;
    std::string out(1, static_cast<char>(enc));
    for (size_t i = 0; i < texts.size(); ++i) {
        out += EncodeAs(enc, texts[i]);
        if (i + 1 < texts.size() || terminateLast) out += std::string(enc ? 2 : 1, '\0');
    }
    return out;
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
    std::string_view body = tag.substr(10, bodySize);
    if (version == 2 && (flags & 0x40)) return frames;  // compressed 2.2 tag: no scheme was ever defined
    std::string synced;
    if (version < 4 && (flags & 0x80)) body = synced = Deunsync(body);
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
            fr.id.assign(body.substr(pos, 3));
            size = size_t(b[pos + 3]) << 16 | size_t(b[pos + 4]) << 8 | b[pos + 5];
        } else {
            fr.id.assign(body.substr(pos, 4));
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
        fr.data.assign(body.substr(start, size));
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
// Which frame fills which slot (the same rules for reading and for the save's replacements)

// The strings after an encoding byte, each up to its terminator (a final terminator ends the last).
std::vector<std::string> DecodeStrings(uint8_t enc, const uint8_t* p, size_t n) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < n) {
        size_t used = 0;
        out.push_back(DecodeString(enc, p + pos, n - pos, &used));
        if (used == 0) break;
        pos += used;
    }
    return out;
}

bool IsTableId(std::string_view id, uint8_t version) {
    for (const auto& slot : Slots)
        if (id == (version == 2 ? slot.id3 : slot.id4)) return true;
    return false;
}

// The contents the slot selection looks at: those of the table's frames (a picture is never copied).
std::vector<std::optional<std::string>> TableContents(const std::vector<RawFrame>& frames, uint8_t version,
                                                      uint8_t tagFlags) {
    std::vector<std::optional<std::string>> contents(frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
        if (IsTableId(frames[i].id, version)) contents[i] = ContentOf(frames[i], version, tagFlags);
    return contents;
}

bool HasEmptyDescription(const std::string& comment) {
    if (comment.size() < 4) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(comment.data());
    return DecodeString(p[0], p + 4, comment.size() - 4).empty();
}

struct Selection {
    std::array<int, TID3v2::SlotCount> slot;  // the frame each slot takes its value from, or -1
    int firstPopm = -1;                        // the first rating frame, whatever its e-mail
};

// frames[i] is a frame's ID and its content (null when compressed or encrypted). A slot takes the
// last frame of its ID in an encoding this reader knows; the comment the first COMM without a
// description; the rating the last POPM with an empty e-mail.
Selection SelectSlots(const std::vector<std::pair<std::string_view, const std::string*>>& frames, uint8_t version) {
    Selection s;
    s.slot.fill(-1);
    for (int f = 0; f < static_cast<int>(frames.size()); ++f) {
        const auto& [id, content] = frames[f];
        if (!content) continue;
        const std::string& c = *content;
        const bool readable = !c.empty() && static_cast<uint8_t>(c[0]) <= 3;
        for (int i = 0; i < TID3v2::SlotCount; ++i) {
            if (id != (version == 2 ? Slots[i].id3 : Slots[i].id4)) continue;
            if (i == slRating) {
                if (s.firstPopm < 0) s.firstPopm = f;
                if (!c.empty() && c[0] == 0) s.slot[i] = f;
            } else if (i == slComment) {
                if (s.slot[i] < 0 && readable && HasEmptyDescription(c)) s.slot[i] = f;
            } else if (readable) {
                s.slot[i] = f;
            }
        }
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Frames in their version 2.3 form

// Version 2.2 IDs with a 2.3 equivalent of the same layout (the table's own frames follow Slots).
constexpr std::pair<const char*, const char*> V22Ids[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
    {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"POP", "POPM"}, {"REV", "RVRB"},
    {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"},
    {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"}, {"TFT", "TFLT"},
    {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"}, {"TOA", "TOPE"},
    {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"},
    {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"},
    {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"},
    {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"}, {"WAF", "WOAF"},
    {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"}, {"WXX", "WXXX"},
    // Sort orders and the compilation flag, as a widespread player writes them.
    {"TCP", "TCMP"}, {"TST", "TSOT"}, {"TSP", "TSOP"}, {"TSA", "TSOA"}, {"TS2", "TSO2"}, {"TSC", "TSOC"},
};

const char* Id4Of22(std::string_view id) {
    for (const auto& [v22, v23] : V22Ids)
        if (id == v22) return v23;
    for (const auto& slot : Slots)
        if (id == slot.id3) return slot.id4;
    return nullptr;
}

std::string MimeOfImageFormat(std::string format) {
    for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    format = Trim(format);
    if (format == "jpg" || format == "jpeg") return "image/jpeg";
    if (format == "-->") return format;  // a link to the picture
    return "image/" + format;
}

bool IsFrameId(const std::string& id) {
    return std::all_of(id.begin(), id.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

struct Version3Tag {
    std::vector<RawFrame> frames;
    std::vector<std::string> dropped;
};

// The content of a 2.4 frame in a form version 2.3 holds: texts in UTF-8 or UTF-16BE re-encoded,
// several values of a text frame joined by "/". Nothing when the frame has no such form.
// With joinValues false (a 2.3 frame) only the encodings are converted.
std::optional<std::string> Version3Content(const std::string& id, const std::string& c, bool joinValues) {
    if (c.empty()) return c;
    const auto* p = reinterpret_cast<const uint8_t*>(c.data());
    const uint8_t enc = p[0];
    if (enc > 3) return c;  // not an encoding: kept as read
    if (id[0] == 'T') {
        auto values = DecodeStrings(enc, p + 1, c.size() - 1);
        const size_t head = id == "TXXX" ? 1 : 0;  // the description
        if (enc <= 1 && (values.size() <= head + 1 || !joinValues)) return c;
        if (!joinValues) {
            std::vector<std::string> out = values;
            if (out.empty()) out.emplace_back();
            return EncodeStrings(out);
        }
        std::vector<std::string> out(values.begin(), values.begin() + static_cast<long>(std::min(head, values.size())));
        std::string joined;
        for (size_t i = head; i < values.size(); ++i) joined += (i > head ? "/" : "") + values[i];
        out.push_back(joined);
        return EncodeStrings(out);
    }
    if (enc <= 1) return c;
    size_t used = 0;
    if (id == "COMM" || id == "USLT" || id == "USER") {
        if (c.size() < 4) return c;
        const auto strings = DecodeStrings(enc, p + 4, c.size() - 4);
        std::vector<std::string> texts;
        if (id != "USER") texts.push_back(strings.empty() ? std::string() : strings[0]);
        texts.push_back(strings.size() > texts.size() ? strings[texts.size()] : std::string());
        const std::string e = EncodeStrings(texts);
        return e.substr(0, 1) + c.substr(1, 3) + e.substr(1);
    }
    if (id == "WXXX") {
        const std::string desc = DecodeString(enc, p + 1, c.size() - 1, &used);
        return EncodeStrings({desc}, true) + c.substr(1 + used);
    }
    if (id == "APIC" || id == "GEOB") {
        const size_t z = c.find('\0', 1);  // the MIME type, Latin-1
        size_t pos = id == "APIC" ? z + 2 : z + 1;  // APIC has the picture type after it
        if (z == std::string::npos || pos > c.size()) return std::nullopt;
        std::vector<std::string> texts;
        for (int k = id == "APIC" ? 1 : 2; k > 0; --k) {  // GEOB: file name and description
            texts.push_back(DecodeString(enc, p + pos, c.size() - pos, &used));
            pos += used;
        }
        const std::string e = EncodeStrings(texts, true);
        return e.substr(0, 1) + c.substr(1, (id == "APIC" ? z + 2 : z + 1) - 1) + e.substr(1) + c.substr(pos);
    }
    if (id == "OWNE") {
        const size_t z = c.find('\0', 1);  // price, then an 8-character date
        if (z == std::string::npos || z + 9 > c.size()) return std::nullopt;
        const std::string e = EncodeStrings({DecodeString(enc, p + z + 9, c.size() - z - 9)});
        return e.substr(0, 1) + c.substr(1, z + 8) + e.substr(1);
    }
    if (id == "SYLT" || id == "COMR") return std::nullopt;  // timed or priced texts: no plain conversion
    return c;
}

// A 2.4 date frame as the 2.3 frames that hold its parts (TDRC as TYER, TDAT and TIME; TDOR as TORY),
// each only where the tag has none of its own. False when the text is not a date.
bool AddDateFrames(const std::string& id, const std::string& content, const std::set<std::string>& present,
                   std::vector<RawFrame>& out) {
    if (content.empty()) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(content.data());
    const auto values = DecodeStrings(p[0], p + 1, content.size() - 1);
    const std::string t = values.empty() ? std::string() : Trim(values[0]);
    auto digits = [&](size_t pos, size_t n) {
        return t.size() >= pos + n && std::all_of(t.begin() + static_cast<long>(pos), t.begin() + static_cast<long>(pos + n),
                                                  [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(0, 4)) return false;
    auto add = [&](const char* frameId, const std::string& text) {
        if (!present.count(frameId)) out.push_back({frameId, 0, 0, std::string(1, '\0') + text, false});
    };
    if (id == "TDOR") {
        add("TORY", t.substr(0, 4));
        return true;
    }
    add("TYER", t.substr(0, 4));
    if (t.size() >= 10 && t[4] == '-' && digits(5, 2) && t[7] == '-' && digits(8, 2)) {
        add("TDAT", t.substr(8, 2) + t.substr(5, 2));
        if (t.size() >= 16 && t[10] == 'T' && digits(11, 2) && t[13] == ':' && digits(14, 2))
            add("TIME", t.substr(11, 2) + t.substr(14, 2));
    }
    return true;
}

// A 2.2 frame under its 2.3 ID (a picture with a MIME type instead of an image format).
void AddVersion22Frame(const RawFrame& fr, Version3Tag& out) {
    const std::string& d = fr.data;
    if (fr.id == "TRI") {  // the table's two slots read the same frame
        out.frames.push_back({"TRIT", 0, 0, d, false});
        out.frames.push_back({"TRFI", 0, 0, d, false});
        return;
    }
    if (fr.id == "PIC" && d.size() >= 5) {
        out.frames.push_back({"APIC", 0, 0, d.substr(0, 1) + MimeOfImageFormat(d.substr(1, 3)) + '\0' + d.substr(4), false});
        return;
    }
    if (fr.id == "LNK" && d.size() >= 3) {
        if (const char* linked = Id4Of22(d.substr(0, 3))) {
            out.frames.push_back({"LINK", 0, 0, linked + d.substr(3), false});
            return;
        }
    }
    const char* id4 = fr.id == "PIC" || fr.id == "LNK" ? nullptr : Id4Of22(fr.id);
    if (!id4) {
        out.dropped.push_back(fr.id);
        return;
    }
    out.frames.push_back({id4, 0, 0, d, false});
}

// The frames of a whole tag (header included) as a version 2.3 tag holds them, in their order.
Version3Tag Version3Frames(std::string_view tag) {
    Version3Tag out;
    if (tag.size() < 10) return out;
    const uint8_t version = static_cast<uint8_t>(tag[3]), flags = static_cast<uint8_t>(tag[5]);
    std::vector<RawFrame> raw = ParseFrames(tag);
    std::set<std::string> present;
    for (const RawFrame& fr : raw) present.insert(fr.id);
    for (RawFrame& fr : raw) {
        if (!IsFrameId(fr.id)) continue;  // garbage, not a frame
        if (fr.truncated) {
            out.dropped.push_back(fr.id);
            continue;
        }
        if (fr.data.empty()) continue;  // a frame must hold a byte; nothing is lost
        if (version == 3) {
            // Kept as read, but for texts in the encodings 2.4 added (which 2.3 readers do not know).
            const size_t skip = (fr.format & 0x20) ? 1 : 0;  // group byte
            if (!(fr.format & 0xC0) && fr.data.size() > skip && (fr.data[skip] == 2 || fr.data[skip] == 3)) {
                const auto converted = Version3Content(fr.id, fr.data.substr(skip), false);
                if (!converted) {
                    out.dropped.push_back(fr.id);
                    continue;
                }
                fr.data = fr.data.substr(0, skip) + *converted;
            }
            out.frames.push_back(std::move(fr));
        } else if (version == 2) {
            AddVersion22Frame(fr, out);
        } else {
            // Group byte, encryption, data-length indicator and unsynchronisation of 2.4, in 2.3's terms.
            const bool group = fr.format & 0x40;
            const size_t skip = (group ? 1 : 0) + ((fr.format & 0x01) ? 4 : 0);
            if ((fr.format & 0x0C) || skip > fr.data.size()) {  // compressed or encrypted
                out.dropped.push_back(fr.id);
                continue;
            }
            std::string content = fr.data.substr(skip);
            if ((fr.format & 0x02) || (flags & 0x80)) content = Deunsync(content);
            const auto converted = Version3Content(fr.id, content, true);
            if (!converted) {
                out.dropped.push_back(fr.id);
                continue;
            }
            if ((fr.id == "TDRC" || fr.id == "TDOR") && AddDateFrames(fr.id, *converted, present, out.frames)) continue;
            const uint8_t status = uint8_t((fr.status & 0x70) << 1);
            out.frames.push_back({fr.id, status, uint8_t(group ? 0x20 : 0), (group ? fr.data.substr(0, 1) : "") + *converted,
                                  false});
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Writing

void AppendFrame(std::string& out, const std::string& id, const std::string& data, uint8_t status = 0,
                 uint8_t format = 0) {
    out += id;
    PutBe32(out, static_cast<uint32_t>(data.size()));
    out += static_cast<char>(status);
    out += static_cast<char>(format);
    out += data;
}

// The frames of the new tag: the old tag's frames, but those of the changed slots, in their
// order; then the changed slots' new frames in slot order (where later frames keep their place,
// whichever frame a reader takes among several of one ID stays the same); a rating frame when
// none is left.
std::string MergeFrames(const std::vector<RawFrame>& old, const std::array<bool, TID3v2::SlotCount>& changed,
                        std::array<std::string, TID3v2::SlotCount> data, uint8_t rating) {
    const auto contents = TableContents(old, 3, 0);
    std::vector<std::pair<std::string_view, const std::string*>> candidates;
    for (size_t i = 0; i < old.size(); ++i) candidates.emplace_back(old[i].id, contents[i] ? &*contents[i] : nullptr);
    const Selection sel = SelectSlots(candidates, 3);

    std::vector<bool> replaced(old.size(), false);
    std::vector<std::string> inPlace(old.size());  // new data at the place of an old frame
    for (int i = 0; i < TID3v2::SlotCount; ++i) {
        if (!changed[i]) {
            data[i].clear();
            continue;
        }
        const int own = i == slRating && sel.slot[i] < 0 ? sel.firstPopm : sel.slot[i];
        if (i == slComment || i == slLink || i == slRating) {
            // One frame among others of its ID (COMM, WXXX, POPM with their descriptions or e-mails).
            if (own < 0) continue;
            replaced[own] = true;
            const std::string& c = *contents[own];
            // The replaced comment keeps its language; the rating frame its e-mail and play counter.
            if (i == slComment && data[i].size() >= 4) data[i].replace(1, 3, c.substr(1, 3));
            const size_t z = c.find('\0');
            if (i == slRating && z != std::string::npos)
                data[i] = c.substr(0, z + 1) + static_cast<char>(rating) + (z + 2 < c.size() ? c.substr(z + 2) : "");
            for (size_t f = 0; f < old.size(); ++f) {
                if (static_cast<int>(f) != own && old[f].id == old[own].id) {
                    inPlace[own] = std::move(data[i]);
                    data[i].clear();
                    break;
                }
            }
        } else {
            for (size_t f = 0; f < old.size(); ++f)
                if (old[f].id == Slots[i].id4) replaced[f] = true;
        }
    }
    std::string frames;
    size_t total = 0;
    for (const RawFrame& fr : old) total += fr.data.size() + 10;
    frames.reserve(total + 1024);
    bool rated = false;
    for (size_t f = 0; f < old.size(); ++f) {
        if (!inPlace[f].empty()) AppendFrame(frames, old[f].id, inPlace[f]);
        if (replaced[f]) continue;
        AppendFrame(frames, old[f].id, old[f].data, old[f].status, old[f].format);
        rated = rated || old[f].id == "POPM";
    }
    if (!rated && data[slRating].empty()) data[slRating] = std::string(1, '\0') + static_cast<char>(rating);
    for (int i = 0; i < TID3v2::SlotCount; ++i)
        if (!data[i].empty()) AppendFrame(frames, Slots[i].id4, data[i]);
    return frames;
}

// Files whose format puts its own header at offset 0: RIFF/RF64 wave, AIFF, FLAC, Ogg.
bool IsContainerHeader(const uint8_t* b) {
    for (const char* magic : {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS"})
        if (std::memcmp(b, magic, 4) == 0) return true;
    return false;
}

bool PReadAll(int fd, char* p, size_t n, off_t off) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, off);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        off += r;
        n -= static_cast<size_t>(r);
    }
    return true;
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
    touched_.fill(false);
    readFile_.clear();
}

bool TID3v2::ReadFromFile(const std::string& FileName) {
    Reset();
    FilePtr f(std::fopen(FileName.c_str(), "rb"));
    if (!f) return false;
    Header h;
    if (!ReadHeader(f.get(), h)) return false;
    if (char real[PATH_MAX]; ::realpath(FileName.c_str(), real)) readFile_ = real;
    if (!h.IsId3()) return true;
    tagFound_ = true;
    tagVersion_ = h.Version();
    tagTotalSize_ = h.TotalSize();
    if (tagVersion_ < 2 || tagVersion_ > 4 || tagTotalSize_ <= 0) return true;

    const std::string tag = ReadTagBytes(f.get(), h);
    f.reset();

    const std::vector<RawFrame> frames = ParseFrames(tag);
    const auto contents = TableContents(frames, tagVersion_, h.Flags());
    std::vector<std::pair<std::string_view, const std::string*>> candidates;
    for (size_t i = 0; i < frames.size(); ++i)
        candidates.emplace_back(frames[i].id, contents[i] ? &*contents[i] : nullptr);
    const Selection sel = SelectSlots(candidates, tagVersion_);
    auto slot = [&](int i) -> const std::string* { return sel.slot[i] < 0 ? nullptr : &*contents[sel.slot[i]]; };
    auto text = [&](int i) { return slot(i) ? DecodeFrameText(*slot(i)) : std::string(); };

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

    if (slot(slComment)) comment_ = DecodeAfterDescription(*slot(slComment), 3, false);
    if (slot(slLink)) link_ = DecodeAfterDescription(*slot(slLink), 0, true);

    for (const TextSlot& t : TextSlots) {
        if (t.set) (this->*t.set)(text(t.slot));
    }
    frameTSUC_ = text(slTSUC);

    if (const std::string* popm = slot(slRating))
        rating_ = popm->size() > 1 ? static_cast<uint8_t>((*popm)[1]) : 0;
    else if (sel.firstPopm >= 0)
        rating_ = PopmRating(*contents[sel.firstPopm]).value_or(0);
    touched_.fill(false);  // what was read is no change
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

std::array<std::string, TID3v2::SlotCount> TID3v2::SlotValues() const {
    std::array<std::string, SlotCount> v;
    v[slTitle] = title_;
    v[slArtist] = artist_;
    v[slAlbum] = album_;
    if (trackNumber_ > 0) v[slTrack] = std::to_string(trackNumber_);
    v[slYear] = year_;
    v[slGenre] = genre_;
    v[slComment] = comment_;
    v[slLink] = link_;
    for (const TextSlot& t : TextSlots) v[t.slot] = (this->*t.get)();
    if (rating_ > 0) v[slRating] = std::to_string(rating_);
    return v;
}

std::array<std::string, TID3v2::SlotCount> TID3v2::SlotFrameData() const {
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
        const std::string e = EncodeStrings({std::string(), comment_});  // no description
        data[slComment] = e.substr(0, 1) + "eng" + e.substr(1);
    }
    if (!link_.empty()) data[slLink] = std::string(2, '\0') + EncodeUrl(link_);
    for (const TextSlot& t : TextSlots) data[t.slot] = textData((this->*t.get)());
    data[slRating] = std::string(1, '\0') + static_cast<char>(rating_);
    return data;
}

bool TID3v2::SaveToFile(const std::string& FileName, std::chrono::milliseconds lockWait) {
    dropped_.clear();
    // Locked from reading the old tag to the last write: a second save of the file waits, then
    // applies its own changes to the tag this one wrote.
    TFileUpdate file;
    if (!file.Open(FileName, lockWait)) return false;
    const int64_t length = file.Stat().st_size;

    Header h;
    h.fileLength = length;
    const bool headerRead = length >= 10 && PReadAll(file.Fd(), reinterpret_cast<char*>(h.bytes), 10, 0);
    const int32_t existing = headerRead ? h.TotalSize() : 0;
    // A tag in front of a container's own header makes the file unreadable to the readers of that
    // container (and to this program's own import), so such a file is left alone.
    if (existing == 0 && headerRead && IsContainerHeader(h.bytes)) return false;
    std::string old(static_cast<size_t>(existing), '\0');
    if (existing > 0 && !PReadAll(file.Fd(), old.data(), old.size(), 0)) return false;

    Version3Tag base = Version3Frames(old);
    // The values set since the read change the tag. Values read from another file (or none)
    // say nothing of this one: then every value this object holds counts as set.
    const bool otherFile = file.Target() != readFile_;
    const auto values = SlotValues();
    std::array<bool, SlotCount> changed{};
    for (int i = 0; i < SlotCount; ++i)
        changed[i] = touched_[i] || (otherFile && !values[i].empty());
    const std::string frames = MergeFrames(base.frames, changed, SlotFrameData(), rating_);

    const int64_t needed = 10 + static_cast<int64_t>(frames.size());
    const int64_t padded = (needed + 4095) / 4096 * 4096;
    const bool fits = existing > 0 && existing >= needed && existing <= padded;
    const int64_t size = fits ? existing : padded;
    if (size - 10 >= (int64_t(1) << 28)) return false;  // beyond what a tag's size field can hold

    std::string tag;
    tag.reserve(static_cast<size_t>(size));
    tag += "ID3\x03";
    tag += '\0';
    tag += '\0';
    for (int s = 21; s >= 0; s -= 7) tag += static_cast<char>(((size - 10) >> s) & 0x7F);
    tag += frames;
    tag.resize(static_cast<size_t>(size), '\0');

    bool ok;
    const auto fail = static_cast<TFileUpdate::TFailStep>(static_cast<int>(failAt_));
    if (fits) {
        // In place only when every byte that changes lies in one page: a single write there is
        // either done or not, whenever the process dies. Otherwise a new file replaces the old.
        size_t first = 0, last = tag.size();
        while (first < last && tag[first] == old[first]) ++first;
        while (last > first && tag[last - 1] == old[last - 1]) --last;
        const std::string_view changedBytes(tag.data() + first, last - first);
        ok = changedBytes.empty() || TFileUpdate::FitsOnePage(int64_t(first), changedBytes.size())
                 ? file.WriteInPage(int64_t(first), changedBytes)
                 : file.Replace(tag, existing, fail);
    } else {
        ok = file.Replace(tag, existing, fail);
    }
    if (!ok) return false;
    dropped_ = std::move(base.dropped);
    touched_.fill(false);
    readFile_ = file.Target();
    return true;
}

// Setters: every text is stored trimmed; the slot is marked for the next save.
void TID3v2::SetText(std::string& member, int slot, std::string_view v) {
    member = Trim(v);
    touched_[static_cast<size_t>(slot)] = true;
}

void TID3v2::SetTrackNumber(uint16_t v) {
    trackNumber_ = v;
    touched_[slTrack] = true;
}

void TID3v2::SetRating(uint8_t v) {
    rating_ = v;
    touched_[slRating] = true;
}

void TID3v2::SetTitle(std::string_view v) { SetText(title_, slTitle, v); }
void TID3v2::SetArtist(std::string_view v) { SetText(artist_, slArtist, v); }
void TID3v2::SetAlbum(std::string_view v) { SetText(album_, slAlbum, v); }
void TID3v2::SetYear(std::string_view v) { SetText(year_, slYear, v); }
void TID3v2::SetGenre(std::string_view v) { SetText(genre_, slGenre, v); }
void TID3v2::SetComment(std::string_view v) { SetText(comment_, slComment, v); }
void TID3v2::SetComposer(std::string_view v) { SetText(composer_, 7, v); }
void TID3v2::SetEncoder(std::string_view v) { SetText(encoder_, 8, v); }
void TID3v2::SetRightsNotice(std::string_view v) { SetText(rightsNotice_, 9, v); }
void TID3v2::SetLanguage(std::string_view v) { SetText(language_, 10, v); }
void TID3v2::SetLink(std::string_view v) { SetText(link_, slLink, v); }
void TID3v2::SetFrameTRIT(std::string_view v) { SetText(frameTRIT_, 16, v); }
void TID3v2::SetIntroMark(std::string_view v) { SetText(introMark_, 17, v); }
void TID3v2::SetFrameTEXT(std::string_view v) { SetText(frameTEXT_, 18, v); }
void TID3v2::SetFrameTEST(std::string_view v) { SetText(frameTEST_, 19, v); }
void TID3v2::SetFrameTIDM(std::string_view v) { SetText(frameTIDM_, 20, v); }
void TID3v2::SetStampMark(std::string_view v) { SetText(stampMark_, 21, v); }
void TID3v2::SetStampFile(std::string_view v) { SetText(stampFile_, 22, v); }
void TID3v2::SetStartMark(std::string_view v) { SetText(startMark_, 23, v); }
void TID3v2::SetEndMark(std::string_view v) { SetText(endMark_, 24, v); }
void TID3v2::SetChorusStartMark(std::string_view v) { SetText(chorusStartMark_, 25, v); }
void TID3v2::SetChorusEndMark(std::string_view v) { SetText(chorusEndMark_, 26, v); }
void TID3v2::SetFrameTCAD(std::string_view v) { SetText(frameTCAD_, 27, v); }
void TID3v2::SetFrameTGRA(std::string_view v) { SetText(frameTGRA_, 29, v); }
void TID3v2::SetFrameTVOC(std::string_view v) { SetText(frameTVOC_, 30, v); }
void TID3v2::SetFrameTTPE(std::string_view v) { SetText(frameTTPE_, 31, v); }
void TID3v2::SetFrameTPIN(std::string_view v) { SetText(frameTPIN_, 32, v); }
void TID3v2::SetFrameTPFI(std::string_view v) { SetText(frameTPFI_, 33, v); }
void TID3v2::SetMixMark(std::string_view v) { SetText(mixMark_, 34, v); }
