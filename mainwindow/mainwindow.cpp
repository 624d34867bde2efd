#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "framelimiter.h"
#include "modbussession.h"
#include "myconfig.h"
#include "myserialport.h"
#include "mytool.h"
#include "myxlsx.h"
#include "protocoltable.h"
#include "screencheck.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

// A new style sheet makes a line edit refresh its password character and lay its text out
// again, though only the colours changed. The status field is never a password field and keeps
// its text: a repaint is all it needs, at a fifth of what each of its colour changes costs.
class RepaintOnRestyle : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::StyleChange || !watched->isWidgetType())
            return false;
        static_cast<QWidget *>(watched)->update();
        return true;
    }
};

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    // The engine first: handlers that run while the window is built already use it.
    session = new ModbusSession(this);
    session->setObjectName(QStringLiteral("modbusSession"));
    protocolTable = new ProtocolTable(this);
    protocolTable->setObjectName(QStringLiteral("protocolTable"));

    ui->setupUi(this);
    // About a screen frame: a person sees every change, a fast read cycle pays for few paints.
    new FrameLimiter(this, 25);
    // The status field changes its style sheet twice per exchange. Fixed in size, it does not
    // make the window lay itself out again each time (its height is what a line edit takes
    // anyway, its width is fixed by the form).
    ui->lineEdit_period->setFixedHeight(ui->lineEdit_period->sizeHint().height());
    ui->lineEdit_period->installEventFilter(new RepaintOnRestyle(ui->lineEdit_period));
    // Before the window's own connections to the session: the capture takes a reply's bytes
    // before anything else handles the reply.
    setupMonitoring();

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

    modbusDevice = session->client();
    connect(session, &ModbusSession::stateChanged, this, &MainWindow::modbusStateChanged);
    connect(session, &ModbusSession::linkLost, this, &MainWindow::showLinkLost);
    connect(session, &ModbusSession::requestSent, this, &MainWindow::showSent);
    connect(session, &ModbusSession::requestRefused, this,
            [this](RequestKind kind, const QString &reason) {
                // A write the client would not build (too many values for one frame) is said;
                // a refused read shows nothing and the cycle tries again.
                if (kind != RequestKind::Write)
                    return;
                ui->statusbar->showMessage(reason);
                ui->lineEdit_period->setStyleSheet(QStringLiteral("background-color:red"));
            });
    connect(session, &ModbusSession::replyHandled, this, &MainWindow::modbusReadReadySlot);

    ui->tableWidget->setShowGrid(true);

    connect(session, &ModbusSession::cycleTick, this, [this]() { on_pushButton_read_toggled(true); });
    connect(ui->tableWidget, &QTableWidget::itemSelectionChanged, this,
            &MainWindow::tableSelectionChanged);
    connect(ui->tableWidget, &QTableWidget::itemChanged, this, &MainWindow::tableItemChanged);

    tableRepaint.setSingleShot(true);
    connect(&tableRepaint, &QTimer::timeout, this, &MainWindow::repaintTable);
    sinceTableRepaint.start();

    protocolFile = MyConfig::protocolFile;
    regsAddrRead = MyConfig::regsAddrRead;
    regsLenRead = MyConfig::regsLenRead;
    regsAddrWrite = MyConfig::regsAddrWrite;
    regsLenWrite = MyConfig::regsLenWrite;

    ui->lineEdit_protocolFile->setText(protocolFile);
    ui->lineEdit_deviceAddr->setText(QString::number(MyConfig::deviceAddr));
    ui->lineEdit_regsAddrRead->setText(QString::number(regsAddrRead));
    ui->lineEdit_regsLenRead->setText(QString::number(regsLenRead));
    ui->lineEdit_regsAddrWrite->setText(QString::number(regsAddrWrite));
    ui->lineEdit_regsLenWrite->setText(QString::number(regsLenWrite));
    ui->lineEdit_period->setText(QString::number(MyConfig::period));

    if (MyConfig::isRepeat)
        ui->checkBox_repeat->setChecked(true);

    // The first sheet name added becomes current and runs the area handler, which resolves it.
    ui->comboBox_regsType->addItems(MyXlsx::listSheets(protocolFile));
    // The stored area, when it is another sheet of this workbook; a stored area that names the
    // first sheet must not resolve it a second time.
    if (ui->comboBox_regsType->findData(MyConfig::regsType, Qt::DisplayRole) != 0)
        ui->comboBox_regsType->setCurrentText(MyConfig::regsType);

    if (MyConfig::selectEnable)
        ui->pushButton_selectEnable->setChecked(true);

    ui->statusbar->showMessage(QStringLiteral("modbus status:UnconnectedState"));
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
    // losing focus then, or the session closing the line, must not reach handlers of a window
    // that is gone.
    const QList<QObject *> children = findChildren<QObject *>();
    for (QObject *child : children)
        child->disconnect(this);
    delete session;
    session = nullptr;
    modbusDevice = nullptr;

    delete ui;
    ui = nullptr;
}
