#include "protocoltable.h"
#include "trend.h"

#include <QtTest>

#include <cmath>

// The trend chart's recorded series: thinning to pixel columns, the number of a display text,
// the value axis, the bounded series over a simulated hour, and the recorder fed from replies.
class TestTrend : public QObject
{
    Q_OBJECT

private slots:
    void thinning_data();
    void thinning();
    void thinningKeepsExtremes();


    void axisRange_data();
    void axisRange();

    void seriesStaysBoundedOverAnHour();

    void recorderFeed();
};

namespace {

// "t:value" per point, "t:gap" for a gap: compares NaN as equal and prints readably.
QStringList texts(const QVector<TrendPoint> &points)
{
    QStringList out;
    for (const TrendPoint &p : points)
        out << QStringLiteral("%1:%2").arg(p.timeMs).arg(p.isGap() ? QStringLiteral("gap")
                                                                    : QString::number(p.value));
    return out;
}

QVector<TrendPoint> pointsOf(const QStringList &texts)
{
    QVector<TrendPoint> points;
    for (const QString &text : texts) {
        const QStringList parts = text.split(QLatin1Char(':'));
        const double value = parts.at(1) == QLatin1String("gap") ? trendGap : parts.at(1).toDouble();
        points.append(TrendPoint{ parts.at(0).toLongLong(), value });
    }
    return points;
}

} // namespace

void TestTrend::thinning_data()
{
    QTest::addColumn<QStringList>("points");
    QTest::addColumn<int>("columnMs");
    QTest::addColumn<QStringList>("thinned");

    QTest::newRow("empty") << QStringList() << 10 << QStringList();
    QTest::newRow("one point") << QStringList{ "5:1" } << 10 << QStringList{ "5:1" };
    QTest::newRow("low before high")
            << QStringList{ "0:5", "2:1", "4:9", "6:3" } << 10 << QStringList{ "2:1", "4:9" };
    QTest::newRow("high before low")
            << QStringList{ "0:5", "2:9", "4:1", "6:3" } << 10 << QStringList{ "2:9", "4:1" };
    QTest::newRow("flat column keeps its first point")
            << QStringList{ "0:2", "3:2", "7:2" } << 10 << QStringList{ "0:2" };
    QTest::newRow("each column on its own")
            << QStringList{ "0:1", "5:3", "10:2", "15:2", "25:7" } << 10
            << QStringList{ "0:1", "5:3", "10:2", "25:7" };
    QTest::newRow("gap between low and high stays")
            << QStringList{ "0:1", "3:gap", "6:9" } << 10 << QStringList{ "0:1", "3:gap", "6:9" };
    QTest::newRow("first gap of a column only")
            << QStringList{ "0:gap", "2:gap", "4:5" } << 10 << QStringList{ "0:gap", "4:5" };
    QTest::newRow("gap after the extremes")
            << QStringList{ "1:4", "2:8", "3:6", "8:gap", "9:gap" } << 10
            << QStringList{ "1:4", "2:8", "8:gap" };
    QTest::newRow("column of gaps only") << QStringList{ "11:gap", "12:gap" } << 10
                                         << QStringList{ "11:gap" };
    // -11 lies in [-20, -10), -10 .. -1 in [-10, 0).
    QTest::newRow("columns before time 0 are as wide")
            << QStringList{ "-11:4", "-10:5", "-9:8", "-5:7", "-1:6" } << 10
            << QStringList{ "-11:4", "-10:5", "-9:8" };
    QTest::newRow("width 0 keeps everything")
            << QStringList{ "0:1", "1:2", "2:3" } << 0 << QStringList{ "0:1", "1:2", "2:3" };
    QTest::newRow("wide column")
            << QStringList{ "0:3", "400:-2", "900:gap", "999:10", "1000:1" } << 1000
            << QStringList{ "400:-2", "900:gap", "999:10", "1000:1" };
}

