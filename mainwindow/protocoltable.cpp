#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::resolveProtocol() {}
void MainWindow::on_pushButton_resolve_clicked() {}
void MainWindow::on_pushButton_protocolFile_clicked() {}
void MainWindow::on_pushButton_protocolSave_clicked() {}
