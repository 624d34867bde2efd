#include "poller.h"

#include "console.h"
#include "fieldrules.h"
#include "framecapture.h"
#include "mytool.h"
#include "myxlsx.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

void printError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString exceptionText(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("server device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("server device busy");
    case 8: return QStringLiteral("memory parity error");
    case 10: return QStringLiteral("gateway path unavailable");
    case 11: return QStringLiteral("gateway target failed to respond");
    default: return QStringLiteral("unknown exception");
    }
}

// "holding registers (function 3)": what a read of the area carries, for the count's limit.
QString areaText(QModbusDataUnit::RegisterType area)
{
    switch (area) {
    case QModbusDataUnit::Coils: return QStringLiteral("coils (function 1)");
    case QModbusDataUnit::DiscreteInputs: return QStringLiteral("discrete inputs (function 2)");
    case QModbusDataUnit::HoldingRegisters: return QStringLiteral("holding registers (function 3)");
    default: return QStringLiteral("input registers (function 4)");
    }
}

// A QTimer takes int milliseconds: a longer deadline is reached in steps of at most a day.
constexpr qint64 deadlineStepMs = 86400000;

QString milliseconds(qint64 us)
{
    return us < 0 ? QStringLiteral("-") : QString::number(us / 1000.0, 'f', 2) + QStringLiteral(" ms");
}

} // namespace

// The link the options name: a TCP host and port, or a serial port and its settings.
static LineSettings lineOf(const PollOptions &options)
{
    if (options.tcp)
        return LineSettings::tcp(options.tcpHost, options.tcpPort);
    LineSettings line;
    line.portName = options.port;
    line.baudRate = options.baudRate;
    line.parity = options.parity;
    line.stopBits = options.stopBits;
    return line;
}

Poller::Poller(const PollOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_line(lineOf(options))
{
    m_capture = new FrameCapture(&m_session, this);
    m_statistics.attach(&m_session, m_capture);
    connect(&m_session, &ModbusSession::replyHandled, this, &Poller::onReply);
    connect(&m_session, &ModbusSession::cycleTick, this, &Poller::pollOnce);
    // A TCP connection that ends is reported with its reason by linkLost().
    connect(&m_session, &ModbusSession::linkLost, this, [this](const QString &reason) {
        finish(1, QStringLiteral("the connection to %1 was lost: %2").arg(m_line.name(), reason));
    });
    connect(&m_session, &ModbusSession::stateChanged, this, [this](QModbusDevice::State state) {
        if (m_running && state == QModbusDevice::UnconnectedState && !m_options.tcp)
            finish(PollStatus::cannotUse, QStringLiteral("serial port %1 was lost: %2")
                              .arg(m_options.port, m_session.errorString()));
    });
    connect(&m_recorder, &CsvRecorder::failed, this, [this]() {
        const QString target = m_recorder.fileName().isEmpty() ? QStringLiteral("standard output")
                                                               : m_recorder.fileName();
        const QString reason = m_recorder.error() == CsvRecorder::Error::FileGone
                ? QStringLiteral("%1 is gone (deleted, moved or its folder removed)").arg(target)
                : QStringLiteral("cannot write the CSV to %1: %2").arg(target, m_recorder.errorString());
        finish(PollStatus::cannotUse, reason);
    });
    m_progress.setInterval(250);
    connect(&m_progress, &QTimer::timeout, this, &Poller::showProgress);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &Poller::armDeadline);
}

Poller::~Poller()
{
    m_session.disconnect(this);
}

