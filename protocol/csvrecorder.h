#ifndef CSVRECORDER_H
#define CSVRECORDER_H

#include <QDateTime>
#include <QFile>
#include <QModbusDataUnit>
#include <QObject>
#include <QStringList>

class ProtocolTable;
struct DecodedReply;

// Records read replies as CSV, one line per reply: the local time with milliseconds, then the
// display text of every register of the recorded window as the protocol table decoded it, under a
// header naming each column by its address and, where the sheet has a "名称" column, the
// row's name. UTF-8 with a byte-order mark, lines ending in CR LF. Each line goes to the file
// in one write as soon as it is made, so a crash loses at most that line. A line that cannot
// be written (disk full, the file or its folder gone) ends the recording: failed() says why.
// The window's recording and rurodur-poll both write through this class.
class CsvRecorder : public QObject
{
    Q_OBJECT
public:
    enum class Error {
        None,
        CannotOpen,  // the file could not be created
        WriteFailed, // a line could not be written (errorString() has the system's reason)
        FileGone,    // the file is no longer where it was written (deleted, moved, folder gone)
    };

    // What is recorded: reads of `area` over start .. start + count - 1.
    struct Window
    {
        QModbusDataUnit::RegisterType area = QModbusDataUnit::Invalid;
        int start = 0;
        int count = 0;
    };

    explicit CsvRecorder(QObject *parent = nullptr);
    ~CsvRecorder() override;

    // "时间", then per register "<address>" or "<address> <name>".
    static QStringList headerFields(const ProtocolTable &table, int start, int count);
    // One CSV line: fields quoted where they hold a comma, a quote or a line break; CR LF.
    static QByteArray csvLine(const QStringList &fields);
    static QString timeText(const QDateTime &time);

    // Creates (or replaces) the file at `path` and writes the byte-order mark and the header
    // (named from `table`); false with error() when either fails.
    bool start(const QString &path, const ProtocolTable *table, const Window &window);
    // The same on a device the caller has opened and keeps (standard output, say).
    bool start(QIODevice *device, const ProtocolTable *table, const Window &window);
    // Ends the recording; every line written stays in the file.
    void stop();
    bool isRecording() const { return m_device != nullptr; }

    // Adds the line of one decoded read reply. Replies of another area are not recorded;
    // registers of the window that the reply does not hold get an empty field. Without a time,
    // the line is stamped now (the clock is only read while recording).
    void record(const DecodedReply &reply, const QDateTime &time);
    void record(const DecodedReply &reply);

    QString fileName() const { return m_path; }
    qint64 lineCount() const { return m_lines; }
    Error error() const { return m_error; }
    QString errorString() const { return m_errorString; }

signals:
    // The recording has stopped because of error().
    void failed();

private:
    bool begin(const ProtocolTable *table, const Window &window);
    // False with error() and errorString() set.
    bool writeLine(const QByteArray &line);

    QFile m_file;
    QIODevice *m_device = nullptr;
    QString m_path;
    Window m_window;
    qint64 m_lines = 0;
    Error m_error = Error::None;
    QString m_errorString;
};

#endif // CSVRECORDER_H
