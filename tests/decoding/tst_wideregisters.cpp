#include "protocoltable.h"
#include "simfixture.h"
#include "windowfixture.h"

#include <QtTest>

// 32-bit values read end to end: the simulated sensor (frozen at time 0) serves the distance in
// metres as a float (registers 14..15, high word first) and the flight time in ns as an
// unsigned integer (16..17, low word first) in both register areas; the window reads them with
// the sample workbook's rules.
class TestWideRegisters : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readFromSensor_data();
    void readFromSensor();
    void editedRuleApplies();

private:
    void readOnce();
    int column(const QString &title) const;

    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<WindowFixture> m_fixture;
};

void TestWideRegisters::init()
{
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(m_sim->start({ QStringLiteral("--static") }), qPrintable(m_sim->errorString()));
    m_fixture = std::make_unique<WindowFixture>(QStringLiteral("tst_wideregisters"));
    QVERIFY(m_fixture->isValid());
}

void TestWideRegisters::cleanup()
{
    m_fixture.reset();
    m_sim.reset();
}

int TestWideRegisters::column(const QString &title) const
{
    return m_fixture->model()->header().indexOf(title);
}

void TestWideRegisters::readOnce()
{
    const int before = m_fixture->count(windowtext::normal);
    m_fixture->readButton->setChecked(true);
    QVERIFY(m_fixture->waitFor(windowtext::normal, before + 1));
}

void TestWideRegisters::readFromSensor_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("shown"); // display cells of rows 14..17 after one read

    // 0.9 m = 0x3F666666 (hr14 0x3F66, hr15 0x6666); 5195555 ns = 0x004F4723 (hr16 0x4723,
    // hr17 0x004F). Rows 15 and 17 show their own word in hexadecimal.
    const QStringList all = { "0.9m", "6666", "5195555ns", "4F" };
    QTest::newRow("holding registers 0..21") << "保持寄存器" << 0 << 22 << all;
    QTest::newRow("input registers 0..17") << "输入寄存器" << 0 << 18 << all;
    QTest::newRow("holding registers 14..17") << "保持寄存器" << 14 << 4 << all;
    QTest::newRow("reply ends at the float's first word")
            << "保持寄存器" << 14 << 1 << QStringList{ "--", "", "", "" };
    QTest::newRow("reply ends at the integer's first word")
            << "保持寄存器" << 14 << 3 << QStringList{ "0.9m", "6666", "--", "" };
    QTest::newRow("reply starts at the float's second word")
            << "输入寄存器" << 15 << 3 << QStringList{ "", "6666", "5195555ns", "4F" };
}

void TestWideRegisters::readFromSensor()
{
    QFETCH(QString, area);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(QStringList, shown);

    m_fixture->useWorkbook(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"), area);
    m_fixture->useLine(m_sim->clientPort());
    m_fixture->create();
    QCOMPARE(m_fixture->area->currentText(), area);
    m_fixture->setReadWindow(address, count);
    QVERIFY(m_fixture->open());
    readOnce();

    const int display = column(QStringLiteral("显示"));
    QVERIFY(display >= 0);
    QStringList actual;
    for (int row = 14; row <= 17; ++row)
        actual << m_fixture->cell(row, display);
    QCOMPARE(actual, shown);
}

// The rule editor's path: a rule cell edited in the table and saved decodes the next reply.
void TestWideRegisters::editedRuleApplies()
{
    m_fixture->useWorkbook(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                           QStringLiteral("保持寄存器"));
    m_fixture->useLine(m_sim->clientPort());
    m_fixture->create();
    m_fixture->setReadWindow(14, 4);
    QVERIFY(m_fixture->open());

    const int rule = column(QStringLiteral("JSON解析"));
    const int display = column(QStringLiteral("显示"));
    // The flight time words read high word first: 0x4723004F; the distance as a signed
    // integer with two decimals: 0x3F666666 = 1063675494.
    m_fixture->setCell(16, rule, QStringLiteral(R"({"type":"U32","order":"ABCD"})"));
    m_fixture->setCell(14, rule, QStringLiteral(R"("type":"I32","dot":2)"));
    m_fixture->child<QPushButton>("pushButton_protocolSave")->click();
    QCOMPARE(m_fixture->cell(14, rule), QStringLiteral(R"({"type":"I32","dot":2})"));

    readOnce();
    QCOMPARE(m_fixture->cell(16, display), QStringLiteral("1193476175"));
    QCOMPARE(m_fixture->cell(14, display), QStringLiteral("10636754.94"));
}

QTEST_MAIN(TestWideRegisters)
#include "tst_wideregisters.moc"
