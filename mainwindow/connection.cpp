#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbustext.h"
#include "myconfig.h"

#include <QModbusRtuSerialMaster>

void MainWindow::on_pushButton_connect_toggled(bool checked)
{
    if (checked) {
        // Applied at every opening, so a change in the serial port dialog takes effect now.
        modbusDevice->setConnectionParameter(QModbusDevice::SerialPortNameParameter,
                                             MyConfig::serialName);
        modbusDevice->setConnectionParameter(QModbusDevice::SerialParityParameter,
                                             parityValueOf(MyConfig::serialParity));
        modbusDevice->setConnectionParameter(QModbusDevice::SerialBaudRateParameter,
                                             MyConfig::serialBaudrate);
        modbusDevice->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, 8);
        modbusDevice->setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                             stopBitsValueOf(MyConfig::serialStopbits));
        modbusDevice->setTimeout(2000);
        modbusDevice->setNumberOfRetries(1);

        if (modbusDevice->connectDevice()) {
            ui->pushButton_connect->setText(tr("关闭串口"));
            return;
        }
        ui->statusbar->showMessage(tr("Connect failed: ") + modbusDevice->errorString(), 5000);
        // The state handler may have released the button already when the client fell back
        // to UnconnectedState; if not, this runs the closing steps below.
        ui->pushButton_connect->setChecked(false);
        ui->pushButton_connect->setText(tr("打开串口"));
        return;
    }

    modbusDevice->disconnectDevice();
    ui->pushButton_connect->setText(tr("打开串口"));
    ui->pushButton_read->setChecked(false);
    // A reply aborted by the closing, or one that will never come: the next read must go out.
    requestPending = false;
    waitingWrite.reset();
}

void MainWindow::modbusStateChanged(QModbusDevice::State state)
{
    ui->statusbar->showMessage(QStringLiteral("modbus status:") + modbusStateName(state));
    // A line that drops by itself comes back to the same state as a click on "关闭串口".
    if (state == QModbusDevice::UnconnectedState || state == QModbusDevice::ClosingState)
        ui->pushButton_connect->setChecked(false);
}

void MainWindow::modbusErrorOccurred(QModbusDevice::Error error)
{
    qCDebug(lcModbus) << "errorOccurred : " << modbusErrorName(error);

    // A port that vanished (adapter unplugged, pty closed) reaches the client as read, write
    // or connection errors, often one after the other, while it stays in ConnectedState; the
    // window would go on sending into nothing. Close the line as a click on "关闭串口" would;
    // queued, because the port is in the middle of its own error handling here.
    const bool lineBroken = error == QModbusDevice::ConnectionError
                            || error == QModbusDevice::ReadError
                            || error == QModbusDevice::WriteError;
    if (lineBroken && modbusDevice->state() == QModbusDevice::ConnectedState) {
        QMetaObject::invokeMethod(this, [this]() {
            if (modbusDevice->state() == QModbusDevice::ConnectedState)
                ui->pushButton_connect->setChecked(false);
        }, Qt::QueuedConnection);
    }
}
