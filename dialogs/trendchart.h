#ifndef TRENDCHART_H
#define TRENDCHART_H

#include "trend.h"

#include <QColor>
#include <QModbusDataUnit>
#include <QTimer>
#include <QVector>
#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class TrendChart;
}
namespace QtCharts {
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
}
QT_END_NAMESPACE

class ProtocolTable;

// The trend chart: the decoded numbers of chosen registers over time, one line per register.
// It asks for nothing itself; the main window hands it the replies shown in the register
// table. The picture is redrawn a few times a second from the recorded series, so the read
// cycle does not wait for the chart.
class TrendChart : public QWidget
{
    Q_OBJECT

public:
    // Spans the time axis offers; the series keep the longest.
    static const QVector<int> spanMinutes;
    // The picture is redrawn this often while not paused.
    static constexpr int redrawIntervalMs = 250;

    explicit TrendChart(QWidget *parent = nullptr);
    ~TrendChart() override;

    // Traces rows of the sheet of `area` (rows already traced stay as they are).
    void addRows(QModbusDataUnit::RegisterType area, const QList<int> &rows,
                 const ProtocolTable &table);
    // Records the traced registers of a reply that the register table shows.
    void takeReply(const DecodedReply &reply, qint64 timeMs);

    const TrendRecorder &recorder() const { return m_recorder; }
    QtCharts::QChart *chart() const { return m_chart; }
    qint64 spanMs() const;
    bool isPaused() const;

    // Redraws the picture from the series now (unless paused).
    void refresh();
    // Writes the picture as a PNG file; false with the reason when it cannot.
    bool savePicture(const QString &path, QString *errorString = nullptr);

signals:
    // The add button: the window answers with addRows() for the rows selected in its table.
    void addRowsRequested();

private slots:
    void on_pushButton_add_clicked();
    void on_pushButton_remove_clicked();
    void on_pushButton_pause_toggled(bool checked);
    void on_pushButton_savePicture_clicked();
    void on_comboBox_span_currentIndexChanged(int index);

private:
    // The chart's lines of one trace: one per run of numbers between gaps; only the first one
    // is named in the legend.
    struct Plot
    {
        QVector<QtCharts::QLineSeries *> lines;
        QColor color;
    };

    QtCharts::QLineSeries *addLine(Plot &plot, const QString &name);
    void removePlot(int index);
    void applyResolution();

    Ui::TrendChart *ui;
    QtCharts::QChart *m_chart = nullptr;
    QtCharts::QChartView *m_view = nullptr;
    QtCharts::QDateTimeAxis *m_timeAxis = nullptr;
    QtCharts::QValueAxis *m_valueAxis = nullptr;
    TrendRecorder m_recorder;
    QVector<Plot> m_plots; // parallel to m_recorder.traces()
    QTimer m_redraw;
    int m_columns = 0;
    int m_nextColor = 0;
};

#endif // TRENDCHART_H
