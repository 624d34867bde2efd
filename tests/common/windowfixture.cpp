#include "windowfixture.h"

#include "modbussession.h"
#include "myconfig.h"
#include "protocoltable.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace {

// Records every style sheet a widget is given.
class StyleRecorder : public QObject
{
public:
    StyleRecorder(QWidget *watched, QStringList *styles)
        : QObject(watched)
        , m_styles(styles)
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            m_styles->append(static_cast<QWidget *>(watched)->styleSheet());
        return false;
    }

private:
    QStringList *m_styles;
};

// Connects to the model of the main window being built: the constructor resolves the stored
// sheet before the window exists for anyone to connect to. The model is a direct child made
// first, so it is found complete at the next child the constructor adds.
class ResolveCounter : public QObject
{
public:
    explicit ResolveCounter(int *count)
        : m_count(count)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ChildAdded || !qobject_cast<MainWindow *>(watched))
            return false;
        auto *model = watched->findChild<ProtocolTable *>(QStringLiteral("protocolTable"),
                                                          Qt::FindDirectChildrenOnly);
        if (model) {
            int *count = m_count;
            QObject::connect(model, &ProtocolTable::resolved, model, [count] { ++*count; });
            qApp->removeEventFilter(this);
        }
        return false;
    }

private:
    int *m_count;
};

} // namespace

WindowFixture::WindowFixture(const QString &suite)
    : m_previousDir(QDir::currentPath())
{
    static int run = 0;
    m_valid = m_dir.isValid() && QDir::setCurrent(m_dir.path());
    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("%1_%2_%3")
                                    .arg(suite)
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++run);
}

WindowFixture::~WindowFixture()
{
    m_window.reset();
    m_sim.stop();
    QSettings(QString::fromLatin1(MyConfig::geometryOrganisation), MyConfig::programName).clear();
    MyConfig::restoreDefaults();
    QDir::setCurrent(m_previousDir);
}

QString WindowFixture::copyIn(const QString &source, const QString &name) const
{
    const QString target = path(name);
    QFile::remove(target);
    if (!QFile::copy(source, target))
        return QString();
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

QString WindowFixture::useWorkbook(const QString &source, const QString &area, const QString &name)
{
    const QString target = copyIn(source, name);
    if (target.isEmpty())
        return target;
    MyConfig::protocolFile = target;
    MyConfig::regsType = area;
    return target;
}

QString WindowFixture::useModbusWorkbook(const QString &area)
{
    return useWorkbook(QStringLiteral(RURODUR_TEST_DATA "/modbus/registers.xlsx"), area);
}

void WindowFixture::useLine(const QString &port)
{
    MyConfig::serialName = port;
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
}

bool WindowFixture::startSimulator(const QStringList &simArgs)
{
    if (!m_sim.start(simArgs))
        return false;
    useLine(m_sim.clientPort());
    return true;
}

MainWindow *WindowFixture::create(bool show)
{
    // A window built before is gone first, as a program that starts again.
    m_window.reset();
    resolves = 0;
    {
        const ResolveCounter counter(&resolves);
        m_window = std::make_unique<MainWindow>();
    }
    if (show)
        m_window->show();
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
    m_styleRecorder = new StyleRecorder(period, &styles);
    QObject::connect(status, &QStatusBar::messageChanged, status, [this](const QString &text) {
        if (!text.isEmpty())
            messages.append(text);
    });
    return m_window.get();
}

void WindowFixture::destroy()
{
    m_window.reset();
    connectButton = readButton = writeButton = broadcastButton = nullptr;
    repeat = nullptr;
    period = deviceAddr = addrRead = lenRead = addrWrite = lenWrite = nullptr;
    area = nullptr;
    table = nullptr;
    status = nullptr;
    m_styleRecorder = nullptr;
}

QLineEdit *WindowFixture::field(const QString &name) const
{
    return m_window ? m_window->findChild<QLineEdit *>(name) : nullptr;
}

ModbusSession *WindowFixture::session() const
{
    return m_window ? m_window->findChild<ModbusSession *>(QStringLiteral("modbusSession")) : nullptr;
}

ProtocolTable *WindowFixture::model() const
{
    return m_window ? m_window->findChild<ProtocolTable *>(QStringLiteral("protocolTable")) : nullptr;
}

bool WindowFixture::open()
{
    connectButton->setChecked(true);
    return connectButton->isChecked();
}

void WindowFixture::finishEdit(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    emit edit->editingFinished();
}

void WindowFixture::finishEdit(const QString &name, const QString &text) const
{
    finishEdit(field(name), text);
}

void WindowFixture::setReadWindow(int address, int count)
{
    finishEdit(addrRead, QString::number(address));
    finishEdit(lenRead, QString::number(count));
}

void WindowFixture::setWriteRange(int address, int count)
{
    addrWrite->setText(QString::number(address));
    lenWrite->setText(QString::number(count));
}

bool WindowFixture::waitFor(const QString &message, int times, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messages.count(message) >= times; }, timeoutMs);
}

bool WindowFixture::settle(int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messages.isEmpty() || messages.last() != windowtext::sent; },
                           timeoutMs);
}

QString WindowFixture::cell(int row, int column) const
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<no cell>");
}

void WindowFixture::setCell(int row, int column, const QString &text)
{
    table->item(row, column)->setText(text);
}

QBrush WindowFixture::background(int row, int column) const
{
    return table->item(row, column)->background();
}

QString WindowFixture::style() const
{
    return period->styleSheet();
}
