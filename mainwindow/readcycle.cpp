#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "readplan.h"

#include <QMessageBox>

void MainWindow::on_pushButton_read_toggled(bool checked)
{
    if (!checked) {
        session->stopCycle();
        return;
    }

    if (!session->isConnected()) {
        // Released before the box: the box runs its own event loop, in which a running cycle
        // timer would otherwise stack one box on top of the other.
        ui->pushButton_read->setChecked(false);
        QMessageBox::warning(this, tr("错误："), tr("请先打开串口"));
        return;
    }

    // One request at a time: a tick or a press that finds a reply outstanding sends nothing,
    // but a press still starts the cycle below, so the first tick after the reply reads.
    if (!session->isPending() && !sendRead())
        return;

    if (!ui->checkBox_repeat->isChecked()) {
        ui->pushButton_read->setChecked(false);
    } else if (!session->isCycling()) {
        session->startCycle(ui->lineEdit_period->text().toInt(nullptr, 10));
    }
}

bool MainWindow::sendRead()
{
    const ReadPlan plan = readPlan();
    regsAddrRead = plan.start;
    regsLenRead = plan.count;
    switch (plan.problem(session->linkType())) {
    case ReadPlan::Problem::UnknownArea:
        // Ends a running cycle; without one the button stays as it is.
        if (ui->checkBox_repeat->isChecked())
            ui->checkBox_repeat->setChecked(false);
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return false;
    case ReadPlan::Problem::InvalidServer:
        refuseRead(tr("设备地址无效"));
        return false;
    case ReadPlan::Problem::OutOfRange:
        refuseRead(tr("寄存器地址超出范围"));
        return false;
    case ReadPlan::Problem::None:
        break;
    }

    // A read the client refuses shows nothing; the cycle, if any, tries again at the next tick.
    session->read(plan.unit(), plan.server);
    return true;
}

ReadPlan MainWindow::readPlan() const
{
    return ReadPlan::fromFields(ui->comboBox_regsType->currentText(), ui->lineEdit_deviceAddr->text(),
                                ui->lineEdit_regsAddrRead->text(), ui->lineEdit_regsLenRead->text());
}

void MainWindow::refuseRead(const QString &reason)
{
    // The cycle ends and the button is released before the box opens.
    if (ui->checkBox_repeat->isChecked())
        ui->checkBox_repeat->setChecked(false);
    ui->pushButton_read->setChecked(false);
    QMessageBox::warning(this, tr("故障"), reason);
}

void MainWindow::showSent()
{
    ui->statusbar->showMessage(tr("通讯：数据已发送"));
    ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:green"));
}

void MainWindow::on_checkBox_repeat_stateChanged(int arg1)
{
    if (arg1 == Qt::Unchecked)
        ui->pushButton_read->setChecked(false);
}

void MainWindow::on_lineEdit_period_editingFinished()
{
    const int period = ui->lineEdit_period->text().toInt(nullptr, 10);
    if (period > 10)
        session->setCycleInterval(period);
}