void TestTrend::thinning()
{
    QFETCH(QStringList, points);
    QFETCH(int, columnMs);
    QFETCH(QStringList, thinned);

    QCOMPARE(texts(thinTrendPoints(pointsOf(points), columnMs)), thinned);
}

void TestTrend::thinningKeepsExtremes()
{
    QVector<TrendPoint> points;
    for (int i = 0; i < 10000; ++i)
        points.append(TrendPoint{ i, double(i % 50) });
    points[4321].value = 1000;
    points[777].value = -1000;
    points[5000].value = trendGap;
    const QVector<TrendPoint> thinned = thinTrendPoints(points, 200);
    // 50 columns: the lowest and highest of each, and the one gap.
    QVERIFY(thinned.size() <= 2 * 50 + 1);
    // Thinning again with the same columns changes nothing.
    QCOMPARE(texts(thinTrendPoints(thinned, 200)), texts(thinned));
    double low = 0, high = 0;
    for (const TrendPoint &p : thinned) {
        if (p.isGap())
            continue;
        low = qMin(low, p.value);
        high = qMax(high, p.value);
    }
    QCOMPARE(low, -1000.0);
    QCOMPARE(high, 1000.0);
}

void TestTrend::axisRange_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<double>("axisLow");
    QTest::addColumn<double>("axisHigh");
    QTest::addColumn<int>("axisTicks");

    // -0.5..10.5, 5 intervals of at least 2.2: steps of 2.5.
    QTest::newRow("0 to 10") << 0.0 << 10.0 << 6 << -2.5 << 12.5 << 7;
    // 240..1560, intervals of at least 264: steps of 500.
    QTest::newRow("300 to 1500 mm") << 300.0 << 1500.0 << 6 << 0.0 << 2000.0 << 5;
    // 400 - 415 would be below 0: 0..9115, intervals of at least 1823: steps of 2000.
    QTest::newRow("positive values stay above 0") << 400.0 << 8700.0 << 6 << 0.0 << 10000.0 << 6;
    // Flat 900: 855..945, steps of 20.
    QTest::newRow("flat 900") << 900.0 << 900.0 << 6 << 840.0 << 960.0 << 7;
    QTest::newRow("flat 0.9") << 0.9 << 0.9 << 6 << 0.84 << 0.96 << 7;
    QTest::newRow("flat 0") << 0.0 << 0.0 << 6 << -0.6 << 0.6 << 7;
    // -0.5..10.5 in one interval of at least 11: a step of 20.
    QTest::newRow("one interval") << 0.0 << 10.0 << 1 << -20.0 << 20.0 << 3;
    QTest::newRow("low above high") << 2.0 << 1.0 << 6 << 0.0 << 1.0 << 2;
    QTest::newRow("not a number") << qQNaN() << 1.0 << 6 << 0.0 << 1.0 << 2;
}

void TestTrend::axisRange()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, ticks);
    QFETCH(double, axisLow);
    QFETCH(double, axisHigh);
    QFETCH(int, axisTicks);

    const TrendAxisRange range = niceTrendRange(low, high, ticks);
    QCOMPARE(range.low, axisLow);
    QCOMPARE(range.high, axisHigh);
    QCOMPARE(range.ticks, axisTicks);
}

