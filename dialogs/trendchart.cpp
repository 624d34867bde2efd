#include "trendchart.h"
#include "ui_trendchart.h"

#include "protocoltable.h"

#include <QDateTime>
#include <QFileDialog>
#include <QLegendMarker>
#include <QMessageBox>
#include <QPixmap>
#include <QSaveFile>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace QtCharts;

const QVector<int> TrendChart::spanMinutes = { 1, 5, 10, 30, 60 };

namespace {

constexpr qint64 keptMs = 3600 * 1000;
// Pixel columns of the plot area the series are thinned to, whatever the window's size.
constexpr int minColumns = 100;
constexpr int maxColumns = 4096;
constexpr int maxLinesPerTrace = 32;
constexpr int valueTicks = 6;

const QColor lineColors[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
};

} // namespace

TrendChart::TrendChart(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TrendChart)
{
    ui->setupUi(this);

    for (int minutes : spanMinutes) {
        const QString text = minutes < 60 ? tr("%1 分钟").arg(minutes) : tr("%1 小时").arg(minutes / 60);
        ui->comboBox_span->addItem(text, minutes);
    }

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    m_timeAxis->setTickCount(7);
    m_timeAxis->setTitleText(tr("时间"));
    m_valueAxis = new QValueAxis;
    m_valueAxis->setRange(0, 1);
    m_valueAxis->setTickCount(valueTicks);
    // Round numbers without trailing zeros, from 0.02 to millions of ns alike.
    m_valueAxis->setLabelFormat(QStringLiteral("%.10g"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);

    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("chartView"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumSize(400, 260);
    ui->horizontalLayout_plot->addWidget(m_view);
    ui->horizontalLayout_plot->setStretch(1, 1);

    applyResolution();
    connect(&m_redraw, &QTimer::timeout, this, &TrendChart::refresh);
    m_redraw.start(redrawIntervalMs);
    refresh();
}

TrendChart::~TrendChart()
{
    delete ui;
}

qint64 TrendChart::spanMs() const
{
    return qint64(ui->comboBox_span->currentData().toInt()) * 60 * 1000;
}

bool TrendChart::isPaused() const
{
    return ui->pushButton_pause->isChecked();
}

void TrendChart::addRows(QModbusDataUnit::RegisterType area, const QList<int> &rows,
                         const ProtocolTable &table)
{
    for (int row : rows) {
        if (row < 0 || row >= table.rowCount())
            continue;
        const QString name = table.rowTitle(row);
        if (!m_recorder.addTrace(area, row, name))
            continue;
        Plot plot;
        plot.color = lineColors[m_nextColor++ % int(sizeof lineColors / sizeof *lineColors)];
        addLine(plot, name);
        m_plots.append(plot);

        QPixmap swatch(12, 12);
        swatch.fill(plot.color);
        auto *item = new QListWidgetItem(QIcon(swatch), name, ui->listWidget_traces);
        item->setToolTip(name);
    }
    refresh();
}

QLineSeries *TrendChart::addLine(Plot &plot, const QString &name)
{
    auto *line = new QLineSeries;
    line->setName(name);
    QPen pen(plot.color);
    pen.setWidthF(1.5);
    line->setPen(pen);
    m_chart->addSeries(line);
    line->attachAxis(m_timeAxis);
    line->attachAxis(m_valueAxis);
    // The pieces after a gap belong to the same trace: one legend entry per trace.
    if (!plot.lines.isEmpty()) {
        const QList<QLegendMarker *> markers = m_chart->legend()->markers(line);
        for (QLegendMarker *marker : markers)
            marker->setVisible(false);
    }
    plot.lines.append(line);
    return line;
}

void TrendChart::removePlot(int index)
{
    for (QLineSeries *line : qAsConst(m_plots[index].lines)) {
        m_chart->removeSeries(line);
        delete line;
    }
    m_plots.remove(index);
}

void TrendChart::takeReply(const DecodedReply &reply, qint64 timeMs)
{
    m_recorder.feed(reply, timeMs);
}

void TrendChart::applyResolution()
{
    m_recorder.setResolution(spanMs(), m_columns > 0 ? m_columns : 1000, keptMs);
}

void TrendChart::refresh()
{
    if (isPaused())
        return;

    const int columns = qBound(minColumns, int(m_chart->plotArea().width()), maxColumns);
    if (columns != m_columns) {
        m_columns = columns;
        applyResolution();
    }

    const qint64 to = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = to - spanMs();
    const qint64 columnMs = qMax<qint64>(1, spanMs() / m_columns);
    double low = qInf();
    double high = -qInf();

    // One line per run of numbers: a gap ends a line and the next number starts another.
    const QVector<TrendRecorder::Trace> &traces = m_recorder.traces();
    QVector<QVector<QVector<QPointF>>> runsOfTraces(traces.size());
    for (int t = 0; t < traces.size(); ++t) {
        const QVector<TrendPoint> points =
                thinTrendPoints(traces.at(t).series.pointsBetween(from, to), columnMs);
        QVector<QVector<QPointF>> &runs = runsOfTraces[t];
        runs.resize(1);
        for (const TrendPoint &point : points) {
            if (point.isGap()) {
                if (!runs.constLast().isEmpty())
                    runs.append(QVector<QPointF>());
                continue;
            }
            runs.last().append(QPointF(qreal(point.timeMs), point.value));
            if (point.timeMs >= from && point.timeMs <= to) {
                low = qMin(low, point.value);
                high = qMax(high, point.value);
            }
        }
        // Every run is a series of its own, and a chart of thousands of series would stall the
        // window: past a bound, the oldest gaps are bridged.
        if (runs.size() > maxLinesPerTrace) {
            const int merged = runs.size() - maxLinesPerTrace + 1;
            for (int i = 1; i < merged; ++i)
                runs[0] += runs.at(i);
            runs.remove(1, merged - 1);
        }
    }

    // The axes first: a change of range lays out every line again, and the new points of a
    // line are laid out when they are set.
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    if (low <= high) {
        // Laying out the value axis costs more than all the lines: only a new range is set.
        const TrendAxisRange range = niceTrendRange(low, high, valueTicks);
        if (range.low != m_valueAxis->min() || range.high != m_valueAxis->max()) {
            m_valueAxis->setRange(range.low, range.high);
            m_valueAxis->setTickCount(range.ticks);
        }
    }

    for (int t = 0; t < traces.size(); ++t) {
        const QVector<QVector<QPointF>> &runs = runsOfTraces.at(t);
        Plot &plot = m_plots[t];
        while (plot.lines.size() < runs.size())
            addLine(plot, traces.at(t).name);
        for (int i = 0; i < plot.lines.size(); ++i)
            plot.lines.at(i)->replace(i < runs.size() ? runs.at(i) : QVector<QPointF>());
    }
}

bool TrendChart::savePicture(const QString &path, QString *errorString)
{
    const QPixmap picture = m_view->grab();
    QSaveFile file(path);
    QString reason;
    if (!file.open(QIODevice::WriteOnly))
        reason = file.errorString();
    else if (!picture.save(&file, "PNG"))
        reason = tr("无法生成 PNG 图片");
    else if (!file.commit())
        reason = file.errorString();
    if (!reason.isEmpty() && errorString)
        *errorString = reason;
    return reason.isEmpty();
}

void TrendChart::on_pushButton_add_clicked()
{
    emit addRowsRequested();
}

void TrendChart::on_pushButton_remove_clicked()
{
    const QList<QListWidgetItem *> selected = ui->listWidget_traces->selectedItems();
    QList<int> rows;
    for (const QListWidgetItem *item : selected)
        rows.append(ui->listWidget_traces->row(item));
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : qAsConst(rows)) {
        const TrendRecorder::Trace &trace = m_recorder.traces().at(row);
        m_recorder.removeTrace(trace.area, trace.address);
        removePlot(row);
        delete ui->listWidget_traces->takeItem(row);
    }
    refresh();
}

void TrendChart::on_pushButton_pause_toggled(bool checked)
{
    ui->pushButton_pause->setText(checked ? tr("继续") : tr("暂停"));
    if (!checked)
        refresh();
}

void TrendChart::on_pushButton_savePicture_clicked()
{
    const QString suggested = QStringLiteral("trend-%1.png")
                                      .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(this, tr("保存趋势图"), suggested,
                                                      tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    QString reason;
    if (!savePicture(path, &reason))
        QMessageBox::warning(this, tr("保存失败"), tr("无法写入图片 %1：%2").arg(path, reason));
}

void TrendChart::on_comboBox_span_currentIndexChanged(int index)
{
    Q_UNUSED(index)
    if (!m_chart)
        return; // while the form is being set up
    applyResolution();
    refresh();
}
