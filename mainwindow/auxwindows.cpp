#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "myserialport.h"
#include "singlewindow.h"
#include "sonicdisplay.h"
#include "trafficmonitor.h"

void MainWindow::on_actionCOM_triggered()
{
    // New line settings only take effect at the next opening, so the line is closed first,
    // also when the dialog is already open.
    ui->pushButton_connect->setChecked(false);
    showSingleWindow(serialPortDialog, this, tr("COM"));
}

void MainWindow::on_actiondistance_triggered()
{
    if (showSingleWindow(sonicDisplay, this, tr("距离显示")))
        raise();
}

void MainWindow::on_actionmonitor_triggered()
{
    if (showSingleWindow(trafficMonitor, this, tr("报文监视")))
        trafficMonitor->setSources(frameLog, lineStatistics);
}

void MainWindow::feedSonicDisplay(const QModbusDataUnit &unit)
{
    if (!sonicDisplay)
        return;

    const QModbusDataUnit::RegisterType type = unit.registerType();
    if (type != QModbusDataUnit::InputRegisters && type != QModbusDataUnit::HoldingRegisters)
        return;

    struct Mapping
    {
        int address;
        bool holdingOnly;
        void (SonicDisplay::*setter)(quint16);
    };
    // In ascending address order. The sensor mirrors its measurement in both register areas;
    // the limits it keeps only in holding registers.
    static const Mapping registerMap[] = {
        { 0, false, &SonicDisplay::setFlightTime },
        { 1, false, &SonicDisplay::setTemperature },
        { 2, false, &SonicDisplay::setDistance },
        { 10, true, &SonicDisplay::setBotDistance },
        { 11, true, &SonicDisplay::setTopDistance },
        { 20, true, &SonicDisplay::setMinDistance },
        { 21, true, &SonicDisplay::setMaxDistance },
    };

    // Walking the few mapped addresses rather than the unit's values keeps the work bounded
    // whatever count a unit claims.
    const QVector<quint16> values = unit.values();
    for (const Mapping &mapping : registerMap) {
        if (mapping.holdingOnly && type != QModbusDataUnit::HoldingRegisters)
            continue;
        const qint64 index = qint64(mapping.address) - unit.startAddress();
        if (index < 0 || index >= qint64(unit.valueCount()))
            continue;
        // Only what the read window currently configured covers, even when a reply (of a
        // write, say) carries more.
        const qint64 offset = qint64(mapping.address) - regsAddrRead;
        if (offset < 0 || offset >= regsLenRead)
            continue;
        const quint16 value = index < values.size() ? values.at(int(index)) : quint16(0);
        (sonicDisplay->*mapping.setter)(value);
    }
}
