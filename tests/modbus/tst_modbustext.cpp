#include "modbustext.h"
#include "readplan.h"

#include <QSerialPort>
#include <QtTest>

// Texts of the serial settings to connection values, hex cell texts, and the coil and
// discrete-input values as the register table shows them.
class TestModbusText : public QObject
{
    Q_OBJECT

private slots:
    void parity_data();
    void parity();
    void stopBits_data();
    void stopBits();
    void hexText_data();
    void hexText();
    void bitValues_data();
    void bitValues();
    void stateAndErrorNames();
    void readPlan_data();
    void readPlan();
};

void TestModbusText::parity_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    // Expected values are the serial port's own enumeration, not positions copied from the code.
    QTest::newRow("None") << "None" << int(QSerialPort::NoParity);
    QTest::newRow("Even") << "Even" << int(QSerialPort::EvenParity);
    QTest::newRow("Odd") << "Odd" << int(QSerialPort::OddParity);
    QTest::newRow("Space") << "Space" << int(QSerialPort::SpaceParity);
    QTest::newRow("Mark") << "Mark" << int(QSerialPort::MarkParity);
    QTest::newRow("placeholder keeps position 1") << "Idle no used" << 1;
    QTest::newRow("empty is unknown") << "" << -1;
    QTest::newRow("lower case is unknown") << "even" << -1;
    QTest::newRow("trailing blank is unknown") << "None " << -1;
    QTest::newRow("stop-bits text is unknown") << "1" << -1;
}

void TestModbusText::parity()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(parityValueOf(text), expected);
}

void TestModbusText::stopBits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("1") << "1" << int(QSerialPort::OneStop);
    QTest::newRow("2") << "2" << int(QSerialPort::TwoStop);
    QTest::newRow("1.5") << "1.5" << int(QSerialPort::OneAndHalfStop);
    QTest::newRow("placeholder keeps position 0") << "Idle no used" << 0;
    QTest::newRow("empty is unknown") << "" << -1;
    QTest::newRow("1.0 is unknown") << "1.0" << -1;
    QTest::newRow("word is unknown") << "one" << -1;
    QTest::newRow("parity text is unknown") << "None" << -1;
}

void TestModbusText::stopBits()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(stopBitsValueOf(text), expected);
}

void TestModbusText::hexText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero padded") << 0 << "0x0000";
    QTest::newRow("ten") << 10 << "0x000A";
    QTest::newRow("125") << 125 << "0x007D";
    QTest::newRow("three digits") << 0xABC << "0x0ABC";
    QTest::newRow("1234") << 1234 << "0x04D2";
    QTest::newRow("coil on") << 65280 << "0xFF00";
    QTest::newRow("negative temperature") << 0xFF38 << "0xFF38";
    QTest::newRow("largest") << 65535 << "0xFFFF";
}

void TestModbusText::hexText()
{
    QFETCH(int, value);
    QFETCH(QString, expected);
    QCOMPARE(registerHexText(quint16(value)), expected);
}

using Values = QVector<quint16>;

void TestModbusText::bitValues_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Values>("expected");

    const quint16 on = 0xFF00;

    // The client already delivered one entry per coil: only the on value is normalised.
    QTest::newRow("client ones become 0xFF00")
        << Values{ 1, 0, 1 } << 3 << QByteArray::fromHex("0105") << Values{ on, 0, on };
    QTest::newRow("0xFF00 stays") << Values{ on, 0 } << 2 << QByteArray() << Values{ on, 0 };
    QTest::newRow("any non-zero is on") << Values{ 0x1234, 0 } << 2 << QByteArray()
                                        << Values{ on, 0 };

    // Rebuilt from the response: byte count, then the bits, least significant first.
    QTest::newRow("10 coils from 05 00")
        << Values{} << 10 << QByteArray::fromHex("020500")
        << Values{ on, 0, on, 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("bit 7 and bit 8") << Values{} << 9 << QByteArray::fromHex("028001")
                                     << Values{ 0, 0, 0, 0, 0, 0, 0, on, on };
    QTest::newRow("bits past the count ignored") << Values{} << 3 << QByteArray::fromHex("01ff")
                                                 << Values{ on, on, on };
    QTest::newRow("list longer than count is rebuilt")
        << Values{ 1, 1, 1, 1 } << 2 << QByteArray::fromHex("0102") << Values{ 0, on };

    // A byte count that does not fit leaves zeros.
    QTest::newRow("byte count larger than data") << Values{} << 10 << QByteArray::fromHex("030500")
                                                 << Values(10, 0);
    QTest::newRow("too few bytes for the count") << Values{} << 10 << QByteArray::fromHex("01ff")
                                                 << Values(10, 0);
    QTest::newRow("no data") << Values{} << 4 << QByteArray() << Values(4, 0);
    QTest::newRow("count 0") << Values{ 1 } << 0 << QByteArray::fromHex("0101") << Values{};
    QTest::newRow("negative count") << Values{} << -3 << QByteArray::fromHex("0101") << Values{};
}

