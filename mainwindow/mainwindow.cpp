#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "myconfig.h"
#include "myserialport.h"
#include "mytool.h"
#include "myxlsx.h"
#include "screencheck.h"

#include <QGuiApplication>
#include <QModbusRtuSerialMaster>
#include <QScreen>
#include <QSettings>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    addToolEntries();
    connect(ui->menu_tool, SIGNAL(triggered(QAction*)), this, SLOT(pluginSlot(QAction*)));

    QSettings geometry(QString::fromLatin1(MyConfig::geometryOrganisation), MyConfig::programName);
    const QPoint storedPos = geometry.value(QStringLiteral("pos"), QPoint(0, 0)).toPoint();
    const QSize storedSize = geometry.value(QStringLiteral("size"), QSize(1366, 706)).toSize();
    QList<QRect> screens;
    const QList<QScreen *> screenList = QGuiApplication::screens();
    for (const QScreen *screen : screenList)
        screens.append(screen->geometry());
    move(checkedWindowPosition(storedPos, screens));
    resize(storedSize);

    modbusDevice = new QModbusRtuSerialMaster();
    connect(modbusDevice, &QModbusDevice::stateChanged, this, &MainWindow::modbusStateChanged);
    connect(modbusDevice, &QModbusDevice::errorOccurred, this, &MainWindow::modbusErrorOccurred);

    ui->tableWidget->setShowGrid(true);

    connect(&cycleTimer, &QTimer::timeout, this, [this]() { on_pushButton_read_toggled(true); });
    connect(ui->tableWidget, &QTableWidget::itemSelectionChanged, this,
            &MainWindow::tableSelectionChanged);

    protocolFile = MyConfig::protocolFile;
    deviceAddr = MyConfig::deviceAddr;
    regsAddrRead = MyConfig::regsAddrRead;
    regsLenRead = MyConfig::regsLenRead;
    regsAddrWrite = MyConfig::regsAddrWrite;
    regsLenWrite = MyConfig::regsLenWrite;
    period = MyConfig::period;
    regsType = MyConfig::regsType;

    ui->lineEdit_protocolFile->setText(protocolFile);
    ui->lineEdit_deviceAddr->setText(QString::number(deviceAddr));
    ui->lineEdit_regsAddrRead->setText(QString::number(regsAddrRead));
    ui->lineEdit_regsLenRead->setText(QString::number(regsLenRead));
    ui->lineEdit_regsAddrWrite->setText(QString::number(regsAddrWrite));
    ui->lineEdit_regsLenWrite->setText(QString::number(regsLenWrite));
    ui->lineEdit_period->setText(QString::number(period));

    if (MyConfig::isRepeat)
        ui->checkBox_repeat->setChecked(true);

    // The first sheet name added becomes current and runs the area handler, which resolves it.
    ui->comboBox_regsType->addItems(MyXlsx::listSheets(protocolFile));
    // The stored area, when it is another sheet of this workbook; a stored area that names the
    // first sheet must not resolve it a second time.
    if (ui->comboBox_regsType->findData(regsType, Qt::DisplayRole) != 0)
        ui->comboBox_regsType->setCurrentText(regsType);

    if (MyConfig::selectEnable)
        ui->pushButton_selectEnable->setChecked(true);

    ui->statusbar->showMessage(QStringLiteral("modbus status:UnconnectedState"));

    requestPending = false;
}

MainWindow::~MainWindow()
{
    if (serialPortDialog)
        delete serialPortDialog;

    // The controls' texts, not the working copies: text typed without Enter is kept too.
    // The address and count fields take hexadecimal too ("0x10"), and keep the value they
    // meant; the device address and the period are decimal only (anything else is 0).
    const auto decimal = [](const QString &text) { return text.toInt(nullptr, 10); };
    MyConfig::protocolFile = ui->lineEdit_protocolFile->text();
    MyConfig::deviceAddr = decimal(ui->lineEdit_deviceAddr->text());
    MyConfig::regsType = ui->comboBox_regsType->currentText();
    MyConfig::regsAddrRead = MyTool::textToInt(ui->lineEdit_regsAddrRead->text());
    MyConfig::regsLenRead = MyTool::textToInt(ui->lineEdit_regsLenRead->text());
    MyConfig::regsAddrWrite = MyTool::textToInt(ui->lineEdit_regsAddrWrite->text());
    MyConfig::regsLenWrite = MyTool::textToInt(ui->lineEdit_regsLenWrite->text());
    MyConfig::isRepeat = ui->checkBox_repeat->isChecked();
    MyConfig::period = decimal(ui->lineEdit_period->text());
    MyConfig::selectEnable = ui->pushButton_selectEnable->isChecked();

    MyConfig::save();

    QSettings geometry(QString::fromLatin1(MyConfig::geometryOrganisation), MyConfig::programName);
    geometry.setValue(QStringLiteral("pos"), pos());
    geometry.setValue(QStringLiteral("size"), size());
    geometry.sync();

    // The widgets outlive this destructor (the base class deletes them); a focused line edit
    // losing focus then, or the client closing, must not reach handlers of a window that is gone.
    cycleTimer.stop();
    cycleTimer.disconnect(this);
    modbusDevice->disconnect(this);
    const QList<QObject *> children = findChildren<QObject *>();
    for (QObject *child : children)
        child->disconnect(this);

    delete ui;
    ui = nullptr;
    delete modbusDevice;
}

QTableWidgetItem *MainWindow::tableItem(int row, int column) const
{
    if (row < 0 || row >= ui->tableWidget->rowCount() || row >= rawN)
        return nullptr;
    if (column < 0 || column >= ui->tableWidget->columnCount() || column >= columnN)
        return nullptr;
    return ui->tableWidget->item(row, column);
}
