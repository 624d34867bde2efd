#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QElapsedTimer>
#include <QMainWindow>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QPointer>
#include <QString>
#include <QTimer>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QAction;
class QLabel;
class QLineEdit;
class MyNetwork;
class QModbusClient;
class QTableWidgetItem;
QT_END_NAMESPACE

class CsvRecorder;
class FrameCapture;
class FrameLog;
class LineStatistics;
class ModbusSession;
class MySerialPort;
class ProtocolTable;
class ScanDialog;
class SonicDisplay;
class TrendChart;
class TrafficMonitor;
struct DecodedReply;
struct ReadPlan;
struct ReplyOutcome;
struct ScannedDevice;

// The program's only main window: it reads its widgets, calls the engine (the Modbus session
// and the protocol table model, both children of the window) and shows what the engine reports.
// Its handlers live in one source file per concern (connection, fields, read cycle, replies,
// write, protocol table, auxiliary windows, tools menu).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Reads the selected sheet of the protocol file into the register table.
    void resolveProtocol();

private slots:
    void pluginSlot(QAction *action);
    void modbusReadReadySlot();
    void on_actionCOM_triggered();
    void on_actionnetwork_triggered();
    void on_checkBox_repeat_stateChanged(int arg1);
    void on_pushButton_protocolFile_clicked();
    void on_pushButton_resolve_clicked();
    void on_comboBox_regsType_currentTextChanged(const QString &arg1);
    void on_pushButton_protocolSave_clicked();
    void on_pushButton_connect_toggled(bool checked);
    void on_lineEdit_period_editingFinished();
    void on_pushButton_broadcast_clicked();
    void on_actiondistance_triggered();
    void on_actionrelease_triggered();
    void on_pushButton_write_clicked();
    void on_pushButton_read_toggled(bool checked);
    void on_lineEdit_regsAddrRead_editingFinished();
    void on_lineEdit_regsLenRead_editingFinished();
    void on_lineEdit_regsAddrWrite_editingFinished();
    void on_lineEdit_regsLenWrite_editingFinished();
    void on_actiontrend_triggered();
    void on_actionscan_triggered();
    void on_actionmonitor_triggered();
    void on_actionrecordStart_triggered();
    void on_actionrecordStop_triggered();

private:
    // Tools menu (toolsmenu.cpp).
    void addToolEntries();

    // Connection (connection.cpp).
    void modbusStateChanged(QModbusDevice::State state);
    void showLinkLost(const QString &reason, bool connected);

    // Fields (fields.cpp).
    void tableSelectionChanged();
    void finishAddressField(QLineEdit *addressField, QLineEdit *countField, int &address, int &count);
    void finishCountField(QLineEdit *countField, int address, int &count);

    // Read cycle (readcycle.cpp): the read step after the checks of the line and the pending
    // mark; false when the read was refused with a warning.
    bool sendRead();
    // The read request the fields describe now.
    ReadPlan readPlan() const;
    void refuseRead(const QString &reason);
    void showSent();

    // Replies (replies.cpp).
    void showReply(const ReplyOutcome &outcome);
    void showReplyInTable(const DecodedReply &reply);
    void repaintTable();

    // Trend chart (trend.cpp) and device scan (scan.cpp).
    void addSelectedRowsToTrend();
    void useScannedDevice(const ScannedDevice &device);

    // Traffic monitor, line statistics and recording (monitoring.cpp).
    void setupMonitoring();
    void showStatistics();
    void showRecordingState();
    void recordingFailed();
    // The recorded columns no longer mean what they meant: the recording ends.
    void endRecordingForChange();

    // Protocol table (protocoltable.cpp): the widget mirrors the model.
    void fillTable();
    void tableItemChanged(QTableWidgetItem *item);

    Ui::MainWindow *ui = nullptr;
    ModbusSession *session = nullptr;
    ProtocolTable *protocolTable = nullptr;
    // The session's client; every request goes through the session.
    QModbusClient *modbusDevice = nullptr;
    QPointer<MySerialPort> serialPortDialog;
    QPointer<MyNetwork> networkDialog;
    QPointer<SonicDisplay> sonicDisplay;
    QPointer<TrendChart> trendChart;
    QPointer<ScanDialog> scanDialog;
    QPointer<TrafficMonitor> trafficMonitor;
    FrameCapture *frameCapture = nullptr;
    LineStatistics *lineStatistics = nullptr;
    FrameLog *frameLog = nullptr;
    CsvRecorder *csvRecorder = nullptr;
    QLabel *statisticsLabel = nullptr;
    QLabel *recordingLabel = nullptr;

    QString protocolFile;
    int regsAddrRead = 0;
    int regsLenRead = 0;
    int regsAddrWrite = 0;
    int regsLenWrite = 0;

    // Rows whose cells changed since the table was last repainted, and the repaint's timer.
    struct ChangedRows
    {
        int first = -1;
        int last = -1;
        bool lengths = false; // a text got longer or shorter
    };
    ChangedRows changedRows;
    QTimer tableRepaint;
    QElapsedTimer sinceTableRepaint;

    // Set while the window itself writes table cells, so only the user's edits reach the model.
    bool fillingTable = false;
};

#endif // MAINWINDOW_H
