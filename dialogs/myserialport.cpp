#include "myserialport.h"
#include "ui_myserialport.h"

#include "lineoptions.h"
#include "logging.h"
#include "myconfig.h"

#include <QSerialPortInfo>

MySerialPort::MySerialPort(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::MySerialPort)
{
    ui->setupUi(this);
    for (int rate : LineOptions::baudRates())
        ui->comboBox_baudrate->addItem(QString::number(rate));
    for (const LineOptions::Option &parity : LineOptions::parities())
        ui->comboBox_parity->addItem(parity.text);
    for (const LineOptions::Option &stopBits : LineOptions::stopBits())
        ui->comboBox_stopbits->addItem(stopBits.text);

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        ui->comboBox_com->addItem(port.portName());

    const int portIndex = ui->comboBox_com->findText(MyConfig::serialName);
    if (portIndex >= 0) {
        ui->comboBox_com->setCurrentIndex(portIndex);
        qCDebug(lcSettings) << "serial port index = " << portIndex;
    }

    const int baudIndex = ui->comboBox_baudrate->findText(QString::number(MyConfig::serialBaudrate));
    if (baudIndex >= 0)
        ui->comboBox_baudrate->setCurrentIndex(baudIndex);

    const int parityIndex = ui->comboBox_parity->findText(MyConfig::serialParity);
    if (parityIndex >= 0)
        ui->comboBox_parity->setCurrentIndex(parityIndex);

    const int stopIndex = ui->comboBox_stopbits->findText(MyConfig::serialStopbits);
    if (stopIndex >= 0)
        ui->comboBox_stopbits->setCurrentIndex(stopIndex);

    // Editable only now, so a stored name that no port matches is not shown: the edit starts
    // with the first listed port. Any path may be typed, a pseudo-terminal such as /dev/pts/5
    // included; it is stored as typed.
    ui->comboBox_com->setEditable(true);
}

MySerialPort::~MySerialPort()
{
    // Nothing is stored here: the window is destroyed when closed in any way, and only OK
    // replaces the stored settings.
    qCDebug(lcSettings) << "~MySerialPort";
    delete ui;
}

void MySerialPort::on_buttonBox_accepted()
{
    storeSelections();
    close();
}

void MySerialPort::on_buttonBox_rejected()
{
    close();
}

void MySerialPort::storeSelections()
{
    MyConfig::serialName = ui->comboBox_com->currentText();
    MyConfig::serialBaudrate = ui->comboBox_baudrate->currentText().toInt(nullptr, 10);
    MyConfig::serialParity = ui->comboBox_parity->currentText();
    MyConfig::serialStopbits = ui->comboBox_stopbits->currentText();
}
