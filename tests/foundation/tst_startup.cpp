#include "myconfig.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include <memory>

// The window's life from the settings' point of view: what a first start shows, and what the
// destructor leaves in the settings file and the geometry store.
class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartShowsDefaults();
    void firstExitWritesAllValues();
    void exitStoresControls_data();
    void exitStoresControls();
    void storedSettingsFillControls();
    void geometryRoundTrip();

private:
    QJsonObject writtenFile() const;
    template<typename T>
    T *child(const char *name) const
    {
        return m_f->child<T>(name);
    }

    std::unique_ptr<WindowFixture> m_f;
};

// A fresh name per test: a fresh settings file and a fresh geometry entry.
void tst_Startup::init()
{
    m_f = std::make_unique<WindowFixture>(QStringLiteral("startup"));
    QVERIFY(m_f->isValid());
}

void tst_Startup::cleanup()
{
    m_f.reset();
}

QJsonObject tst_Startup::writtenFile() const
{
    QFile file(MyConfig::programName + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void tst_Startup::firstStartShowsDefaults()
{
    MyConfig::load(); // no file: the defaults stay
    MainWindow &window = *m_f->create();

    QCOMPARE(child<QLineEdit>("lineEdit_protocolFile")->text(), QStringLiteral("./ProtocolFile/modbus.xlsx"));
    QCOMPARE(child<QLineEdit>("lineEdit_period")->text(), QStringLiteral("1000"));
    QCOMPARE(child<QLineEdit>("lineEdit_deviceAddr")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>("lineEdit_regsAddrRead")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>("lineEdit_regsLenRead")->text(), QStringLiteral("10"));
    QCOMPARE(child<QLineEdit>("lineEdit_regsAddrWrite")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>("lineEdit_regsLenWrite")->text(), QStringLiteral("10"));
    QVERIFY(!child<QCheckBox>("checkBox_repeat")->isChecked());
    QVERIFY(!child<QPushButton>("pushButton_selectEnable")->isChecked());
    QVERIFY(!child<QPushButton>("pushButton_connect")->isChecked());
    QVERIFY(!child<QPushButton>("pushButton_read")->isChecked());
    QCOMPARE(child<QPushButton>("pushButton_connect")->text(), QStringLiteral("打开串口"));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("modbus status:UnconnectedState"));
    // No workbook in this directory: the area selector stays empty.
    QCOMPARE(child<QComboBox>("comboBox_regsType")->count(), 0);

    // The offscreen screen starts at (0, 0): the stored (0, 0) fails the strict test.
    QCOMPARE(window.pos(), QPoint(10, 10));
    QCOMPARE(window.size(), QSize(1366, 706));
}

void tst_Startup::firstExitWritesAllValues()
{
    MyConfig::load();
    m_f->create();
    m_f->destroy();

    const QJsonObject top = writtenFile();
    QCOMPARE(top.keys(), (QStringList{ "destDir", "modbusDisplay", "network", "serialport" }));
    QCOMPARE(top.value("destDir").toString(), QStringLiteral("D:/Vorbelt-x86"));

    const QJsonObject serial = top.value("serialport").toObject();
    QCOMPARE(serial.keys(), (QStringList{ "baudrate", "name", "parity", "stopbits" }));
    QCOMPARE(serial.value("name"), QJsonValue(QString()));
    QCOMPARE(serial.value("baudrate"), QJsonValue(0));
    QCOMPARE(serial.value("parity"), QJsonValue(QString()));
    QCOMPARE(serial.value("stopbits"), QJsonValue(QString()));

    const QJsonObject display = top.value("modbusDisplay").toObject();
    QCOMPARE(display.size(), 11);
    QCOMPARE(display.value("protocolFile"), QJsonValue("./ProtocolFile/modbus.xlsx"));
    QCOMPARE(display.value("period"), QJsonValue(1000));
    QCOMPARE(display.value("isRepeat"), QJsonValue(false));
    QCOMPARE(display.value("regsType"), QJsonValue(QString()));
    QCOMPARE(display.value("regsAddrRead"), QJsonValue(0));
    QCOMPARE(display.value("regsLenRead"), QJsonValue(10));
    QCOMPARE(display.value("regsAddrWrite"), QJsonValue(0));
    QCOMPARE(display.value("regsLenWrite"), QJsonValue(10));
    QCOMPARE(display.value("deviceAddr"), QJsonValue(1));
    QCOMPARE(display.value("selectEnable"), QJsonValue(false));
    QCOMPARE(display.value("changeWarnEnable"), QJsonValue(false));
}

void tst_Startup::exitStoresControls_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("stored");

    QTest::newRow("read count") << "lineEdit_regsLenRead" << "25" << "regsLenRead" << QJsonValue(25);
    QTest::newRow("hex read count keeps its value") << "lineEdit_regsLenRead" << "0x10" << "regsLenRead" << QJsonValue(16);
    QTest::newRow("hex write address keeps its value") << "lineEdit_regsAddrWrite" << "0x1A" << "regsAddrWrite" << QJsonValue(26);
    QTest::newRow("hex device address is not decimal") << "lineEdit_deviceAddr" << "0x10" << "deviceAddr" << QJsonValue(0);
    QTest::newRow("read address") << "lineEdit_regsAddrRead" << "7" << "regsAddrRead" << QJsonValue(7);
    QTest::newRow("write address") << "lineEdit_regsAddrWrite" << "12" << "regsAddrWrite" << QJsonValue(12);
    QTest::newRow("write count junk") << "lineEdit_regsLenWrite" << "abc" << "regsLenWrite" << QJsonValue(0);
    QTest::newRow("period") << "lineEdit_period" << "250" << "period" << QJsonValue(250);
    QTest::newRow("empty period") << "lineEdit_period" << "" << "period" << QJsonValue(0);
    QTest::newRow("device address") << "lineEdit_deviceAddr" << "17" << "deviceAddr" << QJsonValue(17);
    QTest::newRow("negative device address") << "lineEdit_deviceAddr" << "-3" << "deviceAddr" << QJsonValue(-3);
    QTest::newRow("protocol file") << "lineEdit_protocolFile" << "other/map.xlsx" << "protocolFile" << QJsonValue("other/map.xlsx");
}

