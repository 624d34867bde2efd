#include "scandialog.h"
#include "ui_scandialog.h"

#include "lineoptions.h"
#include "myconfig.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QTableWidgetItem>

#include <algorithm>

namespace {
constexpr int baudColumns = 4;
enum Column { AddressColumn, SettingsColumn, StopBitsColumn, ReplyColumn };

// "115200 None"
QString settingText(const ScanHit &hit)
{
    return QStringLiteral("%1 %2").arg(hit.baudRate).arg(parityTextOf(hit.parity));
}
} // namespace

ScanDialog::ScanDialog(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ScanDialog)
    , m_scanner(new DeviceScanner(this))
    , m_tcp(MyConfig::isTcpLink())
{
    ui->setupUi(this);

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        ui->comboBox_port->addItem(port.portName());
    ui->comboBox_port->setEditText(MyConfig::serialName);

    // The line settings in use are checked. The serial dialog's rates and the fast ones are
    // offered, and a stored rate that neither has gets a box of its own, in order.
    m_baudRates = LineOptions::baudRates() + LineOptions::fastBaudRates();
    const int rateInUse = MyConfig::serialBaudrate;
    if (rateInUse > 0 && !m_baudRates.contains(rateInUse)) {
        m_baudRates.append(rateInUse);
        std::sort(m_baudRates.begin(), m_baudRates.end());
    }
    for (int i = 0; i < m_baudRates.size(); ++i) {
        const int rate = m_baudRates.at(i);
        auto *box = new QCheckBox(QString::number(rate), this);
        box->setObjectName(QStringLiteral("checkBox_baud%1").arg(rate));
        box->setChecked(rateInUse > 0 ? rate == rateInUse : i == 0);
        ui->gridLayout_baudRates->addWidget(box, i / baudColumns, i % baudColumns);
        m_baudBoxes.append(box);
    }
    const QVector<LineOptions::Option> &parities = LineOptions::parities();
    const bool knownParity = !parityTextOf(parityValueOf(MyConfig::serialParity)).isEmpty();
    for (const LineOptions::Option &parity : parities) {
        auto *box = new QCheckBox(parity.text, this);
        box->setObjectName(QStringLiteral("checkBox_parity%1").arg(parity.text));
        box->setChecked(knownParity ? parity.text == MyConfig::serialParity
                                    : parity.text == parities.first().text);
        ui->horizontalLayout_parities->addWidget(box);
        m_parityBoxes.append(box);
    }
    ui->horizontalLayout_parities->addStretch();
    for (const LineOptions::Option &stopBits : LineOptions::stopBits())
        ui->comboBox_stopbits->addItem(stopBits.text);
    const int stopBits = ui->comboBox_stopbits->findText(MyConfig::serialStopbits);
    if (stopBits >= 0)
        ui->comboBox_stopbits->setCurrentIndex(stopBits);

    ui->tableWidget_found->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->tableWidget_found->horizontalHeader()->setStretchLastSection(true);
    connect(ui->tableWidget_found, &QTableWidget::itemSelectionChanged, this, [this]() {
        ui->pushButton_use->setEnabled(!ui->tableWidget_found->selectedItems().isEmpty());
    });

    // Over Modbus TCP the unit ids of the chosen host and port are tried; the serial line's
    // settings do not apply and are hidden.
    if (m_tcp) {
        QList<QWidget *> serialOnly = { ui->label_port, ui->comboBox_port, ui->label_baudRates,
                                        ui->label_parities, ui->label_stopbits, ui->comboBox_stopbits };
        for (QCheckBox *box : m_baudBoxes + m_parityBoxes)
            serialOnly.append(box);
        for (QWidget *widget : qAsConst(serialOnly))
            widget->hide();
        ui->tableWidget_found->setColumnHidden(SettingsColumn, true);
        ui->tableWidget_found->setColumnHidden(StopBitsColumn, true);
        ui->spinBox_firstAddress->setMaximum(ReadPlan::maxTcpServer);
        ui->spinBox_lastAddress->setMaximum(ReadPlan::maxTcpServer);
    }

    connect(m_scanner, &DeviceScanner::progressed, this, &ScanDialog::showProgress);
    connect(m_scanner, &DeviceScanner::found, this, &ScanDialog::addFound);
    connect(m_scanner, &DeviceScanner::finished, this, &ScanDialog::scanFinished);
}

