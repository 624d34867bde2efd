#include "mynetwork.h"
#include "ui_mynetwork.h"

#include "myconfig.h"

MyNetwork::MyNetwork(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::MyNetwork)
{
    ui->setupUi(this);
    // The settings keep the link as "serial" or "tcp"; the list shows it in words.
    ui->comboBox_link->setItemData(0, QStringLiteral("serial"));
    ui->comboBox_link->setItemData(1, QStringLiteral("tcp"));
    ui->comboBox_link->setCurrentIndex(qMax(0, ui->comboBox_link->findData(MyConfig::linkType)));
    ui->lineEdit_host->setText(MyConfig::tcpHost);
    ui->spinBox_port->setValue(MyConfig::tcpPort);
    connect(ui->comboBox_link, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MyNetwork::showLinkFields);
    showLinkFields();
}

MyNetwork::~MyNetwork()
{
    delete ui;
}

// Host and port mean nothing to the serial line.
void MyNetwork::showLinkFields()
{
    const bool tcp = ui->comboBox_link->currentData().toString() == QLatin1String("tcp");
    ui->lineEdit_host->setEnabled(tcp);
    ui->spinBox_port->setEnabled(tcp);
}

void MyNetwork::on_buttonBox_accepted()
{
    MyConfig::linkType = ui->comboBox_link->currentData().toString();
    // A bracketed IPv6 literal, as typed after an URL's habit, is kept without its brackets.
    QString host = ui->lineEdit_host->text().trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    MyConfig::tcpHost = host;
    MyConfig::tcpPort = ui->spinBox_port->value();
    close();
}

void MyNetwork::on_buttonBox_rejected()
{
    close();
}
