#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::on_lineEdit_regsAddrRead_editingFinished() {}
void MainWindow::on_lineEdit_regsLenRead_editingFinished() {}
void MainWindow::on_lineEdit_regsAddrWrite_editingFinished() {}
void MainWindow::on_lineEdit_regsLenWrite_editingFinished() {}
void MainWindow::on_comboBox_regsType_currentTextChanged(const QString &) {}
void MainWindow::tableSelectionChanged() {}
