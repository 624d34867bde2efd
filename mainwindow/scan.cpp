#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "myconfig.h"
#include "myserialport.h"
#include "scandialog.h"
#include "singlewindow.h"

void MainWindow::on_actionscan_triggered()
{
    // The scan needs the port to itself.
    ui->pushButton_connect->setChecked(false);
    if (!showSingleWindow(scanDialog, this, tr("设备扫描")))
        return;
    connect(scanDialog, &ScanDialog::scanStarting, this,
            [this]() { ui->pushButton_connect->setChecked(false); });
    connect(scanDialog, &ScanDialog::deviceChosen, this, &MainWindow::useScannedDevice);
}

void MainWindow::useScannedDevice(const ScannedDevice &device)
{
    // An open serial port dialog would store what it shows over these settings when it closes;
    // it goes first, and shows the new settings when opened again.
    if (serialPortDialog)
        delete serialPortDialog;
    ui->pushButton_connect->setChecked(false);

    if (device.tcp) {
        ui->lineEdit_deviceAddr->setText(QString::number(device.address));
        ui->statusbar->showMessage(tr("已选用设备：%1，地址 %2")
                                           .arg(LineSettings::tcp(MyConfig::tcpHost, MyConfig::tcpPort).linkText())
                                           .arg(device.address));
        endRecordingForChange();
        return;
    }
    MyConfig::serialName = device.portName;
    MyConfig::serialBaudrate = device.baudRate;
    MyConfig::serialParity = device.parity;
    MyConfig::serialStopbits = device.stopBits;
    ui->lineEdit_deviceAddr->setText(QString::number(device.address));
    ui->statusbar->showMessage(tr("已选用设备：%1，地址 %2，%3 bps，校验 %4，停止位 %5")
                                       .arg(device.portName)
                                       .arg(device.address)
                                       .arg(device.baudRate)
                                       .arg(device.parity, device.stopBits));
    // Another device: what is being recorded would mix two devices under one header.
    endRecordingForChange();
}
