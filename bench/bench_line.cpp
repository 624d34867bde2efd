// Read-cycle throughput and reply-handling cost against sensor-sim over a socat pty pair.
//
// Throughput, with the simulator's 115200 8N1 line timing off and on, and with its values held
// still or changing on every reply: the real main window (repeat ticked, period 0, driven
// through its widgets) next to a bare QModbusRtuSerialMaster loop, an mbpoll loop and the line's
// physical limit, all in this run. The window has a fixed size and font, so what it paints is
// the same on every machine.
//
// Reply handling: the window reads 125 holding registers that all carry rules. Every event
// delivery is timed from outside (QApplication::notify); the deliveries in which a reply was
// handled are kept; between replies the bench blanks the value cells, so every reply changes
// every cell. The same is done for the bare client, whose handler does nothing, so the
// difference of the medians is what the window's reply handling adds.
//
// Usage: bench_line [seconds-per-round]. Prints "ROW |" lines for bench/run; never fails on a figure.

#include "autosizehold.h"
#include "benchsupport.h"
#include "mainwindow.h"
#include "modbussession.h"
#include "myconfig.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QHeaderView>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace bench;

namespace {

const int pollRegisters = 10;
// The window reads up to 127 registers, but libmodbus, on which sensor-sim stands, answers at most
// 125 per read; 127 are timed with a reply made in-process (directHandlerCost).
const int handlerRegisters = 125;
const int fieldMaxRegisters = 127;
const int baud = 115200;
const QString normalText = QStringLiteral("通讯：数据回复，正常");
// The window's size and font: painting costs what the visible cells and glyphs cost, so a
// stored geometry or another default font would change the figures from machine to machine.
const QSize windowSize(1280, 800);
const char windowFont[] = "WenQuanYi Micro Hei";
const int windowFontPoints = 9;

// A main window as every run sees it: the geometry store is not asked.
void pinWindow(MainWindow &window)
{
    window.resize(windowSize);
    window.show();
}

// Times every outermost event delivery while `timing` is set; a delivery during which
// `markReply()` was called counts as one handled reply.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!timing || depth > 0)
            return QApplication::notify(receiver, event);
        ++depth;
        replyInDelivery = false;
        QElapsedTimer timer;
        timer.start();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = timer.nsecsElapsed();
        --depth;
        if (replyInDelivery)
            replyDeliveries.append(ns / 1000.0);
        return result;
    }

    void markReply() { replyInDelivery = true; }

    bool timing = false;
    QVector<double> replyDeliveries;

private:
    int depth = 0;
    bool replyInDelivery = false;
};

TimingApplication *timingApp()
{
    return static_cast<TimingApplication *>(QCoreApplication::instance());
}

