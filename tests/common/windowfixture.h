#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include "mainwindow.h"
#include "simfixture.h"

#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTableWidget>
#include <QTemporaryDir>

#include <memory>

class ModbusSession;
class ProtocolTable;
class QEvent;

// The real main window in a sandbox: a temporary working directory made current, fresh
// settings and a fresh geometry entry (a program name of its own), optionally a copy of a
// workbook and a serial line, which may lead to the simulated sensor; create() builds the
// window and finds the widgets a user touches by object name. Status-bar messages, the status
// field's style sheets and the model's resolves are recorded, so a short-lived state is not
// missed. Every wait is bounded. The destructor removes the window, then the simulator, the
// geometry entry and the directory, and restores the previous working directory.
class WindowFixture
{
public:
    explicit WindowFixture(const QString &suite);
    ~WindowFixture();
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    bool isValid() const { return m_valid; }
    // The sandbox, current while the fixture lives.
    QString directory() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Copies a file into the sandbox as `name`, writable, replacing any file of that name;
    // the copy's path, or an empty text when the copy failed.
    QString copyIn(const QString &source, const QString &name) const;
    // Copies a workbook into the sandbox (writable), makes it the stored protocol file and
    // `area` the stored area; the copy's path.
    QString useWorkbook(const QString &source, const QString &area = QString(),
                        const QString &name = QStringLiteral("registers.xlsx"));
    // The Modbus suites' workbook (tests/data/modbus/make_workbook.py) as the stored protocol
    // file, with `area` the stored area.
    QString useModbusWorkbook(const QString &area = QStringLiteral("hold"));
    // Stores a serial line at 115200 8N1 on `port`.
    void useLine(const QString &port);
    // Starts the simulated sensor with `simArgs` on a line of its own and stores that line;
    // false when it does not start (sim().errorString() says why). A second call starts a
    // fresh line.
    bool startSimulator(const QStringList &simArgs = {});
    SimFixture &sim() { return m_sim; }

    // Builds the window from the settings as they stand; `show` shows it (some sizing only
    // happens on a shown table).
    MainWindow *create(bool show = false);
    // Destroys the window as closing the program would (settings and geometry are written).
    void destroy();
    MainWindow *window() const { return m_window.get(); }

    template<typename T>
    T *child(const char *name) const
    {
        return m_window ? m_window->findChild<T *>(QLatin1String(name)) : nullptr;
    }
    QLineEdit *field(const QString &name) const;
    ModbusSession *session() const;
    ProtocolTable *model() const;

    // Opens the line with the connect button; true when it stays open.
    bool open();
    // Types into a field and finishes the edit, as Enter would.
    static void finishEdit(QLineEdit *edit, const QString &text);
    void finishEdit(const QString &name, const QString &text) const;
    void setReadWindow(int address, int count);
    // Sets the write fields as texts only: the write parses them itself.
    void setWriteRange(int address, int count);

    // Waits until `message` has been shown `times` times in all.
    bool waitFor(const QString &message, int times = 1, int timeoutMs = 3000) const;
    // Waits until the request just sent, if any, has an outcome on the status bar.
    bool settle(int timeoutMs = 6000) const;
    int count(const QString &message) const { return messages.count(message); }

    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString &text);
    QBrush background(int row, int column) const;
    QString style() const;

    QStringList messages; // every non-empty status-bar message, in order
    QStringList styles;   // every style sheet the status field was given, in order
    // The model's resolved() signals since the window was built, those of its constructor
    // (the stored sheet) included.
    int resolves = 0;

    // The widgets, found by create().
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

private:
    QString m_previousDir;
    QTemporaryDir m_dir;
    bool m_valid = false;
    SimFixture m_sim;
    std::unique_ptr<MainWindow> m_window;
    QObject *m_styleRecorder = nullptr;
};

// Columns of the Modbus suites' workbook (useModbusWorkbook()).
namespace modbusworkbook {
enum Column { AddrColumn = 0, NameColumn = 1, HexColumn = 2, DecColumn = 3, DisplayColumn = 4,
              RuleColumn = 5 };
} // namespace modbusworkbook

// Status texts and style sheets of the status field, as the window shows them.
namespace windowtext {
const QString sent = QStringLiteral("通讯：数据已发送");
const QString normal = QStringLiteral("通讯：数据回复，正常");
const QString mismatch = QStringLiteral("通讯：数据回复，功能码不一致");
const QString broadcast = QStringLiteral("通讯：广播已发送");
const QString green = QStringLiteral("background-color:green");
const QString white = QStringLiteral("background-color:white");
const QString yellow = QStringLiteral("background-color:yellow");
const QString red = QStringLiteral("background-color:red");
} // namespace windowtext

#endif // WINDOWFIXTURE_H
