#include "myconfig.h"
#include "settingsfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

// Every case runs in a fresh temporary directory made current, with the program name
// "rurodur", so the settings file is rurodur.json in that directory.
class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void restoreDefaultsResetsEveryMember();

    void missingFileKeepsDefaults();
    void unusableFileKeepsDefaults_data();
    void unusableFileKeepsDefaults();
    void emptyDisplayObjectClearsMembers();
    void integerConversion_data();
    void integerConversion();
    void booleanConversion_data();
    void booleanConversion();
    void textConversion_data();
    void textConversion();
    void serialPortNotAnObject_data();
    void serialPortNotAnObject();
    void networkLink_data();
    void networkLink();
    void destDirValidation_data();
    void destDirValidation();
    void unknownMembersDropped();

    void saveLoadRoundTrip();
    void writtenText();
    void saveOntoDirectoryFails();
    void failedSaveKeepsPreviousFile();

private:
    static void writeSettings(const QByteArray &text);
    static QByteArray readSettings();

    std::unique_ptr<SettingsDir> dir;
};

void TestConfig::initTestCase()
{
    // Nothing has assigned the members yet: these are their static initial values.
    QVERIFY(MyConfig::programName.isEmpty());
    compareWithDefaults();
}

void TestConfig::init()
{
    dir.reset(new SettingsDir);
    QVERIFY(dir->isValid());
}

void TestConfig::cleanup()
{
    dir.reset();
}

void TestConfig::writeSettings(const QByteArray &text)
{
    QVERIFY(SettingsDir::write(MyConfig::programName + ".json", text));
}

QByteArray TestConfig::readSettings()
{
    return SettingsDir::read(MyConfig::programName + ".json");
}

void TestConfig::restoreDefaultsResetsEveryMember()
{
    MyConfig::destDir = dir->path();
    MyConfig::serialName = "COM4";
    MyConfig::serialBaudrate = 57600;
    MyConfig::serialParity = "Odd";
    MyConfig::serialStopbits = "2";
    MyConfig::linkType = "tcp";
    MyConfig::tcpHost = "::1";
    MyConfig::tcpPort = 1502;
    MyConfig::protocolFile = "other.xlsx";
    MyConfig::period = 5;
    MyConfig::isRepeat = true;
    MyConfig::regsType = "coils";
    MyConfig::regsAddrRead = 100;
    MyConfig::regsLenRead = 1;
    MyConfig::regsAddrWrite = 200;
    MyConfig::regsLenWrite = 2;
    MyConfig::deviceAddr = 247;
    MyConfig::selectEnable = true;
    MyConfig::changeWarnEnable = true;
    MyConfig::restoreDefaults();
    compareWithDefaults();
    // The program name is not a setting of the file.
    QCOMPARE(MyConfig::programName, QString("rurodur"));
}

void TestConfig::missingFileKeepsDefaults()
{
    QVERIFY(!QFile::exists("rurodur.json"));
    MyConfig::load();
    compareWithDefaults();
}

void TestConfig::unusableFileKeepsDefaults_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("truncated") << QByteArray(R"({"modbusDisplay": {"period": 5, "isRep)");
    QTest::newRow("top level array") << QByteArray(R"([{"modbusDisplay": {"period": 5}}])");
    QTest::newRow("top level string") << QByteArray(R"("modbusDisplay")");
    QTest::newRow("not JSON") << QByteArray("period=5\n");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4);
}

void TestConfig::unusableFileKeepsDefaults()
{
    QFETCH(QByteArray, text);
    writeSettings(text);
    MyConfig::load();
    compareWithDefaults();
}

void TestConfig::emptyDisplayObjectClearsMembers()
{
    writeSettings(R"({"modbusDisplay": {}})");
    MyConfig::load();
    QCOMPARE(MyConfig::protocolFile, QString());
    QCOMPARE(MyConfig::period, 0);
    QCOMPARE(MyConfig::isRepeat, false);
    QCOMPARE(MyConfig::regsType, QString());
    QCOMPARE(MyConfig::regsAddrRead, 0);
    QCOMPARE(MyConfig::regsLenRead, 0);
    QCOMPARE(MyConfig::regsAddrWrite, 0);
    QCOMPARE(MyConfig::regsLenWrite, 0);
    QCOMPARE(MyConfig::deviceAddr, 0);
    QCOMPARE(MyConfig::selectEnable, false);
    QCOMPARE(MyConfig::changeWarnEnable, false);
    // The other groups are untouched, and destDir, absent, falls back to its default.
    QCOMPARE(MyConfig::serialName, QString());
    QCOMPARE(MyConfig::serialBaudrate, 0);
    QCOMPARE(MyConfig::destDir, QString("D:/Vorbelt-x86"));
}

