#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

bool slashSeparatesDirectories()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

QString programNameFromArgv0(const QString &argv0, bool slashSeparates)
{
    const int dot = argv0.lastIndexOf(QLatin1Char('.'));
    int separator = argv0.lastIndexOf(QLatin1Char('\\'));
    if (slashSeparates)
        separator = qMax(separator, argv0.lastIndexOf(QLatin1Char('/')));
    const int start = separator + 1;
    // A negative length (no dot, or the only dot before the start) means up to the end.
    return argv0.mid(start, dot - start);
}

QString programNameFromArgv0(const QString &argv0)
{
    return programNameFromArgv0(argv0, slashSeparatesDirectories());
}

QString firstArgument(const char *argv0)
{
#ifdef Q_OS_WIN
    Q_UNUSED(argv0)
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.isEmpty() ? QString() : arguments.first();
#else
    return QString::fromUtf8(argv0);
#endif
}

FileRead readRegularFile(const QString &path, qint64 maxSize, QByteArray *content)
{
    content->clear();
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    // The type is checked before opening: opening a device can have effects of its own.
    struct stat named;
    if (::stat(native.constData(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    if (!S_ISREG(named.st_mode))
        return FileRead::NotRegular;
    if (named.st_size > maxSize)
        return FileRead::TooLarge;

    // Should the name have been replaced by a FIFO since, the open does not wait for a writer,
    // and the type of what was opened decides.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return FileRead::NotRegular;
    }
    FileRead result = FileRead::Read;
    QByteArray data;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result = FileRead::Failed;
            break;
        }
        if (got == 0)
            break;
        // The file may have grown since it was measured.
        if (data.size() + got > maxSize) {
            result = FileRead::TooLarge;
            break;
        }
        data.append(buffer, int(got));
    }
    ::close(fd);
    if (result == FileRead::Read)
        *content = data;
    return result;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return FileRead::Missing;
    if (!info.isFile())
        return FileRead::NotRegular;
    if (info.size() > maxSize)
        return FileRead::TooLarge;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileRead::Failed;
    const QByteArray data = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError)
        return FileRead::Failed;
    if (data.size() > maxSize)
        return FileRead::TooLarge;
    *content = data;
    return FileRead::Read;
#endif
}

bool replaceableByFile(const QString &path)
{
    // QFileInfo follows the links; a dangling link counts as absent, and QSaveFile creates the
    // file it names.
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

QString executableSuffix()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".exe");
#else
    return QString();
#endif
}

QStringList toolEntryNames(const QString &dir, bool windowsRules)
{
    QDir directory(dir);
    if (windowsRules) {
        // The directory's default filter and sort: files and directories, no hidden entries,
        // the pattern matched and the names sorted without regard to case.
        directory.setNameFilters({ QStringLiteral("*.exe") });
        directory.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot);
        directory.setSorting(QDir::Name | QDir::IgnoreCase);
        return directory.entryList();
    }
    directory.setFilter(QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    directory.setSorting(QDir::Name | QDir::IgnoreCase);
    return directory.entryList();
}

QStringList toolEntryNames(const QString &dir)
{
#ifdef Q_OS_WIN
    return toolEntryNames(dir, true);
#else
    return toolEntryNames(dir, false);
#endif
}

QString toolEntryText(const QString &fileName)
{
    const int dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QUrl localFileUrl(const QString &dir, const QString &fileName)
{
    QString path = dir;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += fileName;
    return QUrl::fromLocalFile(path);
}

ToolLaunch toolLaunch(const QString &dir, const QString &fileName, bool windowsRules)
{
    ToolLaunch launch;
    const QString path = QDir(dir).filePath(fileName);
    if (windowsRules || fileName.isEmpty() || QFileInfo(path).isDir()) {
        launch.kind = ToolLaunch::OpenUrl;
        launch.url = localFileUrl(dir, fileName);
        return launch;
    }
    // The absolute path, so that no search path can substitute another program of that name.
    launch.kind = ToolLaunch::StartDetached;
    launch.program = QFileInfo(path).absoluteFilePath();
    launch.workingDirectory = dir;
    return launch;
}

ToolLaunch toolLaunch(const QString &dir, const QString &fileName)
{
#ifdef Q_OS_WIN
    return toolLaunch(dir, fileName, true);
#else
    return toolLaunch(dir, fileName, false);
#endif
}

bool copyProgram(const QString &source, const QString &target)
{
    if (!QFileInfo(source).isFile())
        return false;
    if (!QFileInfo(QFileInfo(target).absolutePath()).isDir())
        return false;
    // The rename at the end would replace whatever the name leads to, a device behind a link
    // included: only a missing target or a regular file is replaced.
    if (!replaceableByFile(target))
        return false;

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    static const qint64 chunkSize = 64 * 1024;
    QByteArray buffer(int(chunkSize), Qt::Uninitialized);
    for (;;) {
        const qint64 read = in.read(buffer.data(), chunkSize);
        if (read < 0) {
            out.cancelWriting();
            return false;
        }
        if (read == 0)
            break;
        if (out.write(buffer.constData(), read) != read) {
            out.cancelWriting();
            return false;
        }
    }
    // The temporary file starts with default permissions; the copy must stay executable.
    out.setPermissions(in.permissions() | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return out.commit();
}

Locations locationsFor(const QString &executable, const QString &configHome, const QString &dataHome,
                       bool windowsRules)
{
    const QFileInfo file(executable);
    const QDir bin = file.absoluteDir();
    const QString share = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../share/rurodur")));
    Locations where;
    where.executable = file.absoluteFilePath();
    if (!windowsRules && bin.dirName() == QLatin1String("bin") && QFileInfo(share).isDir()) {
        where.layout = Layout::Installed;
        where.settingsDir = configHome + QStringLiteral("/rurodur");
        where.programDir = dataHome + QStringLiteral("/rurodur");
        where.sampleWorkbook = share + QStringLiteral("/ProtocolFile/modbus.xlsx");
    } else {
        where.settingsDir = bin.absolutePath();
        where.programDir = bin.absolutePath();
    }
    return where;
}

Locations locationsFor(const QString &executable)
{
#ifdef Q_OS_WIN
    const bool windowsRules = true;
#else
    const bool windowsRules = false;
#endif
    return locationsFor(executable, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), windowsRules);
}

bool prepareLocations(const Locations &locations)
{
    if (locations.layout != Layout::Installed)
        return true;
    const QString protocolDir = locations.programDir + QStringLiteral("/ProtocolFile");
    if (!QDir().mkpath(locations.settingsDir) || !QDir().mkpath(protocolDir))
        return false;
    const QString workbook = protocolDir + QStringLiteral("/modbus.xlsx");
    // Never over the user's workbook, nor through a link the user put there.
    const QFileInfo existing(workbook);
    if (existing.exists() || existing.isSymLink() || !QFileInfo(locations.sampleWorkbook).isFile())
        return true;
    // Whole or not at all, and theirs to change (the installed file is read-only for the user).
    return copyProgram(locations.sampleWorkbook, workbook);
}

namespace {
Locations &current()
{
    static Locations where;
    return where;
}
} // namespace

void setLocations(const Locations &locations)
{
    current() = locations;
}

const Locations &locations()
{
    return current();
}

QString releaseSource(const QString &programName)
{
    if (current().layout == Layout::Installed)
        return current().executable;
    return QStringLiteral("./") + programName + executableSuffix();
}

} // namespace Platform
