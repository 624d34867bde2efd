#include "xlsxpackage.h"

#include <cstring>

#include <QFile>
#include <QIODevice>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include "xlsxzipcopy.h"

namespace Xlsx {

namespace {
constexpr quint32 Utf8NameFlag = 0x0800;  // general purpose bit 11

// The archive file as QuaZip reads it. Finding the end of the central
// directory means stepping back through the last 64 KiB in 1 KiB reads, and
// the directory itself comes in many small reads; both are served from the
// file's tail, read once. Other reads go straight to the file, unbuffered.
class ArchiveFile : public QIODevice
{
public:
    explicit ArchiveFile(const QString &path) : m_file(path) {}

    bool open(OpenMode mode) override
    {
        if ((mode & ReadWrite) != ReadOnly || !m_file.open(ReadOnly | Unbuffered))
            return false;
        m_size = m_file.size();
        m_tailStart = qMax<qint64>(0, m_size - TailSize);
        if (!m_file.seek(m_tailStart)) {
            m_file.close();
            return false;
        }
        m_tail = m_file.read(m_size - m_tailStart);
        if (m_tail.size() != m_size - m_tailStart) {
            m_file.close();
            return false;
        }
        return QIODevice::open(ReadOnly | Unbuffered);
    }

    void close() override
    {
        QIODevice::close();
        m_file.close();
        m_tail.clear();
    }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 at = pos();
        const qint64 n = qMin(maxSize, m_size - at);
        if (n <= 0)
            return 0;
        if (at >= m_tailStart) {
            std::memcpy(data, m_tail.constData() + (at - m_tailStart), size_t(n));
            return n;
        }
        if (m_file.pos() != at && !m_file.seek(at))
            return -1;
        return m_file.read(data, n);
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr qint64 TailSize = 256 * 1024;

    QFile m_file;
    qint64 m_size = 0;
    qint64 m_tailStart = 0;
    QByteArray m_tail;
};

void prepare(QuaZip &zip)
{
    // Names without the UTF-8 flag come byte for byte, to be named by
    // zipEntryName; QuaZip decodes those with the flag itself.
    zip.setFileNameCodec("ISO-8859-1");
    zip.setCommentCodec("ISO-8859-1");
}
} // namespace

Package::Package(const QString &path, qint64 maxPartSize, int maxEntries)
    : m_path(path), m_maxPartSize(maxPartSize), m_maxEntries(maxEntries)
{
}

bool Package::fail(const QString &what)
{
    m_error = QStringLiteral("%1: %2").arg(m_path, what);
    return false;
}

bool Package::open()
{
    m_entries.clear();
    m_byLowerName.clear();
    m_zipNames.clear();
    ArchiveFile file(m_path);
    QuaZip zip(&file);
    prepare(zip);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("not an .xlsx workbook (not a zip archive, error %1)").arg(zip.getZipError()));
    if (zip.getEntriesCount() > m_maxEntries)
        return fail(QStringLiteral("more than %1 entries in the archive").arg(m_maxEntries));
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            return fail(QStringLiteral("damaged archive: unreadable zip directory"));
        const bool utf8 = info.flags & Utf8NameFlag;
        const QString name = utf8 ? info.name : zipEntryName(info.name.toLatin1(), false);
        const QString lower = name.toLower();
        if (m_byLowerName.contains(lower))
            return fail(QStringLiteral("damaged archive: entry %1 appears twice").arg(name));
        m_byLowerName.insert(lower, name);
        if (name != info.name)
            m_zipNames.insert(name, info.name);
        m_entries.append(name);
        if (m_entries.size() > m_maxEntries)
            return fail(QStringLiteral("more than %1 entries in the archive").arg(m_maxEntries));
    }
    if (zip.getZipError() != UNZ_OK)
        return fail(QStringLiteral("damaged archive: zip directory error %1").arg(zip.getZipError()));
    return true;
}

QString Package::find(const QString &part) const
{
    return m_byLowerName.value(part.toLower());
}

bool Package::read(const QString &entry, QByteArray *data)
{
    data->clear();
    ArchiveFile archive(m_path);
    QuaZip zip(&archive);
    prepare(zip);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("damaged archive: cannot be opened (error %1)").arg(zip.getZipError()));
    if (!zip.setCurrentFile(m_zipNames.value(entry, entry), QuaZip::csSensitive))
        return fail(QStringLiteral("part %1 is missing").arg(entry));
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info))
        return fail(QStringLiteral("damaged archive: part %1 is unreadable").arg(entry));
    if (info.uncompressedSize > quint64(m_maxPartSize))
        return fail(QStringLiteral("part %1 is too large (%2 bytes)").arg(entry).arg(info.uncompressedSize));
    const qint64 declared = qint64(info.uncompressedSize);

    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("damaged archive: part %1 cannot be read (error %2)").arg(entry).arg(file.getZipError()));
    data->reserve(int(declared));
    char buffer[65536];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0) {
            data->clear();
            return fail(QStringLiteral("damaged archive: part %1 is damaged").arg(entry));
        }
        if (n == 0)
            break;
        // Count while inflating: the declared size may lie.
        if (data->size() + n > declared) {
            data->clear();
            return fail(QStringLiteral("damaged archive: part %1 is larger than declared").arg(entry));
        }
        data->append(buffer, int(n));
    }
    file.close();
    if (file.getZipError() != UNZ_OK || data->size() != declared) {
        data->clear();
        return fail(QStringLiteral("damaged archive: part %1 is damaged (error %2)").arg(entry).arg(file.getZipError()));
    }
    return true;
}

bool Package::writeCopy(QIODevice *out, const QHash<QString, QByteArray> &replaced, const QSet<QString> &removed)
{
    QString error;
    if (!copyZip(m_path, out, replaced, removed, m_maxEntries, &error))
        return fail(error);
    return true;
}

} // namespace Xlsx
