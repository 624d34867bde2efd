// CSV recording: header, decoded fields, byte-order mark, line ends, quoting, and a
// recording that stops cleanly when its file cannot be written.
#include "csvrecorder.h"
#include "protocoltable.h"

#include <QBuffer>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray utf8Bom("\xEF\xBB\xBF");
const QDateTime noon(QDate(2024, 5, 1), QTime(12, 0, 0, 5));

// The sensor's first registers, as the sample workbook describes them.
void fillSensorSheet(ProtocolTable &table, bool withNames = true)
{
    const QStringList header = withNames
            ? QStringList{ "地址", "名称", "16进制", "10进制", "显示", "JSON解析" }
            : QStringList{ "地址", "16进制", "10进制", "显示", "JSON解析" };
    const QList<QStringList> rules = {
        { "0", "飞行时间", R"({"unit":"us"})" },
        { "1", "温度", R"({"signed":true,"unit":"℃"})" },
        { "2", "距离, 中心", R"({"dot":1,"unit":"mm"})" }, // a comma in the name
        { "3", "", "{}" },                                  // no name
    };
    QList<QStringList> rows;
    for (const QStringList &r : rules) {
        if (withNames)
            rows.append({ r.at(0), r.at(1), "", "", "", r.at(2) });
        else
            rows.append({ r.at(0), "", "", "", r.at(2) });
    }
    table.setSheet(header, rows);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QModbusDataUnit holding(int start, const QVector<quint16> &values)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values);
}

} // namespace

class tst_CsvRecorder : public QObject
{
    Q_OBJECT

private slots:
    void header_data();
    void header();
    void csvLine_data();
    void csvLine();
    void recordsDecodedTexts();
    void otherAreasAndMissingRegisters();
    void fullDiskFailsTheStart();
    void failedLineStopsTheRecording();
    void removedFolderStopsTheRecording();
    void cannotCreateTheFile();
};

void tst_CsvRecorder::header_data()
{
    QTest::addColumn<bool>("withNames");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("names from the 名称 column")
            << true << 0 << 3 << QStringList{ "时间", "0 飞行时间", "1 温度", "2 距离, 中心" };
    QTest::newRow("a row without a name, and one past the table")
            << true << 2 << 3 << QStringList{ "时间", "2 距离, 中心", "3", "4" };
    QTest::newRow("sheet without a 名称 column") << false << 0 << 2 << QStringList{ "时间", "0", "1" };
}

void tst_CsvRecorder::header()
{
    QFETCH(bool, withNames);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QStringList, expected);
    ProtocolTable table;
    fillSensorSheet(table, withNames);
    QCOMPARE(CsvRecorder::headerFields(table, start, count), expected);
}

void tst_CsvRecorder::csvLine_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain") << QStringList{ "a", "b c", "" } << QByteArray("a,b c,\r\n");
    QTest::newRow("comma quoted") << QStringList{ "1,5", "x" } << QByteArray("\"1,5\",x\r\n");
    QTest::newRow("quote doubled") << QStringList{ "say \"hi\"" } << QByteArray("\"say \"\"hi\"\"\"\r\n");
    QTest::newRow("line break quoted") << QStringList{ "[a]\n[b]" } << QByteArray("\"[a]\n[b]\"\r\n");
    QTest::newRow("UTF-8") << QStringList{ "25℃" } << QByteArray("25\xE2\x84\x83\r\n");
}

void tst_CsvRecorder::csvLine()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, line);
    QCOMPARE(CsvRecorder::csvLine(fields), line);
}

void tst_CsvRecorder::recordsDecodedTexts()
{
    QTemporaryDir dir;
    ProtocolTable table;
    fillSensorSheet(table);
    CsvRecorder recorder;
    const QString path = dir.filePath(QStringLiteral("记录.csv"));
    QVERIFY(recorder.start(path, &table, { QModbusDataUnit::HoldingRegisters, 0, 3 }));
    QVERIFY(recorder.isRecording());
    recorder.record(holding(0, { 5196, 25, 9000 }), noon);
    // Every line is in the file as soon as it is recorded.
    QCOMPARE(readAll(path), utf8Bom + "时间,0 飞行时间,1 温度,\"2 距离, 中心\"\r\n"
                                  "2024-05-01 12:00:00.005,5196us,25℃,900.0mm\r\n");
    recorder.record(holding(0, { 5200, 0xFFFF, 8995 }), noon.addMSecs(250));
    recorder.stop();
    QCOMPARE(readAll(path), utf8Bom + "时间,0 飞行时间,1 温度,\"2 距离, 中心\"\r\n"
                                  "2024-05-01 12:00:00.005,5196us,25℃,900.0mm\r\n"
                                  "2024-05-01 12:00:00.255,5200us,-1℃,899.5mm\r\n");
    QCOMPARE(recorder.lineCount(), 2);
    QCOMPARE(recorder.error(), CsvRecorder::Error::None);
}

