// What watching the line costs, against sensor-sim over a socat pty pair (its 115200 8N1 line
// timing off, then on), each figure next to its reference from the same run, rounds alternated
// so drift on the machine hits both alike:
// - the window's replies per second at period 0 with the frame capture, the statistics and an
//   open traffic monitor, against the same window with capture and statistics off;
// - the same with a CSV recording running, against no recording;
// - rurodur-poll at period 0 (CSV to a file) against a bare QModbusRtuSerialMaster loop, and
//   against mbpoll at its shortest poll interval;
// - memory of the window's frame log with the monitor open, after 10,000 and 100,000 frames.
//
// Usage: bench_monitor [seconds-per-round]. Prints "ROW |" lines for bench/run.

#include "benchsupport.h"
#include "csvrecorder.h"
#include "framecapture.h"
#include "framelog.h"
#include "linestatistics.h"
#include "mainwindow.h"
#include "protocoltable.h"
#include "modbussession.h"
#include "myconfig.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

using namespace bench;

namespace {

const int registers = 10;
const int baud = 115200;
const int rounds = 4;
const QString normalText = QStringLiteral("通讯：数据回复，正常");

// Runs the event loop for `ms`, blocking in it as a program does, not polling it.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString rate(double value)
{
    return value < 0 ? QStringLiteral("n/a") : fixed(value, 1) + QStringLiteral("/s");
}

QString ratio(double a, double b)
{
    return a < 0 || b <= 0 ? QStringLiteral("n/a") : fixed(a / b, 3);
}

// The window's monitoring switched as a whole: capture and statistics on, and the monitor
// open, or all of it off.
void setMonitoring(MainWindow &window, bool on)
{
    auto *session = window.findChild<ModbusSession *>(QStringLiteral("modbusSession"));
    auto *capture = window.findChild<FrameCapture *>(QStringLiteral("frameCapture"));
    auto *statistics = window.findChild<LineStatistics *>(QStringLiteral("lineStatistics"));
    capture->setEnabled(on);
    QObject::disconnect(session, nullptr, statistics, nullptr);
    QObject::disconnect(capture, nullptr, statistics, nullptr);
    const QList<QWidget *> monitors = window.findChildren<QWidget *>(QStringLiteral("TrafficMonitor"));
    for (QWidget *monitor : monitors)
        monitor->close();
    if (on) {
        statistics->attach(session, capture);
        window.findChild<QAction *>(QStringLiteral("actionmonitor"))->trigger();
    }
    spin(50);
}

// Replies per second of the window's own cycle at period 0.
double windowCycle(MainWindow &window, int seconds)
{
    auto *connect = window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"));
    auto *read = window.findChild<QPushButton *>(QStringLiteral("pushButton_read"));
    auto *repeat = window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"));
    const auto finish = [&window](const char *name, const QString &text) {
        auto *edit = window.findChild<QLineEdit *>(QLatin1String(name));
        edit->setText(text);
        emit edit->editingFinished();
    };
    finish("lineEdit_regsAddrRead", QStringLiteral("0"));
    finish("lineEdit_regsLenRead", QString::number(registers));
    finish("lineEdit_period", QStringLiteral("0"));
    repeat->setChecked(true);
    connect->setChecked(true);
    if (!connect->isChecked())
        return -1;
    int replies = 0;
    const auto counter = QObject::connect(window.statusBar(), &QStatusBar::messageChanged,
                                          [&](const QString &text) { replies += text == normalText; });
    QElapsedTimer timer;
    timer.start();
    read->setChecked(true);
    runFor(seconds * 1000);
    read->setChecked(false);
    const double result = replies * 1000.0 / timer.elapsed();
    QObject::disconnect(counter);
    spin(50);
    connect->setChecked(false);
    return result;
}

// Replies per second of a bare client that sends the next request from the event loop as soon
// as the previous reply is in.
double bareLoop(const QString &port, int seconds)
{
    QModbusRtuSerialMaster client;
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, port);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, 0);
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, baud);
    client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, 8);
    client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, 1);
    client.setTimeout(2000);
    client.setNumberOfRetries(1);
    if (!client.connectDevice())
        return -1;
    int replies = 0;
    bool running = true;
    std::function<void()> send = [&] {
        QModbusReply *reply = client.sendReadRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, quint16(registers)), 1);
        if (!reply)
            return;
        QObject::connect(reply, &QModbusReply::finished, &client, [&, reply] {
            replies += reply->error() == QModbusDevice::NoError;
            reply->deleteLater();
            if (running)
                QTimer::singleShot(0, &client, send);
        });
    };
    QElapsedTimer timer;
    timer.start();
    send();
    runFor(seconds * 1000);
    running = false;
    const double result = replies * 1000.0 / timer.elapsed();
    spin(50);
    client.disconnectDevice();
    return result;
}

