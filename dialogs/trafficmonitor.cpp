#include "trafficmonitor.h"
#include "ui_trafficmonitor.h"

#include "framelog.h"
#include "linestatistics.h"
#include "rtuframe.h"

#include <QBrush>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QMessageBox>
#include <QScrollBar>

namespace {

// Colours the rows by what happened: requests blue, exception replies orange, damaged and
// dropped frames and failed requests red.
class FrameColours : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::ForegroundRole)
            return QIdentityProxyModel::data(index, role);
        using Kind = CapturedFrame::Kind;
        switch (Kind(QIdentityProxyModel::data(index, FrameLog::KindRole).toInt())) {
        case Kind::Request: return QBrush(QColor(0, 0, 160));
        case Kind::Reply: return QVariant();
        case Kind::Exception: return QBrush(QColor(190, 90, 0));
        default: return QBrush(QColor(200, 0, 0));
        }
    }
};

QString milliseconds(qint64 us)
{
    return us < 0 ? QStringLiteral("-") : QString::number(us / 1000.0, 'f', 2);
}

} // namespace

TrafficMonitor::TrafficMonitor(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TrafficMonitor)
{
    ui->setupUi(this);
    QTableView *view = ui->tableView_frames;
    view->verticalHeader()->hide();
    // Fixed row heights and column widths: nothing is measured per row, however many there are.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);

    m_refresh.setInterval(500);
    connect(&m_refresh, &QTimer::timeout, this, &TrafficMonitor::showStatistics);
    m_refresh.start();
}

TrafficMonitor::~TrafficMonitor()
{
    // Frames must not wait for a window that is gone.
    if (m_log)
        m_log->setPaused(false);
    delete ui;
}

void TrafficMonitor::setSources(FrameLog *log, LineStatistics *statistics)
{
    m_log = log;
    m_statistics = statistics;
    delete m_view;
    m_view = new FrameColours(this);
    m_view->setSourceModel(log);
    QTableView *view = ui->tableView_frames;
    view->setModel(m_view);
    const QFontMetrics metrics = fontMetrics();
    view->setColumnWidth(FrameLog::TimeColumn, metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    view->setColumnWidth(FrameLog::DirectionColumn, metrics.horizontalAdvance(QStringLiteral("发送")) + 16);
    view->setColumnWidth(FrameLog::FrameColumn, metrics.horizontalAdvance(QStringLiteral("00 ")) * 14);
    connect(log, &QAbstractItemModel::rowsAboutToBeInserted, this, &TrafficMonitor::rowsAboutToArrive);
    connect(log, &QAbstractItemModel::rowsInserted, this, &TrafficMonitor::rowsArrived);
    connect(log, &QAbstractItemModel::modelReset, this, &TrafficMonitor::rowsArrived);
    ui->pushButton_pause->setChecked(log->isPaused());
    view->scrollToBottom();
    showStatistics();
}

void TrafficMonitor::rowsAboutToArrive()
{
    const QScrollBar *bar = ui->tableView_frames->verticalScrollBar();
    m_follow = bar->value() >= bar->maximum();
}

void TrafficMonitor::rowsArrived()
{
    // The view follows the newest frame unless the user has scrolled up to read.
    if (m_follow)
        ui->tableView_frames->scrollToBottom();
}

void TrafficMonitor::on_pushButton_pause_toggled(bool checked)
{
    ui->pushButton_pause->setText(checked ? tr("继续") : tr("暂停"));
    if (m_log)
        m_log->setPaused(checked);
    showStatistics();
}

void TrafficMonitor::on_pushButton_clear_clicked()
{
    if (m_log)
        m_log->clear();
    showStatistics();
}

void TrafficMonitor::on_pushButton_save_clicked()
{
    if (!m_log)
        return;
    const QString suggested = QDir::current().filePath(
            QDateTime::currentDateTime().toString(QStringLiteral("'报文_'yyyyMMdd_HHmmss'.txt'")));
    const QString path = QFileDialog::getSaveFileName(this, tr("保存报文"), suggested,
                                                      tr("文本文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!m_log->save(path, &error))
        QMessageBox::warning(this, tr("保存失败"), tr("报文未能保存：%1").arg(QDir::toNativeSeparators(error)));
}

void TrafficMonitor::on_pushButton_resetStatistics_clicked()
{
    if (m_statistics)
        m_statistics->reset();
    showStatistics();
}

void TrafficMonitor::showStatistics()
{
    if (m_log) {
        QString lines = tr("%1 条").arg(m_log->rowCount());
        if (m_log->isPaused() && m_log->waiting() > 0)
            lines += tr("（暂停中，%1 条待显示）").arg(m_log->waiting());
        ui->label_lines->setText(lines);
    }
    if (!m_statistics)
        return;
    const LineStatistics::Counts &c = m_statistics->counts();
    ui->label_requests->setText(QString::number(c.requests));
    ui->label_replies->setText(QString::number(c.replies));
    ui->label_timeouts->setText(QString::number(c.timeouts));
    ui->label_damaged->setText(QString::number(c.damaged));
    ui->label_retries->setText(QString::number(c.retries));
    ui->label_failures->setText(QString::number(c.failures));
    QStringList byCode;
    for (auto it = c.exceptionsByCode.cbegin(); it != c.exceptionsByCode.cend(); ++it) {
        byCode << tr("%1 %2 ×%3")
                          .arg(rtu::hexByte(it.key()), rtu::exceptionName(it.key()))
                          .arg(it.value());
    }
    ui->label_exceptions->setText(byCode.isEmpty()
                                          ? QString::number(c.exceptions)
                                          : tr("%1（%2）").arg(c.exceptions).arg(byCode.join(tr("，"))));
    ui->label_responseTime->setText(tr("%1 / %2 / %3 / %4")
                                            .arg(milliseconds(c.lastUs), milliseconds(c.minUs),
                                                 milliseconds(c.meanUs()), milliseconds(c.maxUs)));
    ui->label_rate->setText(tr("%1 次/秒").arg(m_statistics->recentRate(), 0, 'f', 1));
}

