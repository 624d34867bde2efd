#include "xlsxzipcopy.h"

#include <algorithm>
#include <vector>

#include <QFile>
#include <QTextCodec>
#include <zlib.h>

namespace Xlsx {

namespace {

constexpr quint32 LocalSignature = 0x04034b50;
constexpr quint32 CentralSignature = 0x02014b50;
constexpr quint32 EndSignature = 0x06054b50;
constexpr quint32 Zip64LocatorSignature = 0x07064b50;
constexpr quint32 DescriptorSignature = 0x08074b50;
constexpr int LocalSize = 30;
constexpr int CentralSize = 46;
constexpr int EndSize = 22;
constexpr quint16 Utf8Flag = 0x0800;         // general purpose bit 11
constexpr quint16 DescriptorFlag = 0x0008;   // bit 3: sizes follow the data
constexpr quint16 FastestFlags = 0x0006;     // bits 1-2 of a deflated entry: fastest level
constexpr qint64 MaxDirectorySize = 64 * 1024 * 1024;

quint16 get16(const char *p)
{
    return quint16(uchar(p[0]) | uchar(p[1]) << 8);
}

quint32 get32(const char *p)
{
    return quint32(get16(p)) | quint32(get16(p + 2)) << 16;
}

void set16(QByteArray &data, int at, quint32 v)
{
    data[at] = char(v & 0xFF);
    data[at + 1] = char((v >> 8) & 0xFF);
}

void set32(QByteArray &data, int at, quint32 v)
{
    set16(data, at, v & 0xFFFF);
    set16(data, at + 2, v >> 16);
}

// One entry as the central directory records it.
struct Record
{
    QByteArray central;  // the whole record: fixed part, name, extra field, comment
    QString name;
    quint16 flags;
    quint32 crc;
    quint32 compressedSize;
    qint64 localStart;
    qint64 localEnd = 0;  // after the data and its descriptor
    QByteArray localExtra;
};

// Extra field blocks other than the ZIP64 one, whose sizes a new content
// would make wrong.
QByteArray withoutZip64(const QByteArray &extra)
{
    QByteArray kept;
    int at = 0;
    while (at + 4 <= extra.size()) {
        const int length = get16(extra.constData() + at + 2);
        const int end = qMin(extra.size(), at + 4 + length);
        if (get16(extra.constData() + at) != 0x0001)
            kept += extra.mid(at, end - at);
        at = end;
    }
    return kept + extra.mid(at);
}

bool hasZip64(const QByteArray &extra)
{
    for (int at = 0; at + 4 <= extra.size(); at += 4 + get16(extra.constData() + at + 2)) {
        if (get16(extra.constData() + at) == 0x0001)
            return true;
    }
    return false;
}

class ZipCopy
{
public:
    ZipCopy(const QString &path, QIODevice *out, int maxEntries) : m_file(path), m_out(out), m_maxEntries(maxEntries) {}

    bool run(const QHash<QString, QByteArray> &replaced, const QSet<QString> &removed)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot open the archive: %1").arg(m_file.errorString()));
        if (!readDirectory() || !findLocalRecords())
            return false;
        int named = 0;
        for (const Record &record : m_records)
            named += replaced.contains(record.name) || removed.contains(record.name) ? 1 : 0;
        if (named != replaced.size() + removed.size())
            return fail(QStringLiteral("the zip directory does not match the archive's entries"));

        QByteArray directory;
        int count = 0;
        for (const Record &record : m_records) {
            if (removed.contains(record.name))
                continue;
            const qint64 offset = m_written;
            const auto content = replaced.constFind(record.name);
            QByteArray central = content == replaced.cend() ? copyRecord(record) : writeRecord(record, *content);
            if (central.isEmpty())
                return false;
            if (offset > 0xFFFFFFFEll)
                return fail(QStringLiteral("the archive would grow beyond 4 GB"));
            set32(central, 42, quint32(offset));
            directory += central;
            ++count;
        }
        if (m_written > 0xFFFFFFFEll)
            return fail(QStringLiteral("the archive would grow beyond 4 GB"));
        if (directory.size() > MaxDirectorySize)
            return fail(QStringLiteral("the zip directory would be too large"));
        QByteArray end(EndSize, '\0');
        set32(end, 0, EndSignature);
        set16(end, 8, quint32(count));
        set16(end, 10, quint32(count));
        set32(end, 12, quint32(directory.size()));
        set32(end, 16, quint32(m_written));
        set16(end, 20, quint32(m_comment.size()));
        return write(directory) && write(end + m_comment);
    }

    QString errorString() const { return m_error; }

private:
    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }

    bool readAt(qint64 offset, qint64 size, QByteArray *data)
    {
        if (offset < 0 || size < 0 || offset + size > m_file.size() || !m_file.seek(offset))
            return false;
        *data = m_file.read(size);
        return data->size() == size;
    }

