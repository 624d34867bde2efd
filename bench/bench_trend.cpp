// The trend chart's cost and memory.
//
// Throughput: the main window reads holding registers 0..21 of sensor-sim (moving values) at
// period 0, with the trend chart open on 8 of those rows and with it closed, rounds alternating.
//
// Memory: the chart is fed an hour of replies for its 8 lines in simulated time, at the rate
// measured with the chart open, and redrawn; the points held and the growth of the resident
// set are set against what an unthinned hour would take.
//
// Usage: bench_trend [seconds-per-round]. Prints "ROW |" lines for bench/run; never fails on a figure.

#include "benchsupport.h"
#include "windowcycle.h"
#include "mainwindow.h"
#include "myconfig.h"
#include "protocoltable.h"
#include "trendchart.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

using namespace bench;

namespace {

// Flight time, temperature, distance, status word, counter, lower limit, distance in metres
// (F32), flight time in ns (U32).
const QList<int> tracedRows = { 0, 1, 2, 3, 8, 10, 14, 16 };
const int readCount = 22;

TrendChart *openChart(MainWindow &window)
{
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    table->clearSelection();
    for (int row : tracedRows)
        table->setRangeSelected(QTableWidgetSelectionRange(row, 0, row, 0), true);
    window.findChild<QAction *>(QStringLiteral("actiontrend"))->trigger();
    const QList<TrendChart *> charts = window.findChildren<TrendChart *>();
    return charts.size() == 1 ? charts.first() : nullptr;
}

void closeChart(MainWindow &window)
{
    const QList<TrendChart *> charts = window.findChildren<TrendChart *>();
    for (TrendChart *chart : charts)
        chart->close();
    waitFor([&] { return window.findChildren<TrendChart *>().isEmpty(); }, 3000);
}

// Replies per second of the window's own cycle at period 0.
double windowCycle(MainWindow &window, int seconds)
{
    const double rate = cycleRate(window, seconds * 1000);
    spin(100);
    return rate;
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    const int rounds = 5;

    QTemporaryDir dir;
    if (!enterScratchDir(dir))
        return 1;
    const QString workbook = dir.filePath(QStringLiteral("modbus.xlsx"));
    QFile::copy(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"), workbook);

    SimLine line;
    if (!line.start(dir.path(), {}))
        return 1;
    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_trend");
    MyConfig::serialName = line.clientPort;
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = QStringLiteral("保持寄存器");

    double openSum = 0, closedSum = 0;
    double memoryRate = 0;
    {
        MainWindow window;
        window.show();
        if (!prepareCycle(window, readCount)) {
            note(QStringLiteral("cannot open the line"));
            return 1;
        }

        for (int round = 0; round < rounds; ++round) {
            const double closed = windowCycle(window, seconds);
            TrendChart *chart = openChart(window);
            if (!chart || chart->recorder().traces().size() != tracedRows.size()) {
                note(QStringLiteral("the trend chart did not open with 8 lines"));
                return 1;
            }
            spin(300); // shown and laid out
            const double open = windowCycle(window, seconds);
            closeChart(window);
            note(QStringLiteral("round %1: chart closed %2/s, chart open with 8 lines %3/s")
                     .arg(round + 1).arg(closed, 0, 'f', 1).arg(open, 0, 'f', 1));
            closedSum += closed;
            openSum += open;
        }
        const double open = openSum / rounds;
        const double closed = closedSum / rounds;
        row(QStringLiteral("replies/s, holding regs 0..21, period 0, trend chart with 8 lines open "
                           "— vs chart closed"),
            rate(open), rate(closed), ratio(open, closed), QStringLiteral("≥ 0.9"));
        memoryRate = open;

        // The chart's own work per redraw, while the window reads: the lines rebuilt from the
        // series, then painted.
        TrendChart *chart = openChart(window);
        spin(300);
        auto *read = window.findChild<QPushButton *>(QStringLiteral("pushButton_read"));
        read->setChecked(true);
        spin(seconds * 1000);
        read->setChecked(false);
        spin(100);
        auto *view = chart->findChild<QWidget *>(QStringLiteral("chartView"));
        QVector<double> refreshMs, paintMs;
        for (int i = 0; i < 40; ++i) {
            QElapsedTimer timer;
            timer.start();
            chart->refresh();
            refreshMs.append(timer.nsecsElapsed() / 1e6);
            timer.start();
            view->grab();
            paintMs.append(timer.nsecsElapsed() / 1e6);
        }
        const double perSecond = (median(refreshMs) + median(paintMs)) * 1000.0 / TrendChart::redrawIntervalMs;
        row(QStringLiteral("trend chart redraw, 8 lines, 1-minute span, %1 points recorded: rebuild + paint, "
                           "every %2 ms")
                .arg(chart->recorder().pointCount()).arg(TrendChart::redrawIntervalMs),
            QStringLiteral("%1 + %2 ms").arg(fixed(median(refreshMs), 2), fixed(median(paintMs), 2)),
            QStringLiteral("%1 ms of CPU per second").arg(fixed(perSecond, 1)),
            fixed(perSecond / 1000, 3), QStringLiteral("—"));

        // An hour of replies at that rate, in simulated time ending now.
        window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(false);
        auto *model = window.findChild<ProtocolTable *>(QStringLiteral("protocolTable"));
        const qint64 rssBefore = procStatusKb("VmRSS");
        const qint64 replies = qint64(memoryRate * 3600);
        const qint64 end = QDateTime::currentMSecsSinceEpoch();
        const qint64 start = end - 3600 * 1000;
        QVector<quint16> values(readCount);
        QElapsedTimer feedTimer;
        feedTimer.start();
        int largest = 0;
        for (qint64 n = 0; n < replies; ++n) {
            const double t = double(n) / memoryRate;
            // A sensor-like reading: distance, temperature and flight time move; words 14..17 hold
            // the float and the 32-bit integer of the same distance.
            const quint16 distance = quint16(9000 + 6000 * std::sin(t * 2 * M_PI / 30));
            values[0] = quint16(distance * 0.58);
            values[1] = quint16(25 + 5 * std::sin(t * 2 * M_PI / 300));
            values[2] = distance;
            values[3] = 1;
            values[8] = quint16(n);
            values[10] = 500;
            const float metres = distance / 10000.0f;
            quint32 bits;
            std::memcpy(&bits, &metres, sizeof bits);
            values[14] = quint16(bits >> 16);
            values[15] = quint16(bits);
            const quint32 ns = quint32(distance) * 580;
            values[16] = quint16(ns);
            values[17] = quint16(ns >> 16);
            chart->takeReply(model->applyReply(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, values),
                                               0, values.size()),
                             start + qint64(t * 1000));
            if (n % 4096 == 0)
                largest = qMax(largest, chart->recorder().pointCount());
        }
        const double feedSeconds = feedTimer.elapsed() / 1000.0;
        chart->refresh();
        spin(300);
        largest = qMax(largest, chart->recorder().pointCount());
        const qint64 rssAfter = procStatusKb("VmRSS");
        const int held = chart->recorder().pointCount();
        const double heldKb = held * double(sizeof(TrendPoint)) / 1024;
        const double unthinnedKb = double(replies) * tracedRows.size() * sizeof(TrendPoint) / 1024;
        note(QStringLiteral("memory: %1 replies fed in %2 s (%3 us each), %4 points held at the end, "
                            "at most %5 on the way")
                 .arg(replies).arg(feedSeconds, 0, 'f', 2)
                 .arg(feedSeconds * 1e6 / qMax<qint64>(1, replies), 0, 'f', 2).arg(held).arg(largest));
        row(QStringLiteral("trend points after 1 h (simulated) of 8 lines at %1 replies/s")
                .arg(fixed(memoryRate, 0)),
            QStringLiteral("%1 points, %2 KiB").arg(held).arg(fixed(heldKb, 0)),
            QStringLiteral("unthinned %1 points, %2 KiB").arg(replies * tracedRows.size())
                    .arg(fixed(unthinnedKb, 0)),
            fixed(heldKb / unthinnedKb, 4), QStringLiteral("bounded"));
        row(QStringLiteral("resident memory growth over that hour (chart redrawn once)"),
            QStringLiteral("%1 KiB").arg(rssAfter - rssBefore),
            QStringLiteral("RSS before %1 KiB, after %2 KiB").arg(rssBefore).arg(rssAfter),
            QStringLiteral("—"), QStringLiteral("—"));
    }
    return 0;
}
