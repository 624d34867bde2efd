// rurodur-poll as a user runs it: exit status and messages for bad arguments and for what
// cannot be used, and the CSV it writes against sensor-sim, read back, also after SIGTERM.
#include "simfixture.h"
#include "testfiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

const QString sample = QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx");
const QString holdingSheet = QStringLiteral("保持寄存器");
const QByteArray utf8Bom("\xEF\xBB\xBF");
// sensor-sim --static, registers 0..2 decoded by the sample workbook's rules.
const QString staticFields = QStringLiteral("5196us,25℃,900.0mm");

struct Run
{
    int status = -1;
    bool crashed = false;
    QByteArray out;
    QString err;
};

Run poll(const QStringList &arguments, int timeoutMs = 20000)
{
    QProcess process;
    process.start(QStringLiteral(RURODUR_POLL_PATH), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitCode();
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.out = process.readAllStandardOutput();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// `port` is a serial port, or "tcp:" and the value of --tcp.
QStringList baseArguments(const QString &port, const QString &workbook = sample,
                          const QString &sheet = holdingSheet)
{
    const bool tcp = port.startsWith(QLatin1String("tcp:"));
    return { tcp ? "--tcp" : "--port", tcp ? port.mid(4) : port, "--device", "1",
             "--workbook", workbook, "--sheet", sheet };
}

// The lines of a CSV that starts with the byte-order mark; empty when it does not.
QStringList csvLines(const QByteArray &data)
{
    if (!data.startsWith(utf8Bom) || !data.endsWith("\r\n"))
        return {};
    QStringList lines = QString::fromUtf8(data.mid(utf8Bom.size())).split(QStringLiteral("\r\n"));
    lines.removeLast(); // after the last line end
    return lines;
}

} // namespace

class tst_Poll : public QObject
{
    Q_OBJECT

private slots:
    void badArguments_data();
    void badArguments();
    void help();
    void cannotRun_data();
    void cannotRun();
    void pollsToStandardOutput_data();
    void pollsToStandardOutput();
    void silentDeviceReadsNothing();
    void linesReachAPipeAtOnce();
    void signalLeavesCompleteFile_data();
    void signalLeavesCompleteFile();
};

void tst_Poll::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason"); // the first line, then the usage
    const QStringList base = baseArguments(QStringLiteral("/dev/null"));
    QTest::newRow("no arguments") << QStringList() << "--port is required";
    QTest::newRow("unknown option") << base + QStringList{ "--speed", "5" } << "Unknown option 'speed'.";
    QTest::newRow("stray argument") << base + QStringList{ "extra" } << "unexpected argument 'extra'";
    QTest::newRow("parity x") << base + QStringList{ "--parity", "x" }
                              << "--parity: 'x' is not none, even, odd, space or mark";
    QTest::newRow("count 126") << base + QStringList{ "--count", "126" }
                               << "--count 126 is more than one read of holding registers (function 3) "
                                  "carries: at most 125";
    QTest::newRow("start 65535 count 2") << base + QStringList{ "--start", "65535", "--count", "2" }
                                         << "--start 65535 with --count 2 reaches past address 65535";
    QTest::newRow("csv empty") << base + QStringList{ "--csv", "" }
                               << "--csv needs a file name (without --csv the CSV goes to standard output)";
    QTest::newRow("polls and seconds") << base + QStringList{ "--polls", "5", "--seconds", "5" }
                                       << "give --polls or --seconds, not both";
    const QStringList tcp = baseArguments(QStringLiteral("tcp:[::1]:1502"));
    QTest::newRow("tcp and port") << tcp + QStringList{ "--port", "/dev/null" }
                                  << "--port does not go with --tcp";
    QTest::newRow("tcp and baud") << tcp + QStringList{ "--baud", "9600" } << "--baud does not go with --tcp";
    QTest::newRow("tcp port 0") << baseArguments(QStringLiteral("tcp:h:0"))
                                << "--tcp: 'h:0' is not HOST, HOST:PORT or [IPV6]:PORT (port 1 to 65535)";
    QTest::newRow("tcp unit 256") << tcp + QStringList{ "--device", "256" }
                                  << "--device: '256' is not a number from 0 to 255";
}

