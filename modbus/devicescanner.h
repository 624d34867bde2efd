#ifndef DEVICESCANNER_H
#define DEVICESCANNER_H

#include "modbussession.h"
#include "readplan.h"

#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>


// What a scan tries: every device address of the range at every combination of baud rate and
// parity, one read of one holding register each, with a short timeout and no retries. Over
// Modbus TCP the unit ids of the range on one host and port; baud rates and parities do not
// apply there. The timeout is what a device may take to answer; on a serial line a probe waits
// that plus the time the probe and its reply take at the baud rate tried (probeTimeoutMs).
struct ScanPlan
{
    LinkType link = LinkType::Serial;
    QString host;
    int port = 502;
    QString portName;
    int firstAddress = 1;
    int lastAddress = 247;
    QVector<int> baudRates;
    QVector<int> parities; // QSerialPort::Parity values
    int stopBits = 1;      // a QSerialPort::StopBits value
    int dataBits = 8;
    int timeoutMs = 100;
    int probeRegister = 0;

    static constexpr int minTimeoutMs = 10;
    static constexpr int maxTimeoutMs = 10000;
    // The probe's 8 bytes and the 7 of a reply with one register.
    static constexpr int probeCharacters = 8 + 7;

    int probeCount() const;
    // The line settings tried one after another: 1 over TCP.
    int lineCount() const;
    // What a probe at `baudRate` waits for its answer: timeoutMs plus probeCharacters at the
    // longest character time (LineOptions::characterTimeMs), rounded up; timeoutMs over TCP
    // (`baudRate` 0).
    int probeTimeoutMs(int baudRate) const;
    // False with the reason when the plan cannot be run.
    bool isValid(QString *reason = nullptr) const;
};

// A device that answered a probe: with the register's value, or with an exception code (an
// exception reply proves a device just as well, except a gateway's 0x0A and 0x0B: those say
// that no device answered behind it).
struct ScanHit
{
    int address = 0;
    int baudRate = 0;
    int parity = 0;
    int stopBits = 1;
    int exceptionCode = 0; // 0: a normal reply
    quint16 value = 0;

    // False for the gateway exceptions, which any address gets from a gateway on the line.
    static bool provesDevice(int exceptionCode) { return exceptionCode != 0x0A && exceptionCode != 0x0B; }
};

// One address that answered, with every line setting that answered there in the order tried
// (a device on a virtual line answers at any setting; on a real line some tolerate parities).
struct FoundDevice
{
    int address = 0;
    QVector<ScanHit> answers;

    // The answer whose settings to take: the one at the settings in use (`baudRate`, `parity`
    // a QSerialPort::Parity value) when they answered, otherwise the first.
    const ScanHit &answerToUse(int baudRate, int parity) const;
};

// Runs a scan plan on a line of its own: the port must not be open elsewhere. Probes go out one
// at a time; cancel() closes the line at once, so a scan stops within one reply timeout at most.
class DeviceScanner : public QObject
{
    Q_OBJECT
public:
    enum class Finish { Completed, Cancelled, Failed };
    Q_ENUM(Finish)

    explicit DeviceScanner(QObject *parent = nullptr);
    ~DeviceScanner() override;

    // Starts the plan; false, with errorString(), for an invalid plan or while a scan runs.
    bool start(const ScanPlan &plan);
    void cancel();
    bool isRunning() const { return m_running; }

    const ScanPlan &plan() const { return m_plan; }
    int position() const { return m_position; } // probes finished
    int total() const { return m_plan.probeCount(); }
    // The line setting and address of the probe under way (or the last one).
    int currentAddress() const { return m_address; }
    int currentBaudRate() const;
    int currentParity() const;
    // Every answer, in the order they came.
    const QVector<ScanHit> &hits() const { return m_hits; }
    // The same by address: one entry per device.
    const QMap<int, FoundDevice> &devices() const { return m_devices; }
    QString errorString() const { return m_error; }
    // The plan's line as messages name it: the serial port, or "Modbus TCP host:port".
    QString lineName() const;

signals:
    void progressed(int position, int total);
    // An answer: devices() already holds it, under its address.
    void found(const ScanHit &hit);
    void finished(DeviceScanner::Finish finish);

private:
    // The plan's link, without the settings that change from probe to probe.
    LineSettings planLine() const;
    bool openLine();
    void probe();
    void takeOutcome(const ReplyOutcome &outcome);
    void finish(Finish how);
    void dropSession();

    ScanPlan m_plan;
    ModbusSession *m_session = nullptr;
    bool m_running = false;
    int m_line = 0; // index into the combinations of baud rate and parity
    int m_address = 0;
    int m_position = 0;
    QVector<ScanHit> m_hits;
    QMap<int, FoundDevice> m_devices;
    QString m_error;
};

Q_DECLARE_METATYPE(ScanHit)

#endif // DEVICESCANNER_H