void TestConfig::integerConversion_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole number") << QByteArray("250") << 250;
    QTest::newRow("negative") << QByteArray("-250") << -250;
    QTest::newRow("exponent form") << QByteArray("1e3") << 1000;
    QTest::newRow("whole with .0") << QByteArray("2.0") << 2;
    QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("fraction") << QByteArray("250.5") << 0;
    QTest::newRow("string") << QByteArray(R"("250")") << 0;
    QTest::newRow("boolean") << QByteArray("true") << 0;
    QTest::newRow("null") << QByteArray("null") << 0;
    QTest::newRow("array") << QByteArray("[250]") << 0;
    QTest::newRow("above int") << QByteArray("2147483648") << 0;
    QTest::newRow("below int") << QByteArray("-2147483649") << 0;
    QTest::newRow("huge") << QByteArray("1e300") << 0;
}

void TestConfig::integerConversion()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    MyConfig::fromJson(R"({"serialport": {"baudrate": )" + json + R"(}, "modbusDisplay": {"period": )"
                       + json + "}}");
    QCOMPARE(MyConfig::period, expected);
    QCOMPARE(MyConfig::serialBaudrate, expected);
}

void TestConfig::booleanConversion_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("expected");
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("number 1") << QByteArray("1") << false;
    QTest::newRow("string true") << QByteArray(R"("true")") << false;
    QTest::newRow("null") << QByteArray("null") << false;
}

void TestConfig::booleanConversion()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, expected);
    MyConfig::fromJson(R"({"modbusDisplay": {"isRepeat": )" + json + R"(, "selectEnable": )" + json
                       + R"(, "changeWarnEnable": )" + json + "}}");
    QCOMPARE(MyConfig::isRepeat, expected);
    QCOMPARE(MyConfig::selectEnable, expected);
    QCOMPARE(MyConfig::changeWarnEnable, expected);
}

void TestConfig::textConversion_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string") << QByteArray(R"("COM3")") << "COM3";
    QTest::newRow("Chinese string") << QByteArray(R"("保持寄存器")") << QString::fromUtf8("保持寄存器");
    QTest::newRow("number") << QByteArray("3") << QString();
    QTest::newRow("boolean") << QByteArray("true") << QString();
    QTest::newRow("object") << QByteArray(R"({"a": "b"})") << QString();
}

void TestConfig::textConversion()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    MyConfig::fromJson(R"({"serialport": {"name": )" + json + R"(, "parity": )" + json
                       + R"(}, "modbusDisplay": {"regsType": )" + json + "}}");
    QCOMPARE(MyConfig::serialName, expected);
    QCOMPARE(MyConfig::serialParity, expected);
    QCOMPARE(MyConfig::regsType, expected);
    // Absent keys of a present object give empty texts, not the defaults.
    QCOMPARE(MyConfig::serialStopbits, QString());
    QCOMPARE(MyConfig::protocolFile, QString());
}

void TestConfig::serialPortNotAnObject_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("string") << QByteArray(R"("COM3")");
    QTest::newRow("array") << QByteArray(R"(["COM3", 9600])");
    QTest::newRow("number") << QByteArray("9600");
}

void TestConfig::serialPortNotAnObject()
{
    QFETCH(QByteArray, json);
    writeSettings(R"({"serialport": )" + json + "}");
    MyConfig::load();
    QCOMPARE(MyConfig::serialName, QString());
    QCOMPARE(MyConfig::serialBaudrate, 0);

    // Values already held are kept, not cleared.
    MyConfig::serialName = "COM7";
    MyConfig::serialBaudrate = 9600;
    MyConfig::serialParity = "Even";
    MyConfig::serialStopbits = "2";
    MyConfig::load();
    QCOMPARE(MyConfig::serialName, QString("COM7"));
    QCOMPARE(MyConfig::serialBaudrate, 9600);
    QCOMPARE(MyConfig::serialParity, QString("Even"));
    QCOMPARE(MyConfig::serialStopbits, QString("2"));
    // The display members were not in the file either.
    QCOMPARE(MyConfig::period, 1000);
}

