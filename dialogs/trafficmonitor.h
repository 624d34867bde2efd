#ifndef TRAFFICMONITOR_H
#define TRAFFICMONITOR_H

#include <QPointer>
#include <QTimer>
#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class TrafficMonitor;
}
QT_END_NAMESPACE

class FrameLog;
class LineStatistics;
class QIdentityProxyModel;

// The frames on the line, one row each, and the line statistics. It shows what the main
// window's frame log and statistics hold; pausing, clearing and resetting act on them.
class TrafficMonitor : public QWidget
{
    Q_OBJECT

public:
    explicit TrafficMonitor(QWidget *parent = nullptr);
    ~TrafficMonitor() override;

    void setSources(FrameLog *log, LineStatistics *statistics);

private slots:
    void on_pushButton_pause_toggled(bool checked);
    void on_pushButton_clear_clicked();
    void on_pushButton_save_clicked();
    void on_pushButton_resetStatistics_clicked();

private:
    void showStatistics();
    void rowsAboutToArrive();
    void rowsArrived();

    Ui::TrafficMonitor *ui;
    QPointer<FrameLog> m_log;
    QPointer<LineStatistics> m_statistics;
    QIdentityProxyModel *m_view = nullptr;
    QTimer m_refresh;
    bool m_follow = true;
};

#endif // TRAFFICMONITOR_H
