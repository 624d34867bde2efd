// The frames on the line, byte for byte, for a session without a window: against sensor-sim
// with its fault options, and against a scripted device for what the simulator never sends
// (another server, another function, fragments, trailing bytes). Expected frames are built
// with the tests' own CRC (modbuscrc.h).
#include "capturefixture.h"
#include "modbuscrc.h"
#include "simfixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// sensor-sim's factory reading (--static): flight time 5196 us, 25 degrees, 900.0 mm.
const QString staticReply = QStringLiteral("01 03 06 14 4C 00 19 23 28");
const QString readThree = QStringLiteral("01 03 00 00 00 03");

QString kindName(CapturedFrame::Kind kind)
{
    static const char *const names[] = { "Request", "Reply", "Exception", "BadCrc",
                                         "Fragment", "Unexpected", "Timeout", "Failure" };
    return QLatin1String(names[int(kind)]);
}

// "Request#1 01 03 00 00 00 03 05 CB": kind, retry count (requests and timeouts), bytes.
QString describe(const CapturedFrame &frame)
{
    QString text = kindName(frame.kind);
    if (frame.kind == CapturedFrame::Kind::Request || frame.kind == CapturedFrame::Kind::Timeout)
        text += QStringLiteral("#%1").arg(frame.retry);
    if (!frame.bytes.isEmpty())
        text += QLatin1Char(' ') + testcrc::hex(frame.bytes);
    return text;
}

QString sent(const QString &hex, int retry = 0)
{
    return QStringLiteral("Request#%1 ").arg(retry) + testcrc::hex(testcrc::frame(hex));
}

QString received(const QString &kind, const QByteArray &bytes)
{
    return kind + QLatin1Char(' ') + testcrc::hex(bytes);
}

QStringList describeAll(const QList<CapturedFrame> &frames)
{
    QStringList lines;
    for (const CapturedFrame &frame : frames)
        lines << describe(frame);
    return lines;
}

// A pty pair on which the test plays the device: each 8-byte request is answered with the
// next scripted answer (raw bytes, sent in one write), or not at all once the script is used up.
class ScriptedLine
{
public:
    bool start(const QList<QByteArray> &answers)
    {
        m_answers = answers;
        const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socat.isEmpty() || !m_dir.isValid())
            return false;
        m_socat.start(socat, { QStringLiteral("pty,raw,echo=0,link=") + devicePort(),
                               QStringLiteral("pty,raw,echo=0,link=") + clientPort() });
        if (!m_socat.waitForStarted(5000))
            return false;
        if (!QTest::qWaitFor([this] { return QFileInfo::exists(devicePort()) && QFileInfo::exists(clientPort()); },
                             5000))
            return false;
        m_device.setPortName(devicePort());
        if (!m_device.open(QIODevice::ReadWrite))
            return false;
        QObject::connect(&m_device, &QSerialPort::readyRead, &m_device, [this] {
            m_pending += m_device.readAll();
            while (m_pending.size() >= 8) {
                m_pending.remove(0, 8);
                if (m_next < m_answers.size())
                    m_device.write(m_answers.at(m_next));
                ++m_next;
            }
        });
        return true;
    }

    ~ScriptedLine()
    {
        m_device.close();
        m_socat.terminate();
        m_socat.waitForFinished(3000);
    }

    QString clientPort() const { return m_dir.filePath(QStringLiteral("client")); }
    QString devicePort() const { return m_dir.filePath(QStringLiteral("device")); }

private:
    QTemporaryDir m_dir{ QDir::tempPath() + QStringLiteral("/scripted-XXXXXX") };
    QProcess m_socat;
    QSerialPort m_device;
    QList<QByteArray> m_answers;
    QByteArray m_pending;
    int m_next = 0;
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
    void writesAndBroadcasts_data();
    void writesAndBroadcasts();
    void disabledCaptureLeavesTheClientAlone();
};

