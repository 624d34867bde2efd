#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "myserialport.h"
#include "singlewindow.h"
#include "sonicdisplay.h"
#include "trafficmonitor.h"

void MainWindow::on_actionCOM_triggered()
{
    // New line settings only take effect at the next opening, so the line is closed first,
    // also when the dialog is already open.
    ui->pushButton_connect->setChecked(false);
    showSingleWindow(serialPortDialog, this, tr("COM"));
}

void MainWindow::on_actiondistance_triggered()
{
    if (showSingleWindow(sonicDisplay, this, tr("距离显示")))
        raise();
}

void MainWindow::on_actionmonitor_triggered()
{
    if (showSingleWindow(trafficMonitor, this, tr("报文监视")))
        trafficMonitor->setSources(frameLog, lineStatistics);
}
