#include "protocoltable.h"
#include "simfixture.h"
#include "trendchart.h"
#include "windowfixture.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QListWidget>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtTest>

using namespace QtCharts;

// The trend chart in the main window, reading the simulated sensor (frozen at time 0: distance
// 900.0 mm, 0.9 m as a float) with the sample workbook's holding registers.
class TestTrendWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void plotsSelectedRows();
    void gapSplitsTheLine();
    void editLinesAndPause();

private:
    TrendChart *openChart(const QList<int> &selectedRows);
    void selectRows(const QList<int> &rows);
    void readTimes(int replies);
    // The points of the named line of the chart (the first piece of a trace), or none.
    QVector<QPointF> linePoints(TrendChart *chart, const QString &name) const;

    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<WindowFixture> m_fixture;
};

void TestTrendWindow::init()
{
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(m_sim->start({ QStringLiteral("--static") }), qPrintable(m_sim->errorString()));
    m_fixture = std::make_unique<WindowFixture>(QStringLiteral("tst_trendwindow"));
    QVERIFY(m_fixture->isValid());
    m_fixture->useWorkbook(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                           QStringLiteral("保持寄存器"));
    m_fixture->useLine(m_sim->clientPort());
    m_fixture->create(true);
    m_fixture->setReadWindow(0, 22);
}

void TestTrendWindow::cleanup()
{
    m_fixture.reset();
    m_sim.reset();
}

void TestTrendWindow::selectRows(const QList<int> &rows)
{
    m_fixture->table->clearSelection();
    for (int row : rows) {
        m_fixture->table->setRangeSelected(
                QTableWidgetSelectionRange(row, 0, row, m_fixture->table->columnCount() - 1), true);
    }
}

TrendChart *TestTrendWindow::openChart(const QList<int> &selectedRows)
{
    selectRows(selectedRows);
    m_fixture->child<QAction>("actiontrend")->trigger();
    const QList<TrendChart *> charts = m_fixture->window()->findChildren<TrendChart *>();
    return charts.size() == 1 ? charts.first() : nullptr;
}

void TestTrendWindow::readTimes(int replies)
{
    const int before = m_fixture->count(windowtext::normal);
    if (!m_fixture->connectButton->isChecked())
        QVERIFY(m_fixture->open());
    m_fixture->period->setText(QStringLiteral("20"));
    m_fixture->repeat->setChecked(true);
    m_fixture->readButton->setChecked(true);
    QVERIFY(m_fixture->waitFor(windowtext::normal, before + replies, 10000));
    m_fixture->repeat->setChecked(false);
    QVERIFY(m_fixture->settle());
}

QVector<QPointF> TestTrendWindow::linePoints(TrendChart *chart, const QString &name) const
{
    const QList<QAbstractSeries *> series = chart->chart()->series();
    for (QAbstractSeries *s : series) {
        if (s->name() == name)
            return static_cast<QLineSeries *>(s)->pointsVector();
    }
    return {};
}

