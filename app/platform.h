#ifndef PLATFORM_H
#define PLATFORM_H

#include <QString>
#include <QStringList>
#include <QUrl>

// What differs between Windows, the program's home, and the other desktops it runs on.
// Everything else in the program calls these instead of testing the platform itself.
namespace Platform {

// True where "/" separates directories in a command line's first argument as well as "\".
bool slashSeparatesDirectories();

// The program name of a first command-line argument: from after the last separator up to the
// last dot; with no dot after the start, up to the end.
QString programNameFromArgv0(const QString &argv0, bool slashSeparates);
QString programNameFromArgv0(const QString &argv0);

// ".exe" on Windows, nothing elsewhere: the suffix of the program's own file.
QString executableSuffix();

// Names of the entries of dir that the Tools menu offers, in menu order. On Windows the
// entries matching "*.exe" (any letter case, directories included); elsewhere the executable
// regular files. Hidden entries are excluded; sorted by name ignoring case.
QStringList toolEntryNames(const QString &dir, bool windowsRules);
QStringList toolEntryNames(const QString &dir);

// The menu text of a tool entry: the file name up to its first dot.
QString toolEntryText(const QString &fileName);

// The local-file URL of fileName inside dir (dir itself for an empty fileName, with a
// trailing slash), valid for drive-letter and for "/"-rooted paths alike.
QUrl localFileUrl(const QString &dir, const QString &fileName);

} // namespace Platform

#endif // PLATFORM_H
