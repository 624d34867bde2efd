#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbustext.h"
#include "mytool.h"

#include <QMessageBox>
#include <QModbusReply>
#include <QModbusRtuSerialMaster>
#include <QTableWidgetItem>

void MainWindow::on_pushButton_write_clicked()
{
    qCDebug(lcModbus) << "on_pushButton_write_clicked()";

    // Before any check: even a refused write ends a running cycle.
    if (ui->checkBox_repeat->isChecked())
        ui->checkBox_repeat->setChecked(false);

    if (modbusDevice->state() != QModbusDevice::ConnectedState) {
        QMessageBox::warning(this, tr("错误："), tr("请先打开串口"));
        return;
    }

    const QModbusDataUnit::RegisterType type = registerTypeOf(ui->comboBox_regsType->currentText());
    if (type != QModbusDataUnit::Coils && type != QModbusDataUnit::HoldingRegisters) {
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return;
    }

    int serverAddress = 0;
    if (!deviceAddressOf(ui->lineEdit_deviceAddr->text(), &serverAddress)) {
        QMessageBox::warning(this, tr("故障"), tr("设备地址无效"));
        return;
    }

    regsAddrWrite = MyTool::textToInt(ui->lineEdit_regsAddrWrite->text());
    regsLenWrite = MyTool::textToInt(ui->lineEdit_regsLenWrite->text());

    // The write fields are bounded only when edited; the table may have been reloaded with
    // fewer rows since, or have no value cells at all. Refuse rather than send made-up values.
    QList<QTableWidgetItem *> cells;
    for (qint64 address = regsAddrWrite; address < qint64(regsAddrWrite) + regsLenWrite; ++address) {
        QTableWidgetItem *item = address >= 0 && address < rawN
                                     ? tableItem(int(address), displayHexIndex)
                                     : nullptr;
        if (!item) {
            QMessageBox::warning(this, tr("故障"), tr("写入范围超出协议表"));
            return;
        }
        cells.append(item);
    }

    QVector<quint16> values;
    for (int i = 0; i < cells.size(); ++i) {
        const int value = MyTool::textToInt(cells.at(i)->text());
        qCDebug(lcModbus) << "addr = " << regsAddrWrite + i << ",data = " << value;
        values.append(quint16(value & 0xFFFF));
    }
    if (values.isEmpty()) {
        qCDebug(lcModbus) << "data is empty!";
        return;
    }
    qCDebug(lcModbus) << values;

    // With a reply outstanding (nearly always, while a fast cycle ran) the write is not lost:
    // it goes out as soon as that reply has been handled, with the values of this press. A
    // later press replaces it.
    waitingWrite = { QModbusDataUnit(type, regsAddrWrite, values), serverAddress };
    if (!requestPending)
        sendWaitingWrite();
}

void MainWindow::sendWaitingWrite()
{
    if (!waitingWrite)
        return;
    const WaitingWrite write = *waitingWrite;
    waitingWrite.reset();
    if (modbusDevice->state() != QModbusDevice::ConnectedState)
        return;
    if (QModbusReply *reply = modbusDevice->sendWriteRequest(write.unit, write.serverAddress)) {
        trackReply(reply);
    } else {
        // Refused before anything was sent, typically a range too long for one Modbus frame
        // (more than 123 registers or 1968 coils): say so, rather than do nothing at all.
        ui->statusbar->showMessage(modbusDevice->errorString());
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:red"));
    }
}

void MainWindow::on_pushButton_broadcast_clicked()
{
    ui->lineEdit_deviceAddr->setText(QStringLiteral("0"));
}
