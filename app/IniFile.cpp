#include "app/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string ReadIniString(const QString& path, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return defaultValue;
    const QByteArray bytes = file.readAll();
    std::string text(bytes.constData(), size_t(bytes.size()));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // UTF-8 mark

    bool inSection = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string::npos && sameName(trim(line.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !sameName(trim(line.substr(0, eq)), key)) continue;
        std::string value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return defaultValue;
}

QString FindIniFile(const QString& programFolder) {
    const QString name = QStringLiteral("BaseQuelt.ini");
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) config = QDir::home().filePath(QStringLiteral(".config"));
    const QString candidates[] = {QDir(programFolder).filePath(name),
                                  QDir(config).filePath(QStringLiteral("tessivo/") + name),
                                  QStringLiteral("/etc/tessivo/") + name};
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile()) return path;
    return {};
}
