#include "csvrecorder.h"

#include "logging.h"
#include "protocoltable.h"

#include <QFileInfo>

namespace {

const char byteOrderMark[] = "\xEF\xBB\xBF";

} // namespace

CsvRecorder::CsvRecorder(QObject *parent)
    : QObject(parent)
{
}

CsvRecorder::~CsvRecorder()
{
    stop();
}

QStringList CsvRecorder::headerFields(const ProtocolTable &table, int start, int count)
{
    QStringList fields;
    fields.reserve(count + 1);
    fields.append(QStringLiteral("时间"));
    for (qint64 address = start; address < qint64(start) + count; ++address)
        fields.append(table.rowTitle(int(address)));
    return fields;
}

QByteArray CsvRecorder::csvLine(const QStringList &fields)
{
    QString line;
    for (int i = 0; i < fields.size(); ++i) {
        if (i)
            line += QLatin1Char(',');
        const QString &field = fields.at(i);
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
            || field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
            QString quoted = field;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            line += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            line += field;
        }
    }
    line += QLatin1String("\r\n");
    return line.toUtf8();
}

QString CsvRecorder::timeText(const QDateTime &time)
{
    const QDateTime local = time.timeSpec() == Qt::LocalTime ? time : time.toLocalTime();
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

bool CsvRecorder::start(const QString &path, const ProtocolTable *table, const Window &window)
{
    stop();
    m_error = Error::None;
    m_errorString.clear();
    m_file.setFileName(path);
    // Unbuffered: each line reaches the system in the one write that makes it.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = Error::CannotOpen;
        m_errorString = m_file.errorString();
        return false;
    }
    m_path = QFileInfo(path).absoluteFilePath();
    m_device = &m_file;
    return begin(table, window);
}

bool CsvRecorder::start(QIODevice *device, const ProtocolTable *table, const Window &window)
{
    stop();
    m_error = Error::None;
    m_errorString.clear();
    m_path.clear();
    m_device = device;
    return begin(table, window);
}

bool CsvRecorder::begin(const ProtocolTable *table, const Window &window)
{
    m_window = window;
    m_lines = 0;
    const QByteArray header = QByteArray(byteOrderMark)
                              + csvLine(headerFields(*table, window.start, window.count));
    if (!writeLine(header)) {
        // The caller hears of it from the result; failed() is for a recording under way.
        stop();
        return false;
    }
    qCDebug(lcProtocol) << "recording" << (m_path.isEmpty() ? QStringLiteral("<device>") : m_path);
    return true;
}

void CsvRecorder::stop()
{
    if (!m_device)
        return;
    if (m_device == &m_file)
        m_file.close();
    m_device = nullptr;
}

void CsvRecorder::record(const DecodedReply &reply)
{
    if (m_device)
        record(reply, QDateTime::currentDateTime());
}

void CsvRecorder::record(const DecodedReply &reply, const QDateTime &time)
{
    if (!m_device || reply.area != m_window.area)
        return;
    QStringList fields;
    fields.reserve(m_window.count + 1);
    fields.append(timeText(time));
    for (qint64 address = m_window.start; address < qint64(m_window.start) + m_window.count; ++address) {
        const DecodedRegister *decoded = reply.find(int(address));
        fields.append(decoded ? decoded->display : QString());
    }
    if (!writeLine(csvLine(fields))) {
        qCDebug(lcProtocol) << "recording stopped:" << m_path << m_errorString;
        stop();
        emit failed();
        return;
    }
    ++m_lines;
}

bool CsvRecorder::writeLine(const QByteArray &line)
{
    // A file deleted, or its folder removed, still takes writes on some systems and keeps
    // them nowhere: the recording must not go on as if it were kept.
    if (!m_path.isEmpty() && !QFileInfo::exists(m_path)) {
        m_error = Error::FileGone;
        m_errorString.clear();
        return false;
    }
    if (m_device->write(line) != line.size()) {
        m_error = Error::WriteFailed;
        m_errorString = m_device->errorString();
        return false;
    }
    return true;
}
