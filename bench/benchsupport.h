#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

// Helpers shared by the benchmark programs: bounded waits, the simulated sensor on a pty pair,
// memory figures from /proc, and the table rows that bench/run collects.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QTimer>
#include <QVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace bench {

// Runs the event loop until `condition` holds or `timeoutMs` passes.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Before the application object: offscreen unless a platform is named, and no debug lines.
inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
}

// After it: settings in test mode, and `dir` the working directory; false when there is none.
inline bool enterScratchDir(const QTemporaryDir &dir)
{
    QStandardPaths::setTestModeEnabled(true);
    return dir.isValid() && QDir::setCurrent(dir.path());
}

inline void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

inline double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

inline double percentile(QVector<double> values, int percent)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(qMin(values.size() - 1, values.size() * percent / 100));
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
inline qint64 procStatusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// One row of the table bench/run prints: figure, ours, reference, ratio, target.
inline void row(const QString &figure, const QString &ours, const QString &reference,
                const QString &ratio, const QString &target)
{
    std::printf("ROW | %s | %s | %s | %s | %s |\n", qPrintable(figure), qPrintable(ours),
                qPrintable(reference), qPrintable(ratio), qPrintable(target));
    std::fflush(stdout);
}

inline QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

inline void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// A client set up as the window sets up its own, on an 8N1 line at `baud`.
inline bool connectClient(QModbusRtuSerialMaster &client, const QString &port, int baud)
{
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, port);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, 0);
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, baud);
    client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, 8);
    client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, 1);
    client.setTimeout(2000);
    client.setNumberOfRetries(1);
    return client.connectDevice();
}

struct LoopResult
{
    double rate = -1; // normal replies per second
    int replies = 0;
};

// A bare client's read cycle: `registers` holding registers from address 0 of server 1, the
// next request sent from the event loop as soon as the previous reply is in (as the window's
// timer at period 0 sends it), while `wait` runs the event loop. `onReply` hears each normal
// reply.
inline LoopResult backToBackReads(QModbusClient &client, int registers, const std::function<void()> &wait,
                                  const std::function<void()> &onReply = {})
{
    int replies = 0;
    bool running = true;
    std::function<void()> send = [&] {
        QModbusReply *reply = client.sendReadRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, quint16(registers)), 1);
        if (!reply)
            return;
        QObject::connect(reply, &QModbusReply::finished, &client, [&, reply] {
            if (reply->error() == QModbusDevice::NoError) {
                ++replies;
                if (onReply)
                    onReply();
            }
            reply->deleteLater();
            if (running)
                QTimer::singleShot(0, &client, send);
        });
    };
    QElapsedTimer timer;
    timer.start();
    send();
    wait();
    running = false;
    const LoopResult result{ replies * 1000.0 / timer.elapsed(), replies };
    // The reply still on its way comes in while what its handler uses still exists.
    spin(50);
    return result;
}

inline QString rate(double value)
{
    return value < 0 ? QStringLiteral("n/a") : fixed(value, 1) + QStringLiteral("/s");
}

inline QString ratio(double a, double b)
{
    return a < 0 || b <= 0 ? QStringLiteral("n/a") : fixed(a / b, 3);
}

// Polls per second of mbpoll reading `registers` holding registers from device 1 every
// `intervalMs`, counted from its first result on so the tool's own start-up is left out; -1 when
// it cannot run or fails. mbpoll cannot poll back to back (its interval is more than 10 ms): at
// its shortest interval it is the rate a user of that tool gets.
// `link` names the link in mbpoll's own options ("-m tcp -p 1502" and so on), `device` the
// serial device or the host.
inline double mbpollRate(const QStringList &link, const QString &device, int registers,
                         int intervalMs, int seconds)
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll.isEmpty())
        return -1;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(mbpoll, link + QStringList{ QStringLiteral("-a"), QStringLiteral("1"),
                      QStringLiteral("-0"), QStringLiteral("-t"), QStringLiteral("4"), QStringLiteral("-r"),
                      QStringLiteral("0"), QStringLiteral("-c"), QString::number(registers),
                      QStringLiteral("-l"), QString::number(intervalMs), device });
    if (!p.waitForStarted(3000))
        return -1;
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    qint64 firstAt = -1;
    int firstCount = 0;
    while (timer.elapsed() < seconds * 1000 + 3000 && p.state() == QProcess::Running) {
        p.waitForReadyRead(20);
        output += p.readAll();
        const int polls = output.count("-- Polling slave");
        if (firstAt < 0 && polls > 0) {
            firstAt = timer.elapsed();
            firstCount = polls;
        }
        if (firstAt >= 0 && timer.elapsed() - firstAt >= seconds * 1000)
            break;
    }
    const qint64 span = timer.elapsed() - firstAt;
    const int polls = output.count("-- Polling slave");
    const bool failed = output.contains("failed");
    p.terminate();
    if (!p.waitForFinished(2000))
        p.kill();
    p.waitForFinished(1000);
    if (firstAt < 0 || span <= 0 || failed)
        return -1;
    return (polls - firstCount) * 1000.0 / span;
}

inline double mbpollRate(const QString &port, int baud, int registers, int intervalMs, int seconds)
{
    return mbpollRate({ QStringLiteral("-m"), QStringLiteral("rtu"), QStringLiteral("-b"),
                        QString::number(baud), QStringLiteral("-P"), QStringLiteral("none") },
                      port, registers, intervalMs, seconds);
}

// sensor-sim serving one end of a socat pty pair in `dir`; the other end is clientPort.
class SimLine
{
public:
    // Says so when the line cannot be started.
    bool start(const QString &dir, const QStringList &simArgs)
    {
        if (launch(dir, simArgs))
            return true;
        note(QStringLiteral("cannot start socat and sensor-sim"));
        return false;
    }

    bool launch(const QString &dir, const QStringList &simArgs)
    {
        const QString simEnd = dir + QStringLiteral("/sim");
        clientPort = dir + QStringLiteral("/client");
        QFile::remove(simEnd);
        QFile::remove(clientPort);
        socat.start(QStringLiteral("socat"), { QStringLiteral("pty,raw,echo=0,link=") + simEnd,
                                               QStringLiteral("pty,raw,echo=0,link=") + clientPort });
        if (!waitFor([&] { return QFile::exists(simEnd) && QFile::exists(clientPort); }, 5000))
            return false;
        const QString ready = dir + QStringLiteral("/ready");
        QFile::remove(ready);
        sim.start(QStringLiteral(SENSOR_SIM_PATH),
                  simArgs + QStringList{ QStringLiteral("--ready-file"), ready, simEnd });
        return waitFor([&] { return QFile::exists(ready); }, 5000);
    }

    void stop()
    {
        for (QProcess *p : { &sim, &socat }) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(1000);
            }
        }
    }

    ~SimLine() { stop(); }

    QString clientPort;

private:
    QProcess socat;
    QProcess sim;
};

// Physical limit of back-to-back polls on an RTU line: request and reply frames, each followed
// by 3.5 characters of silence, at `bitsPerChar` bits per character.
inline double physicalPollsPerSecond(int requestBytes, int replyBytes, int baud, int bitsPerChar)
{
    const double characters = requestBytes + 3.5 + replyBytes + 3.5;
    return baud / (characters * bitsPerChar);
}

} // namespace bench

#endif // BENCHSUPPORT_H
