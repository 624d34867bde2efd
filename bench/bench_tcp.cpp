// Read-cycle throughput over Modbus TCP against sensor-sim on loopback, period 0: the real main
// window (network link chosen, repeat ticked, driven through its widgets) next to a bare
// QModbusTcpClient loop and an mbpoll -m tcp loop, all in this run; then the window and the bare
// loop again against a simulator that answers after 1 ms.
//
// Usage: bench_tcp [seconds-per-round]. Prints "ROW |" lines for bench/run; never fails on a figure.

#include "benchsupport.h"
#include "windowcycle.h"
#include "mainwindow.h"
#include "modbussession.h"
#include "myconfig.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

using namespace bench;

namespace {

const int pollRegisters = 10;
const QString host = QStringLiteral("127.0.0.1");

// Replies per second of a client that sends the next request from the event loop as soon as the
// previous reply is in, as the window's timer at period 0 does.
double bareLoop(int port, int seconds)
{
    QModbusTcpClient client;
    client.setConnectionParameter(QModbusDevice::NetworkAddressParameter, host);
    client.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
    client.setTimeout(2000);
    client.setNumberOfRetries(1);
    if (!client.connectDevice()
        || !waitFor([&] { return client.state() == QModbusDevice::ConnectedState; }, 3000))
        return -1;
    QElapsedTimer timer;
    timer.start();
    const LoopResult result = backToBackReads(client, pollRegisters, [&] {
        waitFor([&] { return timer.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    });
    client.disconnectDevice();
    return result.rate;
}

// Replies per second of the window's own cycle at period 0 over the TCP link.
double windowCycle(MainWindow &window, int seconds)
{
    if (!prepareCycle(window, pollRegisters))
        return -1;
    const double rate = cycleRate(window, seconds * 1000);
    spin(50);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(false);
    return rate;
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    const int rounds = 3;

    QTemporaryDir dir;
    if (!enterScratchDir(dir))
        return 1;

    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_tcp");
    MyConfig::linkType = QStringLiteral("tcp");
    MyConfig::tcpHost = host;
    MyConfig::protocolFile = QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx");
    MyConfig::regsType = QStringLiteral("保持寄存器");

    // On loopback a bare exchange takes some 50 us, which leaves almost nothing for what the
    // window shows of it; a device that takes a millisecond to answer, as gateways and PLCs on
    // a LAN do, shows what an engineer meets.
    for (const int deviceMs : { 0, 1 }) {
        // The simulator picks a free port and names it in its ready file.
        QProcess sim;
        const QString ready = dir.filePath(QStringLiteral("ready%1").arg(deviceMs));
        QStringList simArgs{ QStringLiteral("--static"), QStringLiteral("--tcp"), QStringLiteral("0"),
                             QStringLiteral("--ready-file"), ready };
        if (deviceMs > 0)
            simArgs << QStringLiteral("--delay-ms") << QString::number(deviceMs);
        sim.start(QStringLiteral(SENSOR_SIM_PATH), simArgs);
        if (!waitFor([&] { return QFile::exists(ready); }, 5000)) {
            note(QStringLiteral("cannot start sensor-sim --tcp"));
            return 1;
        }
        QFile readyFile(ready);
        readyFile.open(QIODevice::ReadOnly);
        const int port = readyFile.readAll().split('\n').value(1).toInt();
        MyConfig::tcpPort = port;

        double windowSum = 0, bareSum = 0;
        {
            MainWindow window;
            window.show();
            // Alternate the loops so drift on the machine hits both alike.
            for (int round = 0; round < rounds; ++round) {
                const double bare = bareLoop(port, seconds);
                const double ours = windowCycle(window, seconds);
                note(QStringLiteral("device answers after %1 ms, round %2: window %3/s, bare %4/s")
                         .arg(deviceMs).arg(round + 1).arg(ours, 0, 'f', 1).arg(bare, 0, 'f', 1));
                windowSum += ours;
                bareSum += bare;
            }
        }
        const double ours = windowSum / rounds;
        const double bare = bareSum / rounds;
        const QString label = deviceMs == 0
                ? QStringLiteral("replies/s over Modbus TCP on loopback, %1 holding regs, period 0").arg(pollRegisters)
                : QStringLiteral("replies/s over Modbus TCP on loopback, device answering after %1 ms, %2 holding regs, period 0")
                          .arg(deviceMs).arg(pollRegisters);
        row(label + QStringLiteral(" — vs bare QModbusTcpClient loop"), rate(ours), rate(bare),
            ratio(ours, bare), deviceMs == 0 ? QStringLiteral("≥ 0.95") : QStringLiteral("—"));
        if (deviceMs == 0) {
            const double mbpoll = mbpollRate({ QStringLiteral("-m"), QStringLiteral("tcp"), QStringLiteral("-p"),
                                               QString::number(port) }, host, pollRegisters, 11, seconds);
            row(label + QStringLiteral(" — vs mbpoll -m tcp -l 11 (its shortest poll interval, not back to back)"),
                rate(ours), rate(mbpoll), ratio(ours, mbpoll), QStringLiteral("—"));
        }
        sim.terminate();
        sim.waitForFinished(3000);
    }
    return 0;
}
