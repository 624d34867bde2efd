#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "mytool.h"

#include "logging.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidgetSelectionRange>

namespace {

const int maxCountPerRequest = 127;

// Rows of the table left from start address `address` on; an address outside the table
// leaves none, so a count cut against it never reaches beyond the last row.
int rowsFrom(int address, int rowCount)
{
    if (address < 0 || address > rowCount)
        return 0;
    return rowCount - address;
}

// The start address rule shared by the read and write pairs: an address at or beyond the
// last row (or below 0) becomes 0, and the count is cut to the rows left after the address.
void applyAddressRule(QLineEdit *addressField, QLineEdit *countField, int &address, int &count,
                      int rowCount)
{
    address = MyTool::textToInt(addressField->text());
    if (address >= rowCount || address < 0) {
        address = 0;
        addressField->setText(QStringLiteral("0"));
    }
    // 64 bits: a count taken from the settings file may be near INT_MAX.
    if (qint64(address) + count > rowCount) {
        count = rowsFrom(address, rowCount);
        countField->setText(QString::number(count));
    }
}

// The count rule: first forced into 1..127 (a negative count counts as 0), then cut to the
// rows left after the start address.
void applyCountRule(QLineEdit *countField, int address, int &count, int rowCount)
{
    if (count > maxCountPerRequest || count <= 0) {
        count = 1;
        countField->setText(QStringLiteral("1"));
    }
    if (qint64(address) + count > rowCount || address < 0) {
        count = rowsFrom(address, rowCount);
        countField->setText(QString::number(count));
    }
}

} // namespace

void MainWindow::on_lineEdit_regsAddrRead_editingFinished()
{
    applyAddressRule(ui->lineEdit_regsAddrRead, ui->lineEdit_regsLenRead, regsAddrRead, regsLenRead,
                     rawN);
}

void MainWindow::on_lineEdit_regsLenRead_editingFinished()
{
    regsLenRead = MyTool::textToInt(ui->lineEdit_regsLenRead->text());
    qCDebug(lcModbus) << "regsLenRead = " << regsLenRead;
    qCDebug(lcModbus) << "regsAddrRead = " << regsAddrRead;
    applyCountRule(ui->lineEdit_regsLenRead, regsAddrRead, regsLenRead, rawN);
    qCDebug(lcModbus) << "rawN = " << rawN;
    qCDebug(lcModbus) << "regsLenRead = " << regsLenRead;
}

void MainWindow::on_lineEdit_regsAddrWrite_editingFinished()
{
    applyAddressRule(ui->lineEdit_regsAddrWrite, ui->lineEdit_regsLenWrite, regsAddrWrite,
                     regsLenWrite, rawN);
}

void MainWindow::on_lineEdit_regsLenWrite_editingFinished()
{
    regsLenWrite = MyTool::textToInt(ui->lineEdit_regsLenWrite->text());
    applyCountRule(ui->lineEdit_regsLenWrite, regsAddrWrite, regsLenWrite, rawN);
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
