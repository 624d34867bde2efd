// Measures, against sensor-sim over a socat pty pair:
//  1. replies handled per second by the main window's read cycle at period 0, next to a bare
//     QModbusRtuSerialMaster loop on the same line in the same run (ratio window / bare);
//  2. the time the reply handler spends on a 127-register holding reply with a rule per row.
// Prints figures; never fails on them. Usage: bench_modbus [seconds-per-round]

#include "mainwindow.h"
#include "myconfig.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

const int registerCount = 10;
const int handlerRegisters = 127;

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

bool makeWorkbook(const QString &path)
{
    // A holding sheet of 130 registers, each with a rule, written by openpyxl.
    const QString script = QStringLiteral(
        "import openpyxl, sys\n"
        "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'hold'\n"
        "ws.append(['地址', '名称', '16进制', '10进制', '显示', 'JSON解析'])\n"
        "rules = ['{\"unit\":\"us\"}', '{\"signed\":true,\"unit\":\"C\"}', '{\"dot\":1,\"unit\":\"mm\"}',\n"
        "         '[{\"bits\":\"0:7\"},{\"bits\":\"8:15\",\"maps\":{\"0\":\"idle\",\"others\":\"busy\"}}]']\n"
        "for a in range(130): ws.append([a, 'r%d' % a, None, None, None, rules[a % 4]])\n"
        "wb.save(sys.argv[1])\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), script, path });
    return python.waitForFinished(30000) && python.exitCode() == 0 && QFile::exists(path);
}

struct Line
{
    QProcess socat;
    QProcess sim;
    QString clientPort;

    bool start(const QString &dir)
    {
        const QString a = dir + QStringLiteral("/ptyA");
        const QString b = dir + QStringLiteral("/ptyB");
        socat.start(QStringLiteral("socat"),
                    { QStringLiteral("pty,raw,echo=0,link=") + a,
                      QStringLiteral("pty,raw,echo=0,link=") + b });
        if (!waitFor([&] { return QFile::exists(a) && QFile::exists(b); }, 5000))
            return false;
        const QString ready = dir + QStringLiteral("/ready");
        sim.start(QStringLiteral(SENSOR_SIM_PATH),
                  { QStringLiteral("--static"), QStringLiteral("--set"),
                    QStringLiteral("hr:0=125,0xFF38,1234"), QStringLiteral("--ready-file"), ready, a });
        if (!waitFor([&] { return QFile::exists(ready); }, 5000))
            return false;
        clientPort = b;
        return true;
    }

    ~Line()
    {
        for (QProcess *p : { &sim, &socat }) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(3000))
                    p->kill();
                p->waitForFinished(1000);
            }
        }
    }
};

