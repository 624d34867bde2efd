#include "framecapture.h"

#include "logging.h"
#include "rtuframe.h"

#include <QDateTime>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>

namespace {

// The longest frame Modbus RTU allows; a length field claiming more is noise.
constexpr int maxFrameLength = 256;

} // namespace

FrameCapture::FrameCapture(ModbusSession *session, QObject *parent)
    : QObject(parent)
    , m_session(session)
{
    qRegisterMetaType<CapturedFrame>();
    m_silence.setSingleShot(true);
    m_silence.setInterval(silenceMs);
    connect(&m_silence, &QTimer::timeout, this, &FrameCapture::flushReceived);

    connect(session, &ModbusSession::stateChanged, this, &FrameCapture::onStateChanged);
    connect(session, &ModbusSession::requestSent, this, &FrameCapture::onRequestSent);
    connect(session, &ModbusSession::replyHandled, this, &FrameCapture::onReplyHandled);

    // The client made its port, and connected to it, in its constructor: these connections
    // come after the client's, so each delivery reaches the client first.
    m_port = session->client()->findChild<QSerialPort *>();
    if (!m_port) {
        qCWarning(lcModbus) << "frame capture: the Modbus client has no serial port child";
        return;
    }
    connect(m_port, &QSerialPort::readyRead, this, &FrameCapture::onReadyRead);
    connect(m_port, &QSerialPort::bytesWritten, this, &FrameCapture::onBytesWritten);
    connect(m_port, &QSerialPort::aboutToClose, this, [this]() {
        if (!m_enabled)
            return;
        receive(takeReceived());
        flushReceived();
    });
    beginTransaction();
}

FrameCapture::~FrameCapture()
{
    // A transaction left open would keep every byte the client reads in the port's buffer.
    endTransaction();
}

void FrameCapture::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    if (!enabled) {
        endTransaction();
        m_silence.stop();
        m_received.clear();
        m_open = OpenRequest();
        m_written = 0;
        m_skipWritten = 0;
    }
    m_enabled = enabled;
    if (enabled)
        beginTransaction();
}

void FrameCapture::beginTransaction()
{
    if (m_enabled && m_port && m_port->isOpen() && !m_port->isTransactionStarted())
        m_port->startTransaction();
}

void FrameCapture::endTransaction()
{
    if (!m_port || !m_port->isTransactionStarted())
        return;
    // Back to the start of the transaction, then past everything the client has read.
    m_port->rollbackTransaction();
    takeBuffered();
}

QByteArray FrameCapture::takeReceived()
{
    if (!m_port || !m_port->isOpen() || !m_port->isTransactionStarted())
        return QByteArray();
    // The client has read everything that arrived (it always reads all that is available);
    // rolling back and reading again hands those same bytes to the capture.
    m_port->rollbackTransaction();
    const QByteArray bytes = takeBuffered();
    m_port->startTransaction();
    return bytes;
}

QByteArray FrameCapture::takeBuffered()
{
    // Exactly what the port holds: asking for more would make it read the device, which it
    // must not do while it is closing.
    const qint64 buffered = m_port->bytesAvailable();
    return buffered > 0 ? m_port->read(buffered) : QByteArray();
}

void FrameCapture::onStateChanged(QModbusDevice::State state)
{
    if (state == QModbusDevice::ConnectedState) {
        beginTransaction();
        return;
    }
    if (state == QModbusDevice::UnconnectedState) {
        flushReceived();
        m_open = OpenRequest();
        m_written = 0;
        m_skipWritten = 0;
    }
}

void FrameCapture::onRequestSent(RequestKind kind, const QModbusDataUnit &unit, int serverAddress)
{
    if (!m_enabled)
        return;
    // Whatever is left from before belongs to no request that is still open.
    receive(takeReceived());
    flushReceived();
    m_open = OpenRequest();
    m_open.frame = kind == RequestKind::Read ? rtu::readRequest(unit, serverAddress)
                                             : rtu::writeRequest(unit, serverAddress);
    m_written = 0;
}

