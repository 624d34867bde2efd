// Frames and their texts: the CRC against published examples, request frames and reply
// lengths against the Modbus application protocol, and the monitor's summaries.
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
    void readRequest_data();
    void readRequest();
    void writeRequest_data();
    void writeRequest();
    void replyLength_data();
    void replyLength();
    void summary_data();
    void summary();
    void savedLine();
};

void tst_RtuFrame::crc_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("crcBytes");
    // Published examples: a read of 10 holding registers, and the example of the Modbus
    // over serial line specification (server 0x11, read 3 registers from 0x006B).
    QTest::newRow("01 03 00 00 00 0A") << "01 03 00 00 00 0A" << "C5 CD";
    QTest::newRow("spec example 11 03 00 6B 00 03") << "11 03 00 6B 00 03" << "76 87";
    QTest::newRow("exception reply 01 83 02") << "01 83 02" << "C0 F1";
}

void tst_RtuFrame::crc()
{
    QFETCH(QString, hex);
    QFETCH(QString, crcBytes);
    const QByteArray data = testcrc::bytes(hex);
    const QByteArray expected = testcrc::bytes(crcBytes);
    const quint16 wanted = quint16(quint8(expected.at(0)) | quint8(expected.at(1)) << 8);

    QCOMPARE(rtu::crc16(data.constData(), data.size()), wanted);
    QCOMPARE(testcrc::crc16(data), wanted); // the tests' own table agrees
    QCOMPARE(rtu::withCrc(data), data + expected);
    QVERIFY(rtu::hasValidCrc(data + expected));
    QVERIFY(!rtu::hasValidCrc(data + testcrc::bytes("00 00")));
}

void tst_RtuFrame::readRequest_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("server");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("holding 0..2 of server 1") << int(QModbusDataUnit::HoldingRegisters) << 0 << 3 << 1
                                              << frame("01 03 00 00 00 03");
    QTest::newRow("input 14..17 of server 247") << int(QModbusDataUnit::InputRegisters) << 14 << 4 << 247
                                                << frame("F7 04 00 0E 00 04");
    QTest::newRow("coils 0..7") << int(QModbusDataUnit::Coils) << 0 << 8 << 2 << frame("02 01 00 00 00 08");
    QTest::newRow("discrete inputs 300..426") << int(QModbusDataUnit::DiscreteInputs) << 300 << 127 << 1
                                              << frame("01 02 01 2C 00 7F");
    QTest::newRow("invalid area makes no frame") << int(QModbusDataUnit::Invalid) << 0 << 1 << 1 << QByteArray();
}

void tst_RtuFrame::readRequest()
{
    QFETCH(int, area);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, server);
    QFETCH(QByteArray, expected);
    const QModbusDataUnit unit(QModbusDataUnit::RegisterType(area), start, quint16(count));
    QCOMPARE(testcrc::hex(rtu::readRequest(unit, server)), testcrc::hex(expected));
}

void tst_RtuFrame::writeRequest_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<QByteArray>("expected");
    using V = QVector<quint16>;
    const int coils = QModbusDataUnit::Coils;
    const int holding = QModbusDataUnit::HoldingRegisters;
    QTest::newRow("one coil on: function 5, FF00") << coils << 2 << V{ 0xFF00 } << frame("01 05 00 02 FF 00");
    QTest::newRow("one coil off: function 5, 0000") << coils << 2 << V{ 0 } << frame("01 05 00 02 00 00");
    // Bits least significant first: coils 0, 2, 8 on -> bytes 0x05, 0x01.
    QTest::newRow("ten coils: function 15, two bytes")
            << coils << 0 << V{ 1, 0, 1, 0, 0, 0, 0, 0, 1, 0 } << frame("01 0F 00 00 00 0A 02 05 01");
    QTest::newRow("one register: function 6") << holding << 10 << V{ 500 } << frame("01 06 00 0A 01 F4");
    QTest::newRow("two registers: function 16")
            << holding << 10 << V{ 700, 800 } << frame("01 10 00 0A 00 02 04 02 BC 03 20");
    QTest::newRow("input registers cannot be written")
            << int(QModbusDataUnit::InputRegisters) << 0 << V{ 1 } << QByteArray();
}

void tst_RtuFrame::writeRequest()
{
    QFETCH(int, area);
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(QByteArray, expected);
    const QModbusDataUnit unit(QModbusDataUnit::RegisterType(area), start, values);
    QCOMPARE(testcrc::hex(rtu::writeRequest(unit, 1)), testcrc::hex(expected));
}

void tst_RtuFrame::replyLength_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("length");
    QTest::newRow("nothing yet") << "" << int(rtu::NeedMore);
    QTest::newRow("server byte only") << "01" << int(rtu::NeedMore);
    QTest::newRow("read registers, byte count not yet in") << "01 03" << int(rtu::NeedMore);
    QTest::newRow("read 3 registers: 5 + 6 bytes") << "01 03 06" << 11;
    QTest::newRow("read 10 coils: 5 + 2 bytes") << "01 01 02 05" << 7;
    QTest::newRow("exception reply: 5 bytes") << "01 83" << 5;
    QTest::newRow("write one register echo: 8 bytes") << "01 06" << 8;
    QTest::newRow("write several coils echo: 8 bytes") << "01 0F 00" << 8;
    QTest::newRow("mask write echo: 10 bytes") << "01 16" << 10;
    QTest::newRow("FIFO queue: 2-byte count 0x0006") << "01 18 00 06" << 12;
    QTest::newRow("device identification: no length field") << "01 2B 0E" << int(rtu::Unknown);
    QTest::newRow("unknown function 0x41") << "01 41 00" << int(rtu::Unknown);
}