// An hour of one series at 500 replies a second (simulated time): the series holds a few
// thousand points, not 1.8 million, and keeps the extremes of the last minute and of the
// older points.
void TestTrend::seriesStaysBoundedOverAnHour()
{
    const int columns = 1000;
    const qint64 shownMs = 60 * 1000;
    const qint64 keptMs = 3600 * 1000;
    TrendSeries series;
    series.setResolution(shownMs, columns, keptMs);

    const qint64 start = 1700000000000;
    const qint64 hourMs = 3600 * 1000;
    int largest = 0;
    for (qint64 step = 0; step <= hourMs / 2; ++step) {
        const qint64 t = start + step * 2;
        double value = std::sin(step * 0.001) * 100;
        if (t == start + hourMs / 2) // half an hour in: a spike far above the rest
            value = 5000;
        if (t == start + hourMs - 30000) // and one in the last minute
            value = 3000;
        series.append(t, value);
        largest = qMax(largest, series.points().size());
    }

    // After a thinning at most 3 points per column of the shown span and of the kept hour
    // (plus a partial column each); the next thinning comes at twice that.
    const int bound = 2 * 3 * (2 * columns + 2);
    QVERIFY2(largest <= bound, qPrintable(QString::number(largest)));
    const QVector<TrendPoint> &points = series.points();
    const qint64 newest = points.constLast().timeMs;
    QCOMPARE(newest, start + hourMs);
    QVERIFY(points.constFirst().timeMs >= newest - keptMs);

    double high = -1, lastHigh = -1;
    for (const TrendPoint &p : points) {
        high = qMax(high, p.value);
        if (p.timeMs >= newest - shownMs)
            lastHigh = qMax(lastHigh, p.value);
    }
    QCOMPARE(high, 5000.0);
    QCOMPARE(lastHigh, 3000.0);
}

void TestTrend::recorderFeed()
{
    ProtocolTable table;
    table.setSheet({ "地址", "名称", "显示", "JSON解析" },
                   { { "0", "距离", "", R"({"dot":1,"unit":"mm"})" },
                     { "1", "开关", "", R"({"maps":{"1":"开"}})" },
                     { "2", "距离（米）", "", R"({"type":"F32","unit":"m"})" },
                     { "3", "低位字", "", R"({"type":"HEX"})" } });
    TrendRecorder recorder;
    QVERIFY(recorder.addTrace(QModbusDataUnit::HoldingRegisters, 0, "0 距离"));
    QVERIFY(recorder.addTrace(QModbusDataUnit::HoldingRegisters, 1, "1 开关"));
    QVERIFY(recorder.addTrace(QModbusDataUnit::HoldingRegisters, 2, "2 距离（米）"));
    QVERIFY(!recorder.addTrace(QModbusDataUnit::HoldingRegisters, 2, "again"));
    QVERIFY(recorder.addTrace(QModbusDataUnit::InputRegisters, 0, "0 输入"));

    const auto feed = [&](QModbusDataUnit::RegisterType area, int start,
                          const QVector<quint16> &values, qint64 timeMs) {
        recorder.feed(table.applyReply(QModbusDataUnit(area, start, values), start, values.size()),
                      timeMs);
    };
    feed(QModbusDataUnit::HoldingRegisters, 0, { 9000, 1, 0x3F66, 0x6666 }, 1000);
    // A reply of the register after the float's first word only: the float cannot be read.
    feed(QModbusDataUnit::HoldingRegisters, 1, { 0, 0x3F66 }, 2000);
    // Another area: the input register trace only.
    feed(QModbusDataUnit::InputRegisters, 0, { 7 }, 3000);

    const QVector<TrendRecorder::Trace> &traces = recorder.traces();
    QCOMPARE(traces.size(), 4);
    QCOMPARE(texts(traces.at(0).series.points()), QStringList({ "1000:900" }));
    QCOMPARE(texts(traces.at(1).series.points()), QStringList({ "1000:gap", "2000:0" }));
    QCOMPARE(texts(traces.at(2).series.points()), QStringList({ "1000:0.9", "2000:gap" }));
    // Decoded with the table's row 0, as the window only feeds replies of the sheet it shows.
    QCOMPARE(texts(traces.at(3).series.points()), QStringList({ "3000:0.7" }));
    QCOMPARE(recorder.pointCount(), 6);

    recorder.removeTrace(QModbusDataUnit::HoldingRegisters, 1);
    QCOMPARE(recorder.indexOf(QModbusDataUnit::HoldingRegisters, 1), -1);
    QCOMPARE(recorder.indexOf(QModbusDataUnit::HoldingRegisters, 2), 1);
}

QTEST_GUILESS_MAIN(TestTrend)
#include "tst_trend.moc"
