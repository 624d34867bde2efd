#ifndef WINDOWHARNESS_H
#define WINDOWHARNESS_H

// The real main window against sensor-sim: a temporary working directory with a copy of the
// suite's protocol workbook, settings pointing at the fixture's pty, and the widgets a user
// touches, found by object name. Every wait is bounded.

#include "mainwindow.h"
#include "myconfig.h"
#include "simfixture.h"

#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace modbustest {

// Columns of tests/data/modbus/registers.xlsx (see make_workbook.py there).
enum Column { AddrColumn = 0, NameColumn = 1, HexColumn = 2, DecColumn = 3, DisplayColumn = 4,
              RuleColumn = 5 };

const QString sentText = QStringLiteral("通讯：数据已发送");
const QString normalText = QStringLiteral("通讯：数据回复，正常");
const QString mismatchText = QStringLiteral("通讯：数据回复，功能码不一致");
const QString broadcastText = QStringLiteral("通讯：广播已发送");
const QString green = QStringLiteral("background-color:green");
const QString white = QStringLiteral("background-color:white");
const QString yellow = QStringLiteral("background-color:yellow");
const QString red = QStringLiteral("background-color:red");

// Records every style sheet the status field is given, so a short-lived colour is not missed.
class StyleRecorder : public QObject
{
public:
    explicit StyleRecorder(QWidget *watched)
        : QObject(watched)
    {
        watched->installEventFilter(this);
    }
    QStringList styles;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            styles.append(static_cast<QWidget *>(watched)->styleSheet());
        return false;
    }
};

class WindowHarness
{
public:
    // Settings for `port` with the stored area `area`; the window is made by create().
    WindowHarness(const QString &port, const QString &area)
    {
        savedCurrent = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString workbook = dir.filePath(QStringLiteral("registers.xlsx"));
        QFile::copy(QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx"), workbook);
        QFile::setPermissions(workbook, QFile::ReadOwner | QFile::WriteOwner);

        MyConfig::restoreDefaults();
        static int serial = 0;
        MyConfig::programName = QStringLiteral("%1_%2_%3")
                                    .arg(QCoreApplication::applicationName())
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++serial);
        MyConfig::serialName = port;
        MyConfig::serialBaudrate = 115200;
        MyConfig::serialParity = QStringLiteral("None");
        MyConfig::serialStopbits = QStringLiteral("1");
        MyConfig::protocolFile = workbook;
        MyConfig::regsType = area;
        MyConfig::period = 1000;
        MyConfig::changeWarnEnable = false;
    }

    ~WindowHarness()
    {
        window.reset();
        MyConfig::changeWarnEnable = false;
        QDir::setCurrent(savedCurrent);
    }

    void create()
    {
        window = std::make_unique<MainWindow>();
        connectButton = child<QPushButton>("pushButton_connect");
        readButton = child<QPushButton>("pushButton_read");
        writeButton = child<QPushButton>("pushButton_write");
        broadcastButton = child<QPushButton>("pushButton_broadcast");
        repeat = child<QCheckBox>("checkBox_repeat");
        period = child<QLineEdit>("lineEdit_period");
        deviceAddr = child<QLineEdit>("lineEdit_deviceAddr");
        addrRead = child<QLineEdit>("lineEdit_regsAddrRead");
        lenRead = child<QLineEdit>("lineEdit_regsLenRead");
        addrWrite = child<QLineEdit>("lineEdit_regsAddrWrite");
        lenWrite = child<QLineEdit>("lineEdit_regsLenWrite");
        area = child<QComboBox>("comboBox_regsType");
        table = child<QTableWidget>("tableWidget");
        status = child<QStatusBar>("statusbar");
        styleRecorder = new StyleRecorder(period);
        QObject::connect(status, &QStatusBar::messageChanged, status,
                         [this](const QString &text) {
                             if (!text.isEmpty())
                                 messages.append(text);
                         });
    }

    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    bool open()
    {
        connectButton->setChecked(true);
        return connectButton->isChecked();
    }

    // Types into a field and finishes the edit, as Enter would.
    static void finishEdit(QLineEdit *edit, const QString &text)
    {
        edit->setText(text);
        emit edit->editingFinished();
    }

    void setReadWindow(int address, int count)
    {
        finishEdit(addrRead, QString::number(address));
        finishEdit(lenRead, QString::number(count));
    }

    void setWriteRange(int address, int count)
    {
        // Set as texts only: the write parses them itself, and the refusal tests need ranges
        // the field rules would have cut.
        addrWrite->setText(QString::number(address));
        lenWrite->setText(QString::number(count));
    }

    int count(const QString &message) const { return messages.count(message); }

    // Waits until `message` has been shown `times` times in all.
    bool waitFor(const QString &message, int times = 1, int timeoutMs = 3000) const
    {
        return QTest::qWaitFor([&] { return messages.count(message) >= times; }, timeoutMs);
    }

    QString cell(int row, int column) const
    {
        const QTableWidgetItem *item = table->item(row, column);
        return item ? item->text() : QStringLiteral("<no cell>");
    }

    void setCell(int row, int column, const QString &text)
    {
        table->item(row, column)->setText(text);
    }

    QBrush background(int row, int column) const { return table->item(row, column)->background(); }

    QString style() const { return period->styleSheet(); }

    QTemporaryDir dir;
    QString savedCurrent;
    std::unique_ptr<MainWindow> window;
    QPushButton *connectButton = nullptr;
    QPushButton *readButton = nullptr;
    QPushButton *writeButton = nullptr;
    QPushButton *broadcastButton = nullptr;
    QCheckBox *repeat = nullptr;
    QLineEdit *period = nullptr;
    QLineEdit *deviceAddr = nullptr;
    QLineEdit *addrRead = nullptr;
    QLineEdit *lenRead = nullptr;
    QLineEdit *addrWrite = nullptr;
    QLineEdit *lenWrite = nullptr;
    QComboBox *area = nullptr;
    QTableWidget *table = nullptr;
    QStatusBar *status = nullptr;
    QStringList messages;
    StyleRecorder *styleRecorder = nullptr;
};

// Served requests of the simulator's log that contain every one of `parts`.
inline QStringList requestsWith(const SimFixture &sim, const QStringList &parts)
{
    QStringList found;
    const QStringList lines = sim.requests();
    for (const QString &line : lines) {
        bool all = true;
        for (const QString &part : parts)
            all = all && line.split(QLatin1Char(' ')).contains(part);
        if (all)
            found.append(line);
    }
    return found;
}

} // namespace modbustest

#endif // WINDOWHARNESS_H