void tst_CsvRecorder::otherAreasAndMissingRegisters()
{
    QTemporaryDir dir;
    ProtocolTable table;
    fillSensorSheet(table);
    CsvRecorder recorder;
    const QString path = dir.filePath(QStringLiteral("window.csv"));
    QVERIFY(recorder.start(path, &table, { QModbusDataUnit::HoldingRegisters, 1, 3 }));
    recorder.record(QModbusDataUnit(QModbusDataUnit::InputRegisters, 1, QVector<quint16>{ 1, 2, 3 }), noon);
    recorder.record(holding(2, { 9000 }), noon);   // holds register 2 only
    recorder.record(holding(0, { 1, 2, 3, 4, 70 }), noon); // more than the window: 1..3 used
    recorder.stop();
    QCOMPARE(readAll(path), utf8Bom + "时间,1 温度,\"2 距离, 中心\",3\r\n"
                                  "2024-05-01 12:00:00.005,,900.0mm,\r\n"
                                  "2024-05-01 12:00:00.005,2℃,0.3mm,4\r\n");
    QCOMPARE(recorder.lineCount(), 2);
}

void tst_CsvRecorder::fullDiskFailsTheStart()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    ProtocolTable table;
    fillSensorSheet(table);
    CsvRecorder recorder;
    QSignalSpy failed(&recorder, &CsvRecorder::failed);
    // The header is the first write, and it fails: the start fails.
    QVERIFY(!recorder.start(QStringLiteral("/dev/full"), &table, { QModbusDataUnit::HoldingRegisters, 0, 3 }));
    QCOMPARE(recorder.error(), CsvRecorder::Error::WriteFailed);
    QVERIFY(!recorder.errorString().isEmpty());
    QVERIFY(!recorder.isRecording());
    QCOMPARE(failed.count(), 0); // no recording was under way
}

void tst_CsvRecorder::failedLineStopsTheRecording()
{
    ProtocolTable table;
    fillSensorSheet(table);
    QBuffer device;
    QVERIFY(device.open(QIODevice::WriteOnly));
    CsvRecorder recorder;
    QSignalSpy failed(&recorder, &CsvRecorder::failed);
    QVERIFY(recorder.start(&device, &table, { QModbusDataUnit::HoldingRegisters, 0, 3 }));
    recorder.record(holding(0, { 1, 2, 3 }), noon);
    device.close(); // the device takes no more writes
    recorder.record(holding(0, { 4, 5, 6 }), noon);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(recorder.error(), CsvRecorder::Error::WriteFailed);
    QVERIFY(!recorder.isRecording());
    recorder.record(holding(0, { 7, 8, 9 }), noon); // nothing happens after the stop
    QCOMPARE(failed.count(), 1);
    QCOMPARE(recorder.lineCount(), 1);
    QCOMPARE(device.data(), utf8Bom + "时间,0 飞行时间,1 温度,\"2 距离, 中心\"\r\n"
                                  "2024-05-01 12:00:00.005,1us,2℃,0.3mm\r\n");
}

void tst_CsvRecorder::removedFolderStopsTheRecording()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("day")));
    ProtocolTable table;
    fillSensorSheet(table);
    CsvRecorder recorder;
    QSignalSpy failed(&recorder, &CsvRecorder::failed);
    const QString path = dir.filePath(QStringLiteral("day/log.csv"));
    QVERIFY(recorder.start(path, &table, { QModbusDataUnit::HoldingRegisters, 0, 3 }));
    recorder.record(holding(0, { 1, 2, 3 }), noon);
    QVERIFY(QDir(dir.filePath(QStringLiteral("day"))).removeRecursively());

    recorder.record(holding(0, { 1, 2, 3 }), noon);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(recorder.error(), CsvRecorder::Error::FileGone);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(recorder.lineCount(), 1);
    QCOMPARE(recorder.fileName(), QFileInfo(path).absoluteFilePath());
}

void tst_CsvRecorder::cannotCreateTheFile()
{
    QTemporaryDir dir;
    ProtocolTable table;
    fillSensorSheet(table);
    CsvRecorder recorder;
    QSignalSpy failed(&recorder, &CsvRecorder::failed);
    QVERIFY(!recorder.start(dir.filePath(QStringLiteral("no/such/folder/x.csv")), &table,
                            { QModbusDataUnit::HoldingRegisters, 0, 3 }));
    QCOMPARE(recorder.error(), CsvRecorder::Error::CannotOpen);
    QVERIFY(!recorder.errorString().isEmpty());
    QCOMPARE(failed.count(), 0); // nothing was recording
    QVERIFY(!recorder.isRecording());
}

QTEST_GUILESS_MAIN(tst_CsvRecorder)
#include "tst_csvrecorder.moc"