    bool write(const QByteArray &data)
    {
        if (m_out->write(data) != data.size())
            return fail(QStringLiteral("cannot write: %1").arg(m_out->errorString()));
        m_written += data.size();
        return true;
    }

    // The end record, as a zip reader finds it: the last one that fits,
    // preferring one whose comment ends the file. Bytes before the archive
    // or after the end record are not entries and are not copied.
    bool readDirectory()
    {
        const qint64 size = m_file.size();
        const qint64 tailStart = qMax<qint64>(0, size - (EndSize + 0xFFFF));
        QByteArray tail;
        if (!readAt(tailStart, size - tailStart, &tail))
            return fail(QStringLiteral("damaged archive: cannot read its end"));
        int at = -1;
        for (int i = tail.size() - EndSize; i >= 0; --i) {
            if (get32(tail.constData() + i) != EndSignature)
                continue;
            const int end = i + EndSize + get16(tail.constData() + i + 20);
            if (end == tail.size()) {
                at = i;
                break;
            }
            if (end < tail.size() && at < 0)
                at = i;
        }
        if (at < 0)
            return fail(QStringLiteral("damaged archive: no end record"));
        const char *end = tail.constData() + at;
        const qint64 endStart = tailStart + at;
        const quint32 entries = get16(end + 10);
        const qint64 directorySize = get32(end + 12);
        qint64 directoryStart = get32(end + 16);
        m_comment = tail.mid(at + EndSize, get16(end + 20));
        QByteArray locator;
        if (endStart >= 20 && readAt(endStart - 20, 4, &locator) && get32(locator.constData()) == Zip64LocatorSignature)
            return fail(QStringLiteral("ZIP64 archives cannot be saved"));
        if (get16(end + 4) != 0 || get16(end + 6) != 0 || get16(end + 8) != entries)
            return fail(QStringLiteral("archives on several disks cannot be saved"));
        // Offsets count from the start of the archive, which data before it moves.
        m_shift = endStart - directorySize - directoryStart;
        if (m_shift < 0)
            return fail(QStringLiteral("damaged archive: the zip directory does not fit"));
        directoryStart += m_shift;
        if (directorySize > MaxDirectorySize || int(entries) > m_maxEntries)
            return fail(QStringLiteral("the zip directory is too large"));

        QByteArray data;
        if (!readAt(directoryStart, directorySize, &data))
            return fail(QStringLiteral("damaged archive: cannot read the zip directory"));
        int pos = 0;
        while (pos < data.size()) {
            const char *p = data.constData() + pos;
            if (data.size() - pos < CentralSize || get32(p) != CentralSignature)
                return fail(QStringLiteral("damaged archive: bad zip directory record"));
            const int length = CentralSize + get16(p + 28) + get16(p + 30) + get16(p + 32);
            if (length > data.size() - pos)
                return fail(QStringLiteral("damaged archive: bad zip directory record"));
            if (get32(p + 20) == 0xFFFFFFFFu || get32(p + 24) == 0xFFFFFFFFu || get32(p + 42) == 0xFFFFFFFFu
                || get16(p + 34) == 0xFFFF)
                return fail(QStringLiteral("ZIP64 archives cannot be saved"));
            Record record;
            record.central = data.mid(pos, length);
            record.flags = get16(p + 8);
            record.name = zipEntryName(data.mid(pos + CentralSize, get16(p + 28)), record.flags & Utf8Flag);
            record.crc = get32(p + 16);
            record.compressedSize = get32(p + 20);
            record.localStart = get32(p + 42) + m_shift;
            m_records.push_back(record);
            pos += length;
        }
        if (m_records.size() != size_t(entries))
            return fail(QStringLiteral("damaged archive: the zip directory holds %1 entries, not %2")
                            .arg(m_records.size()).arg(entries));
        m_directoryStart = directoryStart;
        return true;
    }