// Replies per second of rurodur-poll at period 0 for `seconds`, from the lines of its CSV.
double pollRate(const QString &port, const QString &workbook, const QString &csv, int seconds)
{
    QProcess poll;
    poll.start(QStringLiteral(RURODUR_POLL_PATH),
               { "--port", port, "--device", "1", "--workbook", workbook, "--sheet", "保持寄存器",
                 "--count", QString::number(registers), "--period", "0", "--seconds",
                 QString::number(seconds), "--csv", csv });
    if (!poll.waitForFinished(seconds * 1000 + 15000) || poll.exitCode() != 0)
        return -1;
    QFile file(csv);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const int lines = file.readAll().count('\n') - 1; // the header
    return lines / double(seconds);
}

// mbpoll cannot poll back to back; at its shortest interval it is the rate a user of that tool
// gets.
double mbpollRate(const QString &port, int seconds)
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll.isEmpty())
        return -1;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(mbpoll, { "-m", "rtu", "-a", "1", "-b", QString::number(baud), "-P", "none", "-0", "-t", "4",
                      "-r", "0", "-c", QString::number(registers), "-l", "11", port });
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
    p.terminate();
    if (!p.waitForFinished(2000))
        p.kill();
    if (firstAt < 0 || span <= 0)
        return -1;
    return (polls - firstCount) * 1000.0 / span;
}

