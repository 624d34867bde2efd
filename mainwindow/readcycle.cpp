#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "modbustext.h"
#include "mytool.h"

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
    const QModbusDataUnit::RegisterType type = registerTypeOf(ui->comboBox_regsType->currentText());
    if (type == QModbusDataUnit::Invalid) {
        // Ends a running cycle; without one the button stays as it is.
        if (ui->checkBox_repeat->isChecked())
            ui->checkBox_repeat->setChecked(false);
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return false;
    }

    int serverAddress = 0;
    if (!deviceAddressOf(ui->lineEdit_deviceAddr->text(), &serverAddress)) {
        refuseRead(tr("设备地址无效"));
        return false;
    }

    regsAddrRead = MyTool::textToInt(ui->lineEdit_regsAddrRead->text());
    regsLenRead = MyTool::textToInt(ui->lineEdit_regsLenRead->text());
    // A count outside 0..65535 must not wrap round into some other count; an address range
    // outside the 16-bit space would wrap into another range on the wire.
    const int count = qBound(0, regsLenRead, 0xFFFF);
    if (!ModbusSession::fitsAddressSpace(regsAddrRead, count)) {
        refuseRead(tr("寄存器地址超出范围"));
        return false;
    }

    // A read the client refuses shows nothing; the cycle, if any, tries again at the next tick.
    session->read(QModbusDataUnit(type, regsAddrRead, quint16(count)), serverAddress);
    return true;
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
    period = ui->lineEdit_period->text().toInt(nullptr, 10);
    if (period > 10)
        session->setCycleInterval(period);
}