    // Where each entry's local header, data and descriptor stand; no two
    // may share bytes.
    bool findLocalRecords()
    {
        for (Record &record : m_records) {
            QByteArray header;
            if (!readAt(record.localStart, LocalSize, &header) || get32(header.constData()) != LocalSignature)
                return fail(QStringLiteral("damaged archive: no local header for %1").arg(record.name));
            const int nameLength = get16(header.constData() + 26);
            const int extraLength = get16(header.constData() + 28);
            if (!readAt(record.localStart + LocalSize + nameLength, extraLength, &record.localExtra))
                return fail(QStringLiteral("damaged archive: entry %1 is truncated").arg(record.name));
            qint64 end = record.localStart + LocalSize + nameLength + extraLength + record.compressedSize;
            if (record.flags & DescriptorFlag) {
                // CRC and sizes, with or without a signature before them;
                // the sizes take 8 bytes each in a ZIP64 entry.
                QByteArray start;
                if (!readAt(end, 8, &start))
                    return fail(QStringLiteral("damaged archive: entry %1 is truncated").arg(record.name));
                const bool signature = get32(start.constData()) == DescriptorSignature
                    && (get32(start.constData() + 4) == record.crc || get32(start.constData()) != record.crc);
                end += (signature ? 4 : 0) + (hasZip64(record.localExtra) ? 20 : 12);
            }
            if (end > m_directoryStart)
                return fail(QStringLiteral("damaged archive: entry %1 is truncated").arg(record.name));
            record.localEnd = end;
        }
        std::vector<const Record *> byOffset;
        for (const Record &record : m_records)
            byOffset.push_back(&record);
        std::sort(byOffset.begin(), byOffset.end(),
                  [](const Record *a, const Record *b) { return a->localStart < b->localStart; });
        for (size_t i = 1; i < byOffset.size(); ++i) {
            if (byOffset[i]->localStart < byOffset[i - 1]->localEnd)
                return fail(QStringLiteral("damaged archive: entries %1 and %2 overlap")
                                .arg(byOffset[i - 1]->name, byOffset[i]->name));
        }
        return true;
    }

    // Copies the entry as stored; returns its central record, or an empty
    // array on failure.
    QByteArray copyRecord(const Record &record)
    {
        if (!m_file.seek(record.localStart)) {
            fail(QStringLiteral("cannot read entry %1").arg(record.name));
            return QByteArray();
        }
        for (qint64 left = record.localEnd - record.localStart; left > 0;) {
            const QByteArray chunk = m_file.read(qMin<qint64>(left, 1 << 16));
            if (chunk.isEmpty()) {
                fail(QStringLiteral("cannot read entry %1").arg(record.name));
                return QByteArray();
            }
            if (!write(chunk))
                return QByteArray();
            left -= chunk.size();
        }
        return record.central;
    }

    // Writes new content under the entry's name, deflated at the fastest
    // level, and returns its central record.
    QByteArray writeRecord(const Record &record, const QByteArray &content)
    {
        QByteArray deflated(int(compressBound(uLong(content.size()))), '\0');
        z_stream stream{};
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
        stream.avail_in = uInt(content.size());
        stream.next_out = reinterpret_cast<Bytef *>(deflated.data());
        stream.avail_out = uInt(deflated.size());
        const bool ok = deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK
            && deflate(&stream, Z_FINISH) == Z_STREAM_END;
        deflateEnd(&stream);
        if (!ok) {
            fail(QStringLiteral("cannot compress entry %1").arg(record.name));
            return QByteArray();
        }
        deflated.resize(int(stream.total_out));
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(content.constData()), uInt(content.size())));

        const char *old = record.central.constData();
        const QByteArray name = record.central.mid(CentralSize, get16(old + 28));
        const QByteArray centralExtra = withoutZip64(record.central.mid(CentralSize + name.size(), get16(old + 30)));
        const QByteArray comment = record.central.right(get16(old + 32));
        const QByteArray localExtra = withoutZip64(record.localExtra);
        const quint16 flags = quint16((record.flags & Utf8Flag) | FastestFlags);

        QByteArray central = record.central.left(CentralSize);
        set16(central, 6, 20);
        set16(central, 8, flags);
        set16(central, 10, Z_DEFLATED);
        set32(central, 16, crc);
        set32(central, 20, quint32(deflated.size()));
        set32(central, 24, quint32(content.size()));
        set16(central, 30, quint32(centralExtra.size()));
        central += name + centralExtra + comment;

        QByteArray local(LocalSize, '\0');
        set32(local, 0, LocalSignature);
        local.replace(4, 22, central.mid(6, 22));  // version needed, flags, method, time, date, CRC and sizes
        set16(local, 26, quint32(name.size()));
        set16(local, 28, quint32(localExtra.size()));
        if (!write(local + name + localExtra) || !write(deflated))
            return QByteArray();
        return central;
    }

    QFile m_file;
    QIODevice *m_out;
    int m_maxEntries;
    QString m_error;
    std::vector<Record> m_records;
    QByteArray m_comment;
    qint64 m_directoryStart = 0;
    qint64 m_shift = 0;  // bytes before the archive
    qint64 m_written = 0;
};

} // namespace

QString zipEntryName(const QByteArray &raw, bool utf8Flag)
{
    if (utf8Flag)
        return QString::fromUtf8(raw);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForMib(106)->toUnicode(raw.constData(), raw.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0 ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
}

bool copyZip(const QString &path, QIODevice *out, const QHash<QString, QByteArray> &replaced,
             const QSet<QString> &removed, int maxEntries, QString *error)
{
    ZipCopy copy(path, out, maxEntries);
    if (copy.run(replaced, removed))
        return true;
    *error = copy.errorString();
    return false;
}

} // namespace Xlsx
