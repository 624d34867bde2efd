#include "csvrecorder.h"
#include "protocoltable.h"
#include "sensorregisters.h"
#include "tablefixture.h"
#include "trend.h"

#include <QBuffer>
#include <QtTest>

#include <climits>

using namespace tablefixture;

// The protocol table model between the table and the line: the values a write takes from the
// hex cells, what a reply leaves in the rows, and how one register of a reply is decoded.
class tst_TableReplies : public QObject
{
    Q_OBJECT
private slots:
    void writeValues_data();
    void writeValues();
    void applyReply_data();
    void applyReply();
    void applyReplyMarksChanges();
    void applyReplyWithoutValueColumns();
    void oneDecodingForEveryConsumer();
    void decodeAt_data();
    void decodeAt();
};

void tst_TableReplies::writeValues_data()
{
    QTest::addColumn<bool>("hexColumn");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QVector<quint16>>("values");

    // Hex cells of rows 0..5: "0x0001", "20", "abc", "0x12345", "-2", "".
    QTest::newRow("hex, decimal and junk cells") << true << 0 << 3 << true << QVector<quint16>{ 1, 20, 0 };
    QTest::newRow("low 16 bits of 0x12345") << true << 3 << 1 << true << QVector<quint16>{ 0x2345 };
    QTest::newRow("negative decimal") << true << 4 << 1 << true << QVector<quint16>{ 65534 };
    QTest::newRow("empty cell is 0") << true << 5 << 1 << true << QVector<quint16>{ 0 };
    QTest::newRow("the whole table") << true << 0 << 6 << true
                                     << QVector<quint16>{ 1, 20, 0, 0x2345, 65534, 0 };
    QTest::newRow("count 0: nothing to send") << true << 0 << 0 << true << QVector<quint16>();
    QTest::newRow("negative count: nothing to send") << true << 0 << -3 << true << QVector<quint16>();
    QTest::newRow("negative address") << true << -1 << 2 << false << QVector<quint16>();
    QTest::newRow("one row past the last") << true << 5 << 2 << false << QVector<quint16>();
    QTest::newRow("start at the row count") << true << 6 << 1 << false << QVector<quint16>();
    QTest::newRow("huge count") << true << 0 << 2000000000 << false << QVector<quint16>();
    QTest::newRow("address near INT_MAX") << true << INT_MAX << 1 << false << QVector<quint16>();
    QTest::newRow("no hex column") << false << 0 << 1 << false << QVector<quint16>();
    QTest::newRow("no hex column, count 0") << false << 0 << 0 << true << QVector<quint16>();
}

void tst_TableReplies::writeValues()
{
    QFETCH(bool, hexColumn);
    QFETCH(int, address);
    QFETCH(int, count);
    QFETCH(bool, accepted);
    QFETCH(QVector<quint16>, values);

    ProtocolTable table;
    const QStringList cells = { "0x0001", "20", "abc", "0x12345", "-2", "" };
    QList<QStringList> rows;
    for (const QString &cell : cells)
        rows << QStringList({ QStringLiteral("0"), cell });
    table.setSheet({ "地址", hexColumn ? "16进制" : "备注" }, rows);

    QVector<quint16> taken = { 99 }; // cleared by every call
    QCOMPARE(table.writeValues(address, count, &taken), accepted);
    if (accepted)
        QCOMPARE(taken, values);
    else
        QVERIFY(taken.isEmpty());

    // An edited cell counts from the edit on.
    if (hexColumn && accepted && count > 0) {
        table.setText(address, 1, QStringLiteral("0x0041"));
        QVERIFY(table.writeValues(address, 1, &taken));
        QCOMPARE(taken, QVector<quint16>{ 0x41 });
    }
}

