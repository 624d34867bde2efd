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

#include <optional>

class QModbusReply;
class QModbusRtuSerialMaster;

// The serial line and the client's parameters, applied at every opening.
struct LineSettings
{
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

// One Modbus RTU exchange over one serial line: the client, the link state, the pending mark
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
        InvalidServer, // not 0..247
        OutOfRange,    // the addresses do not fit the 16-bit address space
        Refused,       // the client would not build the request (errorString() says why)
    };

    explicit ModbusSession(QObject *parent = nullptr);
    ~ModbusSession() override;

    QModbusRtuSerialMaster *client() const { return m_client; }

    // Applies the settings and opens the line; false with errorString() when it cannot.
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
    void sendWaitingWrite();

    QModbusRtuSerialMaster *m_client = nullptr;
    QTimer m_cycle;
    bool m_pending = false;
    std::optional<WaitingWrite> m_waitingWrite;
    QPointer<QModbusReply> m_outstanding;
    RequestKind m_outstandingKind = RequestKind::Read;
    int m_outstandingServer = 0;
    QElapsedTimer m_sentAt;
    ReplyOutcome m_lastOutcome;
    bool m_destroying = false;
};

Q_DECLARE_METATYPE(ReplyOutcome)

#endif // MODBUSSESSION_H
