#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QJsonDocument>
#include <QList>
#include <QMainWindow>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <optional>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QAction;
class QModbusReply;
class QModbusRtuSerialMaster;
class QTableWidgetItem;
QT_END_NAMESPACE

class MySerialPort;
class SonicDisplay;

// The program's only main window: protocol file and area controls, read and write fields,
// the register table, the Modbus client and the read-cycle timer. Its handlers live in one
// source file per concern (connection, fields, read cycle, replies, write, protocol table,
// auxiliary windows, tools menu).
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

private:
    // Tools menu (toolsmenu.cpp).
    void addToolEntries();

    // Connection (connection.cpp).
    void modbusStateChanged(QModbusDevice::State state);
    void modbusErrorOccurred(QModbusDevice::Error error);

    // Fields (fields.cpp).
    void tableSelectionChanged();

    // Read step after the checks of the line and the pending mark (readcycle.cpp); false when
    // the read was refused with a warning.
    bool sendRead();
    void refuseRead(const QString &reason);
    // Shared by the read and write paths once the client accepted a request (readcycle.cpp).
    void trackReply(QModbusReply *reply);
    // Sends the write that waits for an outstanding reply, if any (write.cpp).
    void sendWaitingWrite();

    // Replies (replies.cpp) and the distance display feed (auxwindows.cpp).
    void feedSonicDisplay(const QModbusDataUnit &unit);
    // The whole of the reply handling; modbusReadReadySlot passes its sender, the send paths
    // pass a reply the client returned already finished.
    void handleReply(QModbusReply *reply);
    void showReplyInTable(const QModbusDataUnit &unit);

    // The item at (row, column) when both lie inside the table and the cell exists.
    QTableWidgetItem *tableItem(int row, int column) const;

    Ui::MainWindow *ui = nullptr;
    QModbusRtuSerialMaster *modbusDevice = nullptr;
    QTimer cycleTimer;
    QPointer<MySerialPort> serialPortDialog;
    QPointer<SonicDisplay> sonicDisplay;

    QString protocolFile;
    QString regsType;
    int deviceAddr = 0;
    int regsAddrRead = 0;
    int regsLenRead = 0;
    int regsAddrWrite = 0;
    int regsLenWrite = 0;
    int period = 0;
    bool requestPending = false;
    // A write pressed while a reply was outstanding, sent once that reply has been handled.
    struct WaitingWrite
    {
        QModbusDataUnit unit;
        int serverAddress = 0;
    };
    std::optional<WaitingWrite> waitingWrite;

    // Protocol table state.
    QStringList protocolHeader;
    QList<QStringList> protocolRows;
    QList<QJsonDocument> protocolRules;
    int rawN = 0;
    int columnN = 0;
    int displayJsonIndex = 0;
    int displayContextIndex = 0;
    int displayHexIndex = 0;
    int displayDecIndex = 0;
    int displayAddrIndex = 0;
    // Workbook and sheet of the last successful resolve: a save goes only there.
    QString resolvedFile;
    QString resolvedSheet;
};

#endif // MAINWINDOW_H