void TestModbusText::bitValues()
{
    QFETCH(Values, values);
    QFETCH(int, count);
    QFETCH(QByteArray, data);
    QFETCH(Values, expected);
    QCOMPARE(bitAreaValues(values, count, data), expected);
}

void TestModbusText::stateAndErrorNames()
{
    QCOMPARE(modbusStateName(QModbusDevice::UnconnectedState), QStringLiteral("UnconnectedState"));
    QCOMPARE(modbusStateName(QModbusDevice::ConnectingState), QStringLiteral("ConnectingState"));
    QCOMPARE(modbusStateName(QModbusDevice::ConnectedState), QStringLiteral("ConnectedState"));
    QCOMPARE(modbusStateName(QModbusDevice::ClosingState), QStringLiteral("ClosingState"));

    QCOMPARE(modbusErrorName(QModbusDevice::NoError), QStringLiteral("NoError"));
    QCOMPARE(modbusErrorName(QModbusDevice::TimeoutError), QStringLiteral("TimeoutError"));
    QCOMPARE(modbusErrorName(QModbusDevice::ReplyAbortedError), QStringLiteral("ReplyAbortedError"));
    QCOMPARE(modbusErrorName(QModbusDevice::UnknownError), QStringLiteral("UnknownError"));
    QCOMPARE(modbusErrorName(QModbusDevice::Error(42)), QStringLiteral("42"));
}

// A request as the window's fields describe it, with the limits of a request.
void TestModbusText::readPlan_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("problem");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("startAddress");
    QTest::addColumn<int>("valueCount");

    const int none = int(ReadPlan::Problem::None);
    const int area = int(ReadPlan::Problem::UnknownArea);
    const int server = int(ReadPlan::Problem::InvalidServer);
    const int range = int(ReadPlan::Problem::OutOfRange);
    const int hold = QModbusDataUnit::HoldingRegisters;
    QTest::newRow("holding registers") << "保持寄存器" << "1" << "0" << "10" << none << hold << 0 << 10;
    QTest::newRow("coils") << "Coil_input" << "1" << "2" << "3" << none << int(QModbusDataUnit::Coils) << 2 << 3;
    QTest::newRow("hex start and count") << "hold" << "1" << "0x10" << "0x7F" << none << hold << 16 << 127;
    QTest::newRow("0X10 is no number: 0") << "hold" << "1" << "0X10" << "1" << none << hold << 0 << 1;
    QTest::newRow("unknown area") << "register" << "1" << "0" << "1" << area << 0 << 0 << 1;
    QTest::newRow("broadcast address") << "hold" << "0" << "0" << "1" << none << hold << 0 << 1;
    QTest::newRow("highest server") << "hold" << "247" << "0" << "1" << none << hold << 0 << 1;
    QTest::newRow("reserved server 248") << "hold" << "248" << "0" << "1" << server << hold << 0 << 1;
    QTest::newRow("negative server") << "hold" << "-1" << "0" << "1" << server << hold << 0 << 1;
    QTest::newRow("no server") << "hold" << "" << "0" << "1" << server << hold << 0 << 1;
    QTest::newRow("server 1.5") << "hold" << "1.5" << "0" << "1" << server << hold << 0 << 1;
    QTest::newRow("server in hex is refused") << "hold" << "0x10" << "0" << "1" << server << hold << 0 << 1;
    QTest::newRow("last register") << "hold" << "1" << "65535" << "1" << none << hold << 65535 << 1;
    QTest::newRow("past the last register") << "hold" << "1" << "65535" << "2" << range << hold << 65535 << 2;
    QTest::newRow("negative start") << "hold" << "1" << "-1" << "1" << range << hold << -1 << 1;
    QTest::newRow("negative count held at 0") << "hold" << "1" << "0" << "-5" << none << hold << 0 << 0;
    QTest::newRow("huge count held at 65535") << "hold" << "1" << "2" << "99999" << range << hold << 2 << 65535;
}

void TestModbusText::readPlan()
{
    QFETCH(QString, area);
    QFETCH(QString, server);
    QFETCH(QString, start);
    QFETCH(QString, count);
    QFETCH(int, problem);
    QFETCH(int, type);
    QFETCH(int, startAddress);
    QFETCH(int, valueCount);

    const ReadPlan plan = ReadPlan::fromFields(area, server, start, count);
    QCOMPARE(int(plan.problem()), problem);
    QCOMPARE(int(plan.area), type);
    QCOMPARE(plan.start, startAddress);
    QCOMPARE(plan.count, valueCount);
    // What one read may carry on the wire, whatever the fields allow.
    QCOMPARE(ReadPlan::protocolLimit(plan.area), type == QModbusDataUnit::Coils ? 2000 : type ? 125 : 0);
}

QTEST_GUILESS_MAIN(TestModbusText)
#include "tst_modbustext.moc"