void tst_FrameCapture::againstSensor_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("warmUps"); // good reads of 0..2 before the one observed
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("expected");
    const QString reply = received(QStringLiteral("Reply"), testcrc::frame(staticReply));
    const QString readFar = QStringLiteral("01 03 00 1E 00 01");

    QTest::newRow("good exchange") << QStringList{ "--static" } << 0 << 0 << 3
                                   << QStringList{ sent(readThree), reply };
    QTest::newRow("exception 02 for register 30")
            << QStringList{ "--static", "--exception", "30:2" } << 0 << 30 << 1
            << QStringList{ sent(readFar), received("Exception", testcrc::frame("01 83 02")) };
    QTest::newRow("every reply dropped: retry, then timeout")
            << QStringList{ "--static", "--drop-every", "1" } << 0 << 0 << 3
            << QStringList{ sent(readThree), sent(readThree, 1), "Timeout#1" };
    QTest::newRow("dropped once, answered on the retry")
            << QStringList{ "--static", "--drop-every", "2" } << 1 << 0 << 3
            << QStringList{ sent(readThree), sent(readThree, 1), reply };
    QTest::newRow("every CRC corrupted: both replies damaged, then timeout")
            << QStringList{ "--static", "--corrupt-crc-every", "1" } << 0 << 0 << 3
            << QStringList{ sent(readThree), received("BadCrc", testcrc::corrupted(staticReply)),
                            sent(readThree, 1), received("BadCrc", testcrc::corrupted(staticReply)),
                            "Timeout#1" };
    QTest::newRow("CRC corrupted once, answered on the retry")
            << QStringList{ "--static", "--corrupt-crc-every", "2" } << 1 << 0 << 3
            << QStringList{ sent(readThree), received("BadCrc", testcrc::corrupted(staticReply)),
                            sent(readThree, 1), reply };
    QTest::newRow("exception with a corrupted CRC, then intact")
            << QStringList{ "--static", "--exception", "30:2", "--corrupt-crc-every", "2" } << 1 << 30 << 1
            << QStringList{ sent(readFar), received("BadCrc", testcrc::corrupted("01 83 02")),
                            sent(readFar, 1), received("Exception", testcrc::frame("01 83 02")) };
}

void tst_FrameCapture::againstSensor()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, warmUps);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QStringList, expected);

    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    for (int i = 0; i < warmUps; ++i)
        QCOMPARE(fx.read(QModbusDataUnit::HoldingRegisters, 0, 3).result, ReplyOutcome::Result::Normal);
    QTRY_COMPARE(fx.frames.size(), 2 * warmUps);
    fx.takeFrames();

    fx.read(QModbusDataUnit::HoldingRegisters, start, count);
    QTRY_COMPARE_WITH_TIMEOUT(fx.frames.size(), expected.size(), 3000);
    QCOMPARE(describeAll(fx.frames), expected);
    // Every frame knows the request it belongs to.
    const QByteArray request = testcrc::frame(start == 0 ? readThree : QStringLiteral("01 03 00 1E 00 01"));
    for (const CapturedFrame &frame : qAsConst(fx.frames))
        QCOMPARE(testcrc::hex(frame.request), testcrc::hex(request));
}

void tst_FrameCapture::droppedByTheClient_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QStringList>("expected");
    const QByteArray good = testcrc::frame(staticReply);
    const QString reply = received(QStringLiteral("Reply"), good);

    const QByteArray otherServer = testcrc::frame(QStringLiteral("02 03 06 14 4C 00 19 23 28"));
    QTest::newRow("reply from server 2, then from server 1")
            << QList<QByteArray>{ otherServer, good }
            << QStringList{ sent(readThree), received("Unexpected", otherServer), sent(readThree, 1), reply };
    const QByteArray otherFunction = testcrc::frame(QStringLiteral("01 04 06 14 4C 00 19 23 28"));
    QTest::newRow("reply for function 4, then for 3")
            << QList<QByteArray>{ otherFunction, good }
            << QStringList{ sent(readThree), received("Unexpected", otherFunction), sent(readThree, 1), reply };
    const QByteArray fragment = testcrc::bytes(QStringLiteral("01 03 06 14"));
    QTest::newRow("four bytes of a reply, then a whole one")
            << QList<QByteArray>{ fragment, good }
            << QStringList{ sent(readThree), received("Fragment", fragment), sent(readThree, 1), reply };
    const QByteArray trailing = testcrc::bytes(QStringLiteral("FF FF"));
    QTest::newRow("reply with two bytes after it")
            << QList<QByteArray>{ good + trailing }
            << QStringList{ sent(readThree), reply, received("Fragment", trailing) };
}