// Opened from the menu with rows selected: one window, a line per row named by address and
// name, the decoded numbers plotted (row 3's names leave only gaps), a PNG of the picture.
void TestTrendWindow::plotsSelectedRows()
{
    TrendChart *chart = openChart({ 2, 3, 14, 16 });
    QVERIFY(chart);
    QCOMPARE(chart->windowTitle(), QStringLiteral("趋势图"));
    QCOMPARE(chart->windowType(), Qt::Window);
    QVERIFY(chart->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(chart->pos(), m_fixture->window()->pos() + QPoint(30, 30));
    selectRows({ 5 });
    m_fixture->child<QAction>("actiontrend")->trigger();
    QCOMPARE(m_fixture->window()->findChildren<TrendChart *>().size(), 1);

    QStringList names;
    for (const TrendRecorder::Trace &trace : chart->recorder().traces())
        names << trace.name;
    QCOMPARE(names, QStringList({ "2 距离", "3 工作状态", "14 距离（米）", "16 飞行时间（纳秒）" }));
    QCOMPARE(chart->findChild<QListWidget *>(QStringLiteral("listWidget_traces"))->count(), 4);

    readTimes(3);
    chart->refresh();
    const QList<QPair<QString, double>> expected = {
        { "2 距离", 900.0 }, { "14 距离（米）", 0.9 }, { "16 飞行时间（纳秒）", 5195555.0 }
    };
    for (const auto &line : expected) {
        const QVector<QPointF> points = linePoints(chart, line.first);
        QVERIFY2(points.size() >= 1, qPrintable(line.first));
        for (const QPointF &p : points)
            QCOMPARE(p.y(), line.second);
    }
    QVERIFY(linePoints(chart, QStringLiteral("3 工作状态")).isEmpty());
    QVERIFY(chart->recorder().traces().at(1).series.points().size() >= 3);
    for (const TrendPoint &p : chart->recorder().traces().at(1).series.points())
        QVERIFY(p.isGap());

    // The longest span; the time axis follows.
    chart->findChild<QComboBox *>(QStringLiteral("comboBox_span"))->setCurrentIndex(4);
    const auto *axis = qobject_cast<QDateTimeAxis *>(chart->chart()->axes(Qt::Horizontal).first());
    QCOMPARE(axis->min().msecsTo(axis->max()), qint64(3600 * 1000));

    const QString path = m_fixture->path(QStringLiteral("trend.png"));
    QString reason;
    QVERIFY2(chart->savePicture(path, &reason), qPrintable(reason));
    QImage picture;
    QVERIFY(picture.load(path, "PNG"));
    QCOMPARE(picture.size(), chart->findChild<QWidget *>(QStringLiteral("chartView"))->size());
    QVERIFY(!chart->savePicture(m_fixture->path(QStringLiteral("missing/trend.png")), &reason));
}

// A text that is not a number between two numbers: the trace's line breaks in two, and the
// legend still names the trace once.
void TestTrendWindow::gapSplitsTheLine()
{
    TrendChart *chart = openChart({ 5 });
    QVERIFY(chart);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Register 5 maps the baud rate / 100 to its text, anything else to "未知".
    const auto reply = [this](quint16 value) {
        return m_fixture->model()->applyReply(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 5, QVector<quint16>{ value }), 5, 1);
    };
    chart->takeReply(reply(1152), now - 4000);
    chart->takeReply(reply(1152), now - 3000);
    chart->takeReply(reply(7), now - 2000);
    chart->takeReply(reply(96), now - 1000);
    chart->refresh();

    QList<QLineSeries *> pieces;
    const QList<QAbstractSeries *> series = chart->chart()->series();
    for (QAbstractSeries *s : series) {
        if (s->name() == QStringLiteral("5 波特率"))
            pieces << static_cast<QLineSeries *>(s);
    }
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces.at(0)->pointsVector(),
             QVector<QPointF>({ QPointF(now - 4000, 115200), QPointF(now - 3000, 115200) }));
    QCOMPARE(pieces.at(1)->pointsVector(), QVector<QPointF>({ QPointF(now - 1000, 9600) }));
    QTRY_VERIFY(chart->chart()->legend()->markers(pieces.at(0)).first()->isVisible());
    QVERIFY(!chart->chart()->legend()->markers(pieces.at(1)).first()->isVisible());
}

// Lines added from the table's selection and removed in the list; pause holds the picture
// while recording goes on.
void TestTrendWindow::editLinesAndPause()
{
    TrendChart *chart = openChart({});
    QVERIFY(chart);
    auto *add = chart->findChild<QPushButton *>(QStringLiteral("pushButton_add"));
    selectRows({ 0, 1 });
    add->click();
    selectRows({ 1, 14 }); // row 1 is not added twice
    add->click();
    QStringList names;
    for (const TrendRecorder::Trace &trace : chart->recorder().traces())
        names << trace.name;
    QCOMPARE(names, QStringList({ "0 飞行时间", "1 温度", "14 距离（米）" }));

    auto *list = chart->findChild<QListWidget *>(QStringLiteral("listWidget_traces"));
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    chart->findChild<QPushButton *>(QStringLiteral("pushButton_remove"))->click();
    QCOMPARE(list->count(), 1);
    QCOMPARE(chart->recorder().traces().size(), 1);
    QCOMPARE(chart->chart()->series().size(), 1);
    QCOMPARE(chart->chart()->series().at(0)->name(), QStringLiteral("1 温度"));

    readTimes(2);
    chart->refresh();
    const QVector<QPointF> drawn = linePoints(chart, QStringLiteral("1 温度"));
    QVERIFY(!drawn.isEmpty());
    QCOMPARE(drawn.last().y(), 25.0);

    // The time axis ends at the newest moment drawn; the points of a value that holds still may
    // thin to the same few, so the axis shows whether the picture moved on.
    const auto *axis = qobject_cast<QDateTimeAxis *>(chart->chart()->axes(Qt::Horizontal).first());
    const QDateTime shownUntil = axis->max();
    auto *pause = chart->findChild<QPushButton *>(QStringLiteral("pushButton_pause"));
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    const int recorded = chart->recorder().traces().at(0).series.points().size();
    readTimes(3);
    chart->refresh();
    QVERIFY(chart->recorder().traces().at(0).series.points().size() >= recorded + 3);
    QCOMPARE(linePoints(chart, QStringLiteral("1 温度")), drawn);
    QCOMPARE(axis->max(), shownUntil);
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("暂停"));
    QVERIFY(axis->max() > shownUntil);
}

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