bool makeWorkbook(const QString &path)
{
    // A holding sheet of 130 registers, every one with a rule, written by openpyxl.
    const QString script = QStringLiteral(
        "import openpyxl, sys\n"
        "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'hold'\n"
        "ws.append(['地址', '名称', '16进制', '10进制', '显示', 'JSON解析'])\n"
        "rules = ['{\"unit\":\"us\"}', '{\"signed\":true,\"unit\":\"C\"}',\n"
        "         '{\"dot\":1,\"unit\":\"mm\"}', '{\"type\":\"BCD\",\"dot\":2}',\n"
        "         '[{\"bits\":\"0:7\"},{\"bits\":\"8:15\",\"maps\":{\"0\":\"idle\",\"others\":\"busy\"}}]']\n"
        "for a in range(130): ws.append([a, 'r%d' % a, None, None, None, rules[a % 5]])\n"
        "wb.save(sys.argv[1])\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), script, path });
    return python.waitForFinished(60000) && python.exitCode() == 0 && QFile::exists(path);
}

// Replies per second of a client that sends the next request from the event loop as soon as the
// previous reply is in (as the window's timer at period 0 does).
double bareLoop(const QString &port, int count, int seconds, bool timeReplies)
{
    QModbusRtuSerialMaster client;
    if (!connectClient(client, port, baud))
        return -1;
    QElapsedTimer timer;
    timer.start();
    timingApp()->timing = timeReplies;
    const LoopResult result = backToBackReads(
            client, count,
            [&] {
                waitFor([&] { return timer.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
                timingApp()->timing = false;
            },
            [timeReplies] {
                if (timeReplies)
                    timingApp()->markReply();
            });
    client.disconnectDevice();
    return result.rate;
}

// Empties the hex, decimal and display cells of the first `rows` rows, holding the columns'
// widths meanwhile (see the reply handling).
void blankValueCells(QTableWidget *table, int rows)
{
    QHeaderView *header = table->horizontalHeader();
    QList<int> columns;
    for (int c = 0; c < table->columnCount(); ++c) {
        const QString title = table->horizontalHeaderItem(c) ? table->horizontalHeaderItem(c)->text() : QString();
        if (title.contains(QStringLiteral("16进制")) || title.contains(QStringLiteral("10进制"))
            || title.contains(QStringLiteral("显示")))
            columns.append(c);
    }
    const AutoSizeHold hold(header);
    for (int r = 0; r < qMin(rows, table->rowCount()); ++r) {
        for (int c : columns) {
            if (QTableWidgetItem *item = table->item(r, c))
                item->setText(QString());
        }
    }
}

struct WindowControls
{
    explicit WindowControls(MainWindow &window)
    {
        connect = window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"));
        read = window.findChild<QPushButton *>(QStringLiteral("pushButton_read"));
        repeat = window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"));
        period = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_period"));
        addr = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsAddrRead"));
        len = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsLenRead"));
        status = window.statusBar();
    }
    QPushButton *connect;
    QPushButton *read;
    QCheckBox *repeat;
    QLineEdit *period;
    QLineEdit *addr;
    QLineEdit *len;
    QStatusBar *status;
};

// Replies per second of the window's own cycle at period 0, reading `count` registers.
double windowCycle(MainWindow &window, int count, int seconds, bool timeReplies)
{
    WindowControls w(window);
    // Typed and confirmed as a user would, so the field handlers set the read window.
    w.addr->setText(QStringLiteral("0"));
    emit w.addr->editingFinished();
    w.len->setText(QString::number(count));
    emit w.len->editingFinished();
    w.period->setText(QStringLiteral("0"));
    emit w.period->editingFinished();
    w.repeat->setChecked(true);
    w.connect->setChecked(true);
    if (!w.connect->isChecked())
        return -1;

    int replies = 0;
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    auto counter = QObject::connect(w.status, &QStatusBar::messageChanged, [&](const QString &text) {
        if (text == normalText) {
            ++replies;
            if (timeReplies) {
                timingApp()->markReply();
                // The simulator holds still; blanking the value cells after each reply makes the
                // next one change every cell, the costly case.
                QTimer::singleShot(0, table, [table, count] { blankValueCells(table, count); });
            }
        }
    });
    QElapsedTimer timer;
    timer.start();
    timingApp()->timing = timeReplies;
    w.read->setChecked(true);
    waitFor([&] { return timer.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    w.read->setChecked(false);
    timingApp()->timing = false;
    const double rate = replies * 1000.0 / timer.elapsed();
    QObject::disconnect(counter);
    spin(50);
    w.connect->setChecked(false);
    return rate;
}

// The slot's own cost for a reply of `count` holding registers, timed around a reply made
// in-process and finished directly, every value different from the one before.
QVector<double> directHandlerCost(MainWindow &window, int count, int iterations)
{
    WindowControls w(window);
    auto *session = window.findChild<ModbusSession *>(QStringLiteral("modbusSession"));
    w.addr->setText(QStringLiteral("0"));
    emit w.addr->editingFinished();
    w.len->setText(QString::number(count));
    emit w.len->editingFinished();

    QVector<double> microseconds;
    QElapsedTimer timer;
    for (int n = 0; n < iterations; ++n) {
        QVector<quint16> values(count);
        for (int i = 0; i < count; ++i)
            values[i] = quint16(n * 7 + i * 13);
        auto *reply = new QModbusReply(QModbusReply::Common, 1);
        reply->setResult(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, values));
        session->adoptReply(reply, RequestKind::Read, 1);
        timer.start();
        reply->setFinished(true); // emits finished(): the session handles it and the window shows it
        microseconds.append(timer.nsecsElapsed() / 1000.0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return microseconds;
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    TimingApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;
    const int rounds = 3;

    QTemporaryDir dir;
    if (!enterScratchDir(dir))
        return 1;
    const QString workbook = dir.filePath(QStringLiteral("bench.xlsx"));
    if (!makeWorkbook(workbook)) {
        note(QStringLiteral("cannot write the workbook (needs /usr/bin/python3 with openpyxl)"));
        return 1;
    }

    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_line");
    MyConfig::serialBaudrate = baud;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = QStringLiteral("hold");

    QApplication::setFont(QFont(QString::fromLatin1(windowFont), windowFontPoints));
    const QFontInfo font(QApplication::font());
    note(QStringLiteral("window %1x%2, font %3 %4 pt")
             .arg(windowSize.width()).arg(windowSize.height()).arg(font.family()).arg(font.pointSize()));

    // Request 8 bytes; reply address, function, byte count, 2 bytes per register, CRC.
    const double limit = physicalPollsPerSecond(8, 5 + 2 * pollRegisters, baud, 10);

    for (const bool changing : { false, true }) {
    for (const bool emulate : { false, true }) {
        SimLine line;
        QStringList simArgs;
        if (!changing)
            simArgs << QStringLiteral("--static");
        if (emulate)
            simArgs << QStringLiteral("--emulate-line");
        if (!line.start(dir.path(), simArgs))
            return 1;
        MyConfig::serialName = line.clientPort;
        double windowSum = 0, bareSum = 0;
        {
            MainWindow window;
            pinWindow(window);
            // Alternate the loops so drift on the machine hits both alike.
            for (int round = 0; round < rounds; ++round) {
                const double bare = bareLoop(line.clientPort, pollRegisters, seconds, false);
                const double ours = windowCycle(window, pollRegisters, seconds, false);
                note(QStringLiteral("values %1, emulation %2, round %3: window %4/s, bare %5/s")
                         .arg(changing ? "changing" : "still", emulate ? "on" : "off")
                         .arg(round + 1).arg(ours, 0, 'f', 1).arg(bare, 0, 'f', 1));
                windowSum += ours;
                bareSum += bare;
            }
        }
        const double ours = windowSum / rounds;
        const double bare = bareSum / rounds;
        const QString label = QStringLiteral("replies/s, %1 holding regs, period 0, values %2, line emulation %3")
                                  .arg(pollRegisters).arg(changing ? "changing" : "still", emulate ? "on" : "off");
        row(label + QStringLiteral(" — vs bare Qt loop"), rate(ours), rate(bare), ratio(ours, bare),
            QStringLiteral("≥ 0.95"));
        if (changing)
            continue;
        const double mbpoll = mbpollRate(line.clientPort, baud, pollRegisters, 11, seconds);
        row(label + QStringLiteral(" — vs mbpoll -l 11 (its shortest poll interval, not back to back)"),
            rate(ours), rate(mbpoll), ratio(ours, mbpoll), QStringLiteral("—"));
        if (emulate) {
            row(label + QStringLiteral(" — vs physical limit 115200 8N1"), rate(ours), rate(limit),
                ratio(ours, limit), QStringLiteral("≥ 0.9"));
            row(QStringLiteral("replies/s, bare Qt loop, line emulation on — vs physical limit"),
                rate(bare), rate(limit), ratio(bare, limit), QStringLiteral("—"));
            // QModbusRtuSerialMaster waits its inter-frame delay (at least 2 ms whatever the baud
            // rate) before each request, on top of the frames themselves.
            const double qtCeiling = 1.0 / (1.0 / limit + 0.002);
            row(label + QStringLiteral(" — vs Qt client ceiling (frames + its 2 ms minimum inter-frame delay)"),
                rate(ours), rate(qtCeiling), ratio(ours, qtCeiling), QStringLiteral("—"));
        }
    }
    }

    // Reply handling, timed from outside on the real pipeline.
    {
        SimLine line;
        if (!line.start(dir.path(), { QStringLiteral("--static") }))
            return 1;
        MyConfig::serialName = line.clientPort;
        QVector<double> windowSamples, bareSamples;
        {
            MainWindow window;
            pinWindow(window);
            for (int round = 0; round < rounds; ++round) {
                timingApp()->replyDeliveries.clear();
                bareLoop(line.clientPort, handlerRegisters, seconds, true);
                bareSamples += timingApp()->replyDeliveries;
                timingApp()->replyDeliveries.clear();
                windowCycle(window, handlerRegisters, seconds, true);
                windowSamples += timingApp()->replyDeliveries;
            }
            timingApp()->replyDeliveries.clear();

            const QVector<double> direct = directHandlerCost(window, fieldMaxRegisters, 2000);
            row(QStringLiteral("reply handling, %1 holding regs with rules, reply made in-process, "
                               "median over %2 replies")
                    .arg(fieldMaxRegisters).arg(direct.size()),
                fixed(median(direct) / 1000.0, 3) + QStringLiteral(" ms"),
                QStringLiteral("90th percentile %1 ms").arg(fixed(percentile(direct, 90) / 1000.0, 3)),
                QStringLiteral("—"), QStringLiteral("< 1 ms"));
        }
        const double ours = median(windowSamples);
        const double bare = median(bareSamples);
        note(QStringLiteral("reply deliveries: window %1 (median %2 us, p90 %3 us), bare %4 (median %5 us, p90 %6 us)")
                 .arg(windowSamples.size()).arg(ours, 0, 'f', 1).arg(percentile(windowSamples, 90), 0, 'f', 1)
                 .arg(bareSamples.size()).arg(bare, 0, 'f', 1).arg(percentile(bareSamples, 90), 0, 'f', 1));
        row(QStringLiteral("reply handling, %1 holding regs with rules, median over %2 replies "
                           "(window's delivery − bare client's)")
                .arg(handlerRegisters).arg(windowSamples.size()),
            fixed((ours - bare) / 1000.0, 3) + QStringLiteral(" ms"),
            QStringLiteral("bare delivery %1 ms, window delivery %2 ms").arg(fixed(bare / 1000.0, 3), fixed(ours / 1000.0, 3)),
            QStringLiteral("—"), QStringLiteral("≤ 0.25 ms"));
    }
    return 0;
}