void tst_Poll::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    const Run run = poll(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY(run.out.isEmpty());
    const QStringList lines = run.err.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("rurodur-poll: ") + reason);
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("usage: rurodur-poll --port PORT")), qPrintable(run.err));
}

void tst_Poll::help()
{
    const Run run = poll({ QStringLiteral("--help") });
    QCOMPARE(run.status, 0);
    QVERIFY(run.err.isEmpty());
    const QString text = QString::fromUtf8(run.out);
    QVERIFY(text.startsWith(QStringLiteral("usage: rurodur-poll")));
    for (const char *name : { "--baud", "--parity", "--stop", "--start", "--count", "--period", "--polls",
                              "--seconds", "--csv", "Exit status" })
        QVERIFY2(text.contains(QLatin1String(name)), name);
}

void tst_Poll::cannotRun_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("message");
    const QString missing = QStringLiteral(RURODUR_SOURCE_DIR "/no/such/workbook.xlsx");
    const QString registers = QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx");
    QTest::newRow("missing port") << "/nonexistent/ttyRURO" << sample << holdingSheet
                                  << "rurodur-poll: cannot open serial port /nonexistent/ttyRURO: ";
    QTest::newRow("nothing listens on the port") << "tcp:127.0.0.1:1" << sample << holdingSheet
                                                 << "rurodur-poll: cannot connect to Modbus TCP 127.0.0.1:1: ";
    QTest::newRow("missing workbook") << "/dev/null" << missing << holdingSheet
                                      << "rurodur-poll: cannot read workbook " + missing
                                                 + ": not an existing .xlsx file";
    QTest::newRow("unknown sheet") << "/dev/null" << sample << "无此表"
                                   << "rurodur-poll: workbook " + sample + " has no sheet named \"无此表\" "
                                              "(its sheets: 保持寄存器, 输入寄存器, 线圈, 离散输入)";
    QTest::newRow("sheet of no register area") << "/dev/null" << registers << "notes"
                                               << "rurodur-poll: sheet \"notes\" names no register area "
                                                  "(coil/线圈, disc/离散, hold/保持 or input/输入)";
    // --csv is a symbolic or a hard link to a copy of the sample, which must stay as it was.
    QTest::newRow("csv is the workbook") << "/dev/null" << "link" << holdingSheet << "rurodur-poll: --csv ";
    QTest::newRow("csv is a hard link of the workbook") << "/dev/null" << "hard link" << holdingSheet
                                                        << "rurodur-poll: --csv ";
}

void tst_Poll::cannotRun()
{
    QFETCH(QString, port);
    QFETCH(QString, workbook);
    QFETCH(QString, sheet);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString csv = dir.filePath(QStringLiteral("out.csv"));
    const bool linked = workbook.endsWith(QLatin1String("link"));
    if (linked) {
        const bool hard = workbook.startsWith(QLatin1String("hard"));
        workbook = dir.filePath(QStringLiteral("book.xlsx"));
        QVERIFY(QFile::copy(sample, workbook));
        QVERIFY(hard ? ::link(QFile::encodeName(workbook).constData(), QFile::encodeName(csv).constData()) == 0
                     : QFile::link(workbook, csv));
        message += csv + QStringLiteral(" is the workbook ") + workbook;
    }
    const Run run = poll(baseArguments(port, workbook, sheet) + QStringList{ "--csv", csv });
    QCOMPARE(run.status, 1);
    QVERIFY(!run.crashed);
    // One line: the reason, and no usage after it.
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    // Nothing is written before everything could be opened.
    QVERIFY(linked ? fileData(workbook) == fileData(sample) : !QFile::exists(csv));
}

void tst_Poll::pollsToStandardOutput_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("serial port") << false;
    QTest::newRow("Modbus TCP, [::1]:PORT") << true;
}