void tst_FrameCapture::droppedByTheClient()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QStringList, expected);
    ScriptedLine line;
    QVERIFY(line.start(answers));
    CaptureFixture fx;
    QVERIFY(fx.open(line.clientPort()));

    const ReplyOutcome outcome = fx.read(QModbusDataUnit::HoldingRegisters, 0, 3);
    QCOMPARE(outcome.result, ReplyOutcome::Result::Normal);
    QCOMPARE(outcome.unit.values(), (QVector<quint16>{ 5196, 25, 9000 }));
    QTRY_COMPARE_WITH_TIMEOUT(fx.frames.size(), expected.size(), 3000);
    QCOMPARE(describeAll(fx.frames), expected);
}

void tst_FrameCapture::writesAndBroadcasts_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one register, echoed")
            << 1 << QVector<quint16>{ 700 }
            << QStringList{ sent("01 06 00 0A 02 BC"), received("Reply", testcrc::frame("01 06 00 0A 02 BC")) };
    QTest::newRow("two registers, echoed as address and count")
            << 1 << QVector<quint16>{ 700, 800 }
            << QStringList{ sent("01 10 00 0A 00 02 04 02 BC 03 20"),
                            received("Reply", testcrc::frame("01 10 00 0A 00 02")) };
    QTest::newRow("broadcast: sent, nobody answers")
            << 0 << QVector<quint16>{ 700 } << QStringList{ sent("00 06 00 0A 02 BC") };
}

void tst_FrameCapture::writesAndBroadcasts()
{
    QFETCH(int, server);
    QFETCH(QVector<quint16>, values);
    QFETCH(QStringList, expected);
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ QStringLiteral("--static") }), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    const ReplyOutcome outcome =
            fx.exchange(RequestKind::Write, QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 10, values), server);
    QCOMPARE(outcome.result, server == 0 ? ReplyOutcome::Result::Broadcast : ReplyOutcome::Result::Normal);
    QTRY_COMPARE_WITH_TIMEOUT(fx.frames.size(), expected.size(), 3000);
    QCOMPARE(describeAll(fx.frames), expected);
    QVERIFY(sim.waitForRequests(1));
}

void tst_FrameCapture::disabledCaptureLeavesTheClientAlone()
{
    SimFixture sim(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(sim.start({ QStringLiteral("--static") }), qPrintable(sim.errorString()));
    CaptureFixture fx;
    QVERIFY(fx.open(sim.clientPort()));
    fx.capture.setEnabled(false);
    for (int i = 0; i < 3; ++i) {
        const ReplyOutcome outcome = fx.read(QModbusDataUnit::HoldingRegisters, 0, 3);
        QCOMPARE(outcome.unit.values(), (QVector<quint16>{ 5196, 25, 9000 }));
    }
    QCOMPARE(fx.frames.size(), 0);

    // On again, mid-session: the next exchange is seen whole.
    fx.capture.setEnabled(true);
    fx.read(QModbusDataUnit::HoldingRegisters, 0, 3);
    QTRY_COMPARE(fx.frames.size(), 2);
    QCOMPARE(describeAll(fx.frames),
             (QStringList{ sent(readThree), received("Reply", testcrc::frame(staticReply)) }));
}

QTEST_GUILESS_MAIN(tst_FrameCapture)
#include "tst_framecapture.moc"
