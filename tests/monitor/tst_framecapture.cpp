// The frames on the line, byte for byte, for a session without a window: against sensor-sim with
// its fault options, and against a scripted device for what the simulator never sends (another
// server, fragments, trailing bytes). Expected frames carry the tests' own CRC (modbuscrc.h).
#include "capturefixture.h"
#include "frametext.h"
#include "modbuscrc.h"
#include "simfixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// sensor-sim's factory reading (--static): flight time 5196 us, 25 degrees, 900.0 mm.
const QString reading = QStringLiteral("01 03 06 14 4C 00 19 23 28");
const QString readThree = QStringLiteral("01 03 00 00 00 03");

// "Request#1 01 03 ...": kind, the retry count of sendings and timeouts, bytes.
QStringList describe(const QList<CapturedFrame> &frames)
{
    static const char *const names[] = { "Request", "Reply", "Exception", "BadCrc",
                                         "Fragment", "Unexpected", "Timeout", "Failure", "BadLength" };
    QStringList lines;
    for (const CapturedFrame &f : frames) {
        QString text = QLatin1String(names[int(f.kind)]);
        if (f.kind == CapturedFrame::Kind::Request || f.kind == CapturedFrame::Kind::Timeout)
            text += QStringLiteral("#%1").arg(f.retry);
        if (!f.bytes.isEmpty())
            text += QLatin1Char(' ') + testcrc::hex(f.bytes);
        lines << text;
    }
    return lines;
}

QString sent(const QString &hex, int retry = 0)
{
    return QStringLiteral("Request#%1 ").arg(retry) + testcrc::hex(testcrc::frame(hex));
}

QString got(const char *kind, const QByteArray &bytes)
{
    return QLatin1String(kind) + QLatin1Char(' ') + testcrc::hex(bytes);
}

// A pty pair on which the test plays the device: each 8-byte request gets the next scripted
// answer in one write, or nothing once the script is used up.
class ScriptedLine
{
public:
    bool start(const QList<QByteArray> &answers)
    {
        m_answers = answers;
        m_socat.start(QStringLiteral("socat"), { "pty,raw,echo=0,link=" + m_dir.filePath("device"),
                                                 "pty,raw,echo=0,link=" + clientPort() });
        if (!m_socat.waitForStarted(5000)
            || !QTest::qWaitFor([this] { return QFileInfo::exists(m_dir.filePath("device")); }, 5000))
            return false;
        m_device.setPortName(m_dir.filePath(QStringLiteral("device")));
        QObject::connect(&m_device, &QSerialPort::readyRead, &m_device, [this] {
            m_pending += m_device.readAll();
            for (; m_pending.size() >= 8; m_pending.remove(0, 8)) {
                if (!m_answers.isEmpty())
                    m_device.write(m_answers.takeFirst());
            }
        });
        return m_device.open(QIODevice::ReadWrite);
    }
    ~ScriptedLine()
    {
        m_device.close();
        m_socat.terminate();
        m_socat.waitForFinished(3000);
    }
    QString clientPort() const { return m_dir.filePath(QStringLiteral("client")); }

private:
    QTemporaryDir m_dir{ QDir::tempPath() + QStringLiteral("/scripted-XXXXXX") };
    QProcess m_socat;
    QSerialPort m_device;
    QList<QByteArray> m_answers;
    QByteArray m_pending;
};

} // namespace

class tst_FrameCapture : public QObject
{
    Q_OBJECT

private slots:
    void againstSensor_data();
    void againstSensor();
    void droppedByTheClient_data();
    void droppedByTheClient();
    void broadcastIsSentOnly();
    void overTcp();
};

void tst_FrameCapture::againstSensor_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("expected"); // for the second of two reads of 3 registers
    const QString reply = got("Reply", testcrc::frame(reading));
    const QString readFar = QStringLiteral("01 03 00 1E 00 03");
    QTest::newRow("good exchange") << QStringList{ "--static" } << 0 << QStringList{ sent(readThree), reply };
    QTest::newRow("exception 02 for register 30")
            << QStringList{ "--static", "--exception", "30:2" } << 30
            << QStringList{ sent(readFar), got("Exception", testcrc::frame("01 83 02")) };
    QTest::newRow("every reply dropped: retry, then timeout")
            << QStringList{ "--static", "--drop-every", "1" } << 0
            << QStringList{ sent(readThree), sent(readThree, 1), "Timeout#1" };
    // Counted by sensor-sim: the first read takes request or reply 1, the second one 2.
    QTest::newRow("dropped once, answered on the retry") << QStringList{ "--static", "--drop-every", "2" } << 0
                                                         << QStringList{ sent(readThree), sent(readThree, 1), reply };
    QTest::newRow("CRC corrupted once, answered on the retry")
            << QStringList{ "--static", "--corrupt-crc-every", "2" } << 0
            << QStringList{ sent(readThree), got("BadCrc", testcrc::frame(reading, true)), sent(readThree, 1), reply };
    QTest::newRow("exception with a corrupted CRC, then intact")
            << QStringList{ "--static", "--exception", "30:2", "--corrupt-crc-every", "2" } << 30
            << QStringList{ sent(readFar), got("BadCrc", testcrc::frame("01 83 02", true)), sent(readFar, 1),
                            got("Exception", testcrc::frame("01 83 02")) };
}

