#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "modbussession.h"
#include "modbustext.h"
#include "myconfig.h"
#include "mynetwork.h"
#include "singlewindow.h"

void MainWindow::on_pushButton_connect_toggled(bool checked)
{
    if (checked) {
        // Applied at every opening, so a change in the serial port or network dialog takes
        // effect now.
        const LineSettings line = MyConfig::isTcpLink()
                ? LineSettings::tcp(MyConfig::tcpHost, MyConfig::tcpPort)
                : LineSettings::fromTexts(MyConfig::serialName, MyConfig::serialBaudrate,
                                          MyConfig::serialParity, MyConfig::serialStopbits);
        if (session->open(line)) {
            modbusDevice = session->client();
            ui->pushButton_connect->setText(tr("关闭串口"));
            setWindowTitle(MyConfig::programName + QStringLiteral(" - ") + line.linkText());
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
    if (state == QModbusDevice::UnconnectedState || state == QModbusDevice::ClosingState) {
        ui->pushButton_connect->setChecked(false);
        setWindowTitle(MyConfig::programName);
    }
}

// A TCP connection is made after the opening returned, so its failure arrives here, as does
// the end of a link the peer closed or whose port vanished; it follows the state message.
void MainWindow::showLinkLost(const QString &reason, bool connected)
{
    ui->statusbar->showMessage((connected ? tr("Link lost: ") : tr("Connect failed: ")) + reason,
                               5000);
}

void MainWindow::on_actionnetwork_triggered()
{
    // As with the serial port dialog: the link chosen takes effect at the next opening.
    ui->pushButton_connect->setChecked(false);
    showSingleWindow(networkDialog, this, tr("网络连接"));
}
