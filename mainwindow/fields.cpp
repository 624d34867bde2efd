#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "fieldrules.h"
#include "logging.h"
#include "mytool.h"
#include "protocoltable.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidgetSelectionRange>

void MainWindow::finishAddressField(QLineEdit *addressField, QLineEdit *countField, int &address,
                                    int &count)
{
    const FieldWindow w = applyAddressRule(MyTool::textToInt(addressField->text()), count,
                                           protocolTable->rowCount());
    address = w.address;
    count = w.count;
    if (w.addressChanged)
        addressField->setText(QString::number(address));
    if (w.countChanged)
        countField->setText(QString::number(count));
}

void MainWindow::finishCountField(QLineEdit *countField, int address, int &count)
{
    const FieldWindow w = applyCountRule(address, count, protocolTable->rowCount());
    count = w.count;
    if (w.countChanged)
        countField->setText(QString::number(count));
}

void MainWindow::on_lineEdit_regsAddrRead_editingFinished()
{
    finishAddressField(ui->lineEdit_regsAddrRead, ui->lineEdit_regsLenRead, regsAddrRead, regsLenRead);
}

void MainWindow::on_lineEdit_regsLenRead_editingFinished()
{
    regsLenRead = MyTool::textToInt(ui->lineEdit_regsLenRead->text());
    qCDebug(lcModbus) << "regsLenRead = " << regsLenRead;
    qCDebug(lcModbus) << "regsAddrRead = " << regsAddrRead;
    finishCountField(ui->lineEdit_regsLenRead, regsAddrRead, regsLenRead);
    qCDebug(lcModbus) << "rawN = " << protocolTable->rowCount();
    qCDebug(lcModbus) << "regsLenRead = " << regsLenRead;
}

void MainWindow::on_lineEdit_regsAddrWrite_editingFinished()
{
    finishAddressField(ui->lineEdit_regsAddrWrite, ui->lineEdit_regsLenWrite, regsAddrWrite,
                       regsLenWrite);
}

void MainWindow::on_lineEdit_regsLenWrite_editingFinished()
{
    regsLenWrite = MyTool::textToInt(ui->lineEdit_regsLenWrite->text());
    finishCountField(ui->lineEdit_regsLenWrite, regsAddrWrite, regsLenWrite);
}

void MainWindow::on_comboBox_regsType_currentTextChanged(const QString &arg1)
{
    // Clearing the selector (a new protocol file is being listed) passes an empty text.
    if (arg1.isEmpty())
        return;

    const QModbusDataUnit::RegisterType type = registerTypeOf(arg1);
    if (type == QModbusDataUnit::Invalid) {
        QMessageBox::warning(this, tr("故障"), tr("寄存器不支持"), QMessageBox::Ok);
        return;
    }

    resolveProtocol();

    const bool writable = type == QModbusDataUnit::Coils || type == QModbusDataUnit::HoldingRegisters;
    QWidget *const writeWidgets[] = {
        ui->pushButton_write,      ui->label_regsAddrWrite,   ui->lineEdit_regsAddrWrite,
        ui->label_regsLenWrite,    ui->lineEdit_regsLenWrite, ui->pushButton_selectEnable,
    };
    for (QWidget *widget : writeWidgets)
        widget->setVisible(writable);
}

void MainWindow::tableSelectionChanged()
{
    if (!ui->pushButton_selectEnable->isChecked())
        return;

    // Several ranges: the last one the table reports decides. The field rules are not applied
    // here on purpose: the selection is what the user pointed at.
    const QList<QTableWidgetSelectionRange> ranges = ui->tableWidget->selectedRanges();
    for (const QTableWidgetSelectionRange &range : ranges) {
        regsAddrWrite = range.topRow();
        regsLenWrite = range.bottomRow() - range.topRow() + 1;
        ui->lineEdit_regsAddrWrite->setText(QString::number(regsAddrWrite));
        ui->lineEdit_regsLenWrite->setText(QString::number(regsLenWrite));
    }
}
