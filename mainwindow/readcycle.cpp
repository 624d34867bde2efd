#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbustext.h"
#include "mytool.h"

#include <QMessageBox>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>

void MainWindow::on_pushButton_read_toggled(bool checked)
{
    if (!checked) {
        cycleTimer.stop();
        return;
    }

    if (modbusDevice->state() != QModbusDevice::ConnectedState) {
        // Released before the box: the box runs its own event loop, in which a running cycle
        // timer would otherwise stack one box on top of the other.
        ui->pushButton_read->setChecked(false);
        QMessageBox::warning(this, tr("错误："), tr("请先打开串口"));
        return;
    }

    // One request at a time; a tick that finds a reply outstanding is simply dropped.
    if (requestPending)
        return;

    const QModbusDataUnit::RegisterType type = registerTypeOf(ui->comboBox_regsType->currentText());
    if (type == QModbusDataUnit::Invalid) {
        // Same reason as above: end the cycle before the box opens.
        if (ui->checkBox_repeat->isChecked())
            ui->checkBox_repeat->setChecked(false);
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return;
    }

    regsAddrRead = MyTool::textToInt(ui->lineEdit_regsAddrRead->text());
    regsLenRead = MyTool::textToInt(ui->lineEdit_regsLenRead->text());
    // The texts are used as they stand (the device refuses what it cannot serve), but a count
    // outside 0..65535 must not wrap round into some other count.
    const QModbusDataUnit unit(type, regsAddrRead, quint16(qBound(0, regsLenRead, 0xFFFF)));
    const int serverAddress = ui->lineEdit_deviceAddr->text().toInt(nullptr, 10);

    if (QModbusReply *reply = modbusDevice->sendReadRequest(unit, serverAddress))
        trackReply(reply);

    if (!ui->checkBox_repeat->isChecked()) {
        ui->pushButton_read->setChecked(false);
    } else if (!cycleTimer.isActive()) {
        // A negative interval would leave the timer stopped while the button stays pressed.
        cycleTimer.setInterval(qMax(ui->lineEdit_period->text().toInt(nullptr, 10), 0));
        cycleTimer.start();
    }
}

void MainWindow::on_checkBox_repeat_stateChanged(int arg1)
{
    if (arg1 == Qt::Unchecked)
        ui->pushButton_read->setChecked(false);
}

void MainWindow::on_lineEdit_period_editingFinished()
{
    period = ui->lineEdit_period->text().toInt(nullptr, 10);
    if (period > 10)
        cycleTimer.setInterval(period);
}

void MainWindow::trackReply(QModbusReply *reply)
{
    ui->statusbar->showMessage(tr("通讯：数据已发送"));
    ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:green"));
    requestPending = true;
    // A reply the client finished at once still carries an outcome to show, and only the
    // reply handling clears the pending mark.
    if (reply->isFinished())
        handleReply(reply);
    else
        connect(reply, &QModbusReply::finished, this, &MainWindow::modbusReadReadySlot);
}
