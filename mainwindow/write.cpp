#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::on_pushButton_write_clicked() {}
void MainWindow::on_pushButton_broadcast_clicked() {}
