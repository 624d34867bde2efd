#ifndef MODBUSSESSION_H
#define MODBUSSESSION_H

#include <QElapsedTimer>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QModbusPdu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "readplan.h"

#include <optional>

class QModbusClient;
class QModbusReply;
class QModbusRtuSerialMaster;
class QModbusTcpClient;
class QTcpSocket;

// The link and the client's parameters, applied at every opening: a serial line (Modbus RTU)
// or a TCP connection (Modbus TCP).
struct LineSettings
{
    LinkType link = LinkType::Serial;
    QString host; // TCP: a name or an address, IPv6 ones without brackets
    int port = 502;
    QString portName;
    int baudRate = 0;
    int parity = -1;   // a QSerialPort::Parity value; -1 when unknown
    int dataBits = 8;
    int stopBits = -1; // a QSerialPort::StopBits value; -1 when unknown
    int timeoutMs = 2000;
    int retries = 1;

    // From the texts the settings keep ("None", "Even", ... and "1", "1.5", "2").
    static LineSettings fromTexts(const QString &portName, int baudRate, const QString &parity,
                                  const QString &stopBits);
    static LineSettings tcp(const QString &host, int port);
    // "Modbus RTU COM3" or "Modbus TCP 192.0.2.1:502" ("[::1]:502" for IPv6).
    QString linkText() const;
    // The link as messages name it: the serial port, or "Modbus TCP host:port".
    QString name() const { return link == LinkType::Tcp ? linkText() : portName; }
    // The host as a URL holds it: an IPv6 address in brackets.
    QString urlHost() const;
};

enum class RequestKind { Read, Write };

// What became of one request that reached the client.
struct ReplyOutcome
{
    enum class Result { Normal, Broadcast, Error };

    RequestKind kind = RequestKind::Read;
    Result result = Result::Error;
    int serverAddress = 0;
    // The reply's data: the values read (coils and inputs as 0 or 0xFF00), or those written.
    QModbusDataUnit unit;
    QModbusDevice::Error error = QModbusDevice::NoError;
    QString errorString;
    // The exception code of an exception reply, 0 for any other outcome.
    int exceptionCode = 0;
    // From handing the request to the client to its outcome, retries included.
    qint64 responseUs = 0;
};

// One Modbus exchange over one link, a serial line or a TCP connection: the client, the link state, the pending mark
// (at most one request outstanding), the write that waits for an outstanding reply, the read
// cycle's timer and the outcome of every reply. It reports through signals and results and
// knows nothing of widgets; the window and the command-line poller both drive it.
class ModbusSession : public QObject
{
    Q_OBJECT
public:
    enum class SendResult {
        Sent,          // handed to the client
        Queued,        // a write that waits for the outstanding reply
        Busy,          // a read while a reply is outstanding: nothing sent
        NotConnected,
        InvalidServer, // not 0..247 (serial) or 0..255 (TCP)
        OutOfRange,    // the addresses do not fit the 16-bit address space
        Refused,       // the client would not build the request (errorString() says why)
    };

    explicit ModbusSession(QObject *parent = nullptr);
    ~ModbusSession() override;

    // The client of the link opened last (the serial one before any opening).
    QModbusClient *client() const { return m_client; }
    // Both clients live as long as the session, so what watches their transports can find
    // them once: the serial client's port is its child, and so is the TCP client's socket
    // (null should a Qt release make it otherwise).
    QModbusRtuSerialMaster *rtuClient() const { return m_rtu; }
    QTcpSocket *tcpSocket() const;
    LinkType linkType() const { return m_link; }

    // Applies the settings and opens the link; false with errorString() when it cannot. A TCP
    // connection is made after this returns: a failure then comes as linkLost().
    bool open(const LineSettings &settings);
    // Closes the line; the pending mark, a waiting write and the cycle end with it.
    void close();
    QModbusDevice::State state() const;
    bool isConnected() const;
    QString errorString() const;

    bool isPending() const { return m_pending; }
    bool hasWaitingWrite() const { return m_waitingWrite.has_value(); }

    SendResult read(const QModbusDataUnit &unit, int serverAddress);
    // With a reply outstanding the write waits and is sent once that reply has been handled;
    // a later write replaces a waiting one.
    SendResult write(const QModbusDataUnit &unit, int serverAddress);

    // The read cycle: cycleTick() every interval (0: as fast as the event loop allows).
    void startCycle(int intervalMs);
    void stopCycle();
    bool isCycling() const { return m_cycle.isActive(); }
    void setCycleInterval(int intervalMs);
    int cycleInterval() const { return m_cycle.interval(); }

    // Handles a reply as one the session sent: used for requests made by the session itself,
    // and for replies made in-process (benchmarks, tests).
    void adoptReply(QModbusReply *reply, RequestKind kind, int serverAddress);

    // The outcome most recently reported by replyHandled().
    const ReplyOutcome &lastOutcome() const { return m_lastOutcome; }

signals:
    void stateChanged(QModbusDevice::State state);
    void errorOccurred(QModbusDevice::Error error);
    // A TCP link ended by itself: the peer closed the connection, or the host could not be
    // reached (`connected` false: the link never came up). A vanished serial port is closed
    // by the session and reported by the state alone.
    void linkLost(const QString &reason, bool connected);
    void requestSent(RequestKind kind, const QModbusDataUnit &unit, int serverAddress);
    // The client refused to build a write (too many values for one frame, say).
    void requestRefused(RequestKind kind, const QString &reason);
    void replyHandled(const ReplyOutcome &outcome);
    void cycleTick();

private:
    struct WaitingWrite
    {
        QModbusDataUnit unit;
        int serverAddress = 0;
    };

    SendResult send(RequestKind kind, const QModbusDataUnit &unit, int serverAddress);
    void onReplyFinished();
    void finishReply(QModbusReply *reply);
    void onClientError(QModbusDevice::Error error);
    void onClientStateChanged(QModbusDevice::State state);
    void sendWaitingWrite();
    // What closing ends: the cycle, the pending mark and a waiting write.
    void endLink();
    void watch(QModbusClient *client);

    QModbusRtuSerialMaster *m_rtu = nullptr;
    QModbusTcpClient *m_tcp = nullptr;
    QPointer<QTcpSocket> m_tcpSocket; // the TCP client's own socket
    QModbusClient *m_client = nullptr;
    LinkType m_link = LinkType::Serial;
    bool m_linkOpen = false;  // opened, and not closed by close() since
    bool m_connected = false; // the link opened last reached ConnectedState
    QTimer m_cycle;
    bool m_pending = false;
    std::optional<WaitingWrite> m_waitingWrite;
    QPointer<QModbusReply> m_outstanding;
    QElapsedTimer m_sentAt;
    ReplyOutcome m_lastOutcome;
    bool m_destroying = false;
};

Q_DECLARE_METATYPE(ReplyOutcome)

#endif // MODBUSSESSION_H
