#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "csvrecorder.h"
#include "framecapture.h"
#include "framelog.h"
#include "linestatistics.h"
#include "modbussession.h"
#include "protocoltable.h"
#include "readplan.h"
#include "trafficmonitor.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

void MainWindow::setupMonitoring()
{
    // The capture and the statistics run whenever the line is open, so the status bar's
    // counts are right whether or not the monitor window is open; the log keeps the latest
    // frames for when it is opened.
    frameCapture = new FrameCapture(session, this);
    frameCapture->setObjectName(QStringLiteral("frameCapture"));
    lineStatistics = new LineStatistics(this);
    lineStatistics->setObjectName(QStringLiteral("lineStatistics"));
    lineStatistics->attach(session, frameCapture);
    frameLog = new FrameLog(this);
    frameLog->setObjectName(QStringLiteral("frameLog"));
    connect(frameCapture, &FrameCapture::frameCaptured, frameLog, &FrameLog::append);

    csvRecorder = new CsvRecorder(this);
    csvRecorder->setObjectName(QStringLiteral("csvRecorder"));
    // Queued: the warning box must not open inside the client's handling of a reply.
    connect(csvRecorder, &CsvRecorder::failed, this, &MainWindow::recordingFailed, Qt::QueuedConnection);

    // Permanent widgets sit on the right; the exchange's messages keep the rest of the bar.
    recordingLabel = new QLabel(this);
    recordingLabel->setObjectName(QStringLiteral("label_recording"));
    recordingLabel->hide();
    ui->statusbar->addPermanentWidget(recordingLabel);
    statisticsLabel = new QLabel(this);
    statisticsLabel->setObjectName(QStringLiteral("label_statistics"));
    ui->statusbar->addPermanentWidget(statisticsLabel);
    auto *refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &MainWindow::showStatistics);
    refresh->start(500);
    showStatistics();
}

void MainWindow::showStatistics()
{
    statisticsLabel->setText(lineStatistics->shortText());
    if (csvRecorder->isRecording()) {
        recordingLabel->setText(tr("记录中：%1（%2 行）")
                                        .arg(QFileInfo(csvRecorder->fileName()).fileName())
                                        .arg(csvRecorder->lineCount()));
    }
}

void MainWindow::showRecordingState()
{
    const bool recording = csvRecorder->isRecording();
    ui->actionrecordStart->setEnabled(!recording);
    ui->actionrecordStop->setEnabled(recording);
    recordingLabel->setVisible(recording);
    if (recording)
        recordingLabel->setToolTip(QDir::toNativeSeparators(csvRecorder->fileName()));
    showStatistics();
}

void MainWindow::on_actionrecordStart_triggered()
{
    if (csvRecorder->isRecording())
        return;
    // The columns are the read window as the fields give it now, planned as the read step plans
    // it; replies of a window changed later fill the columns they cover.
    const ReadPlan plan = readPlan();
    if (plan.area == QModbusDataUnit::Invalid) {
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return;
    }
    if (plan.count <= 0 || !ReadPlan::fitsAddressSpace(plan.start, plan.count)) {
        QMessageBox::warning(this, tr("记录"), tr("读操作的寄存器地址或长度无效，无法记录"));
        return;
    }

    const QString suggested = QDir::current().filePath(
            QDateTime::currentDateTime().toString(QStringLiteral("'记录_'yyyyMMdd_HHmmss'.csv'")));
    const QString path = QFileDialog::getSaveFileName(this, tr("开始记录"), suggested,
                                                      tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    if (!csvRecorder->start(path, protocolTable, CsvRecorder::Window{ plan.area, plan.start, plan.count })) {
        QMessageBox::warning(this, tr("记录失败"),
                             tr("无法创建记录文件 %1：%2")
                                     .arg(QDir::toNativeSeparators(path), csvRecorder->errorString()));
        return;
    }
    showRecordingState();
}

void MainWindow::on_actionrecordStop_triggered()
{
    csvRecorder->stop();
    showRecordingState();
}

void MainWindow::endRecordingForChange()
{
    if (!csvRecorder->isRecording())
        return;
    csvRecorder->stop();
    showRecordingState();
    ui->statusbar->showMessage(tr("记录已停止：寄存器区域或协议表已更改"));
}

void MainWindow::recordingFailed()
{
    showRecordingState();
    const QString file = QDir::toNativeSeparators(csvRecorder->fileName());
    const QString text = csvRecorder->error() == CsvRecorder::Error::FileGone
            ? tr("记录文件 %1 已不存在（被删除、移走，或所在文件夹已删除），记录已停止，读操作照常进行。")
                      .arg(file)
            : tr("写入记录文件 %1 失败：%2。记录已停止，读操作照常进行。")
                      .arg(file, csvRecorder->errorString());
    QMessageBox::warning(this, tr("记录停止"), text);
}
