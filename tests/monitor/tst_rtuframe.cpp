// Frames and their texts: the CRC against published examples, request frames and reply lengths
// as the Modbus application protocol defines them, and the monitor's summaries.
#include "framecapture.h"
#include "frametext.h"
#include "modbuscrc.h"
#include "rtuframe.h"

#include <QtTest>

using testcrc::frame;

class tst_RtuFrame : public QObject
{
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void requestFrames_data();
    void requestFrames();
    void replyLength_data();
    void replyLength();
    void summary_data();
    void summary();
};

void tst_RtuFrame::crc_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("crc"); // low byte first
    // Published examples; the second is the worked example of the Modbus serial line guide.
    QTest::newRow("01 03 00 00 00 0A") << QByteArray::fromHex("01030000000A") << QByteArray::fromHex("C5CD");
    QTest::newRow("11 03 00 6B 00 03") << QByteArray::fromHex("1103006B0003") << QByteArray::fromHex("7687");
    QTest::newRow("01 83 02") << QByteArray::fromHex("018302") << QByteArray::fromHex("C0F1");
}

void tst_RtuFrame::crc()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, crc);
    QCOMPARE(rtu::withCrc(data), data + crc);
    QCOMPARE(frame(testcrc::hex(data)), data + crc); // the tests' own CRC agrees
    QVERIFY(rtu::hasValidCrc(data + crc));
    QVERIFY(!rtu::hasValidCrc(data + QByteArray(2, '\0')));
}

void tst_RtuFrame::requestFrames_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values"); // a read takes their count
    QTest::addColumn<QByteArray>("expected");
    using V = QVector<quint16>;
    const int coils = QModbusDataUnit::Coils;
    const int holding = QModbusDataUnit::HoldingRegisters;
    QTest::newRow("read holding 0..2") << false << holding << 0 << V(3) << frame("01 03 00 00 00 03");
    QTest::newRow("read coils 0..7") << false << coils << 0 << V(8) << frame("01 01 00 00 00 08");
    QTest::newRow("one coil on: function 5") << true << coils << 2 << V{ 0xFF00 } << frame("01 05 00 02 FF 00");
    // Coils 0, 2 and 8 on: bytes 0x05, 0x01, least significant bit first.
    QTest::newRow("ten coils: function 15") << true << coils << 0 << V{ 1, 0, 1, 0, 0, 0, 0, 0, 1, 0 }
                                            << frame("01 0F 00 00 00 0A 02 05 01");
    QTest::newRow("two registers: function 16") << true << holding << 10 << V{ 700, 800 }
                                                << frame("01 10 00 0A 00 02 04 02 BC 03 20");
    QTest::newRow("input registers cannot be written")
            << true << int(QModbusDataUnit::InputRegisters) << 0 << V{ 1 } << QByteArray();
}

void tst_RtuFrame::requestFrames()
{
    QFETCH(bool, write);
    QFETCH(int, area);
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(QByteArray, expected);
    const QModbusDataUnit unit(QModbusDataUnit::RegisterType(area), start, values);
    QCOMPARE(testcrc::hex(write ? rtu::writeRequest(unit, 1) : rtu::readRequest(unit, 1)), testcrc::hex(expected));
}

void tst_RtuFrame::replyLength_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("length");
    QTest::newRow("server byte only") << QByteArray::fromHex("01") << int(rtu::NeedMore);
    QTest::newRow("read 3 registers: 5 + 6") << QByteArray::fromHex("010306") << 11;
    QTest::newRow("exception: 5") << QByteArray::fromHex("0183") << 5;
    QTest::newRow("FIFO queue: 6 + 2-byte count") << QByteArray::fromHex("01180006") << 12;
    QTest::newRow("device identification: no length field") << QByteArray::fromHex("012B0E") << int(rtu::Unknown);
}

void tst_RtuFrame::replyLength()
{
    QFETCH(QByteArray, start);
    QFETCH(int, length);
    QCOMPARE(rtu::replyLength(start), length);
}

void tst_RtuFrame::summary_data()
{
    using Kind = CapturedFrame::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("retry");
    QTest::addColumn<QString>("text"); // direction, then summary
    const QByteArray read = frame("01 03 00 00 00 03");
    const QByteArray readFar = frame("01 03 00 1E 00 01");
    QTest::newRow("retry") << int(Kind::Request) << read << read << 1
                           << "发送 超时重发（第 1 次） 读保持寄存器 地址 0 数量 3";
    QTest::newRow("broadcast coil") << int(Kind::Request) << frame("00 05 00 02 FF 00") << QByteArray() << 0
                                    << "发送 广播 写单个线圈 地址 2 值 ON";
    QTest::newRow("read reply, address from its request") << int(Kind::Reply) << frame("01 03 06 14 4C 00 19 23 28")
                                                          << read << 0 << "接收 读保持寄存器 应答 地址 0 数量 3";
    QTest::newRow("write reply, from its echo") << int(Kind::Reply) << frame("01 06 00 0A 01 F4") << QByteArray() << 0
                                                << "接收 写单个寄存器 应答 地址 10 值 500";
    QTest::newRow("exception") << int(Kind::Exception) << frame("01 83 02") << readFar << 0
                               << "接收 异常应答 02 非法数据地址（读保持寄存器 地址 30 数量 1）";
    QTest::newRow("bad CRC, both CRCs as they travel") << int(Kind::BadCrc) << frame("01 83 02", true) << readFar << 0
                                                       << "接收 帧损坏：CRC 校验错误（收到 3F AB，应为 C0 F1），已丢弃";
    QTest::newRow("fragment") << int(Kind::Fragment) << QByteArray::fromHex("01030614") << read << 0
                              << "接收 帧不完整（4 字节），已丢弃";
    QTest::newRow("another server") << int(Kind::Unexpected) << frame("02 03 02 00 01") << read << 0
                                    << "接收 站号 2 与请求的站号 1 不符，已丢弃";
    QTest::newRow("another function") << int(Kind::Unexpected) << frame("01 04 02 00 01") << read << 0
                                      << "接收 功能码 04 与请求的功能码 03 不符，已丢弃";
    QTest::newRow("timeout") << int(Kind::Timeout) << QByteArray() << read << 1
                             << "— 应答超时，已重发 1 次，放弃：读保持寄存器 地址 0 数量 3";
}

void tst_RtuFrame::summary()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, request);
    QFETCH(int, retry);
    QFETCH(QString, text);
    CapturedFrame f;
    f.kind = CapturedFrame::Kind(kind);
    f.bytes = bytes;
    f.request = request;
    f.retry = quint8(retry);
    QCOMPARE(frameDirectionText(f) + QLatin1Char(' ') + frameSummary(f), text);
}

QTEST_GUILESS_MAIN(tst_RtuFrame)
#include "tst_rtuframe.moc"