void tst_TableReplies::applyReply_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("windowStart");
    QTest::addColumn<int>("windowCount");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("hex");
    QTest::addColumn<QStringList>("dec");
    QTest::addColumn<QStringList>("display");
    QTest::addColumn<QList<bool>>("changed");

    // Ten rows; rules: row 0 {"unit":"us"}, row 1 {"signed":true}, the rest {}; row 2 holds 0x0007.
    QTest::newRow("reply equals the window")
            << 0 << QVector<quint16>{ 125, 65336, 7 } << 0 << 3 << QList<int>{ 0, 1, 2 }
            << QStringList({ "0x007D", "0xFF38", "0x0007" }) << QStringList({ "125", "65336", "7" })
            << QStringList({ "125us", "-200", "7" }) << QList<bool>{ true, true, false };
    QTest::newRow("window inside the reply")
            << 0 << QVector<quint16>{ 1, 2, 3, 4, 5, 6 } << 2 << 2 << QList<int>{ 2, 3 }
            << QStringList({ "0x0003", "0x0004" }) << QStringList({ "3", "4" }) << QStringList({ "3", "4" })
            << QList<bool>{ true, true };
    QTest::newRow("reply inside the window")
            << 4 << QVector<quint16>{ 40, 41 } << 0 << 10 << QList<int>{ 4, 5 }
            << QStringList({ "0x0028", "0x0029" }) << QStringList({ "40", "41" }) << QStringList({ "40", "41" })
            << QList<bool>{ true, true };
    QTest::newRow("window begins before the reply")
            << 3 << QVector<quint16>{ 30, 31, 32 } << 1 << 4 << QList<int>{ 3, 4 }
            << QStringList({ "0x001E", "0x001F" }) << QStringList({ "30", "31" }) << QStringList({ "30", "31" })
            << QList<bool>{ true, true };
    QTest::newRow("rows beyond the table skipped")
            << 8 << QVector<quint16>{ 80, 81, 82, 83, 84 } << 8 << 5 << QList<int>{ 8, 9 }
            << QStringList({ "0x0050", "0x0051" }) << QStringList({ "80", "81" }) << QStringList({ "80", "81" })
            << QList<bool>{ true, true };
    QTest::newRow("negative window start")
            << 0 << QVector<quint16>{ 5, 6, 7 } << -2 << 4 << QList<int>{ 0, 1 }
            << QStringList({ "0x0005", "0x0006" }) << QStringList({ "5", "6" }) << QStringList({ "5us", "6" })
            << QList<bool>{ true, true };
    QTest::newRow("reply starting before address 0")
            << -1 << QVector<quint16>{ 9, 10, 65535 } << 0 << 5 << QList<int>{ 0, 1 }
            << QStringList({ "0x000A", "0xFFFF" }) << QStringList({ "10", "65535" })
            << QStringList({ "10us", "-1" }) << QList<bool>{ true, true };
    QTest::newRow("reply wholly beyond the table") << 10 << QVector<quint16>{ 1, 2 } << 10 << 2 << QList<int>()
                                                   << QStringList() << QStringList() << QStringList()
                                                   << QList<bool>();
    QTest::newRow("reply and window apart") << 0 << QVector<quint16>{ 1, 2 } << 5 << 3 << QList<int>()
                                            << QStringList() << QStringList() << QStringList() << QList<bool>();
    QTest::newRow("empty window") << 0 << QVector<quint16>{ 1, 2 } << 0 << 0 << QList<int>() << QStringList()
                                  << QStringList() << QStringList() << QList<bool>();
    QTest::newRow("empty reply") << 0 << QVector<quint16>() << 0 << 5 << QList<int>() << QStringList()
                                 << QStringList() << QStringList() << QList<bool>();
}

void tst_TableReplies::applyReply()
{
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, windowStart);
    QFETCH(int, windowCount);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, hex);
    QFETCH(QStringList, dec);
    QFETCH(QStringList, display);
    QFETCH(QList<bool>, changed);

    ProtocolTable table;
    QStringList rules = { R"({"unit":"us"})", R"({"signed":true})" };
    while (rules.size() < 10)
        rules << QString();
    setRules(table, rules);
    table.setText(2, 2, QStringLiteral("0x0007"));
    const QList<QStringList> before = table.rows();

    QVector<DecodedRegister> updates;
    const DecodedReply reply = table.applyReply(registers(start, values), windowStart, windowCount);
    for (const DecodedRegister &decoded : reply.registers) {
        if (decoded.inTable)
            updates.append(decoded);
        else // past the rows: the unsigned decimal value
            QCOMPARE(decoded.display, decoded.dec);
    }
    QCOMPARE(updates.size(), rows.size());
    for (int i = 0; i < updates.size(); ++i) {
        const DecodedRegister &update = updates.at(i);
        QCOMPARE(update.address, rows.at(i));
        QCOMPARE(update.hex, hex.at(i));
        QCOMPARE(update.dec, dec.at(i));
        QCOMPARE(update.display, display.at(i));
        QCOMPARE(update.hexChanged, changed.at(i));
        // The model holds what the row shows now.
        QCOMPARE(table.text(update.address, 2), hex.at(i));
        QCOMPARE(table.text(update.address, 3), dec.at(i));
        QCOMPARE(table.text(update.address, 4), display.at(i));
    }
    for (int r = 0; r < 10; ++r) {
        if (!rows.contains(r))
            QCOMPARE(table.rows().at(r), before.at(r));
    }
}

void tst_TableReplies::applyReplyMarksChanges()
{
    ProtocolTable table;
    setRules(table, { "", "" });
    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, 0, QVector<quint16>{ 1, 2 });
    const auto changes = [&] {
        QList<bool> marks;
        const DecodedReply reply = table.applyReply(unit, 0, 2);
        for (const DecodedRegister &decoded : reply.registers)
            marks << decoded.hexChanged;
        return marks;
    };

    QCOMPARE(changes(), (QList<bool>{ true, true }));   // from empty cells
    QCOMPARE(changes(), (QList<bool>{ false, false })); // the same values again
    // The user typed another value into row 0: the reply puts the device's value back.
    table.setText(0, 2, QStringLiteral("0x0005"));
    QCOMPARE(changes(), (QList<bool>{ true, false }));
    QCOMPARE(table.text(0, 2), QStringLiteral("0x0001"));
}

