#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autosizehold.h"
#include "logging.h"
#include "myxlsx.h"
#include "protocoltable.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QTableWidgetItem>

void MainWindow::resolveProtocol()
{
    const QString path = ui->lineEdit_protocolFile->text();
    const QString sheet = ui->comboBox_regsType->currentText();
    qCDebug(lcProtocol) << "comboBox_regsType : " << sheet;

    QString reason;
    if (protocolTable->load(path, sheet, &reason) < 0) {
        qCDebug(lcProtocol) << "resolveFile error." << reason;
        ui->statusbar->showMessage(tr("解析失败：%1").arg(reason));
        return;
    }
    // Other rows, other rules: the recorded columns would change their meaning.
    endRecordingForChange();
    fillTable();

    const QList<int> refused = protocolTable->refusedRules();
    if (!refused.isEmpty()) {
        ui->statusbar->showMessage(tr("第 %1 行的解析规则过大（超过 %2 KiB 或 %3 项），未使用（共 %4 行）")
                                           .arg(refused.first())
                                           .arg(ProtocolTable::maxRuleTextLength / 1024)
                                           .arg(ProtocolTable::maxRuleObjects)
                                           .arg(refused.size()));
    }

    on_lineEdit_regsAddrRead_editingFinished();
    on_lineEdit_regsLenRead_editingFinished();
}

void MainWindow::fillTable()
{
    QTableWidget *table = ui->tableWidget;
    const int rows = protocolTable->rowCount();
    const int columns = protocolTable->columnCount();
    const QScopedValueRollback<bool> filling(fillingTable, true);
    // The whole table is painted anew; changes waiting for a repaint are part of it.
    changedRows = ChangedRows();
    table->setRowCount(rows);
    table->setColumnCount(columns);
    if (columns == 0)
        return;
    table->setHorizontalHeaderLabels(protocolTable->header());

    const ProtocolTable::Roles &roles = protocolTable->roles();
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int column : { roles.display, roles.hex, roles.dec, roles.address }) {
        if (column >= 0 && column < columns)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }

    // The role columns size themselves once, after the fill, not on every cell.
    const AutoSizeHold hold(header);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            QTableWidgetItem *item = table->item(r, c);
            if (!item) {
                item = new QTableWidgetItem(0);
                table->setItem(r, c, item);
            }
            // Set from the column's role on this sheet, so a column that was read-only on an
            // earlier sheet becomes editable again. Setting flags notifies the view even when
            // they stay the same, so only changes are set.
            const Qt::ItemFlags flags = protocolTable->isEditable(c)
                                                ? item->flags() | Qt::ItemIsEditable
                                                : item->flags() & ~Qt::ItemIsEditable;
            if (flags != item->flags())
                item->setFlags(flags);
            item->setText(protocolTable->text(r, c));
        }
    }
}

void MainWindow::tableItemChanged(QTableWidgetItem *item)
{
    // The user's edits go to the model at once: a write sends them, a save stores them.
    if (fillingTable)
        return;
    protocolTable->setText(item->row(), item->column(), item->text());
}

void MainWindow::on_pushButton_resolve_clicked()
{
    resolveProtocol();
}

void MainWindow::on_pushButton_protocolFile_clicked()
{
    QString path = QFileDialog::getOpenFileName(this, tr("选择当前配置保存位置"), protocolFile,
                                                tr("选择类型 (*.*)"));
    if (path.isEmpty())
        path = protocolFile;
    ui->lineEdit_protocolFile->setText(path);
    if (path == protocolFile)
        return;

    protocolFile = path;
    const QStringList sheets = MyXlsx::listSheets(path);
    qCDebug(lcProtocol) << sheets;
    // Clearing passes an empty text to the area handler, which ignores it; the first sheet
    // inserted becomes current and is resolved through that handler.
    ui->comboBox_regsType->clear();
    ui->comboBox_regsType->addItems(sheets);
}

void MainWindow::on_pushButton_protocolSave_clicked()
{
    const QString path = ui->lineEdit_protocolFile->text();
    const QString sheet = ui->comboBox_regsType->currentText();

    // The rows in memory belong to the last resolved sheet; written anywhere else they would
    // overwrite another sheet or workbook with this table.
    if (protocolTable->loadedFile().isEmpty() || path != protocolTable->loadedFile()
        || sheet != protocolTable->loadedSheet()) {
        QMessageBox::warning(this, tr("协议保存失败"),
                             tr("表格不是从文件 %1 的工作表 %2 载入的，请先解析。")
                                     .arg(path, sheet),
                             QMessageBox::Ok);
        return;
    }

    QString reason;
    if (protocolTable->save(path, sheet, &reason) < 0) {
        // The table and its edits stay as they are, so the user can try again.
        QMessageBox::warning(this, tr("协议保存失败"),
                             tr("无法写入协议文件 %1，表格中的内容未保存。\n%2").arg(path, reason),
                             QMessageBox::Ok);
        return;
    }

    resolveProtocol();
}