void FrameCapture::onBytesWritten(qint64 bytes)
{
    if (!m_enabled)
        return;
    const qint64 skipped = qMin(bytes, m_skipWritten);
    m_skipWritten -= skipped;
    bytes -= skipped;
    if (bytes == 0 || m_open.frame.isEmpty())
        return;
    m_written += bytes;
    while (m_written >= m_open.frame.size()) {
        m_written -= m_open.frame.size();
        if (m_open.sends > 0) {
            // A retry: the client has given up waiting and cleared its input; what came in
            // since is dropped.
            receive(takeReceived());
            flushReceived();
        }
        emitFrame(CapturedFrame::Kind::Request, m_open.frame, m_open.sends);
        ++m_open.sends;
    }
}

void FrameCapture::onReadyRead()
{
    if (m_enabled)
        receive(takeReceived());
}

void FrameCapture::onReplyHandled(const ReplyOutcome &outcome)
{
    if (!m_enabled)
        return;
    // Runs inside the client's own handling of the reply, before it clears the port: the
    // reply's bytes are still in the transaction.
    receive(takeReceived());
    // The client is done with this request; bytes that made no frame are dropped.
    flushReceived();

    if (outcome.result == ReplyOutcome::Result::Broadcast && m_open.sends == 0
        && !m_open.frame.isEmpty()) {
        // The client finishes a broadcast inside its own handling of the written bytes, which
        // reaches it before the capture; the frame is on the line all the same. The byte
        // count still on its way belongs to this frame, not to the next request.
        emitFrame(CapturedFrame::Kind::Request, m_open.frame);
        m_skipWritten += m_open.frame.size() - m_written;
    }
    if (!m_open.frame.isEmpty() && outcome.result == ReplyOutcome::Result::Error
        && outcome.exceptionCode == 0) {
        if (outcome.error == QModbusDevice::TimeoutError)
            emitFrame(CapturedFrame::Kind::Timeout, QByteArray(), qMax(0, m_open.sends - 1));
        else
            emitFrame(CapturedFrame::Kind::Failure, QByteArray(), 0, outcome.errorString);
    }
    m_open = OpenRequest();
    m_written = 0;
}

void FrameCapture::receive(const QByteArray &bytes)
{
    m_received += bytes;
    while (!m_received.isEmpty()) {
        const int length = rtu::replyLength(m_received);
        if (length < 0 || length > maxFrameLength || m_received.size() < length)
            break;
        const QByteArray frame = m_received.left(length);
        m_received.remove(0, length);
        emitReceived(frame);
    }
    if (m_received.isEmpty())
        m_silence.stop();
    else if (!bytes.isEmpty())
        m_silence.start();
}

void FrameCapture::flushReceived()
{
    m_silence.stop();
    if (m_received.isEmpty())
        return;
    const QByteArray rest = m_received;
    m_received.clear();
    // A reply whose length this code cannot tell is still a frame when its CRC fits.
    if (rtu::hasValidCrc(rest))
        emitReceived(rest);
    else
        emitFrame(CapturedFrame::Kind::Fragment, rest);
}

void FrameCapture::emitReceived(const QByteArray &frame)
{
    using Kind = CapturedFrame::Kind;
    const QByteArray &request = m_open.frame;
    Kind kind = Kind::Reply;
    if (!rtu::hasValidCrc(frame))
        kind = Kind::BadCrc;
    else if (request.isEmpty() || rtu::serverOf(frame) != rtu::serverOf(request)
             || (rtu::functionOf(frame) & 0x7F) != rtu::functionOf(request))
        kind = Kind::Unexpected;
    else if (rtu::functionOf(frame) & 0x80)
        kind = Kind::Exception;
    emitFrame(kind, frame);
}

void FrameCapture::emitFrame(CapturedFrame::Kind kind, const QByteArray &bytes, int retry,
                             const QString &note)
{
    CapturedFrame frame;
    frame.time = QDateTime::currentMSecsSinceEpoch();
    frame.kind = kind;
    frame.retry = quint8(qBound(0, retry, 255));
    frame.bytes = bytes;
    frame.request = m_open.frame;
    frame.note = note;
    emit frameCaptured(frame);
}
