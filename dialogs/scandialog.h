#ifndef SCANDIALOG_H
#define SCANDIALOG_H

#include "devicescanner.h"

#include <QList>
#include <QString>
#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class ScanDialog;
}
class QCheckBox;
QT_END_NAMESPACE

// A device found by a scan, with its line settings as the settings file keeps them.
struct ScannedDevice
{
    bool tcp = false; // found over Modbus TCP: only the address applies
    QString portName;
    int baudRate = 0;
    QString parity;   // "None", "Even", ...
    QString stopBits; // "1", "1.5", "2"
    int address = 0;
};

// Finds devices on a serial line: tries the chosen addresses at the chosen baud rates and
// parities (the DeviceScanner does the work) and lists what answered. Choosing a device hands
// its settings to the main window, which applies them.
class ScanDialog : public QWidget
{
    Q_OBJECT

public:
    // The baud rates and parities it offers, as the serial port dialog offers them.
    static const QList<int> baudRates;
    static const QStringList parityTexts;

    explicit ScanDialog(QWidget *parent = nullptr);
    ~ScanDialog() override;

    DeviceScanner *scanner() const { return m_scanner; }
    // The plan the fields describe.
    ScanPlan plan() const;
    // The device of a row of the found list.
    ScannedDevice deviceAt(int row) const;

signals:
    // Sent before the scan opens the port: the window closes its own link.
    void scanStarting();
    void deviceChosen(const ScannedDevice &device);

private slots:
    void on_pushButton_start_clicked();
    void on_pushButton_cancel_clicked();
    void on_pushButton_use_clicked();
    void on_tableWidget_found_cellDoubleClicked(int row, int column);

private:
    void chooseDevice(int row);
    void showProgress();
    void addFound(const ScanHit &hit);
    void scanFinished(DeviceScanner::Finish finish);
    void setRunning(bool running);

    Ui::ScanDialog *ui;
    DeviceScanner *m_scanner = nullptr;
    QList<QCheckBox *> m_baudBoxes;
    QList<QCheckBox *> m_parityBoxes;
};

#endif // SCANDIALOG_H
