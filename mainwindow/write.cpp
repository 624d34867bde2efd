#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "logging.h"
#include "protocoltable.h"
#include "readplan.h"

#include <QMessageBox>

void MainWindow::on_pushButton_write_clicked()
{
    qCDebug(lcModbus) << "on_pushButton_write_clicked()";

    // Before any check: even a refused write ends a running cycle.
    if (ui->checkBox_repeat->isChecked())
        ui->checkBox_repeat->setChecked(false);

    if (!session->isConnected()) {
        QMessageBox::warning(this, tr("错误："), tr("请先打开串口"));
        return;
    }

    const ReadPlan plan = ReadPlan::fromFields(ui->comboBox_regsType->currentText(),
                                               ui->lineEdit_deviceAddr->text(),
                                               ui->lineEdit_regsAddrWrite->text(),
                                               ui->lineEdit_regsLenWrite->text());
    if (plan.area != QModbusDataUnit::Coils && plan.area != QModbusDataUnit::HoldingRegisters) {
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"));
        return;
    }
    if (!ReadPlan::isValidServer(plan.server, session->linkType())) {
        QMessageBox::warning(this, tr("故障"), tr("设备地址无效"));
        return;
    }

    regsAddrWrite = plan.start;
    regsLenWrite = plan.count;

    // The write fields are bounded only when edited; the table may have been reloaded with
    // fewer rows since, or have no hex column at all. Refuse rather than send made-up values.
    QVector<quint16> values;
    if (!protocolTable->writeValues(regsAddrWrite, regsLenWrite, &values)) {
        QMessageBox::warning(this, tr("故障"), tr("写入范围超出协议表"));
        return;
    }
    for (int i = 0; i < values.size(); ++i)
        qCDebug(lcModbus) << "addr = " << regsAddrWrite + i << ",data = " << values.at(i);
    if (values.isEmpty()) {
        qCDebug(lcModbus) << "data is empty!";
        return;
    }
    qCDebug(lcModbus) << values;

    // With a reply outstanding (nearly always, while a fast cycle ran) the write is not lost:
    // the session sends it as soon as that reply has been handled, with the values of this
    // press. A later press replaces it. A write the client refuses is reported by the session.
    session->write(QModbusDataUnit(plan.area, regsAddrWrite, values), plan.server);
}

void MainWindow::on_pushButton_broadcast_clicked()
{
    ui->lineEdit_deviceAddr->setText(QStringLiteral("0"));
}