void tst_FrameCapture::againstSensor()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, start);
    QFETCH(QStringList, expected);
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    fx.read(start, 3);
    QTRY_VERIFY(!fx.frames.isEmpty());
    fx.frames.clear();

    fx.read(start, 3);
    QTRY_COMPARE_WITH_TIMEOUT(fx.frames.size(), expected.size(), 3000);
    QCOMPARE(describe(fx.frames), expected);
    for (const CapturedFrame &frame : qAsConst(fx.frames)) // each knows its request
        QCOMPARE(testcrc::hex(frame.request), expected.first().section(QLatin1Char(' '), 1));
}

void tst_FrameCapture::droppedByTheClient_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QStringList>("expected");
    const QByteArray good = testcrc::frame(reading);
    const QByteArray otherServer = testcrc::frame(QStringLiteral("02 03 06 14 4C 00 19 23 28"));
    QTest::newRow("reply from server 2, then from 1")
            << QList<QByteArray>{ otherServer, good }
            << QStringList{ sent(readThree), got("Unexpected", otherServer), sent(readThree, 1), got("Reply", good) };
    const QByteArray part = QByteArray::fromHex("01030614");
    QTest::newRow("four bytes of a reply, then a whole one")
            << QList<QByteArray>{ part, good }
            << QStringList{ sent(readThree), got("Fragment", part), sent(readThree, 1), got("Reply", good) };
    const QByteArray trailing = QByteArray::fromHex("FFFF");
    QTest::newRow("two bytes after the reply") << QList<QByteArray>{ good + trailing }
                                               << QStringList{ sent(readThree), got("Reply", good), got("Fragment", trailing) };
}

void tst_FrameCapture::droppedByTheClient()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QStringList, expected);
    ScriptedLine line;
    QVERIFY(line.start(answers));
    CaptureFixture fx;
    QVERIFY(fx.open(line.clientPort()));
    const ReplyOutcome outcome = fx.read(0, 3);
    QCOMPARE(outcome.unit.values(), (QVector<quint16>{ 5196, 25, 9000 })); // the client's result is intact
    QTRY_COMPARE_WITH_TIMEOUT(fx.frames.size(), expected.size(), 3000);
    QCOMPARE(describe(fx.frames), expected);
}

void tst_FrameCapture::broadcastIsSentOnly()
{
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ "--static" }), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, 10, QVector<quint16>{ 700 });
    QCOMPARE(fx.exchange(RequestKind::Write, unit, 0).result, ReplyOutcome::Result::Broadcast);
    QCOMPARE(fx.exchange(RequestKind::Write, unit, 1).result, ReplyOutcome::Result::Normal);
    QTRY_COMPARE(fx.frames.size(), 3);
    QCOMPARE(describe(fx.frames), (QStringList{ sent("00 06 00 0A 02 BC"), sent("01 06 00 0A 02 BC"),
                                                got("Reply", testcrc::frame("01 06 00 0A 02 BC")) }));
}

// The monitor's lines of two TCP exchanges: MBAP header and PDU, the transaction counted from
// 0, unit 0 answered, and an exception reply.
void tst_FrameCapture::overTcp()
{
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.startTcp({ "--static" }), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.session.open(LineSettings::tcp(QStringLiteral("127.0.0.1"), sim.tcpPort())));
    QTRY_VERIFY(fx.session.isConnected());
    QCOMPARE(fx.exchange(RequestKind::Read, QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, 3), 0)
                     .result, ReplyOutcome::Result::Normal);
    QCOMPARE(fx.read(1020, 10).exceptionCode, 2);
    QTRY_COMPARE(fx.frames.size(), 4);
    QStringList lines;
    for (const CapturedFrame &frame : qAsConst(fx.frames))
        lines << frameDirectionText(frame) + ' ' + testcrc::hex(frame.bytes) + ' ' + frameSummary(frame);
    QCOMPARE(lines, (QStringList{
        "发送 00 00 00 00 00 06 00 03 00 00 00 03 事务 0 读保持寄存器 地址 0 数量 3",
        "接收 00 00 00 00 00 09 00 03 06 14 4C 00 19 23 28 事务 0 读保持寄存器 应答 地址 0 数量 3",
        "发送 00 01 00 00 00 06 01 03 03 FC 00 0A 事务 1 读保持寄存器 地址 1020 数量 10",
        "接收 00 01 00 00 00 03 01 83 02 事务 1 异常应答 02 非法数据地址（读保持寄存器 地址 1020 数量 10）" }));
}

QTEST_GUILESS_MAIN(tst_FrameCapture)
#include "tst_framecapture.moc"