void tst_Poll::pollsToStandardOutput()
{
    QFETCH(bool, tcp);
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(tcp ? sim.startTcp({ QStringLiteral("--static") }, QStringLiteral("::1"))
                 : sim.start({ QStringLiteral("--static") }), qPrintable(sim.errorString()));
    const QString link = tcp ? QStringLiteral("tcp:[::1]:%1").arg(sim.tcpPort()) : sim.clientPort();
    const Run run = poll(baseArguments(link) + QStringList{ "--count", "3", "--period", "0", "--polls", "5" });
    QCOMPARE(run.status, 0);
    const QStringList lines = csvLines(run.out);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), QStringLiteral("时间,0 飞行时间,1 温度,2 距离"));
    const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3},"));
    for (int i = 1; i < lines.size(); ++i) {
        QVERIFY2(time.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(lines.at(i).section(QLatin1Char(','), 1), staticFields);
    }
    QVERIFY2(run.err.startsWith(QStringLiteral("rurodur-poll: 5 requests in ")), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("replies 5, exception replies 0, timeouts 0")), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("CSV: 5 lines to standard output")), qPrintable(run.err));
    QVERIFY(sim.waitForRequests(5));
    QCOMPARE(sim.requests().size(), 5);
}

void tst_Poll::silentDeviceReadsNothing()
{
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ "--static", "--address", "17" }), qPrintable(sim.errorString()));
    const Run run = poll(baseArguments(sim.clientPort()) + QStringList{ "--polls", "1" });
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.startsWith("rurodur-poll: nothing was read: no normal reply from device 1 to 1 request\n"),
             qPrintable(run.err));
}

void tst_Poll::linesReachAPipeAtOnce()
{
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ QStringLiteral("--static") }), qPrintable(sim.errorString()));
    QProcess process;
    process.start(QStringLiteral(RURODUR_POLL_PATH),
                  baseArguments(sim.clientPort()) + QStringList{ "--count", "3", "--period", "100" });
    // Lines as they are read (a stdio buffer of 4 KiB would fill after some 9 s).
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).count('\n') >= 3, 5000);
    QCOMPARE(process.state(), QProcess::Running);
    // Killed outright after N requests: every reply but the last one's is in the pipe.
    const int n = sim.requests().size() + 5;
    QVERIFY(sim.waitForRequests(n, 10000));
    process.kill();
    QVERIFY(process.waitForFinished(10000));
    const QStringList lines = csvLines(out + process.readAllStandardOutput());
    QVERIFY2(lines.size() - 1 >= n - 1, qPrintable(QString::number(lines.size())));
}

void tst_Poll::signalLeavesCompleteFile_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringList();
    QTest::newRow("SIGHUP") << int(SIGHUP) << QStringList();
    // Beyond 32-bit milliseconds: the run goes on, and no timer warning comes before the summary.
    QTest::newRow("SIGINT with --seconds 3000000") << int(SIGINT) << QStringList{ "--seconds", "3000000" };
}

void tst_Poll::signalLeavesCompleteFile()
{
    QFETCH(int, signal);
    QFETCH(QStringList, arguments);
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ QStringLiteral("--static") }), qPrintable(sim.errorString()));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("run.csv"));
    QProcess process;
    process.start(QStringLiteral(RURODUR_POLL_PATH),
                  baseArguments(sim.clientPort()) + arguments
                          + QStringList{ "--count", "3", "--period", "0", "--csv", csv });
    QVERIFY(process.waitForStarted());
    // The header and at least 20 replies are on disk before the signal.
    QTRY_VERIFY_WITH_TIMEOUT(fileData(csv).count('\n') > 20, 10000);
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    const QStringList lines = csvLines(fileData(csv)); // ends with a whole line
    QVERIFY2(lines.size() > 20, qPrintable(QString::number(lines.size())));
    for (int i = 1; i < lines.size(); ++i)
        QCOMPARE(lines.at(i).section(QLatin1Char(','), 1), staticFields);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("CSV: %1 lines to %2").arg(lines.size() - 1).arg(csv)), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("damaged replies 0, retries 0")), qPrintable(err));
    QVERIFY2(QRegularExpression(QStringLiteral("^rurodur-poll: \\d+ requests in ")).match(err).hasMatch(), qPrintable(err));
}

QTEST_GUILESS_MAIN(tst_Poll)
#include "tst_poll.moc"