bool Poller::prepare(QString *reason, int *exitStatus)
{
    *exitStatus = PollStatus::cannotUse;
    const QString &workbook = m_options.workbook;
    const QString &sheet = m_options.sheet;
    switch (m_table.load(workbook, sheet)) {
    case 0:
        break;
    case -1:
        *reason = QStringLiteral("cannot read workbook %1: not an existing .xlsx file").arg(workbook);
        return false;
    case -2:
        *reason = QStringLiteral("workbook %1 has no sheet named \"%2\" (its sheets: %3)")
                          .arg(workbook, sheet, MyXlsx::listSheets(workbook).join(QStringLiteral(", ")));
        return false;
    default:
        *reason = QStringLiteral("cannot read sheet \"%1\" of workbook %2: the file is damaged or too large")
                          .arg(sheet, workbook);
        return false;
    }
    const QModbusDataUnit::RegisterType area = registerTypeOf(sheet);
    if (area == QModbusDataUnit::Invalid) {
        *reason = QStringLiteral("sheet \"%1\" names no register area "
                                 "(coil/线圈, disc/离散, hold/保持 or input/输入)").arg(sheet);
        return false;
    }
    // The CSV is opened last, truncating: never over the workbook it decodes with.
    if (!m_options.csv.isEmpty() && isSameFile(m_options.csv, workbook)) {
        *reason = QStringLiteral("--csv %1 is the workbook %2; the CSV needs a file of its own")
                          .arg(m_options.csv, workbook);
        return false;
    }

    m_plan.area = area;
    m_plan.server = m_options.device;
    m_plan.start = m_options.start;
    m_plan.count = m_options.count;
    const int limit = ReadPlan::protocolLimit(area);
    if (m_plan.count < 0) {
        if (m_plan.start >= m_table.rowCount()) {
            *reason = QStringLiteral("sheet \"%1\" has no register rows from address %2; give --count")
                              .arg(sheet).arg(m_plan.start);
            *exitStatus = PollStatus::badArguments;
            return false;
        }
        m_plan.count = qMin(m_table.rowCount() - m_plan.start, limit);
    } else if (m_plan.count > limit) {
        *reason = QStringLiteral("--count %1 is more than one read of %2 carries: at most %3")
                          .arg(m_plan.count).arg(areaText(area)).arg(limit);
        *exitStatus = PollStatus::badArguments;
        return false;
    }
    if (!ReadPlan::fitsAddressSpace(m_plan.start, m_plan.count)) {
        *reason = QStringLiteral("--start %1 with --count %2 reaches past address 65535")
                          .arg(m_plan.start).arg(m_plan.count);
        *exitStatus = PollStatus::badArguments;
        return false;
    }

    if (m_options.tcp) {
        if (!connectTcp(reason))
            return false;
    } else {
        if (!m_session.open(m_line)) {
            *reason = QStringLiteral("cannot open serial port %1: %2").arg(m_options.port, m_session.errorString());
            return false;
        }
    }

    const CsvRecorder::Window window{ m_plan.area, m_plan.start, m_plan.count };
    bool recording = false;
    if (!m_options.csv.isEmpty()) {
        recording = m_recorder.start(m_options.csv, &m_table, window);
        if (!recording)
            *reason = QStringLiteral("cannot create CSV file %1: %2").arg(m_options.csv, m_recorder.errorString());
    } else if (m_standardOutput.open(standardOutputDescriptor(), QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // The descriptor, not stdio's FILE: each line reaches a pipe or a file in the write
        // that makes it, and a failed write is seen at that line.
        recording = m_recorder.start(&m_standardOutput, &m_table, window);
        if (!recording)
            *reason = QStringLiteral("cannot write the CSV to standard output: %1").arg(m_recorder.errorString());
    } else {
        *reason = QStringLiteral("cannot write to standard output");
    }
    if (!recording) {
        m_session.close();
        return false;
    }
    return true;
}

// The connection is made after the opening returns; nothing is written before it stands.
bool Poller::connectTcp(QString *reason)
{
    QString lost;
    QEventLoop loop;
    const auto ended = connect(&m_session, &ModbusSession::linkLost, &loop,
                               [&](const QString &why) {
                                   lost = why;
                                   loop.quit();
                               });
    const auto up = connect(&m_session, &ModbusSession::stateChanged, &loop,
                            [&](QModbusDevice::State state) {
                                if (state == QModbusDevice::ConnectedState)
                                    loop.quit();
                            });
    QTimer::singleShot(connectTimeoutMs, &loop, &QEventLoop::quit);
    if (m_session.open(m_line) && !m_session.isConnected())
        loop.exec();
    disconnect(ended);
    disconnect(up);
    if (m_session.isConnected())
        return true;
    if (lost.isEmpty())
        lost = m_session.state() == QModbusDevice::UnconnectedState
                ? m_session.errorString()
                : QStringLiteral("no connection within %1 s").arg(connectTimeoutMs / 1000);
    m_session.close();
    *reason = QStringLiteral("cannot connect to %1: %2").arg(m_line.name(), lost);
    return false;
}

void Poller::start()
{
    m_running = true;
    // Not on a terminal that shows the CSV too: the progress line would land between its lines.
    if (standardErrorIsTerminal() && !(m_options.csv.isEmpty() && standardOutputIsErrorTerminal()))
        m_progress.start();
    if (m_options.seconds > 0) {
        m_end = QDeadlineTimer(m_options.seconds * 1000, Qt::PreciseTimer);
        armDeadline();
    }
    if (m_options.periodMs > 0)
        m_session.startCycle(m_options.periodMs);
    pollOnce();
}

void Poller::stop()
{
    finish(PollStatus::read);
}

void Poller::armDeadline()
{
    const qint64 remaining = m_end.remainingTime();
    if (remaining == 0) {
        stop();
        return;
    }
    m_deadline.start(int(qMin(remaining, deadlineStepMs)));
}

void Poller::pollOnce()
{
    if (!m_running || m_session.isPending())
        return;
    if (m_options.polls > 0 && m_statistics.counts().requests >= m_options.polls)
        return;
    if (m_session.read(m_plan.unit(), m_plan.server) == ModbusSession::SendResult::Refused)
        finish(PollStatus::cannotUse, QStringLiteral("the request was refused: %1").arg(m_session.errorString()));
}

void Poller::onReply(const ReplyOutcome &outcome)
{
    if (!m_running)
        return;
    ++m_polls;
    if (outcome.kind == RequestKind::Read && outcome.result == ReplyOutcome::Result::Normal) {
        m_recorder.record(m_table.applyReply(outcome.unit, m_plan.start, m_plan.count));
    }
    if (!m_running) // the recording failed
        return;
    if (m_options.polls > 0 && m_polls >= m_options.polls) {
        stop();
        return;
    }
    // Period 0: the next read goes out as soon as this reply has been handled.
    if (m_options.periodMs == 0)
        QTimer::singleShot(0, this, &Poller::pollOnce);
}

void Poller::finish(int exitStatus, const QString &givenReason)
{
    if (!m_running)
        return;
    m_running = false;
    QString reason = givenReason;
    // Only reads are sent: the normal replies are the reads that succeeded.
    if (exitStatus == PollStatus::read && m_statistics.counts().replies == 0) {
        exitStatus = PollStatus::nothingRead;
        const qint64 requests = m_statistics.counts().requests;
        reason = QStringLiteral("nothing was read: no normal reply from device %1 to %2 request%3")
                         .arg(m_plan.server)
                         .arg(requests)
                         .arg(requests == 1 ? QString() : QStringLiteral("s"));
    }
    m_progress.stop();
    m_deadline.stop();
    m_session.stopCycle();
    m_recorder.stop();
    if (m_progressShown)
        printError(QStringLiteral("\r\x1b[K"));
    if (!reason.isEmpty())
        printError(QStringLiteral("rurodur-poll: %1\n").arg(reason));
    printError(summary());
    // Not here: this may run inside the client's own handling of a reply, which goes on using
    // the port after the session has heard of the reply.
    QMetaObject::invokeMethod(this, [this, exitStatus]() {
        m_session.close();
        emit finished(exitStatus);
    }, Qt::QueuedConnection);
}

void Poller::showProgress()
{
    const LineStatistics::Counts &c = m_statistics.counts();
    const qint64 errors = c.exceptions + c.timeouts + c.failures;
    printError(QStringLiteral("\rpolls %1  errors %2  %3/s\x1b[K")
                       .arg(m_polls)
                       .arg(errors)
                       .arg(m_statistics.recentRate(), 0, 'f', 1));
    m_progressShown = true;
}

QString Poller::summary() const
{
    const LineStatistics::Counts &c = m_statistics.counts();
    QStringList byCode;
    for (auto it = c.exceptionsByCode.cbegin(); it != c.exceptionsByCode.cend(); ++it) {
        byCode << QStringLiteral("%1 %2: %3")
                          .arg(it.key(), 2, 16, QLatin1Char('0'))
                          .arg(exceptionText(it.key()))
                          .arg(it.value());
    }
    QString text = QStringLiteral("rurodur-poll: %1 requests in %2 s, %3/s\n")
                           .arg(c.requests)
                           .arg(m_statistics.elapsedMs() / 1000.0, 0, 'f', 1)
                           .arg(m_statistics.averageRate(), 0, 'f', 1);
    text += QStringLiteral("  replies %1, exception replies %2%3, timeouts %4, other errors %5\n")
                    .arg(c.replies)
                    .arg(c.exceptions)
                    .arg(byCode.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(byCode.join(QStringLiteral(", "))))
                    .arg(c.timeouts)
                    .arg(c.failures);
    text += QStringLiteral("  damaged replies %1, retries %2\n").arg(c.damaged).arg(c.retries);
    text += QStringLiteral("  response time: last %1, min %2, mean %3, max %4\n")
                    .arg(milliseconds(c.lastUs), milliseconds(c.minUs), milliseconds(c.meanUs()),
                         milliseconds(c.maxUs));
    text += QStringLiteral("  CSV: %1 lines to %2\n")
                    .arg(m_recorder.lineCount())
                    .arg(m_options.csv.isEmpty() ? QStringLiteral("standard output") : m_options.csv);
    return text;
}
