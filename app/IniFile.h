// Finding and reading BaseQuelt.ini: one value of an INI file.
#pragma once

#include <QString>

#include <string>

// Reads one value of an INI file the way the stations' system does: section and key names
// compared without regard to case, blanks around the value removed, one pair of enclosing
// quotes removed, comment lines (;) skipped. The bytes of the value are returned unchanged
// (no escape processing: a Windows path keeps its backslashes). Missing file, section or key
// gives the default.
std::string ReadIniString(const QString& path, const std::string& section, const std::string& key,
                          const std::string& defaultValue);

// The BaseQuelt.ini the program reads: the one beside the executable (programFolder) when it is
// there, otherwise $XDG_CONFIG_HOME/tessivo/ (~/.config/tessivo/ when unset or not absolute),
// otherwise /etc/tessivo/. Empty when none of them holds the file.
QString FindIniFile(const QString& programFolder);
