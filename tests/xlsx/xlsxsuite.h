#ifndef XLSXSUITE_H
#define XLSXSUITE_H

// Set-up shared by the workbook suites: a folder for the files a case makes,
// what a saved package holds, and the independent readers (openpyxl,
// LibreOffice) run through readback.py.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include "workbookbuilder.h"

namespace suite {

const QString Data = QStringLiteral(RURODUR_TEST_DATA);

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One entry of a package as stored and as read.
struct Entry
{
    QString name;
    QByteArray raw;  // as stored, still compressed
    QByteArray data;
    quint32 crc = 0;
};

inline QList<Entry> entries(const QString &path)
{
    QList<Entry> list;
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return list;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        Entry e;
        QuaZipFileInfo64 info;
        zip.getCurrentFileInfo(&info);
        e.name = info.name;
        e.crc = info.crc;
        QuaZipFile raw(&zip);
        int method = 0;
        raw.open(QIODevice::ReadOnly, &method, nullptr, true);
        e.raw = raw.readAll();
        raw.close();
        QuaZipFile file(&zip);
        file.open(QIODevice::ReadOnly);
        e.data = file.readAll();
        file.close();
        list.append(e);
    }
    return list;
}

inline QByteArray entryData(const QString &path, const QString &name)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip) || !zip.setCurrentFile(name))
        return QByteArray();
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline int entryCount(const QString &path)
{
    QuaZip zip(path);
    return zip.open(QuaZip::mdUnzip) ? zip.getEntriesCount() : -1;
}

// The files of one suite: built packages and copies of the fixtures, each
// under a name of its own.
class WorkDir
{
public:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // A package from literal parts; lieAbout as in builder::writeZip.
    QString store(const Parts &parts, const QString &lieAbout = QString())
    {
        const QString file = path(QStringLiteral("w%1.xlsx").arg(++m_serial));
        if (!builder::writeZip(file, parts, lieAbout))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

    // A writable copy of a file of tests/data (or of an absolute path), in
    // a folder of its own, under name when given.
    QString copy(const QString &fixture, const QString &name = QString())
    {
        const QString source = QDir::isAbsolutePath(fixture) ? fixture : Data + '/' + fixture;
        const QString folder = path(QString::number(++m_serial));
        QDir().mkpath(folder);
        const QString file = folder + '/' + (name.isEmpty() ? QFileInfo(source).fileName() : name);
        QFile::copy(source, file);
        QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return file;
    }

private:
    QTemporaryDir m_dir;
    int m_serial = 0;
};

inline bool haveOpenpyxl()
{
    return QProcess::execute("/usr/bin/python3", {"-c", "import openpyxl"}) == 0;
}

// What readback.py prints for args; a null document when it fails.
inline QJsonDocument readback(const QStringList &args)
{
    QProcess p;
    p.start("/usr/bin/python3", QStringList{QStringLiteral(RURODUR_SOURCE_DIR "/tests/xlsx/readback.py")} + args);
    if (!p.waitForFinished(240000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QJsonDocument();
    return QJsonDocument::fromJson(p.readAllStandardOutput());
}

} // namespace suite

#endif // XLSXSUITE_H
