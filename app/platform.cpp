#include "platform.h"

#include <QDir>
#include <QFileInfo>

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

} // namespace Platform