void TestConfig::networkLink_data()
{
    QTest::addColumn<QByteArray>("network"); // the member's JSON text, empty when absent
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("absent") << QByteArray() << "serial" << "" << 502;
    QTest::newRow("tcp") << QByteArray(R"({"link": "tcp", "host": "::1", "port": 1502})") << "tcp"
                         << "::1" << 1502;
    QTest::newRow("unknown link") << QByteArray(R"({"link": "udp", "host": "h", "port": 1})")
                                  << "serial" << "h" << 1;
    QTest::newRow("link in capitals") << QByteArray(R"({"link": "TCP"})") << "serial" << "" << 502;
    QTest::newRow("port 0") << QByteArray(R"({"link": "tcp", "port": 0})") << "tcp" << "" << 502;
    QTest::newRow("port 65535") << QByteArray(R"({"port": 65535})") << "serial" << "" << 65535;
    QTest::newRow("port 65536") << QByteArray(R"({"port": 65536})") << "serial" << "" << 502;
    QTest::newRow("port as text") << QByteArray(R"({"port": "1502"})") << "serial" << "" << 502;
    QTest::newRow("not an object") << QByteArray(R"("tcp")") << "serial" << "" << 502;
}

void TestConfig::networkLink()
{
    QFETCH(QByteArray, network);
    QFETCH(QString, link);
    QFETCH(QString, host);
    QFETCH(int, port);
    writeSettings(network.isEmpty() ? QByteArray("{}") : R"({"network": )" + network + "}");
    MyConfig::load();
    QCOMPARE(MyConfig::linkType, link);
    QCOMPARE(MyConfig::tcpHost, host);
    QCOMPARE(MyConfig::tcpPort, port);
}

void TestConfig::destDirValidation_data()
{
    QTest::addColumn<QString>("member");   // JSON text of the member, %1 = the temporary dir
    QTest::addColumn<bool>("kept");

    QTest::newRow("absent") << QString() << false;
    QTest::newRow("empty") << R"("destDir": "")" << false;
    QTest::newRow("not a string") << R"("destDir": 5)" << false;
    QTest::newRow("missing directory") << R"("destDir": "%1/nowhere")" << false;
    QTest::newRow("a file, not a directory") << R"("destDir": "%1/plain.txt")" << false;
    QTest::newRow("existing directory") << R"("destDir": "%1/deploy")" << true;
}

void TestConfig::destDirValidation()
{
    QFETCH(QString, member);
    QFETCH(bool, kept);

    QVERIFY(QDir(dir->path()).mkdir("deploy"));
    writeSettings("x");
    QVERIFY(QFile::rename("rurodur.json", "plain.txt"));

    const QString text = "{" + member.arg(dir->path()) + "}";
    writeSettings(text.toUtf8());
    MyConfig::load();
    if (kept)
        QCOMPARE(MyConfig::destDir, dir->path() + "/deploy");
    else
        QCOMPARE(MyConfig::destDir, QString("D:/Vorbelt-x86"));
}

void TestConfig::unknownMembersDropped()
{
    writeSettings(R"({"comment": "hand-edited", "destDir": 1,
                      "serialport": {"name": "COM3", "flow": "none"},
                      "modbusDisplay": {"period": 500, "theme": "dark"}})");
    MyConfig::load();
    QCOMPARE(MyConfig::serialName, QString("COM3"));
    QCOMPARE(MyConfig::period, 500);
    QVERIFY(MyConfig::save());

    const QJsonObject top = QJsonDocument::fromJson(readSettings()).object();
    QCOMPARE(top.keys(), QStringList({ "destDir", "modbusDisplay", "network", "serialport" }));
    QCOMPARE(top.value("serialport").toObject().keys(),
             QStringList({ "baudrate", "name", "parity", "stopbits" }));
    QCOMPARE(top.value("modbusDisplay").toObject().keys(),
             QStringList({ "changeWarnEnable", "deviceAddr", "isRepeat", "period", "protocolFile",
                           "regsAddrRead", "regsAddrWrite", "regsLenRead", "regsLenWrite",
                           "regsType", "selectEnable" }));
}

