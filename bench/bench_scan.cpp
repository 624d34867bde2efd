// The device scan against sensor-sim over a socat pty pair: a full scan of addresses 1..247 at
// one baud rate with one device present, and how soon a cancel ends a scan.
//
// Usage: bench_scan [timeout-ms]. Prints "ROW |" lines for bench/run; never fails on a figure.

#include "benchsupport.h"
#include "devicescanner.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTemporaryDir>

using namespace bench;

namespace {

ScanPlan planFor(const QString &port, int timeoutMs)
{
    ScanPlan plan;
    plan.portName = port;
    plan.baudRates = { 115200 };
    plan.parities = { QSerialPort::NoParity };
    plan.stopBits = QSerialPort::OneStop;
    plan.timeoutMs = timeoutMs;
    return plan;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int timeoutMs = argc > 1 ? qMax(10, atoi(argv[1])) : 100;

    QTemporaryDir dir;
    SimLine line;
    if (!dir.isValid()) {
        note(QStringLiteral("cannot create a temporary folder"));
        return 1;
    }
    if (!line.start(dir.path(), { QStringLiteral("--address"), QStringLiteral("100") }))
        return 1;

    // The whole range: 246 probes time out, one is answered.
    DeviceScanner scanner;
    bool done = false;
    QObject::connect(&scanner, &DeviceScanner::finished, [&](DeviceScanner::Finish) { done = true; });
    QElapsedTimer timer;
    timer.start();
    if (!scanner.start(planFor(line.clientPort, timeoutMs))) {
        note(scanner.errorString());
        return 1;
    }
    waitFor([&] { return done; }, 120000);
    const double seconds = timer.elapsed() / 1000.0;
    const double ideal = 246 * timeoutMs / 1000.0;
    QStringList addresses;
    for (const ScanHit &hit : scanner.hits())
        addresses << QString::number(hit.address);
    note(QStringLiteral("full scan: %1 probes, found at %2").arg(scanner.position())
             .arg(addresses.join(QLatin1Char(','))));
    row(QStringLiteral("device scan 1..247 at 115200 8N1, timeout %1 ms, one device (found: %2)")
            .arg(timeoutMs).arg(addresses.isEmpty() ? QStringLiteral("none") : addresses.join(QLatin1Char(','))),
        fixed(seconds, 2) + QStringLiteral(" s"),
        QStringLiteral("246 timeouts alone %1 s").arg(fixed(ideal, 1)),
        fixed(seconds / ideal, 3), QStringLiteral("< 30 s"));

    // Cancel in the middle of a probe: from the press to the end of the scan, and to a port
    // another program can open.
    QVector<double> cancelMs, freeMs;
    for (int n = 0; n < 5; ++n) {
        done = false;
        scanner.start(planFor(line.clientPort, timeoutMs));
        spin(timeoutMs * 2 + timeoutMs / 2 + n * 7);
        QElapsedTimer cancelTimer;
        cancelTimer.start();
        scanner.cancel();
        waitFor([&] { return done; }, 10000);
        cancelMs.append(cancelTimer.nsecsElapsed() / 1e6);
        QSerialPort port(line.clientPort);
        const bool opened = port.open(QIODevice::ReadWrite);
        freeMs.append(opened ? cancelTimer.nsecsElapsed() / 1e6 : -1);
        port.close();
    }
    row(QStringLiteral("scan cancel during a probe → scan ended, median of %1").arg(cancelMs.size()),
        fixed(median(cancelMs), 3) + QStringLiteral(" ms"),
        QStringLiteral("timeout %1 ms; port open again after %2 ms").arg(timeoutMs).arg(fixed(median(freeMs), 3)),
        fixed(median(cancelMs) / timeoutMs, 4), QStringLiteral("< 1 timeout"));
    return 0;
}
