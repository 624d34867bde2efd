#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autosizehold.h"
#include "decoding.h"
#include "modbustext.h"
#include "myconfig.h"
#include "mytool.h"

#include <QBrush>
#include <QModbusReply>
#include <QTableWidgetItem>

void MainWindow::modbusReadReadySlot()
{
    // Deleting the client in the window's destructor aborts outstanding replies.
    if (!ui)
        return;
    handleReply(qobject_cast<QModbusReply *>(sender()));
}

void MainWindow::handleReply(QModbusReply *reply)
{
    requestPending = false;
    if (!reply)
        return;

    if (reply->error() != QModbusDevice::NoError) {
        ui->statusbar->showMessage(reply->errorString());
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:red"));
    } else if (reply->type() == QModbusReply::Broadcast) {
        // No device answers address 0: the client finishes the request once it is on the line,
        // without data.
        ui->statusbar->showMessage(tr("通讯：广播已发送"));
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:white"));
    } else {
        qCDebug(lcModbus) << "modbus reply.";
        QModbusDataUnit unit = reply->result();
        if (registerTypeOf(ui->comboBox_regsType->currentText()) != unit.registerType()) {
            // The area was switched while the request was under way: the data belongs elsewhere.
            ui->statusbar->showMessage(tr("通讯：数据回复，功能码不一致"));
            ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:yellow"));
        } else {
            ui->statusbar->showMessage(tr("通讯：数据回复，正常"));
            ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:white"));
            switch (unit.registerType()) {
            case QModbusDataUnit::Coils:
            case QModbusDataUnit::DiscreteInputs:
                unit.setValues(bitAreaValues(unit.values(), int(unit.valueCount()),
                                             reply->rawResult().data()));
                break;
            case QModbusDataUnit::InputRegisters:
            case QModbusDataUnit::HoldingRegisters:
                feedSonicDisplay(unit);
                break;
            default:
                break;
            }
            showReplyInTable(unit);
        }
    }

    reply->deleteLater();
    sendWaitingWrite();
}

void MainWindow::showReplyInTable(const QModbusDataUnit &unit)
{
    const QVector<quint16> values = unit.values();
    // The auto-sized value columns size themselves once for the whole reply.
    const AutoSizeHold hold(ui->tableWidget->horizontalHeader());
    const qint64 windowBegin = regsAddrRead;
    const qint64 windowEnd = qint64(regsAddrRead) + regsLenRead;
    for (int i = 0; i < values.size(); ++i) {
        const qint64 address = qint64(unit.startAddress()) + i;
        if (address < windowBegin || address >= windowEnd || address >= rawN || address < 0)
            continue;
        const int row = int(address);
        const quint16 value = values.at(i);
        qCDebug(lcModbus) << "addr,value = " << row << value;

        const QString hex = registerHexText(value);
        if (QTableWidgetItem *item = tableItem(row, displayHexIndex)) {
            if (item->text() == hex) {
                item->setBackground(QBrush(Qt::white));
            } else {
                if (MyConfig::changeWarnEnable)
                    item->setBackground(QBrush(Qt::green));
                item->setText(hex);
            }
        }
        if (QTableWidgetItem *item = tableItem(row, displayDecIndex))
            item->setText(QString::number(value));
        if (QTableWidgetItem *item = tableItem(row, displayContextIndex)) {
            const QJsonDocument rule = row < protocolRules.size() ? protocolRules.at(row)
                                                                  : QJsonDocument();
            item->setText(decodeValue(value, rule));
        }
    }
}
