#ifndef XLSXPACKAGE_H
#define XLSXPACKAGE_H

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class QIODevice;

namespace Xlsx {

// The zip container of a workbook. The archive is opened afresh for every
// operation so no file handle outlives a call (Windows refuses to replace a
// file that is still open).
class Package
{
public:
    Package(const QString &path, qint64 maxPartSize, int maxEntries);

    bool open();
    QString errorString() const { return m_error; }

    QStringList entries() const { return m_entries; }
    // Part names are case-insensitive; returns the entry's own spelling, or
    // an empty string.
    QString find(const QString &part) const;
    bool contains(const QString &part) const { return !find(part).isEmpty(); }

    // Reads an entry, refusing more than maxPartSize decompressed bytes or more
    // than the archive declares for it.
    bool read(const QString &entry, QByteArray *data);

    // Writes the whole package to out: every entry in archive order, those in
    // replaced with the new content, those in removed left out, all others
    // copied exactly as stored (see copyZip).
    bool writeCopy(QIODevice *out, const QHash<QString, QByteArray> &replaced, const QSet<QString> &removed);

private:
    bool fail(const QString &what);  // the reason is "<path>: <what>"

    QString m_path;
    qint64 m_maxPartSize;
    int m_maxEntries;
    QString m_error;
    QStringList m_entries;
    QHash<QString, QString> m_byLowerName;
    QHash<QString, QString> m_zipNames;  // entry name -> QuaZip's, where they differ
};

} // namespace Xlsx

#endif // XLSXPACKAGE_H