ScanDialog::~ScanDialog()
{
    // Closing the window ends a scan under way; the port is free again afterwards.
    m_scanner->disconnect(this);
    m_scanner->cancel();
    delete ui;
}

ScanPlan ScanDialog::plan() const
{
    ScanPlan plan;
    plan.portName = ui->comboBox_port->currentText().trimmed();
    plan.firstAddress = ui->spinBox_firstAddress->value();
    plan.lastAddress = ui->spinBox_lastAddress->value();
    for (int i = 0; i < m_baudBoxes.size(); ++i) {
        if (m_baudBoxes.at(i)->isChecked())
            plan.baudRates.append(m_baudRates.at(i));
    }
    for (const QCheckBox *box : m_parityBoxes) {
        if (box->isChecked())
            plan.parities.append(parityValueOf(box->text()));
    }
    plan.stopBits = stopBitsValueOf(ui->comboBox_stopbits->currentText());
    plan.timeoutMs = ui->spinBox_timeout->value();
    if (m_tcp) {
        plan.link = LinkType::Tcp;
        plan.host = MyConfig::tcpHost;
        plan.port = MyConfig::tcpPort;
    }
    return plan;
}

ScannedDevice ScanDialog::deviceAt(int row) const
{
    ScannedDevice device;
    const QTableWidgetItem *item = ui->tableWidget_found->item(row, AddressColumn);
    const auto found = item ? m_scanner->devices().constFind(item->data(Qt::UserRole).toInt())
                            : m_scanner->devices().constEnd();
    if (found == m_scanner->devices().constEnd())
        return device;
    const ScanHit &hit = found->answerToUse(MyConfig::serialBaudrate, parityValueOf(MyConfig::serialParity));
    device.tcp = m_scanner->plan().link == LinkType::Tcp;
    device.portName = m_scanner->plan().portName;
    device.baudRate = hit.baudRate;
    device.parity = parityTextOf(hit.parity);
    device.stopBits = stopBitsTextOf(m_scanner->plan().stopBits);
    device.address = hit.address;
    return device;
}

void ScanDialog::on_pushButton_start_clicked()
{
    const ScanPlan plan = this->plan();
    QString reason;
    if (!plan.isValid(&reason)) {
        const bool serial = plan.link == LinkType::Serial;
        if (serial && plan.baudRates.isEmpty())
            reason = tr("请至少选择一个波特率");
        else if (serial && plan.parities.isEmpty())
            reason = tr("请至少选择一种校验方式");
        else if (serial && plan.portName.isEmpty())
            reason = tr("请选择串口");
        else if (plan.firstAddress > plan.lastAddress)
            reason = tr("起始地址不能大于结束地址");
        QMessageBox::warning(this, tr("无法扫描"), reason);
        return;
    }

    emit scanStarting();
    ui->tableWidget_found->setRowCount(0);
    ui->progressBar->setRange(0, plan.probeCount());
    ui->progressBar->setValue(0);
    setRunning(true);
    if (!m_scanner->start(plan)) {
        setRunning(false);
        QMessageBox::warning(this, tr("无法扫描"), m_scanner->errorString());
        return;
    }
    if (m_scanner->isRunning())
        showProgress();
}

void ScanDialog::on_pushButton_cancel_clicked()
{
    m_scanner->cancel();
}

void ScanDialog::on_pushButton_use_clicked()
{
    const QList<QTableWidgetItem *> selected = ui->tableWidget_found->selectedItems();
    if (!selected.isEmpty())
        chooseDevice(selected.first()->row());
}

void ScanDialog::on_tableWidget_found_cellDoubleClicked(int row, int column)
{
    Q_UNUSED(column)
    chooseDevice(row);
}

