// Byte builders for ID3 tags and a mutagen-based reader of what the writer produces.
#pragma once

#include "support/TestUtil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <string>

// Readable failure messages for the mutagen dumps.
inline void PrintTo(const QJsonObject& o, std::ostream* os) {
    *os << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

namespace id3test {

using testutil::be32;
using testutil::syncsafe;

inline std::string bytes(const char* s, size_t n) { return std::string(s, n); }

// A frame of a version 2.2, 2.3 or 2.4 tag.
inline std::string frame2(const std::string& id, const std::string& data) {
    const auto n = static_cast<uint32_t>(data.size());
    return id + static_cast<char>(n >> 16) + static_cast<char>((n >> 8) & 0xFF) + static_cast<char>(n & 0xFF) + data;
}
inline std::string frame3(const std::string& id, const std::string& data, const std::string& flags = bytes("\0\0", 2)) {
    return id + be32(static_cast<uint32_t>(data.size())) + flags + data;
}
inline std::string frame4(const std::string& id, const std::string& data, const std::string& flags = bytes("\0\0", 2)) {
    return id + syncsafe(static_cast<uint32_t>(data.size())) + flags + data;
}
// A text frame's data in encoding 0.
inline std::string latin1(const std::string& text) { return std::string(1, '\0') + text; }

// A whole tag: header and body (frames and padding).
inline std::string tag(int version, const std::string& body, uint8_t flags = 0) {
    return std::string("ID3") + static_cast<char>(version) + '\0' + static_cast<char>(flags) +
           syncsafe(static_cast<uint32_t>(body.size())) + body;
}

// Bytes standing for the audio of a file: not a tag, different at every offset.
inline std::string audio(size_t n, unsigned seed = 1) {
    std::string a(n, '\0');
    uint32_t x = seed * 2654435761u + 12345;
    for (auto& c : a) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    if (n > 0) a[0] = '\xFF';  // never "ID3" or "TAG"
    return a;
}

// Python lines that teach mutagen the station's own text frames (it reads them as text frames
// then, checking their encodings) and bind every frame class by its ID.
inline const std::string MutagenPrelude = R"PY(
import sys, json
from mutagen.id3 import ID3, Frames, TextFrame
for n in ("TINT", "TMXI", "TMXF", "TRFI", "TRFF", "TPMI", "TCAR", "TVIN", "TCAD", "TSUC", "TGRA",
          "TVOC", "TTPE", "TPIN", "TPFI", "TRIT", "TEST", "TIDM"):
    Frames.setdefault(n, type(n, (TextFrame,), {}))
globals().update(Frames)
)PY";

// The ID3v2 tag of a file as mutagen reads it: {"version": [2, 3, 0], "size": n, "frames": [...]}, each
// frame {"key", "id", "text", "lang", "desc", "email", "rating", "count", "data", "encoding", "url",
// "mime", "type"} as far as the frame has them ("data" is the hex of binary frame data). With
// `translate`, mutagen's own upgrade of older tags to version 2.4 frames (2.2 IDs, dates) is applied.
// An empty object when mutagen fails.
inline QJsonObject mutagenTag(const std::string& path, bool translate = false) {
    static const std::string script = MutagenPrelude + R"PY(
t = ID3(sys.argv[1], translate=sys.argv[2] == "1")
frames = []
for f in t.values():
    d = {"key": f.HashKey, "id": f.FrameID}
    if hasattr(f, "text"):
        d["text"] = f.text if isinstance(f.text, str) else "/".join(str(x) for x in f.text)
    for a in ("lang", "desc", "email", "rating", "count", "url", "mime", "type", "owner"):
        if hasattr(f, a): d[a] = int(getattr(f, a)) if a == "type" else getattr(f, a)
    if hasattr(f, "encoding"): d["encoding"] = int(f.encoding)
    if hasattr(f, "data"): d["data"] = f.data.hex()
    frames.append(d)
print(json.dumps({"version": list(t.version), "size": t.size, "frames": frames,
                  "unknown": len(t.unknown_frames)}))
)PY";
    testutil::TempDir dir;
    const std::string py = dir.file("dump.py");
    testutil::writeFile(py, script);
    std::string out;
    const int rc = testutil::run("/usr/bin/python3 " + py + " " + testutil::shellQuote(path) + (translate ? " 1" : " 0") +
                                     " 2>&1",
                                 &out);
    if (rc != 0) {
        ADD_FAILURE() << "mutagen could not read " << path << ": " << out;
        return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

// The frame of the mutagen dump with this hash key ("TINT", "COMM::eng", "POPM:"), or empty.
inline QJsonObject frameOf(const QJsonObject& dump, const QString& key) {
    for (const auto& v : dump["frames"].toArray())
        if (v.toObject()["key"].toString() == key) return v.toObject();
    return {};
}

inline std::string textOf(const QJsonObject& dump, const QString& key) {
    return frameOf(dump, key)["text"].toString().toStdString();
}

// The names in a folder (to see that a save left no temporary file behind).
inline std::set<std::string> names(const std::filesystem::path& folder) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

// Runs a python snippet with mutagen on a file ("path" is bound to it); true when it exits 0.
inline bool mutagenRun(const std::string& path, const std::string& code) {
    testutil::TempDir dir;
    const std::string py = dir.file("run.py");
    testutil::writeFile(py, MutagenPrelude + "path = sys.argv[1]\n" + code + "\n");
    std::string out;
    const int rc = testutil::run("/usr/bin/python3 " + py + " " + testutil::shellQuote(path) + " 2>&1", &out);
    if (rc != 0) ADD_FAILURE() << out;
    return rc == 0;
}

}  // namespace id3test