// Frames as the line brings them: a read request and its reply, alternately.
CapturedFrame syntheticFrame(int n)
{
    static const QByteArray request = QByteArray::fromHex("010300000" "00A" "C5CD");
    static const QByteArray reply = QByteArray::fromHex("010314" + QByteArray(40, '1') + "0000");
    CapturedFrame frame;
    frame.time = QDateTime::currentMSecsSinceEpoch();
    frame.kind = n % 2 ? CapturedFrame::Kind::Reply : CapturedFrame::Kind::Request;
    frame.bytes = n % 2 ? QByteArray(reply.constData(), reply.size()) : QByteArray(request.constData(), request.size());
    frame.request = request;
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    const QString workbook = dir.filePath(QStringLiteral("modbus.xlsx"));
    QFile::copy(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"), workbook);

    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_monitor");
    MyConfig::serialBaudrate = baud;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = QStringLiteral("保持寄存器");

    // Without and with the simulator holding each reply for its time on a 115200 8N1 line:
    // the first is bound by the processor, the second by the line, as with a real device.
    for (const bool emulate : { false, true }) {
        SimLine line;
        QStringList simArgs = { QStringLiteral("--static") };
        if (emulate)
            simArgs << QStringLiteral("--emulate-line");
        if (!line.start(dir.path(), simArgs)) {
            note(QStringLiteral("cannot start socat and sensor-sim"));
            return 1;
        }
        MyConfig::serialName = line.clientPort;
        const QString label = QStringLiteral("replies/s, %1 holding regs, period 0, line emulation %2")
                                      .arg(registers).arg(emulate ? "on" : "off");
        const QString mode = emulate ? QStringLiteral("emulation on") : QStringLiteral("emulation off");
        {
            MainWindow window;
            window.show();
            auto *recorder = window.findChild<CsvRecorder *>(QStringLiteral("csvRecorder"));
            auto *table = window.findChild<ProtocolTable *>(QStringLiteral("protocolTable"));

            double onSum = 0, offSum = 0;
            for (int round = 0; round < rounds; ++round) {
                setMonitoring(window, false);
                const double off = windowCycle(window, seconds);
                setMonitoring(window, true);
                const double on = windowCycle(window, seconds);
                note(QStringLiteral("%1, round %2: monitoring off %3/s, on %4/s")
                             .arg(mode).arg(round + 1).arg(off, 0, 'f', 1).arg(on, 0, 'f', 1));
                offSum += off;
                onSum += on;
            }
            row(label + QStringLiteral(", window — frame capture + statistics + open monitor vs all off"),
                rate(onSum / rounds), rate(offSum / rounds), ratio(onSum, offSum), QStringLiteral("≥ 0.95"));

            // Recording with the capture and statistics on, the monitor closed.
            setMonitoring(window, true);
            for (QWidget *monitor : window.findChildren<QWidget *>(QStringLiteral("TrafficMonitor")))
                monitor->close();
            double recSum = 0, plainSum = 0;
            qint64 lines = 0;
            for (int round = 0; round < rounds; ++round) {
                const double plain = windowCycle(window, seconds);
                recorder->start(dir.filePath(QStringLiteral("rec%1.csv").arg(round)), table,
                                { QModbusDataUnit::HoldingRegisters, 0, registers });
                const double recording = windowCycle(window, seconds);
                lines += recorder->lineCount();
                recorder->stop();
                note(QStringLiteral("%1, round %2: recording off %3/s, on %4/s")
                             .arg(mode).arg(round + 1).arg(plain, 0, 'f', 1).arg(recording, 0, 'f', 1));
                plainSum += plain;
                recSum += recording;
            }
            note(QStringLiteral("%1: recorded %2 CSV lines").arg(mode).arg(lines));
            row(label + QStringLiteral(", window — CSV recording on vs off"), rate(recSum / rounds),
                rate(plainSum / rounds), ratio(recSum, plainSum), QStringLiteral("≥ 0.95"));
        }

        double pollSum = 0, bareSum = 0;
        bool pollFailed = false;
        for (int round = 0; round < rounds; ++round) {
            const double bare = bareLoop(line.clientPort, seconds);
            const double poll = pollRate(line.clientPort, workbook, dir.filePath(QStringLiteral("poll.csv")), seconds);
            note(QStringLiteral("%1, round %2: bare %3/s, rurodur-poll %4/s")
                         .arg(mode).arg(round + 1).arg(bare, 0, 'f', 1).arg(poll, 0, 'f', 1));
            bareSum += bare;
            pollSum += poll;
            pollFailed = pollFailed || poll < 0;
        }
        const double poll = pollFailed ? -1 : pollSum / rounds;
        row(label + QStringLiteral(" — rurodur-poll (CSV to a file) vs bare Qt loop"), rate(poll),
            rate(bareSum / rounds), ratio(poll, bareSum / rounds), QStringLiteral("≥ 0.95"));
        if (!emulate) {
            const double mbpoll = mbpollRate(line.clientPort, seconds);
            row(label + QStringLiteral(" — rurodur-poll vs mbpoll -l 11 (its shortest poll interval, "
                                       "not back to back)"),
                rate(poll), rate(mbpoll), ratio(poll, mbpoll), QStringLiteral("—"));
        }
    }

    // Memory: the window's frame log with the monitor showing it.
    {
        MainWindow window;
        window.show();
        window.findChild<QAction *>(QStringLiteral("actionmonitor"))->trigger();
        auto *log = window.findChild<FrameLog *>(QStringLiteral("frameLog"));
        spin(200);
        const qint64 before = procStatusKb("VmRSS");
        qint64 at10k = -1;
        for (int n = 0; n < 100000; ++n) {
            log->append(syntheticFrame(n));
            if (n % 500 == 499) {
                log->flush();
                QCoreApplication::processEvents();
            }
            if (n == 9999) {
                spin(100);
                at10k = procStatusKb("VmRSS");
            }
        }
        spin(200);
        const qint64 at100k = procStatusKb("VmRSS");
        note(QStringLiteral("VmRSS: before %1 kB, after 10,000 frames %2 kB, after 100,000 frames %3 kB; rows kept %4")
                     .arg(before).arg(at10k).arg(at100k).arg(log->rowCount()));
        row(QStringLiteral("memory growth, frame log + open monitor, 100,000 frames (rows kept: %1)").arg(log->rowCount()),
            QStringLiteral("%1 kB").arg(at100k - before),
            QStringLiteral("%1 kB after 10,000 frames").arg(at10k - before),
            ratio(double(at100k - before), double(at10k - before)), QStringLiteral("bounded"));
    }
    return 0;
}
