// File names are bytes on this platform, in no particular encoding: a Latin-1 name copied from
// another system is no valid UTF-8. The program holds a name in a QString without losing a byte:
// what is valid UTF-8 is decoded, every other byte b stands as the lone code unit U+DC00 + b (the
// escape other programs use for the same purpose), and FileNameBytes gives the bytes back. Qt's
// own file classes would turn those escapes into other bytes: a name is opened only through its
// bytes.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

// The name as the program holds it.
QString FileNameToQString(std::string_view bytes);
// The bytes of a name held by FileNameToQString (of any other text: its UTF-8).
std::string FileNameBytes(const QString& name);
// The name as it is shown: the escaped bytes as the Latin-1 characters they most likely are.
QString DisplayFileName(const QString& name);
// True when the name is that of a regular file (symbolic links followed).
bool IsRegularFile(const QString& name);
// The command-line arguments after the program's name, as FileNameToQString holds them.
QStringList ArgumentsAsFileNames(int argc, char** argv);