void TestConfig::saveLoadRoundTrip()
{
    QVERIFY(QDir(dir->path()).mkdir("deploy"));
    const QString deploy = dir->path() + "/deploy";

    MyConfig::destDir = deploy;
    MyConfig::serialName = "/dev/pts/5";
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = "Odd";
    MyConfig::serialStopbits = "1.5";
    MyConfig::protocolFile = QString::fromUtf8("D:/协议/传感器.xlsx");
    MyConfig::period = 250;
    MyConfig::isRepeat = true;
    MyConfig::regsType = QString::fromUtf8("保持寄存器");
    MyConfig::regsAddrRead = 12;
    MyConfig::regsLenRead = 127;
    MyConfig::regsAddrWrite = -3;
    MyConfig::regsLenWrite = 2147483647;
    MyConfig::deviceAddr = 247;
    MyConfig::selectEnable = true;
    MyConfig::changeWarnEnable = true;
    MyConfig::linkType = "tcp";
    MyConfig::tcpHost = QString::fromUtf8("传感器.local");
    MyConfig::tcpPort = 1502;
    QVERIFY(MyConfig::save());
    QVERIFY(QFile::exists("rurodur.json"));

    MyConfig::restoreDefaults();
    MyConfig::load();
    QCOMPARE(MyConfig::destDir, deploy);
    QCOMPARE(MyConfig::serialName, QString("/dev/pts/5"));
    QCOMPARE(MyConfig::serialBaudrate, 115200);
    QCOMPARE(MyConfig::serialParity, QString("Odd"));
    QCOMPARE(MyConfig::serialStopbits, QString("1.5"));
    QCOMPARE(MyConfig::protocolFile, QString::fromUtf8("D:/协议/传感器.xlsx"));
    QCOMPARE(MyConfig::period, 250);
    QCOMPARE(MyConfig::isRepeat, true);
    QCOMPARE(MyConfig::regsType, QString::fromUtf8("保持寄存器"));
    QCOMPARE(MyConfig::regsAddrRead, 12);
    QCOMPARE(MyConfig::regsLenRead, 127);
    QCOMPARE(MyConfig::regsAddrWrite, -3);
    QCOMPARE(MyConfig::regsLenWrite, 2147483647);
    QCOMPARE(MyConfig::deviceAddr, 247);
    QCOMPARE(MyConfig::selectEnable, true);
    QCOMPARE(MyConfig::changeWarnEnable, true);
    QCOMPARE(MyConfig::linkType, QString("tcp"));
    QCOMPARE(MyConfig::tcpHost, QString::fromUtf8("传感器.local"));
    QCOMPARE(MyConfig::tcpPort, 1502);

    // Nothing but the settings file is left behind.
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{ "rurodur.json" });
}

void TestConfig::writtenText()
{
    MyConfig::serialName = "COM3";
    MyConfig::serialBaudrate = 9600;
    MyConfig::serialParity = "None";
    MyConfig::serialStopbits = "1";
    MyConfig::regsType = QString::fromUtf8("保持寄存器");
    MyConfig::period = 500;
    MyConfig::isRepeat = true;
    QVERIFY(MyConfig::save());

    const QByteArray expected = u8R"({
    "destDir": "D:/Vorbelt-x86",
    "modbusDisplay": {
        "changeWarnEnable": false,
        "deviceAddr": 1,
        "isRepeat": true,
        "period": 500,
        "protocolFile": "./ProtocolFile/modbus.xlsx",
        "regsAddrRead": 0,
        "regsAddrWrite": 0,
        "regsLenRead": 10,
        "regsLenWrite": 10,
        "regsType": "保持寄存器",
        "selectEnable": false
    },
    "network": {
        "host": "",
        "link": "serial",
        "port": 502
    },
    "serialport": {
        "baudrate": 9600,
        "name": "COM3",
        "parity": "None",
        "stopbits": "1"
    }
}
)";
    QCOMPARE(readSettings(), expected);
}

void TestConfig::saveOntoDirectoryFails()
{
    QDir here(dir->path());
    QVERIFY(here.mkdir("rurodur.json"));
    QFile inner(here.filePath("rurodur.json/keep.txt"));
    QVERIFY(inner.open(QIODevice::WriteOnly));
    inner.write("kept");
    inner.close();

    QVERIFY(!MyConfig::save());

    QVERIFY(QFileInfo("rurodur.json").isDir());
    QVERIFY(inner.open(QIODevice::ReadOnly));
    QCOMPARE(inner.readAll(), QByteArray("kept"));
    // No temporary file is left beside it.
    QCOMPARE(here.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{ "rurodur.json" });
}

void TestConfig::failedSaveKeepsPreviousFile()
{
    // A name of exactly 255 bytes can exist, but no longer temporary name can be made beside
    // it, so the write fails after the previous file was found (this also fails as root,
    // where permissions would not).
    MyConfig::programName = QString(250, QLatin1Char('a'));
    const QByteArray previous = R"({"modbusDisplay": {"period": 42}})";
    writeSettings(previous);
    QVERIFY(QFile::exists(MyConfig::programName + ".json"));

    MyConfig::period = 7;
    QVERIFY(!MyConfig::save());

    QCOMPARE(readSettings(), previous);
    QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{ MyConfig::programName + ".json" });
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
