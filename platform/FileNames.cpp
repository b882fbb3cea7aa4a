#include "platform/FileNames.h"

#include <sys/stat.h>

#include "common/Utf8.h"

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool IsEscape(char16_t u) { return u >= EscapeBase + 0x80 && u <= EscapeBase + 0xFF; }

}  // namespace

QString FileNameToQString(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        int len = 0;
        char32_t cp = 0, min = 0;
        if (c < 0x80) { len = 1; cp = c; }
        else if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
        bool ok = len > 0 && i + static_cast<size_t>(len) <= bytes.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]);
            ok = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode are no valid UTF-8 either.
        if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
            const char32_t one[1] = {cp};
            out += QString::fromUcs4(one, 1);
            i += static_cast<size_t>(len);
        } else {
            out += QChar(static_cast<char16_t>(EscapeBase + c));
            ++i;
        }
    }
    return out;
}

std::string FileNameBytes(const QString& name) {
    std::string out;
    out.reserve(static_cast<size_t>(name.size()));
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            AppendUtf8(out, QChar::surrogateToUcs4(u, name[++i].unicode()));
        } else if (IsEscape(u)) {
            out += static_cast<char>(u - EscapeBase);
        } else {
            AppendUtf8(out, QChar::isSurrogate(u) ? U'\uFFFD' : char32_t(u));
        }
    }
    return out;
}

QString DisplayFileName(const QString& name) {
    QString out = name;
    for (QChar& c : out)
        if (IsEscape(c.unicode())) c = QChar(static_cast<char16_t>(c.unicode() - EscapeBase));
    return out;
}

bool IsRegularFile(const QString& name) {
    struct stat st {};
    return !name.isEmpty() && ::stat(FileNameBytes(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QStringList ArgumentsAsFileNames(int argc, char** argv) {
    QStringList out;
    for (int i = 1; i < argc; ++i) out << FileNameToQString(argv[i]);
    return out;
}