void ScanDialog::chooseDevice(int row)
{
    // A device chosen while the scan goes on: the scan ends, so the window can open the port.
    m_scanner->cancel();
    emit deviceChosen(deviceAt(row));
}

void ScanDialog::showProgress()
{
    ui->progressBar->setValue(m_scanner->position());
    const ScanPlan &plan = m_scanner->plan();
    // Over TCP there is no line setting to name: the host and port stand in their place.
    const QString where = plan.link == LinkType::Tcp
            ? m_scanner->lineName()
            : tr("%1 bps，校验 %2").arg(m_scanner->currentBaudRate())
                      .arg(parityTextOf(m_scanner->currentParity()));
    ui->label_progress->setText(tr("正在扫描：地址 %1，%2（%3/%4），已找到 %5 台设备")
                                        .arg(m_scanner->currentAddress())
                                        .arg(where)
                                        .arg(m_scanner->position())
                                        .arg(m_scanner->total())
                                        .arg(m_scanner->devices().size()));
}

void ScanDialog::addFound(const ScanHit &hit)
{
    // One row per address, in address order; a further setting that answers joins its row.
    QTableWidget *table = ui->tableWidget_found;
    int row = 0;
    while (row < table->rowCount() && table->item(row, AddressColumn)->data(Qt::UserRole).toInt() < hit.address)
        ++row;
    const FoundDevice device = m_scanner->devices().value(hit.address);
    if (row == table->rowCount() || table->item(row, AddressColumn)->data(Qt::UserRole).toInt() != hit.address) {
        table->insertRow(row);
        const ScanHit &first = device.answers.first();
        const QString reply = first.exceptionCode != 0
                                      ? tr("异常应答，异常码 %1").arg(first.exceptionCode)
                                      : tr("正常应答，寄存器 %1 = %2")
                                                .arg(m_scanner->plan().probeRegister)
                                                .arg(first.value);
        auto *address = new QTableWidgetItem(QString::number(hit.address));
        address->setData(Qt::UserRole, hit.address);
        table->setItem(row, AddressColumn, address);
        table->setItem(row, SettingsColumn, new QTableWidgetItem);
        table->setItem(row, StopBitsColumn, new QTableWidgetItem(stopBitsTextOf(m_scanner->plan().stopBits)));
        table->setItem(row, ReplyColumn, new QTableWidgetItem(reply));
    }
    QStringList settings;
    for (const ScanHit &answer : device.answers)
        settings << settingText(answer);
    table->item(row, SettingsColumn)->setText(settings.join(QStringLiteral(", ")));
}

void ScanDialog::scanFinished(DeviceScanner::Finish finish)
{
    setRunning(false);
    const int found = m_scanner->devices().size();
    switch (finish) {
    case DeviceScanner::Finish::Completed:
        ui->progressBar->setValue(m_scanner->total());
        ui->label_progress->setText(tr("扫描完成，已找到 %1 台设备").arg(found));
        break;
    case DeviceScanner::Finish::Cancelled:
        ui->label_progress->setText(tr("扫描已取消（%1/%2），已找到 %3 台设备")
                                            .arg(m_scanner->position())
                                            .arg(m_scanner->total())
                                            .arg(found));
        break;
    case DeviceScanner::Finish::Failed:
        ui->label_progress->setText(tr("扫描失败：%1").arg(m_scanner->errorString()));
        break;
    }
}

void ScanDialog::setRunning(bool running)
{
    ui->pushButton_start->setEnabled(!running);
    ui->pushButton_cancel->setEnabled(running);
    const QList<QWidget *> planWidgets = {
        ui->comboBox_port, ui->spinBox_firstAddress, ui->spinBox_lastAddress,
        ui->comboBox_stopbits, ui->spinBox_timeout,
    };
    for (QWidget *widget : planWidgets)
        widget->setEnabled(!running);
    for (QCheckBox *box : qAsConst(m_baudBoxes))
        box->setEnabled(!running);
    for (QCheckBox *box : qAsConst(m_parityBoxes))
        box->setEnabled(!running);
}
