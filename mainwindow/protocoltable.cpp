#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autosizehold.h"
#include "decoding.h"
#include "myconfig.h"
#include "myxlsx.h"

#include "logging.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidgetItem>

void MainWindow::resolveProtocol()
{
    const QString path = ui->lineEdit_protocolFile->text();
    const QString sheet = ui->comboBox_regsType->currentText();
    qCDebug(lcProtocol) << "comboBox_regsType : " << sheet;

    if (MyXlsx::readSheet(path, sheet, protocolHeader, protocolRows) < 0) {
        qCDebug(lcProtocol) << "resolveFile error.";
        return;
    }
    // The header and rows in memory now belong to this sheet: a save may go back there only.
    resolvedFile = path;
    resolvedSheet = sheet;

    QTableWidget *table = ui->tableWidget;
    // Nothing of the previous sheet survives a successful read: roles, rules and cells all
    // come from this one.
    displayJsonIndex = -1;
    displayContextIndex = -1;
    displayHexIndex = -1;
    displayDecIndex = -1;
    displayAddrIndex = -1;
    protocolRules.clear();

    rawN = protocolRows.size();
    columnN = protocolHeader.size();
    if (rawN == 0 || columnN == 0) {
        // An empty sheet gives an empty table, not the previous sheet's rows under no titles.
        rawN = 0;
        columnN = 0;
        table->setRowCount(0);
        table->setColumnCount(0);
        on_lineEdit_regsAddrRead_editingFinished();
        on_lineEdit_regsLenRead_editingFinished();
        return;
    }
    if (rawN > MyConfig::maxTableRows)
        rawN = MyConfig::maxTableRows;

    table->setRowCount(rawN);
    table->setColumnCount(columnN);
    table->setHorizontalHeaderLabels(protocolHeader);
    qCDebug(lcProtocol) << "rawN,columnN = " << rawN << "," << columnN;

    struct Role
    {
        const char *word;
        int *index;
    };
    const Role roles[] = {
        { "JSON解析", &displayJsonIndex }, { "显示", &displayContextIndex },
        { "16进制", &displayHexIndex },    { "10进制", &displayDecIndex },
        { "地址", &displayAddrIndex },
    };
    for (const QString &title : qAsConst(protocolHeader)) {
        for (const Role &role : roles) {
            if (title.contains(QString::fromUtf8(role.word))) {
                // Of two identical titles the first column counts.
                *role.index = protocolHeader.indexOf(title);
                break;
            }
        }
    }

    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int column : { displayContextIndex, displayHexIndex, displayDecIndex, displayAddrIndex }) {
        if (column >= 0 && column < columnN)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }

    {
        // The role columns size themselves once, after the fill, not on every cell.
        const AutoSizeHold hold(header);
        for (int r = 0; r < rawN; ++r) {
            const QStringList &row = protocolRows.at(r);
            for (int c = 0; c < columnN; ++c) {
                QTableWidgetItem *item = table->item(r, c);
                if (!item) {
                    item = new QTableWidgetItem(0);
                    table->setItem(r, c, item);
                }
                // Set from the column's role on this sheet, so a column that was read-only on an
                // earlier sheet becomes editable again. Setting flags notifies the view even when
                // they stay the same, so only changes are set.
                const Qt::ItemFlags flags = (c == displayDecIndex || c == displayContextIndex)
                                                ? item->flags() & ~Qt::ItemIsEditable
                                                : item->flags() | Qt::ItemIsEditable;
                if (flags != item->flags())
                    item->setFlags(flags);
                item->setText(row.value(c));
            }
        }

        // A sheet without a rule column decodes every row with the empty rule: unsigned decimal.
        for (int r = 0; r < rawN; ++r) {
            QJsonDocument rule;
            if (displayJsonIndex >= 0) {
                QStringList &row = protocolRows[r];
                while (row.size() <= displayJsonIndex)
                    row.append(QString());
                // parseRule puts a rule written without braces inside them; the cell shows that form.
                parseRule(row[displayJsonIndex], rule);
                table->item(r, displayJsonIndex)->setText(row.at(displayJsonIndex));
            } else {
                QString empty;
                parseRule(empty, rule);
            }
            protocolRules.append(rule);
        }
    }

    on_lineEdit_regsAddrRead_editingFinished();
    on_lineEdit_regsLenRead_editingFinished();
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
    if (resolvedFile.isEmpty() || path != resolvedFile || sheet != resolvedSheet) {
        QMessageBox::warning(this, tr("协议保存失败"),
                             tr("表格不是从文件 %1 的工作表 %2 载入的，请先解析。")
                                     .arg(path, sheet),
                             QMessageBox::Ok);
        return;
    }

    {
        for (int r = 0; r < rawN && r < protocolRows.size(); ++r) {
            QStringList &row = protocolRows[r];
            for (int c = 0; c < columnN; ++c) {
                const QTableWidgetItem *item = tableItem(r, c);
                if (!item)
                    continue;
                while (row.size() <= c)
                    row.append(QString());
                row[c] = item->data(Qt::DisplayRole).toString();
            }
        }
    }

    if (MyXlsx::writeSheet(path, sheet, protocolHeader, protocolRows) < 0) {
        // The table and its edits stay as they are, so the user can try again.
        QMessageBox::warning(this, tr("协议保存失败"),
                             tr("无法写入协议文件 %1，表格中的内容未保存。").arg(path),
                             QMessageBox::Ok);
        return;
    }

    resolveProtocol();
}