void tst_RtuFrame::replyLength()
{
    QFETCH(QString, start);
    QFETCH(int, length);
    QCOMPARE(rtu::replyLength(testcrc::bytes(start)), length);
}

void tst_RtuFrame::summary_data()
{
    using Kind = CapturedFrame::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("retry");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("direction");
    QTest::addColumn<QString>("summary");

    const QByteArray read = frame("01 03 00 00 00 03");
    const QByteArray readFar = frame("01 03 00 1E 00 01");
    QTest::newRow("read request") << int(Kind::Request) << read << read << 0 << QString()
                                  << "发送" << "读保持寄存器 地址 0 数量 3";
    QTest::newRow("retry") << int(Kind::Request) << read << read << 1 << QString() << "发送"
                           << "超时重发（第 1 次） 读保持寄存器 地址 0 数量 3";
    QTest::newRow("broadcast write of a coil")
            << int(Kind::Request) << frame("00 05 00 02 FF 00") << frame("00 05 00 02 FF 00") << 0
            << QString() << "发送" << "广播 写单个线圈 地址 2 值 ON";
    QTest::newRow("read reply takes address and count from its request")
            << int(Kind::Reply) << frame("01 03 06 14 4C 00 19 23 28") << read << 0 << QString()
            << "接收" << "读保持寄存器 应答 地址 0 数量 3";
    QTest::newRow("write reply from its own echo")
            << int(Kind::Reply) << frame("01 06 00 0A 01 F4") << frame("01 06 00 0A 01 F4") << 0
            << QString() << "接收" << "写单个寄存器 应答 地址 10 值 500";
    QTest::newRow("exception with its name and request")
            << int(Kind::Exception) << frame("01 83 02") << readFar << 0 << QString() << "接收"
            << "异常应答 02 非法数据地址（读保持寄存器 地址 30 数量 1）";
    QTest::newRow("unknown exception code")
            << int(Kind::Exception) << frame("01 83 4F") << readFar << 0 << QString() << "接收"
            << "异常应答 4F 未知异常（读保持寄存器 地址 30 数量 1）";
    QTest::newRow("bad CRC names both CRCs as they travel")
            << int(Kind::BadCrc) << testcrc::corrupted("01 83 02") << readFar << 0 << QString()
            << "接收" << "帧损坏：CRC 校验错误（收到 3F AB，应为 C0 F1），已丢弃";
    QTest::newRow("fragment") << int(Kind::Fragment) << testcrc::bytes("01 03 06 14") << read << 0
                              << QString() << "接收" << "帧不完整（4 字节），已丢弃";
    QTest::newRow("another server")
            << int(Kind::Unexpected) << frame("02 03 06 14 4C 00 19 23 28") << read << 0 << QString()
            << "接收" << "站号 2 与请求的站号 1 不符，已丢弃";
    QTest::newRow("another function")
            << int(Kind::Unexpected) << frame("01 04 06 14 4C 00 19 23 28") << read << 0 << QString()
            << "接收" << "功能码 04 与请求的功能码 03 不符，已丢弃";
    QTest::newRow("no open request") << int(Kind::Unexpected) << frame("01 03 02 00 01") << QByteArray()
                                     << 0 << QString() << "接收" << "没有等待应答的请求，已丢弃";
    QTest::newRow("timeout after one retry") << int(Kind::Timeout) << QByteArray() << read << 1 << QString()
                                             << "—" << "应答超时，已重发 1 次，放弃：读保持寄存器 地址 0 数量 3";
    QTest::newRow("timeout without retries") << int(Kind::Timeout) << QByteArray() << read << 0 << QString()
                                             << "—" << "应答超时，放弃：读保持寄存器 地址 0 数量 3";
    QTest::newRow("other failure with the client's text")
            << int(Kind::Failure) << QByteArray() << read << 0 << "Reply aborted" << "—"
            << "请求失败：Reply aborted（读保持寄存器 地址 0 数量 3）";
}

void tst_RtuFrame::summary()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, request);
    QFETCH(int, retry);
    QFETCH(QString, note);
    QFETCH(QString, direction);
    QFETCH(QString, summary);
    CapturedFrame f;
    f.kind = CapturedFrame::Kind(kind);
    f.bytes = bytes;
    f.request = request;
    f.retry = quint8(retry);
    f.note = note;
    QCOMPARE(frameDirectionText(f), direction);
    QCOMPARE(frameSummary(f), summary);
}

void tst_RtuFrame::savedLine()
{
    CapturedFrame f;
    f.time = QDateTime(QDate(2024, 5, 1), QTime(12, 34, 56, 789)).toMSecsSinceEpoch();
    f.kind = CapturedFrame::Kind::Request;
    f.bytes = frame("01 03 00 00 00 03");
    f.request = f.bytes;
    QCOMPARE(frameLine(f), QStringLiteral("2024-05-01 12:34:56.789\t发送\t01 03 00 00 00 03 05 CB\t"
                                          "读保持寄存器 地址 0 数量 3"));
    QCOMPARE(frameTimeText(f.time), QStringLiteral("12:34:56.789"));
}

QTEST_GUILESS_MAIN(tst_RtuFrame)
#include "tst_rtuframe.moc"
