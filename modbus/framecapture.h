#ifndef FRAMECAPTURE_H
#define FRAMECAPTURE_H

#include "modbussession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QIODevice;
class QSerialPort;
class QTcpSocket;

// One frame on the line, or an outcome of a request that has no frame of its own.
struct CapturedFrame
{
    enum class Kind : quint8 {
        Request,    // sent; retry > 0 when it went out again because no valid reply came
        Reply,      // received: the reply to the request
        Exception,  // received: an exception reply to the request
        BadCrc,     // received: a frame whose CRC does not match; the client drops it
        Fragment,   // received: bytes that make no whole frame; the client drops them
        Unexpected, // received: a whole frame from another server or for another function
        Timeout,    // no frame: no valid reply in time after the last retry
        Failure,    // no frame: the request ended with another error (`note` says which)
        BadLength,  // received (TCP): not the bytes the MBAP length announced; dropped
    };

    qint64 time = 0; // milliseconds since the epoch
    Kind kind = Kind::Request;
    quint8 retry = 0;   // Request: how often it went out before; Timeout: the retries made
    QByteArray bytes;   // the frame as it was on the line, CRC included; empty for outcomes
    QByteArray request; // the request frame this one belongs to; empty when none was open
    QString note;
    // Modbus TCP: bytes and request are application data units, the 7-byte MBAP header
    // (transaction, protocol, length, unit) and the PDU, without a CRC.
    bool tcp = false;

    bool isSent() const { return kind == Kind::Request; }
    bool isOutcome() const { return kind == Kind::Timeout || kind == Kind::Failure; }
    bool isDamaged() const
    {
        return kind == Kind::BadCrc || kind == Kind::BadLength || kind == Kind::Fragment;
    }
};

Q_DECLARE_METATYPE(CapturedFrame)

// Every frame the session's Modbus client sends and receives, including those the client drops
// (bad CRC, another server, fragments) and its retries. The client has no frame interface, so
// the capture works below it, on the client's serial port:
// - received bytes: the port is kept in a read transaction, so the client's reads leave the
//   bytes in the port's buffer; after each delivery of readyRead to the client, and when a
//   reply has been handled (before the client clears the port), the capture rolls the
//   transaction back, takes the bytes and starts a new one. The client still reads every
//   byte once. The bytes are cut into frames by their length fields, as the client does;
//   what makes no whole frame is reported as a fragment at the next request, at the end of
//   the exchange, or after a silence.
// - sent frames: the port reports each written byte count; the frame is the one the request
//   makes on the line (rtu::readRequest / writeRequest), and each further full frame written
//   for the same request is a retry. The count comes one turn of the event loop after the
//   write, so a sending is reported earlier when bytes arrive for it first.
// Over TCP the same is done on the TCP client's socket: frames are cut by their MBAP length,
// and a request's transaction identifier is the one the client gives it, counted here (the
// client numbers its requests from 0, one after another; a reply with another number brings
// the count in step).
class FrameCapture : public QObject
{
    Q_OBJECT
public:
    explicit FrameCapture(ModbusSession *session, QObject *parent = nullptr);
    ~FrameCapture() override;

    // Off: the port is left to the client alone and nothing is reported.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Bytes that form no whole frame are reported after this much silence (milliseconds).
    static constexpr int silenceMs = 250;

signals:
    void frameCaptured(const CapturedFrame &frame);

private:
    struct OpenRequest
    {
        QByteArray frame;
        int sends = 0; // full frames written so far
        qint64 written = 0; // bytes of the next sending written so far
    };

    void onStateChanged(QModbusDevice::State state);
    void onRequestSent(RequestKind kind, const QModbusDataUnit &unit, int serverAddress);
    void onReplyHandled(const ReplyOutcome &outcome);
    void drainReceived();
    void onReadyRead();
    void onBytesWritten(qint64 bytes);

    void reportSend();
    void reportSendEarly();
    void catchUpSends();
    void beginTransaction();
    void endTransaction();
    QByteArray takeReceived();
    QByteArray takeBuffered();
    void receive(const QByteArray &bytes);
    void flushReceived();
    void emitReceived(const QByteArray &frame);
    void emitFrame(CapturedFrame::Kind kind, const QByteArray &bytes, int retry = 0,
                   const QString &note = QString());

    QPointer<ModbusSession> m_session;
    QIODevice *device() const;
    bool isTcp() const;
    bool isCurrent(QObject *device) const { return device && device == this->device(); }

    QPointer<QSerialPort> m_port;
    QPointer<QTcpSocket> m_socket;
    quint16 m_nextTransaction = 0;
    bool m_enabled = true;
    OpenRequest m_open;
    qint64 m_skipWritten = 0;
    // Bytes a TCP socket wrote before their request was reported: the session pushes a TCP
    // request out before it tells anyone of it.
    qint64 m_writtenAhead = 0;
    QElapsedTimer m_lastSend;
    QByteArray m_received;
    QTimer m_silence;
};

#endif // FRAMECAPTURE_H
