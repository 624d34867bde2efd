#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::on_actionCOM_triggered() {}
void MainWindow::on_actiondistance_triggered() {}
void MainWindow::feedSonicDisplay(const QModbusDataUnit &) {}
