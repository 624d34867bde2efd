// CSV recording: header, decoded fields, byte-order mark, line ends, quoting, and a recording
// that stops cleanly when its file cannot be written.
#include "csvrecorder.h"
#include "protocoltable.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray utf8Bom("\xEF\xBB\xBF");
const QDateTime noon(QDate(2024, 5, 1), QTime(12, 0, 0, 5));
const CsvRecorder::Window firstThree{ QModbusDataUnit::HoldingRegisters, 0, 3 };

// The sensor's first registers as the sample workbook describes them; a comma in one name,
// no name in the last row.
void fillSheet(ProtocolTable &table)
{
    table.setSheet({ "地址", "名称", "显示", "JSON解析" },
                   { { "0", "飞行时间", "", R"({"unit":"us"})" },
                     { "1", "温度", "", R"({"signed":true,"unit":"℃"})" },
                     { "2", "距离, 中心", "", R"({"dot":1,"unit":"mm"})" },
                     { "3", "", "", "{}" } });
}

QModbusDataUnit holding(int start, const QVector<quint16> &values)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values);
}

// A reply as the table decodes it for every consumer, its window the registers it holds.
DecodedReply reply(ProtocolTable &table, const QModbusDataUnit &unit)
{
    return table.applyReply(unit, unit.startAddress(), int(unit.valueCount()));
}

} // namespace

class tst_CsvRecorder : public QObject
{
    Q_OBJECT

private slots:
    void header_data();
    void header();
    void recordsDecodedTexts();
    void failuresStopTheRecording();
};

void tst_CsvRecorder::header_data()
{
    QTest::addColumn<bool>("names");
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("names from the 名称 column") << true << 0 << QStringList{ "时间", "0 飞行时间", "1 温度", "2 距离, 中心" };
    QTest::newRow("a row without a name, one past the table") << true << 2 << QStringList{ "时间", "2 距离, 中心", "3", "4" };
    QTest::newRow("sheet without a 名称 column") << false << 0 << QStringList{ "时间", "0", "1", "2" };
}

void tst_CsvRecorder::header()
{
    QFETCH(bool, names);
    QFETCH(int, start);
    QFETCH(QStringList, expected);
    ProtocolTable table;
    fillSheet(table);
    if (!names)
        table.setSheet({ "地址", "显示" }, { { "0", "" }, { "1", "" }, { "2", "" } });
    QCOMPARE(CsvRecorder::headerFields(table, start, 3), expected);
}

void tst_CsvRecorder::recordsDecodedTexts()
{
    QTemporaryDir dir;
    ProtocolTable table;
    fillSheet(table);
    CsvRecorder recorder;
    const QString path = dir.filePath(QStringLiteral("记录.csv"));
    QVERIFY(recorder.start(path, &table, { QModbusDataUnit::HoldingRegisters, 1, 3 }));
    const QByteArray header = utf8Bom + "时间,1 温度,\"2 距离, 中心\",3\r\n";
    QCOMPARE(fileData(path), header); // in the file before the first reply

    recorder.record(reply(table, holding(0, { 5196, 25, 9000, 7 })), noon);
    QCOMPARE(fileData(path), header + "2024-05-01 12:00:00.005,25℃,900.0mm,7\r\n"); // each line at once
    recorder.record(reply(table, QModbusDataUnit(QModbusDataUnit::InputRegisters, 1, QVector<quint16>{ 1, 2, 3 })), noon);
    recorder.record(reply(table, holding(2, { 8995 })), noon.addMSecs(250)); // holds register 2 only
    recorder.record(reply(table, holding(1, { 0xFFFF, 0, 0 })), noon.addSecs(1));
    recorder.stop();
    QCOMPARE(fileData(path), header + "2024-05-01 12:00:00.005,25℃,900.0mm,7\r\n"
                                      "2024-05-01 12:00:00.255,,899.5mm,\r\n"
                                      "2024-05-01 12:00:01.005,-1℃,0.0mm,0\r\n");
    QCOMPARE(recorder.lineCount(), qint64(3));
    QCOMPARE(CsvRecorder::csvLine({ "say \"hi\"", "[a]\n[b]" }), QByteArray("\"say \"\"hi\"\"\",\"[a]\n[b]\"\r\n"));
}

void tst_CsvRecorder::failuresStopTheRecording()
{
    QTemporaryDir dir;
    ProtocolTable table;
    fillSheet(table);
    CsvRecorder recorder;
    QSignalSpy failed(&recorder, &CsvRecorder::failed);

    // A folder that does not exist, or a full disk for the header: the start fails.
    QVERIFY(!recorder.start(dir.filePath(QStringLiteral("no/such/x.csv")), &table, firstThree));
    QCOMPARE(recorder.error(), CsvRecorder::Error::CannotOpen);
    if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
        QVERIFY(!recorder.start(QStringLiteral("/dev/full"), &table, firstThree));
        QCOMPARE(recorder.error(), CsvRecorder::Error::WriteFailed);
        QVERIFY(!recorder.errorString().isEmpty());
    }
    QCOMPARE(failed.count(), 0); // no recording was under way

    // Its folder removed while recording.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("day")));
    const QString path = dir.filePath(QStringLiteral("day/log.csv"));
    QVERIFY(recorder.start(path, &table, firstThree));
    recorder.record(reply(table, holding(0, { 1, 2, 3 })), noon);
    QVERIFY(QDir(dir.filePath(QStringLiteral("day"))).removeRecursively());
    recorder.record(reply(table, holding(0, { 1, 2, 3 })), noon);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(recorder.error(), CsvRecorder::Error::FileGone);
    QVERIFY(!recorder.isRecording());
    QCOMPARE(recorder.fileName(), QFileInfo(path).absoluteFilePath());

    // A device that stops taking writes: the line is lost, the recording ends, nothing after.
    QBuffer device;
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(recorder.start(&device, &table, firstThree));
    recorder.record(reply(table, holding(0, { 1, 2, 3 })), noon);
    device.close();
    recorder.record(reply(table, holding(0, { 4, 5, 6 })), noon);
    recorder.record(reply(table, holding(0, { 7, 8, 9 })), noon);
    QCOMPARE(failed.count(), 2);
    QCOMPARE(recorder.error(), CsvRecorder::Error::WriteFailed);
    QCOMPARE(recorder.lineCount(), qint64(1));
    QVERIFY(device.data().endsWith("2024-05-01 12:00:00.005,1us,2℃,0.3mm\r\n"));
}

QTEST_GUILESS_MAIN(tst_CsvRecorder)
#include "tst_csvrecorder.moc"
