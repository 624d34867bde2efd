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
// parities (the DeviceScanner does the work) and lists what answered, one row per address with
// the settings that answered there. Choosing a device hands its settings to the main window,
// which applies them. The rates, parities and stop bits are LineOptions'; the scan adds the
// fast rates, and the rate in use when the list lacks it.
class ScanDialog : public QWidget
{
    Q_OBJECT

public:
    explicit ScanDialog(QWidget *parent = nullptr);
    ~ScanDialog() override;

    DeviceScanner *scanner() const { return m_scanner; }
    // The plan the fields describe.
    ScanPlan plan() const;
    // The device of a row of the found list, at the settings in use (MyConfig) when they
    // answered there, otherwise at the first that answered.
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
    QVector<int> m_baudRates; // the rate of each box
    QList<QCheckBox *> m_parityBoxes;
    // The link when the dialog was made: the one its fields show, and the one it scans.
    const bool m_tcp;
};

#endif // SCANDIALOG_H
