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
// Usage: bench_monitor [seconds]: each comparison runs 4 x seconds paired rounds of one second.
// Prints "ROW |" lines for bench/run.

#include "benchsupport.h"
#include "windowcycle.h"
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

#include <malloc.h>
#include <sys/resource.h>

using namespace bench;

namespace {

const int registers = 10;
const int baud = 115200;


// Runs the event loop for `ms`, blocking in it as a program does, not polling it.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Paired rounds of a reference and a measured figure, alternated so that bursts of load on the
// machine hit both alike; the ratio is the median of the rounds' ratios.
struct Pairs
{
    QVector<double> reference, measured, ratios;
    void add(double ref, double value)
    {
        reference << ref;
        measured << value;
        ratios << (ref > 0 && value >= 0 ? value / ref : -1);
    }
    static double mean(const QVector<double> &v)
    {
        double sum = 0;
        for (double x : v)
            sum += x;
        return v.isEmpty() ? -1 : sum / v.size();
    }
    double medianRatio() const { return ratios.contains(-1) ? -1 : median(ratios); }
};

// CPU seconds (user + system) of this process, or of its ended children.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
double windowCycle(MainWindow &window, int ms)
{
    if (!prepareCycle(window, registers))
        return -1;
    const double result = cycleRate(window, ms);
    spin(50);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(false);
    return result;
}

// Replies per second, and replies, of a bare client that sends the next request from the event
// loop as soon as the previous reply is in.
QPair<double, int> bareLoop(const QString &port, int ms)
{
    QModbusRtuSerialMaster client;
    if (!connectClient(client, port, baud))
        return { -1, 0 };
    const LoopResult result = backToBackReads(client, registers, [ms] { runFor(ms); });
    client.disconnectDevice();
    return { result.rate, result.replies };
}

// Replies per second, and replies, of rurodur-poll at period 0 for `ms` (it stops at the whole
// second below, at least 1), from the lines of its CSV; with `ms` 0 it polls once.
QPair<double, int> pollRate(const QString &port, const QString &workbook, const QString &csv, int ms)
{
    const int seconds = qMax(1, ms / 1000);
    QProcess poll;
    poll.start(QStringLiteral(RURODUR_POLL_PATH),
               { "--port", port, "--device", "1", "--workbook", workbook, "--sheet", "保持寄存器",
                 "--count", QString::number(registers), "--period", "0",
                 ms == 0 ? "--polls" : "--seconds", ms == 0 ? "1" : QString::number(seconds), "--csv", csv });
    if (!poll.waitForFinished(seconds * 1000 + 15000) || poll.exitCode() != 0)
        return { -1, 0 };
    QFile file(csv);
    if (!file.open(QIODevice::ReadOnly))
        return { -1, 0 };
    const int lines = file.readAll().count('\n') - 1; // the header
    return { lines / double(seconds), lines };
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
    prepareEnvironment();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    // Short rounds, many of them: the machine's load comes in bursts.
    const int rounds = 4 * seconds;
    const int roundMs = 1000;

    QTemporaryDir dir;
    if (!enterScratchDir(dir))
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
        if (!line.start(dir.path(), simArgs))
            return 1;
        MyConfig::serialName = line.clientPort;
        const QString label = QStringLiteral("replies/s, %1 holding regs, period 0, line emulation %2")
                                      .arg(registers).arg(emulate ? "on" : "off");
        const QString mode = emulate ? QStringLiteral("emulation on") : QStringLiteral("emulation off");
        {
            MainWindow window;
            window.show();
            auto *recorder = window.findChild<CsvRecorder *>(QStringLiteral("csvRecorder"));
            auto *table = window.findChild<ProtocolTable *>(QStringLiteral("protocolTable"));

            Pairs monitoring;
            for (int round = 0; round < rounds; ++round) {
                setMonitoring(window, false);
                const double off = windowCycle(window, roundMs);
                setMonitoring(window, true);
                const double on = windowCycle(window, roundMs);
                note(QStringLiteral("%1, round %2: monitoring off %3/s, on %4/s")
                             .arg(mode).arg(round + 1).arg(off, 0, 'f', 1).arg(on, 0, 'f', 1));
                monitoring.add(off, on);
            }
            row(label + QStringLiteral(", window — frame capture + statistics + open monitor vs all off "
                                       "(median of %1 paired rounds)").arg(rounds),
                rate(Pairs::mean(monitoring.measured)), rate(Pairs::mean(monitoring.reference)),
                fixed(monitoring.medianRatio(), 3), QStringLiteral("≥ 0.95"));

            // Recording with the capture and statistics on, the monitor closed.
            setMonitoring(window, true);
            for (QWidget *monitor : window.findChildren<QWidget *>(QStringLiteral("TrafficMonitor")))
                monitor->close();
            Pairs recordingPairs;
            qint64 lines = 0;
            for (int round = 0; round < rounds; ++round) {
                const double plain = windowCycle(window, roundMs);
                recorder->start(dir.filePath(QStringLiteral("rec%1.csv").arg(round)), table,
                                { QModbusDataUnit::HoldingRegisters, 0, registers });
                const double recording = windowCycle(window, roundMs);
                lines += recorder->lineCount();
                recorder->stop();
                note(QStringLiteral("%1, round %2: recording off %3/s, on %4/s")
                             .arg(mode).arg(round + 1).arg(plain, 0, 'f', 1).arg(recording, 0, 'f', 1));
                recordingPairs.add(plain, recording);
            }
            note(QStringLiteral("%1: recorded %2 CSV lines").arg(mode).arg(lines));
            row(label + QStringLiteral(", window — CSV recording on vs off (median of %1 paired rounds)").arg(rounds),
                rate(Pairs::mean(recordingPairs.measured)), rate(Pairs::mean(recordingPairs.reference)),
                fixed(recordingPairs.medianRatio(), 3), QStringLiteral("≥ 0.95"));
        }

        // rurodur-poll's processor time per reply, less that of a run of one poll (start-up,
        // workbook, exit), against the bare loop's in this process.
        const QString csv = dir.filePath(QStringLiteral("poll.csv"));
        double before = cpuSeconds(RUSAGE_CHILDREN);
        pollRate(line.clientPort, workbook, csv, 0);
        const double fixedCost = cpuSeconds(RUSAGE_CHILDREN) - before;
        // Rounds of two seconds here: the poller's first exchange after opening the port must
        // not weigh much in a round.
        const int pollRounds = seconds + 1;
        Pairs polling, cpu;
        for (int round = 0; round < pollRounds; ++round) {
            before = cpuSeconds(RUSAGE_SELF);
            const auto bare = bareLoop(line.clientPort, 2000);
            const double bareCpu = (cpuSeconds(RUSAGE_SELF) - before) / qMax(1, bare.second);
            before = cpuSeconds(RUSAGE_CHILDREN);
            const auto poll = pollRate(line.clientPort, workbook, csv, 2000);
            const double pollCpu = (cpuSeconds(RUSAGE_CHILDREN) - before - fixedCost) / qMax(1, poll.second);
            note(QStringLiteral("%1, round %2: bare %3/s (%4 us CPU per reply), rurodur-poll %5/s (%6 us)")
                         .arg(mode).arg(round + 1).arg(bare.first, 0, 'f', 1).arg(bareCpu * 1e6, 0, 'f', 0)
                         .arg(poll.first, 0, 'f', 1).arg(pollCpu * 1e6, 0, 'f', 0));
            polling.add(bare.first, poll.first);
            cpu.add(bareCpu * 1e6, pollCpu * 1e6);
        }
        const double poll = Pairs::mean(polling.measured);
        row(label + QStringLiteral(" — rurodur-poll (CSV to a file) vs bare Qt loop (median of %1 paired rounds)")
                            .arg(pollRounds),
            rate(poll), rate(Pairs::mean(polling.reference)), fixed(polling.medianRatio(), 3), QStringLiteral("≥ 0.95"));
        row(QStringLiteral("processor time per reply, %1 holding regs, period 0, line emulation %2 — rurodur-poll "
                           "vs bare Qt loop (in this benchmark's process)")
                    .arg(registers).arg(emulate ? "on" : "off"),
            fixed(Pairs::mean(cpu.measured), 0) + QStringLiteral(" µs"),
            fixed(Pairs::mean(cpu.reference), 0) + QStringLiteral(" µs"), fixed(cpu.medianRatio(), 2),
            QStringLiteral("—"));
        if (!emulate) {
            const double mbpoll = mbpollRate(line.clientPort, baud, registers, 11, seconds);
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
        // Heap in use, which counts what the log holds, unlike the resident size, which keeps
        // pages the allocator has been given back.
        const auto heapKb = [] { return qint64(mallinfo2().uordblks / 1024); };
        const qint64 before = heapKb();
        qint64 at10k = -1;
        for (int n = 0; n < 100000; ++n) {
            log->append(syntheticFrame(n));
            if (n % 500 == 499) {
                log->flush();
                QCoreApplication::processEvents();
            }
            if (n == 9999)
                at10k = heapKb();
        }
        spin(200);
        const qint64 at100k = heapKb();
        note(QStringLiteral("heap in use: before %1 kB, after 10,000 frames %2 kB, after 100,000 frames %3 kB; "
                            "resident %4 kB; rows kept %5")
                     .arg(before).arg(at10k).arg(at100k).arg(procStatusKb("VmRSS")).arg(log->rowCount()));
        row(QStringLiteral("memory, heap in use by the frame log + open monitor after 100,000 frames "
                           "(rows kept: %1)").arg(log->rowCount()),
            QStringLiteral("+%1 kB").arg(at100k - before),
            QStringLiteral("+%1 kB after 10,000 frames").arg(at10k - before),
            ratio(double(at100k - before), double(at10k - before)), QStringLiteral("bounded"));
    }
    return 0;
}