void tst_Startup::exitStoresControls()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, key);
    QFETCH(QJsonValue, stored);

    // Settings the destructor does not own must come back as they were.
    MyConfig::changeWarnEnable = true;
    MyConfig::serialName = QStringLiteral("COM7");
    MyConfig::serialBaudrate = 19200;
    m_f->create();
    // Typed without Enter: no editing-finished handler runs, the text is stored as it stands.
    m_f->field(field)->setText(typed);
    m_f->destroy();
    const QJsonObject top = writtenFile();
    const QJsonObject display = top.value("modbusDisplay").toObject();
    QCOMPARE(display.value(key), stored);
    QCOMPARE(display.value("changeWarnEnable"), QJsonValue(true));
    QCOMPARE(top.value("serialport").toObject().value("name"), QJsonValue("COM7"));
    QCOMPARE(top.value("serialport").toObject().value("baudrate"), QJsonValue(19200));
}

void tst_Startup::storedSettingsFillControls()
{
    QFile file(MyConfig::programName + QStringLiteral(".json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"modbusDisplay": {"protocolFile": "none.xlsx", "period": 300, "isRepeat": true,
                   "regsType": "hold", "regsAddrRead": 3, "regsLenRead": 4, "regsAddrWrite": 5,
                   "regsLenWrite": 6, "deviceAddr": 9, "selectEnable": true, "changeWarnEnable": true}})");
    file.close();
    MyConfig::load();
    {
        m_f->create();
        QCOMPARE(child<QLineEdit>("lineEdit_period")->text(), QStringLiteral("300"));
        QCOMPARE(child<QLineEdit>("lineEdit_deviceAddr")->text(), QStringLiteral("9"));
        QCOMPARE(child<QLineEdit>("lineEdit_regsAddrRead")->text(), QStringLiteral("3"));
        QCOMPARE(child<QLineEdit>("lineEdit_regsLenRead")->text(), QStringLiteral("4"));
        QCOMPARE(child<QLineEdit>("lineEdit_regsAddrWrite")->text(), QStringLiteral("5"));
        QCOMPARE(child<QLineEdit>("lineEdit_regsLenWrite")->text(), QStringLiteral("6"));
        QVERIFY(child<QCheckBox>("checkBox_repeat")->isChecked());
        QVERIFY(child<QPushButton>("pushButton_selectEnable")->isChecked());
        // Repeat on does not start reading by itself.
        QVERIFY(!child<QPushButton>("pushButton_read")->isChecked());
        m_f->destroy();
    }
    // The workbook does not exist, so no sheet is selected: the stored area becomes empty.
    const QJsonObject display = writtenFile().value("modbusDisplay").toObject();
    QCOMPARE(display.value("regsType"), QJsonValue(QString()));
    QCOMPARE(display.value("isRepeat"), QJsonValue(true));
    QCOMPARE(display.value("selectEnable"), QJsonValue(true));
}

void tst_Startup::geometryRoundTrip()
{
    m_f->create()->move(120, 90);
    m_f->window()->resize(900, 500);
    m_f->destroy();
    QSettings store(QString::fromLatin1(MyConfig::geometryOrganisation), MyConfig::programName);
    QCOMPARE(store.value("pos").toPoint(), QPoint(120, 90));
    QCOMPARE(store.value("size").toSize(), QSize(900, 500));

    const MainWindow *again = m_f->create();
    QCOMPARE(again->pos(), QPoint(120, 90));
    QCOMPARE(again->size(), QSize(900, 500));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
