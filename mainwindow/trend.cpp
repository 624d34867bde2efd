#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "mytool.h"
#include "protocoltable.h"
#include "singlewindow.h"
#include "trendchart.h"

#include <QDateTime>
#include <QTableWidgetSelectionRange>

void MainWindow::on_actiontrend_triggered()
{
    if (!showSingleWindow(trendChart, this, tr("趋势图")))
        return;
    connect(trendChart, &TrendChart::addRowsRequested, this, &MainWindow::addSelectedRowsToTrend);
    // The rows selected in the table when it opens are its first lines.
    addSelectedRowsToTrend();
}

void MainWindow::addSelectedRowsToTrend()
{
    if (!trendChart)
        return;
    const QModbusDataUnit::RegisterType area = registerTypeOf(ui->comboBox_regsType->currentText());
    if (area == QModbusDataUnit::Invalid)
        return;
    QList<int> rows;
    const QList<QTableWidgetSelectionRange> ranges = ui->tableWidget->selectedRanges();
    for (const QTableWidgetSelectionRange &range : ranges) {
        for (int row = range.topRow(); row <= range.bottomRow(); ++row) {
            if (!rows.contains(row))
                rows.append(row);
        }
    }
    std::sort(rows.begin(), rows.end());
    trendChart->addRows(area, rows, *protocolTable);
}
