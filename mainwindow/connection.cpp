#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "modbustext.h"
#include "myconfig.h"

void MainWindow::on_pushButton_connect_toggled(bool checked)
{
    if (checked) {
        // Applied at every opening, so a change in the serial port dialog takes effect now.
        const LineSettings line = LineSettings::fromTexts(MyConfig::serialName, MyConfig::serialBaudrate,
                                                          MyConfig::serialParity, MyConfig::serialStopbits);
        if (session->open(line)) {
            ui->pushButton_connect->setText(tr("关闭串口"));
            return;
        }
        ui->statusbar->showMessage(tr("Connect failed: ") + session->errorString(), 5000);
        // The state handler may have released the button already when the client fell back
        // to UnconnectedState; if not, this runs the closing steps below.
        ui->pushButton_connect->setChecked(false);
        ui->pushButton_connect->setText(tr("打开串口"));
        return;
    }

    session->close();
    ui->pushButton_connect->setText(tr("打开串口"));
    ui->pushButton_read->setChecked(false);
}

void MainWindow::modbusStateChanged(QModbusDevice::State state)
{
    ui->statusbar->showMessage(QStringLiteral("modbus status:") + modbusStateName(state));
    // A line that drops by itself (the session closes a line whose port vanished) comes back
    // to the same state as a click on "关闭串口".
    if (state == QModbusDevice::UnconnectedState || state == QModbusDevice::ClosingState)
        ui->pushButton_connect->setChecked(false);
}