// The reference: the client alone, each request sent as soon as the previous reply is in.
// `fromHandler` sends it from inside the finished() handler; otherwise on the next pass of
// the event loop, as the window's zero-period timer does.
double bareLoop(const QString &port, int seconds, bool fromHandler)
{
    QModbusRtuSerialMaster client;
    client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, port);
    client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, 115200);
    client.setConnectionParameter(QModbusDevice::SerialParityParameter, 0);
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
            QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, registerCount), 1);
        if (!reply)
            return;
        QObject::connect(reply, &QModbusReply::finished, &client, [&, reply] {
            if (reply->error() == QModbusDevice::NoError)
                ++replies;
            reply->deleteLater();
            if (running && fromHandler)
                send();
            else if (running)
                QTimer::singleShot(0, &client, send);
        });
    };
    QElapsedTimer timer;
    timer.start();
    send();
    waitFor([&] { return timer.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    running = false;
    const double rate = replies * 1000.0 / timer.elapsed();
    waitFor([] { return false; }, 100); // let the last reply drain
    client.disconnectDevice();
    return rate;
}

double windowCycle(MainWindow &window, int seconds)
{
    auto *connect = window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"));
    auto *read = window.findChild<QPushButton *>(QStringLiteral("pushButton_read"));
    auto *repeat = window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"));
    auto *period = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_period"));
    auto *addr = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsAddrRead"));
    auto *len = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsLenRead"));
    addr->setText(QStringLiteral("0"));
    len->setText(QString::number(registerCount));
    period->setText(QStringLiteral("0"));
    repeat->setChecked(true);
    connect->setChecked(true);
    if (!connect->isChecked())
        return -1;

    int replies = 0;
    const QString normal = QStringLiteral("通讯：数据回复，正常");
    auto counter = QObject::connect(window.statusBar(), &QStatusBar::messageChanged,
                                    [&](const QString &text) { replies += text == normal; });
    QElapsedTimer timer;
    timer.start();
    read->setChecked(true);
    waitFor([&] { return timer.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    read->setChecked(false);
    const double rate = replies * 1000.0 / timer.elapsed();
    QObject::disconnect(counter);
    waitFor([] { return false; }, 100);
    connect->setChecked(false);
    return rate;
}

QVector<double> handlerCost(MainWindow &window, int iterations)
{
    auto *addr = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsAddrRead"));
    auto *len = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_regsLenRead"));
    addr->setText(QStringLiteral("0"));
    len->setText(QString::number(handlerRegisters));
    // The handlers copy the fields into the read window.
    QMetaObject::invokeMethod(addr, "editingFinished");
    QMetaObject::invokeMethod(len, "editingFinished");

    QVector<double> microseconds;
    QElapsedTimer timer;
    for (int n = 0; n < iterations; ++n) {
        QVector<quint16> values(handlerRegisters);
        for (int i = 0; i < handlerRegisters; ++i)
            values[i] = quint16(n * 7 + i * 13); // every cell changes every time
        auto *reply = new QModbusReply(QModbusReply::Common, 1);
        reply->setResult(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, values));
        QObject::connect(reply, SIGNAL(finished()), &window, SLOT(modbusReadReadySlot()));
        timer.start();
        reply->setFinished(true); // runs the handler directly
        microseconds.append(timer.nsecsElapsed() / 1000.0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return microseconds;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 3;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    const QString workbook = dir.filePath(QStringLiteral("bench.xlsx"));
    if (!makeWorkbook(workbook)) {
        std::fprintf(stderr, "cannot write the workbook (needs /usr/bin/python3 with openpyxl)\n");
        return 1;
    }
    Line line;
    if (!line.start(dir.path())) {
        std::fprintf(stderr, "cannot start socat and sensor-sim\n");
        return 1;
    }

    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_modbus");
    MyConfig::serialName = line.clientPort;
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::protocolFile = workbook;
    MyConfig::regsType = QStringLiteral("hold");

    double bareTotal = 0;
    double windowTotal = 0;
    {
        MainWindow window;
        // Alternate the two loops so drift on the machine hits both alike.
        const int rounds = 3;
        for (int round = 0; round < rounds; ++round) {
            const double bareHandler = bareLoop(line.clientPort, seconds, true);
            const double bare = bareLoop(line.clientPort, seconds, false);
            const double cycle = windowCycle(window, seconds);
            std::printf("round %d: bare loop %.1f replies/s (%.1f sending from the handler), "
                        "window cycle %.1f replies/s\n",
                        round + 1, bare, bareHandler, cycle);
            bareTotal += qMax(bare, bareHandler);
            windowTotal += cycle;
        }
        std::printf("read cycle at period 0, %d holding registers: window %.1f/s, faster bare loop "
                    "%.1f/s, ratio %.3f\n",
                    registerCount, windowTotal / rounds, bareTotal / rounds,
                    bareTotal > 0 ? windowTotal / bareTotal : 0.0);

        const QVector<double> cost = handlerCost(window, 2000);
        std::printf("reply handler, %d holding registers with rules: median %.1f us, "
                    "90th percentile %.1f us over %d replies\n",
                    handlerRegisters, median(cost),
                    [&] { QVector<double> s = cost; std::sort(s.begin(), s.end());
                          return s.at(s.size() * 9 / 10); }(),
                    int(cost.size()));
    }
    return 0;
}
