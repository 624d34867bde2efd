#include "mytool.h"

#include <QtTest>

class TestMyTool : public QObject
{
    Q_OBJECT

private slots:
    void textToInt_data();
    void textToInt();
    void textToInteger();
    void registerTypeOf_data();
    void registerTypeOf();
    void bcdToDec_data();
    void bcdToDec();
};

void TestMyTool::textToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("hex 0x10") << "0x10" << 16;
    QTest::newRow("decimal 16") << "16" << 16;
    QTest::newRow("hex 0x1A") << "0x1A" << 26;
    QTest::newRow("hex lower-case digits") << "0xff" << 255;
    QTest::newRow("negative decimal") << "-5" << -5;
    QTest::newRow("upper-case X is decimal, fails") << "0X10" << 0;
    QTest::newRow("0x after digits means base 16, fails") << "10 0x" << 0;
    QTest::newRow("hex digits without 0x fail") << "1A" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("fraction") << "1.5" << 0;
    QTest::newRow("decimal beyond int") << "2147483648" << 0;
    QTest::newRow("hex beyond int") << "0xFFFFFFFF" << 0;
    QTest::newRow("int max") << "2147483647" << 2147483647;
}

void TestMyTool::textToInt()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(MyTool::textToInt(text), expected);
}

void TestMyTool::textToInteger()
{
    qint64 value = -1; // textToInt's rule, 64 bits wide, a failure told apart from 0
    QVERIFY(MyTool::textToInteger(QStringLiteral("0"), &value) && value == 0);
    QVERIFY(MyTool::textToInteger(QStringLiteral("0xFFFFFFFF"), &value) && value == 0xFFFFFFFF);
    QVERIFY(!MyTool::textToInteger(QStringLiteral("0X10"), &value) && value == 0xFFFFFFFF);
}

void TestMyTool::registerTypeOf_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<int>("expected");

    const int coils = QModbusDataUnit::Coils;
    const int discrete = QModbusDataUnit::DiscreteInputs;
    const int holding = QModbusDataUnit::HoldingRegisters;
    const int input = QModbusDataUnit::InputRegisters;
    const int invalid = QModbusDataUnit::Invalid;

    QTest::newRow("hold") << "hold" << holding;
    QTest::newRow("HOLD_REGS") << "HOLD_REGS" << holding;
    QTest::newRow("Chinese holding") << QString::fromUtf8("保持寄存器") << holding;
    QTest::newRow("Input") << "Input" << input;
    QTest::newRow("Chinese input") << QString::fromUtf8("输入寄存器") << input;
    QTest::newRow("DISC") << "DISC" << discrete;
    QTest::newRow("Chinese discrete input") << QString::fromUtf8("离散输入") << discrete;
    QTest::newRow("Chinese coils") << QString::fromUtf8("线圈") << coils;
    QTest::newRow("coils") << "coils" << coils;
    QTest::newRow("coil before input") << "Coil_input" << coils;
    QTest::newRow("disc before input") << "discrete input" << discrete;
    QTest::newRow("hold before input") << "input holding" << holding;
    QTest::newRow("key inside a word") << "xxCOILxx" << coils;
    QTest::newRow("register") << "register" << invalid;
    QTest::newRow("empty") << "" << invalid;
}

void TestMyTool::registerTypeOf()
{
    QFETCH(QString, area);
    QFETCH(int, expected);
    QCOMPARE(int(::registerTypeOf(area)), expected);
}

void TestMyTool::bcdToDec_data()
{
    QTest::addColumn<quint32>("pattern");
    QTest::addColumn<int>("expected");

    QTest::newRow("zero") << quint32(0) << 0;
    QTest::newRow("0x1234") << quint32(0x1234) << 1234;
    QTest::newRow("0x00AB counts 10 and 11") << quint32(0x00AB) << 111;
    QTest::newRow("eight digits") << quint32(0x12345678) << 12345678;
    QTest::newRow("all nines") << quint32(0x99999999) << 99999999;
    QTest::newRow("top group only") << quint32(0xF0000000) << 150000000;
    QTest::newRow("all ones") << quint32(0xFFFFFFFF) << 166666665;
}

void TestMyTool::bcdToDec()
{
    QFETCH(quint32, pattern);
    QFETCH(int, expected);
    QCOMPARE(MyTool::bcdToDec(pattern), expected);
}

QTEST_GUILESS_MAIN(TestMyTool)
#include "tst_mytool.moc"
