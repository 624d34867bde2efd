#ifndef XLSXZIPCOPY_H
#define XLSXZIPCOPY_H

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

class QIODevice;

namespace Xlsx {

// The name of an entry as the package knows it. A name stored with the
// UTF-8 flag is UTF-8; one without it is taken as UTF-8 when it is valid
// UTF-8 and byte for byte (Latin-1) otherwise, so that no two names in a
// local code page read alike.
QString zipEntryName(const QByteArray &raw, bool utf8Flag);

// Writes the zip archive at path to out with the entries in replaced given
// new content and those in removed left out (both keyed by zipEntryName).
// Every other entry is copied as stored: its local header, data and data
// descriptor byte for byte, its central directory record with only its
// offset changed; a replaced entry keeps its name bytes, time, attributes,
// comment and extra fields. Bytes before the archive or after its end are
// not entries and are left out. Archives whose entries cannot be copied that
// way (ZIP64 records, several disks, entries that overlap) are refused, and
// *error says why.
bool copyZip(const QString &path, QIODevice *out, const QHash<QString, QByteArray> &replaced,
             const QSet<QString> &removed, int maxEntries, QString *error);

} // namespace Xlsx

#endif // XLSXZIPCOPY_H
