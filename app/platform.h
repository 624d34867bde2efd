#ifndef PLATFORM_H
#define PLATFORM_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

// What differs between Windows, the program's home, and the other desktops it runs on.
// Everything else in the program calls these instead of testing the platform itself.
namespace Platform {

// True where "/" separates directories in a command line's first argument as well as "\".
bool slashSeparatesDirectories();

// The program name of a first command-line argument: from after the last separator up to the
// last dot; when that dot lies before the start, or there is none, up to the end.
QString programNameFromArgv0(const QString &argv0, bool slashSeparates);
QString programNameFromArgv0(const QString &argv0);

// The first command-line argument as text. On Windows argv holds it in the local 8-bit code
// page, which cannot carry every file name (a Chinese name on a Western system), so it comes
// from the application's argument list, built from the wide-character command line. Elsewhere
// it is argv0's bytes as UTF-8, the file system's encoding.
QString firstArgument(const char *argv0);

// Outcome of readRegularFile().
enum class FileRead { Read, Missing, NotRegular, TooLarge, Failed };

// Reads path into *content when it is, after its links, a regular file of at most maxSize
// bytes. A FIFO, device, socket or directory behind the name is never read nor waited on,
// and a larger file is not read at all. *content is empty unless the result is Read.
FileRead readRegularFile(const QString &path, qint64 maxSize, QByteArray *content);

// True when path, after its links, is absent or a regular file: writing a new file there
// through QSaveFile (which follows the links) replaces nothing but a file.
bool replaceableByFile(const QString &path);

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

// What choosing a Tools entry does: open a URL with the desktop's handler, or start a program
// of its own with the program directory as its working directory.
struct ToolLaunch
{
    enum Kind { OpenUrl, StartDetached };
    Kind kind = OpenUrl;
    QUrl url;
    QString program;
    QString workingDirectory;
};

// The launch for fileName inside dir; an empty fileName stands for dir itself. On Windows
// everything goes to the desktop's handler; elsewhere a directory does, and a file is started.
ToolLaunch toolLaunch(const QString &dir, const QString &fileName, bool windowsRules);
ToolLaunch toolLaunch(const QString &dir, const QString &fileName);

// Copies source to target without ever leaving target half-written or missing: the copy goes
// to a temporary file beside target and replaces it only when complete, with the source's
// permission bits. target's directory must exist; it is never created. On failure target is
// as it was and no temporary file is left behind.
bool copyProgram(const QString &source, const QString &target);

// Where the program keeps its settings and its program directory.
//   Portable: the executable's directory holds both, as in a build folder or an unpacked copy.
//   Installed: the executable sits in <prefix>/bin beside <prefix>/share/rurodur/; the
//   settings go to the user's configuration folder and the program directory to the user's
//   data folder, each in a "rurodur" folder of its own.
enum class Layout { Portable, Installed };

struct Locations
{
    Layout layout = Layout::Portable;
    QString executable;     // the program's own file
    QString settingsDir;    // holds <program name>.json
    QString programDir;     // made current at start: tools, ProtocolFile/
    QString sampleWorkbook; // installed: copied into programDir at first start
};

// The locations for the executable at that path. Installed when its directory is named "bin"
// and the directory beside it holds share/rurodur/ (after links), never under Windows rules;
// configHome and dataHome are the user's configuration and data folders.
Locations locationsFor(const QString &executable, const QString &configHome, const QString &dataHome,
                       bool windowsRules);
// The running program's, with the user's folders from QStandardPaths.
Locations locationsFor(const QString &executable);

// Installed: creates the settings folder and the program directory, and copies the sample
// workbook into the program directory's ProtocolFile/ unless a file (or a link) of that name
// is there already. Portable: nothing to do. False when a folder or the copy failed.
bool prepareLocations(const Locations &locations);

// The locations the program runs with, set once at start. Until then: portable, with every
// directory the current one (as the test suites run the window).
void setLocations(const Locations &locations);
const Locations &locations();

// The file release copies for the named program: the installed executable, or the program's
// file in the program directory ("./<name>", with the executable suffix) when portable.
QString releaseSource(const QString &programName);

} // namespace Platform

#endif // PLATFORM_H
