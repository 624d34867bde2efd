#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autosizehold.h"
#include "modbussession.h"
#include "modbustext.h"
#include "myconfig.h"
#include "mytool.h"
#include "protocoltable.h"

#include <QBrush>
#include <QScopedValueRollback>
#include <QTableWidgetItem>

// Runs for every reply the session has handled.
void MainWindow::modbusReadReadySlot()
{
    if (!ui)
        return;
    showReply(session->lastOutcome());
}

void MainWindow::showReply(const ReplyOutcome &outcome)
{
    switch (outcome.result) {
    case ReplyOutcome::Result::Error:
        ui->statusbar->showMessage(outcome.errorString);
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:red"));
        return;
    case ReplyOutcome::Result::Broadcast:
        ui->statusbar->showMessage(tr("通讯：广播已发送"));
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:white"));
        return;
    case ReplyOutcome::Result::Normal:
        break;
    }

    qCDebug(lcModbus) << "modbus reply.";
    const QModbusDataUnit &unit = outcome.unit;
    if (registerTypeOf(ui->comboBox_regsType->currentText()) != unit.registerType()) {
        // The area was switched while the request was under way: the data belongs elsewhere.
        ui->statusbar->showMessage(tr("通讯：数据回复，功能码不一致"));
        ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:yellow"));
        return;
    }
    ui->statusbar->showMessage(tr("通讯：数据回复，正常"));
    ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:white"));
    if (unit.registerType() == QModbusDataUnit::InputRegisters
        || unit.registerType() == QModbusDataUnit::HoldingRegisters)
        feedSonicDisplay(unit);
    showReplyInTable(unit);
    feedTrendChart(unit);
}

void MainWindow::showReplyInTable(const QModbusDataUnit &unit)
{
    const QVector<ProtocolTable::RowUpdate> updates =
            protocolTable->applyReply(unit, regsAddrRead, regsLenRead);
    if (updates.isEmpty())
        return;

    QTableWidget *table = ui->tableWidget;
    QAbstractItemModel *model = table->model();
    const ProtocolTable::Roles &roles = protocolTable->roles();
    // The auto-sized value columns size themselves once for the whole reply.
    const AutoSizeHold hold(table->horizontalHeader());
    const QScopedValueRollback<bool> filling(fillingTable, true);
    // Every cell change would otherwise be announced on its own, and the view would work out
    // each cell's rectangle and repaint region; the reply's rows are announced once instead.
    QSignalBlocker quiet(model);
    for (const ProtocolTable::RowUpdate &update : updates) {
        if (roles.hex >= 0) {
            if (QTableWidgetItem *item = table->item(update.row, roles.hex)) {
                if (!update.hexChanged) {
                    item->setBackground(QBrush(Qt::white));
                } else {
                    if (MyConfig::changeWarnEnable)
                        item->setBackground(QBrush(Qt::green));
                    item->setText(update.hex);
                }
            }
        }
        if (roles.dec >= 0) {
            if (QTableWidgetItem *item = table->item(update.row, roles.dec))
                item->setText(update.dec);
        }
        if (roles.display >= 0) {
            if (QTableWidgetItem *item = table->item(update.row, roles.display))
                item->setText(update.display);
        }
    }
    quiet.unblock();
    emit model->dataChanged(model->index(updates.first().row, 0),
                            model->index(updates.last().row, model->columnCount() - 1));
}
