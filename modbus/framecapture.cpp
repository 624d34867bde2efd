#include "framecapture.h"

#include "logging.h"
#include "rtuframe.h"

#include <QDateTime>
#include <QModbusRtuSerialMaster>
#include <QSerialPort>
#include <QTcpSocket>

#include <utility>

namespace {

// The longest frame Modbus RTU allows; a length field claiming more is noise.
constexpr int maxFrameLength = 256;
// The MBAP header, and the longest application data unit Modbus TCP allows.
constexpr int mbapLength = 7;
constexpr int maxTcpFrameLength = 260;

// The TCP form of an RTU request frame: the MBAP header, the unit and the PDU, no CRC.
QByteArray tcpFrame(const QByteArray &rtuFrame, quint16 transaction)
{
    if (rtuFrame.size() < 4)
        return QByteArray();
    const int follows = rtuFrame.size() - 2; // unit and PDU
    const char header[] = { char(transaction >> 8), char(transaction & 0xFF), 0, 0,
                            char(follows >> 8), char(follows & 0xFF) };
    return QByteArray(header, 6) + rtuFrame.left(follows);
}

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

    // Each client made its port or socket, and connected to it, in its constructor: these
    // connections come after the client's, so each delivery reaches the client first.
    m_port = session->rtuClient()->findChild<QSerialPort *>();
    m_socket = session->tcpSocket();
    if (!m_port || !m_socket)
        qCWarning(lcModbus) << "frame capture: a Modbus client has no serial port or socket child";
    for (QIODevice *device : { static_cast<QIODevice *>(m_port), static_cast<QIODevice *>(m_socket) }) {
        if (!device)
            continue;
        connect(device, &QIODevice::readyRead, this, [this, device]() {
            if (isCurrent(device))
                onReadyRead();
        });
        connect(device, &QIODevice::bytesWritten, this, [this, device](qint64 bytes) {
            if (isCurrent(device))
                onBytesWritten(bytes);
        });
        connect(device, &QIODevice::aboutToClose, this, [this, device]() {
            if (m_enabled && isCurrent(device))
                drainReceived();
        });
    }
    beginTransaction();
}

QIODevice *FrameCapture::device() const
{
    if (!m_session)
        return nullptr;
    return isTcp() ? static_cast<QIODevice *>(m_socket) : m_port;
}

bool FrameCapture::isTcp() const
{
    return m_session && m_session->linkType() == LinkType::Tcp;
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
        m_writtenAhead = 0;
    }
    m_enabled = enabled;
    if (enabled)
        beginTransaction();
}

void FrameCapture::beginTransaction()
{
    QIODevice *port = device();
    if (m_enabled && port && port->isOpen() && !port->isTransactionStarted())
        port->startTransaction();
}

void FrameCapture::endTransaction()
{
    QIODevice *port = device();
    if (!port || !port->isTransactionStarted())
        return;
    // Back to the start of the transaction, then past everything the client has read.
    port->rollbackTransaction();
    takeBuffered();
}

QByteArray FrameCapture::takeReceived()
{
    QIODevice *port = device();
    if (!port || !port->isOpen() || !port->isTransactionStarted())
        return QByteArray();
    // The client has read everything that arrived (it always reads all that is available);
    // rolling back and reading again hands those same bytes to the capture.
    port->rollbackTransaction();
    const QByteArray bytes = takeBuffered();
    port->startTransaction();
    return bytes;
}

QByteArray FrameCapture::takeBuffered()
{
    // Exactly what the port holds: asking for more would make it read the device, which it
    // must not do while it is closing.
    QIODevice *port = device();
    const qint64 buffered = port ? port->bytesAvailable() : 0;
    return buffered > 0 ? port->read(buffered) : QByteArray();
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
        m_writtenAhead = 0;
    }
}

void FrameCapture::onRequestSent(RequestKind kind, const QModbusDataUnit &unit, int serverAddress)
{
    // Counted while the capture is off too, so the numbers stay in step with the client's.
    const quint16 transaction = m_nextTransaction;
    if (isTcp())
        ++m_nextTransaction;
    if (!m_enabled)
        return;
    // Whatever is left from before belongs to no request that is still open.
    drainReceived();
    m_open = OpenRequest();
    m_open.frame = kind == RequestKind::Read ? rtu::readRequest(unit, serverAddress)
                                             : rtu::writeRequest(unit, serverAddress);
    if (isTcp())
        m_open.frame = tcpFrame(m_open.frame, transaction);
    if (m_writtenAhead > 0)
        onBytesWritten(std::exchange(m_writtenAhead, 0));
}

void FrameCapture::onBytesWritten(qint64 bytes)
{
    if (!m_enabled)
        return;
    // Bytes of a sending already reported, because something was received for it first.
    const qint64 skipped = qMin(bytes, m_skipWritten);
    m_skipWritten -= skipped;
    bytes -= skipped;
    if (bytes == 0)
        return;
    if (m_open.frame.isEmpty()) {
        if (isTcp())
            m_writtenAhead += bytes;
        return;
    }
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
    const bool tcp = isTcp();
    while (!m_received.isEmpty()) {
        int length;
        if (!tcp) {
            length = rtu::replyLength(m_received);
        } else {
            length = m_received.size() < mbapLength ? int(rtu::NeedMore)
                                                    : 6 + rtu::wordAt(m_received, 4);
            // A length no frame can have leaves the stream without frame boundaries.
            if (length != rtu::NeedMore && (length < mbapLength + 1 || length > maxTcpFrameLength)) {
                flushReceived();
                break;
            }
        }
        if (length < 0 || length > (tcp ? maxTcpFrameLength : maxFrameLength)
            || m_received.size() < length)
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
    if (isTcp()) {
        emitFrame(rest.size() >= mbapLength ? CapturedFrame::Kind::BadLength
                                            : CapturedFrame::Kind::Fragment, rest);
        return;
    }
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
    if (isTcp()) {
        // The unit, the function and the data sit where an RTU frame has them after the
        // header's first six bytes; the transaction identifier pairs reply and request.
        const QByteArray unitPdu = frame.mid(6);
        if (request.size() < mbapLength) {
            kind = Kind::Unexpected;
        } else if (rtu::wordAt(frame, 0) != rtu::wordAt(request, 0)) {
            kind = Kind::Unexpected;
            // Requests went out before the count began: take the client's numbering from here.
            if (m_open.sends > 0)
                m_nextTransaction = quint16(rtu::wordAt(frame, 0) + 1);
        } else if (rtu::serverOf(unitPdu) != quint8(request.at(6))
                   || (rtu::functionOf(unitPdu) & 0x7F) != quint8(request.at(7))) {
            kind = Kind::Unexpected;
        } else if (rtu::functionOf(unitPdu) & 0x80) {
            kind = Kind::Exception;
        }
        emitFrame(kind, frame);
        return;
    }
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
    frame.tcp = isTcp();
    emit frameCaptured(frame);
}