void tst_TableReplies::applyReplyWithoutValueColumns()
{
    ProtocolTable table;
    table.setSheet({ "地址", "JSON解析" }, { { "0", R"({"unit":"mm"})" }, { "1", "" } });
    const QList<QStringList> before = table.rows();

    // The reply is decoded all the same (the recorder and the trend take it); the rows stay.
    const DecodedReply reply = table.applyReply(registers(0, { 7, 8 }), 0, 2);
    QCOMPARE(reply.registers.size(), 2);
    QCOMPARE(reply.registers.at(0).display, QStringLiteral("7mm"));
    QCOMPARE(reply.registers.at(0).number, std::optional<double>(7));
    QVERIFY(!reply.registers.at(0).hexChanged);
    QCOMPARE(table.rows(), before);
}

// The table decodes a reply once; the recorder, the trend and the distance display take what it
// made, so they show what the table shows.
void tst_TableReplies::oneDecodingForEveryConsumer()
{
    ProtocolTable table;
    setRules(table, { R"({"unit":"us"})", R"({"signed":true,"unit":"C"})", R"({"dot":1,"unit":"mm"})",
                      R"({"maps":{"1":"on"}})" });
    const DecodedReply reply = table.applyReply(registers(0, { 5196, 65511, 9000, 1 }), 0, 4);

    QStringList display;
    for (int row = 0; row < 4; ++row)
        display << table.text(row, 4);
    QCOMPARE(display, QStringList({ "5196us", "-25C", "900.0mm", "on" }));

    QBuffer csv;
    QVERIFY(csv.open(QIODevice::WriteOnly));
    CsvRecorder recorder;
    QVERIFY(recorder.start(&csv, &table, { QModbusDataUnit::HoldingRegisters, 0, 4 }));
    recorder.record(reply);
    const QList<QByteArray> lines = csv.data().split('\n');
    QCOMPARE(QString::fromUtf8(lines.at(1)).trimmed().section(QLatin1Char(','), 1).split(QLatin1Char(',')),
             display);

    TrendRecorder trend;
    for (int row = 0; row < 4; ++row)
        trend.addTrace(QModbusDataUnit::HoldingRegisters, row, table.rowTitle(row));
    trend.feed(reply, 1000);
    QVector<double> numbers;
    for (const TrendRecorder::Trace &trace : trend.traces())
        numbers << trace.series.points().constFirst().value;
    QCOMPARE(numbers.mid(0, 3), (QVector<double>{ 5196, -25, 900 }));
    QVERIFY(trend.traces().at(3).series.points().constFirst().isGap()); // a name, not a number

    const QVector<SensorRegisters::Reading> readings = SensorRegisters::readingsOf(reply);
    QCOMPARE(readings.size(), 3);
    QCOMPARE(readings.at(1).field, SensorRegisters::Field::Temperature);
    QCOMPARE(readings.at(1).value, quint16(65511));
}

void tst_TableReplies::decodeAt_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<quint16>>("values");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");

    // Four rows: {"unit":"us"}, {"signed":true}, {"type":"HEX"}, {}.
    const QVector<quint16> all = { 125, 65336, 171, 9 };
    QTest::newRow("row 0 with its unit") << 0 << all << 0 << "125us";
    QTest::newRow("row 1 signed") << 0 << all << 1 << "-200";
    QTest::newRow("row 2 in hex") << 0 << all << 2 << "AB";
    QTest::newRow("row 3 plain") << 0 << all << 3 << "9";
    QTest::newRow("reply from address 2") << 2 << QVector<quint16>{ 171, 9 } << 0 << "AB";
    QTest::newRow("past the rows: unsigned decimal") << 3 << QVector<quint16>{ 9, 65535 } << 1 << "65535";
    QTest::newRow("far past the rows") << 1000 << QVector<quint16>{ 65336 } << 0 << "65336";
    QTest::newRow("address -1: unsigned decimal") << -1 << QVector<quint16>{ 65336, 125 } << 0 << "65336";
    QTest::newRow("address 0 of a reply from -1") << -1 << QVector<quint16>{ 65336, 125 } << 1 << "125us";
    QTest::newRow("index past the values reads 0") << 0 << QVector<quint16>{ 1 } << 3 << "0";
}

void tst_TableReplies::decodeAt()
{
    QFETCH(int, start);
    QFETCH(QVector<quint16>, values);
    QFETCH(int, index);
    QFETCH(QString, shown);

    ProtocolTable table;
    setRules(table, { R"({"unit":"us"})", R"({"signed":true})", R"({"type":"HEX"})", "" });
    QCOMPARE(table.decodeAt(registers(start, values), index), shown);
}

QTEST_GUILESS_MAIN(tst_TableReplies)
#include "tst_tablereplies.moc"
