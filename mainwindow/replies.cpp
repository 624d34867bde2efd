#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autosizehold.h"
#include "csvrecorder.h"
#include "logging.h"
#include "modbussession.h"
#include "myconfig.h"
#include "mytool.h"
#include "protocoltable.h"
#include "sensorregisters.h"
#include "sonicdisplay.h"
#include "trendchart.h"

#include <QBrush>
#include <QDateTime>
#include <QScopedValueRollback>
#include <QTableWidgetItem>

namespace {

// A repaint of the table at most this often, however fast replies come: about a screen frame
// or two. A person sees no difference; a fast read cycle loses no time to painting.
constexpr int tableRepaintMs = 30;

// Sets the cell's text or background; true when it changed. A text of another length may need
// another column width.
bool setCellText(QTableWidgetItem *item, const QString &text, bool *lengthChanged)
{
    if (!item)
        return false;
    const QString old = item->text();
    if (old == text)
        return false;
    *lengthChanged |= old.size() != text.size();
    item->setText(text);
    return true;
}

bool setCellBackground(QTableWidgetItem *item, Qt::GlobalColor color)
{
    if (!item || item->background() == QBrush(color))
        return false;
    item->setBackground(QBrush(color));
    return true;
}

} // namespace

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

    // Decoded once; the table, the distance display, the trend and the recording all take it.
    const DecodedReply reply = protocolTable->applyReply(unit, regsAddrRead, regsLenRead);
    showReplyInTable(reply);
    if (sonicDisplay)
        sonicDisplay->showReadings(SensorRegisters::readingsOf(reply));
    if (trendChart)
        trendChart->takeReply(reply, QDateTime::currentMSecsSinceEpoch());
    if (outcome.kind == RequestKind::Read)
        csvRecorder->record(reply);
}

void MainWindow::showReplyInTable(const DecodedReply &reply)
{
    QTableWidget *table = ui->tableWidget;
    const ProtocolTable::Roles &roles = protocolTable->roles();
    const QScopedValueRollback<bool> filling(fillingTable, true);
    // The cells take the reply's texts now, silently: the view hears of the rows that changed
    // at its next repaint (repaintTable), so a burst of replies costs one repaint.
    const QSignalBlocker quiet(table->model());
    for (const DecodedRegister &decoded : reply.registers) {
        if (!decoded.inTable)
            break; // in address order: the rest lies past the table too
        const int row = decoded.address;
        bool changed = false;
        if (roles.hex >= 0) {
            QTableWidgetItem *item = table->item(row, roles.hex);
            if (!decoded.hexChanged) {
                changed |= setCellBackground(item, Qt::white);
            } else {
                if (MyConfig::changeWarnEnable)
                    changed |= setCellBackground(item, Qt::green);
                changed |= setCellText(item, decoded.hex, &changedRows.lengths);
            }
        }
        if (roles.dec >= 0)
            changed |= setCellText(table->item(row, roles.dec), decoded.dec, &changedRows.lengths);
        if (roles.display >= 0) {
            changed |= setCellText(table->item(row, roles.display), decoded.display,
                                   &changedRows.lengths);
        }
        if (changed) {
            changedRows.first = changedRows.first < 0 ? row : qMin(changedRows.first, row);
            changedRows.last = qMax(changedRows.last, row);
        }
    }
    if (changedRows.first >= 0 && !tableRepaint.isActive())
        tableRepaint.start(qMax<qint64>(0, tableRepaintMs - sinceTableRepaint.elapsed()));
}

void MainWindow::repaintTable()
{
    if (changedRows.first < 0)
        return;
    QTableWidget *table = ui->tableWidget;
    QAbstractItemModel *model = table->model();
    const ChangedRows changed = changedRows;
    changedRows = ChangedRows();
    sinceTableRepaint.start();
    const int last = qMin(changed.last, model->rowCount() - 1);
    if (changed.first > last || model->columnCount() == 0)
        return; // the table was rebuilt meanwhile and painted whole
    // Only texts of another length can change what the auto-sized value columns need; measuring
    // them means a look at every shown row, so it is done only then.
    if (changed.lengths) {
        // Handed back to resize-to-contents, the columns measure themselves at the next turn.
        const AutoSizeHold remeasure(table->horizontalHeader());
    }
    // Only the value cells of the changed rows: the rest of the view shows what it showed.
    const ProtocolTable::Roles &roles = protocolTable->roles();
    QRect cells;
    for (int column : { roles.hex, roles.dec, roles.display }) {
        if (column >= 0 && column < model->columnCount()) {
            cells |= table->visualRect(model->index(changed.first, column))
                    | table->visualRect(model->index(last, column));
        }
    }
    table->viewport()->update(cells);
}
