#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::on_pushButton_read_toggled(bool) {}
void MainWindow::on_checkBox_repeat_stateChanged(int) {}
void MainWindow::on_lineEdit_period_editingFinished() {}
void MainWindow::trackReply(QModbusReply *) {}
