#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::on_pushButton_connect_toggled(bool) {}
void MainWindow::modbusStateChanged(QModbusDevice::State) {}
void MainWindow::modbusErrorOccurred(QModbusDevice::Error) {}
