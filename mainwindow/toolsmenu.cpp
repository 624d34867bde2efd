#include "mainwindow.h"
#include "ui_mainwindow.h"

// PLACEHOLDER: to be written.
void MainWindow::addToolEntries() {}
void MainWindow::pluginSlot(QAction *) {}
void MainWindow::on_actionrelease_triggered() {}
