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
        if (m_enabled)
            drainReceived();
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
        m_skipWritten = 0;
    }
}

void FrameCapture::onRequestSent(RequestKind kind, const QModbusDataUnit &unit, int serverAddress)
{
    if (!m_enabled)
        return;
    // Whatever is left from before belongs to no request that is still open.
    drainReceived();
    m_open = OpenRequest();
    m_open.frame = kind == RequestKind::Read ? rtu::readRequest(unit, serverAddress)
                                             : rtu::writeRequest(unit, serverAddress);
}

void FrameCapture::onBytesWritten(qint64 bytes)
{
    if (!m_enabled)
        return;
    // Bytes of a sending already reported, because something was received for it first.
    const qint64 skipped = qMin(bytes, m_skipWritten);
    m_skipWritten -= skipped;
    bytes -= skipped;
    if (bytes == 0 || m_open.frame.isEmpty())
        return;
    m_open.written += bytes;
    while (m_open.written >= m_open.frame.size()) {
        m_open.written -= m_open.frame.size();
        reportSend();
    }
}

void FrameCapture::reportSend()
{
    // Sent again: the client gave up waiting and cleared its input, so what came in before
    // and made no frame is dropped.
    if (m_open.sends > 0)
        flushReceived();
    emitFrame(CapturedFrame::Kind::Request, m_open.frame, m_open.sends);
    ++m_open.sends;
    m_lastSend.start();
}

void FrameCapture::reportSendEarly()
{
    reportSend();
    // Its byte count is still on its way; it must not count for a later sending.
    m_skipWritten += m_open.frame.size() - m_open.written;
    m_open.written = 0;
}

void FrameCapture::catchUpSends()
{
    // The port reports written bytes one turn of the event loop after writing them, and a
    // quick device's answer can be read before that. Whatever arrives was provoked by a
    // sending: the first one, or, once the client's response timeout has passed since the
    // last one, its retry.
    if (m_open.frame.isEmpty() || !m_session)
        return;
    const QModbusClient *client = m_session->client();
    if (m_open.sends == 0
        || (m_open.sends <= client->numberOfRetries() && m_lastSend.isValid()
            && m_lastSend.elapsed() >= client->timeout()))
        reportSendEarly();
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
    // reply's bytes are still in the transaction. The client is done with this request; bytes
    // that made no frame are dropped.
    drainReceived();

    if (outcome.result == ReplyOutcome::Result::Broadcast && m_open.sends == 0
        && !m_open.frame.isEmpty()) {
        // The client finishes a broadcast in its own handling of the written bytes, which
        // reaches it before the capture; the frame is on the line all the same.
        reportSendEarly();
    }
    if (!m_open.frame.isEmpty() && outcome.result == ReplyOutcome::Result::Error
        && outcome.exceptionCode == 0) {
        if (outcome.error == QModbusDevice::TimeoutError)
            emitFrame(CapturedFrame::Kind::Timeout, QByteArray(), qMax(0, m_open.sends - 1));
        else
            emitFrame(CapturedFrame::Kind::Failure, QByteArray(), 0, outcome.errorString);
    }
    m_open = OpenRequest();
}

void FrameCapture::drainReceived()
{
    receive(takeReceived());
    flushReceived();
}

void FrameCapture::receive(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        catchUpSends();
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
