// The main window's traffic monitor, statistics field and recording, driven through the menus
// and widgets against sensor-sim.
#include "modalcatcher.h"
#include "modbuscrc.h"
#include "simfixture.h"
#include "trafficmonitor.h"
#include "windowfixture.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

const QString sample = QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx");
const QByteArray utf8Bom("\xEF\xBB\xBF");

// Answers the next file dialog with `path`.
class FileChooser : public QObject
{
public:
    explicit FileChooser(const QString &path)
        : m_path(path)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_timer.stop();
            dialog->selectFile(m_path);
            static_cast<QDialog *>(dialog)->accept();
            chosen = true;
        });
        m_timer.start(5);
    }
    bool chosen = false;

private:
    QString m_path;
    QTimer m_timer;
};

QString cellText(const QAbstractItemModel *model, int row, int column)
{
    return model->data(model->index(row, column)).toString();
}

QStringList csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (!data.startsWith(utf8Bom))
        return {};
    QStringList lines = QString::fromUtf8(data.mid(utf8Bom.size())).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

} // namespace

class tst_TrafficMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensOnceFromTheDisplayMenu();
    void showsEachFrameOfAnExchange();
    void pauseClearAndSave();
    void statisticsInMonitorAndStatusBar();
    void recordsFromTheMenu();
    void removedFolderStopsRecordingOnly();

private:
    void openWindow(const QStringList &simArgs = { QStringLiteral("--static") });
    bool readOnce(int start, int count);
    TrafficMonitor *openMonitor();
    QAbstractItemModel *monitorRows(TrafficMonitor *monitor) const;

    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<WindowFixture> m_fx;
    std::unique_ptr<ModalCatcher> m_catcher;
};

void tst_TrafficMonitor::init()
{
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
    m_fx = std::make_unique<WindowFixture>(QStringLiteral("tst_trafficmonitor"));
    QVERIFY(m_fx->isValid());
}

void tst_TrafficMonitor::cleanup()
{
    m_catcher.reset();
    m_fx.reset();
    m_sim.reset();
}

void tst_TrafficMonitor::openWindow(const QStringList &simArgs)
{
    QVERIFY2(m_sim->start(simArgs), qPrintable(m_sim->errorString()));
    QVERIFY(!m_fx->useWorkbook(sample, QStringLiteral("保持寄存器")).isEmpty());
    m_fx->useLine(m_sim->clientPort());
    m_fx->create(true);
    QVERIFY(QTest::qWaitForWindowExposed(m_fx->window()));
    QVERIFY(m_fx->open());
}

bool tst_TrafficMonitor::readOnce(int start, int count)
{
    m_fx->setReadWindow(start, count);
    const int before = m_fx->messages.size();
    m_fx->readButton->setChecked(true);
    return QTest::qWaitFor([&] { return m_fx->messages.size() > before + 1; }, 6000) && m_fx->settle();
}

TrafficMonitor *tst_TrafficMonitor::openMonitor()
{
    auto *action = m_fx->child<QAction>("actionmonitor");
    if (!action)
        return nullptr;
    action->trigger();
    const QList<TrafficMonitor *> monitors = m_fx->window()->findChildren<TrafficMonitor *>();
    return monitors.size() == 1 ? monitors.first() : nullptr;
}

QAbstractItemModel *tst_TrafficMonitor::monitorRows(TrafficMonitor *monitor) const
{
    auto *view = monitor->findChild<QTableView *>(QStringLiteral("tableView_frames"));
    return view ? view->model() : nullptr;
}

void tst_TrafficMonitor::opensOnceFromTheDisplayMenu()
{
    m_fx->create(true);
    QVERIFY(QTest::qWaitForWindowExposed(m_fx->window()));
    auto *display = m_fx->child<QMenu>("menu_display");
    QVERIFY(display->actions().contains(m_fx->child<QAction>("actionmonitor")));
    QCOMPARE(m_fx->child<QAction>("actionmonitor")->text(), QStringLiteral("报文监视"));

    QPointer<TrafficMonitor> monitor = openMonitor();
    QVERIFY(monitor);
    QCOMPARE(monitor->windowTitle(), QStringLiteral("报文监视"));
    QCOMPARE(monitor->windowType(), Qt::Window);
    QVERIFY(monitor->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!monitor->isModal());
    QCOMPARE(monitor->pos(), m_fx->window()->pos() + QPoint(30, 30));

    monitor->hide();
    QCOMPARE(openMonitor(), monitor.data()); // shown again, not a second one
    QVERIFY(monitor->isVisible());
    QVERIFY(monitor->close());
    QTRY_VERIFY(monitor.isNull());
    QVERIFY(openMonitor());
}

void tst_TrafficMonitor::showsEachFrameOfAnExchange()
{
    openWindow();
    TrafficMonitor *monitor = openMonitor();
    QVERIFY(monitor);
    QVERIFY(readOnce(0, 3));
    const QAbstractItemModel *rows = monitorRows(monitor);
    QTRY_COMPARE(rows->rowCount(), 2);
    QCOMPARE(cellText(rows, 0, 1), QStringLiteral("发送"));
    QCOMPARE(cellText(rows, 0, 2), testcrc::hex(testcrc::frame(QStringLiteral("01 03 00 00 00 03"))));
    QCOMPARE(cellText(rows, 0, 3), QStringLiteral("读保持寄存器 地址 0 数量 3"));
    QCOMPARE(cellText(rows, 1, 1), QStringLiteral("接收"));
    QCOMPARE(cellText(rows, 1, 2), testcrc::hex(testcrc::frame(QStringLiteral("01 03 06 14 4C 00 19 23 28"))));
    QCOMPARE(cellText(rows, 1, 3), QStringLiteral("读保持寄存器 应答 地址 0 数量 3"));
    // The window's own messages are what they always were.
    QCOMPARE(m_fx->count(windowtext::sent), 1);
    QCOMPARE(m_fx->count(windowtext::normal), 1);
}

void tst_TrafficMonitor::pauseClearAndSave()
{
    openWindow();
    TrafficMonitor *monitor = openMonitor();
    QVERIFY(monitor);
    const QAbstractItemModel *rows = monitorRows(monitor);
    QVERIFY(readOnce(0, 3));
    QTRY_COMPARE(rows->rowCount(), 2);

    auto *pause = monitor->findChild<QPushButton *>(QStringLiteral("pushButton_pause"));
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    QVERIFY(readOnce(2, 1));
    QTest::qWait(300); // longer than a batch: the rows must still not change
    QCOMPARE(rows->rowCount(), 2);
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("暂停"));
    QCOMPARE(rows->rowCount(), 4);
    QCOMPARE(cellText(rows, 2, 3), QStringLiteral("读保持寄存器 地址 2 数量 1"));

    const QString path = m_fx->path(QStringLiteral("frames.txt"));
    {
        FileChooser chooser(path);
        monitor->findChild<QPushButton *>(QStringLiteral("pushButton_save"))->click();
        QVERIFY(chooser.chosen);
    }
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines.at(3).endsWith(QStringLiteral("\t接收\t%1\t读保持寄存器 应答 地址 2 数量 1")
                                         .arg(testcrc::hex(testcrc::frame(QStringLiteral("01 03 02 23 28"))))),
             qPrintable(lines.at(3)));

    monitor->findChild<QPushButton *>(QStringLiteral("pushButton_clear"))->click();
    QCOMPARE(rows->rowCount(), 0);
}

void tst_TrafficMonitor::statisticsInMonitorAndStatusBar()
{
    openWindow({ QStringLiteral("--static"), QStringLiteral("--exception"), QStringLiteral("20:2") });
    auto *field = m_fx->child<QLabel>("label_statistics");
    QVERIFY(field);
    QCOMPARE(field->parentWidget(), m_fx->status); // on the bar, beside the messages
    QVERIFY(readOnce(0, 3));
    QVERIFY(readOnce(20, 1)); // inside the sheet: the read fields keep it
    QVERIFY(readOnce(0, 1));
    QTRY_VERIFY2(field->text().startsWith(QStringLiteral("请求 3  正常 2  异常 1  超时 0  损坏 0  重发 0  ")),
                 qPrintable(field->text()));
    QVERIFY(field->text().endsWith(QStringLiteral(" 次/秒")));
    // The exception's message is the client's, as before; the field does not replace it.
    QCOMPARE(m_fx->count(windowtext::normal), 2);
    QCOMPARE(m_fx->styles.count(windowtext::red), 1);

    TrafficMonitor *monitor = openMonitor();
    QVERIFY(monitor);
    const auto label = [monitor](const char *name) {
        return monitor->findChild<QLabel *>(QLatin1String(name))->text();
    };
    QCOMPARE(label("label_requests"), QStringLiteral("3"));
    QCOMPARE(label("label_replies"), QStringLiteral("2"));
    QCOMPARE(label("label_exceptions"), QStringLiteral("1（02 非法数据地址 ×1）"));
    QCOMPARE(label("label_timeouts"), QStringLiteral("0"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9.]+ / [0-9.]+ / [0-9.]+ / [0-9.]+$"))
                    .match(label("label_responseTime")).hasMatch());

    monitor->findChild<QPushButton *>(QStringLiteral("pushButton_resetStatistics"))->click();
    QCOMPARE(label("label_requests"), QStringLiteral("0"));
    QCOMPARE(label("label_exceptions"), QStringLiteral("0"));
    QCOMPARE(label("label_responseTime"), QStringLiteral("- / - / - / -"));
    QTRY_VERIFY(field->text().startsWith(QStringLiteral("请求 0  正常 0  异常 0")));
}

void tst_TrafficMonitor::recordsFromTheMenu()
{
    openWindow();
    auto *start = m_fx->child<QAction>("actionrecordStart");
    auto *stop = m_fx->child<QAction>("actionrecordStop");
    QVERIFY(m_fx->child<QMenu>("menu_record")->actions().contains(start));
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());

    m_fx->setReadWindow(0, 3);
    const QString path = m_fx->path(QStringLiteral("记录.csv"));
    {
        FileChooser chooser(path);
        start->trigger();
        QVERIFY(chooser.chosen);
    }
    QVERIFY(!start->isEnabled());
    QVERIFY(stop->isEnabled());
    QVERIFY(m_fx->child<QLabel>("label_recording")->isVisible());
    for (int i = 0; i < 3; ++i)
        QVERIFY(readOnce(0, 3));
    stop->trigger();
    QVERIFY(start->isEnabled());
    QVERIFY(!m_fx->child<QLabel>("label_recording")->isVisible());
    QVERIFY(readOnce(0, 3)); // after the stop: not recorded

    const QStringList lines = csvLines(path);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QStringLiteral("时间,0 飞行时间,1 温度,2 距离"));
    for (int i = 1; i < 4; ++i)
        QCOMPARE(lines.at(i).section(QLatin1Char(','), 1), QStringLiteral("5196us,25℃,900.0mm"));
}

void tst_TrafficMonitor::removedFolderStopsRecordingOnly()
{
    openWindow();
    QVERIFY(QDir(m_fx->path(QString())).mkdir(QStringLiteral("day")));
    const QString path = m_fx->path(QStringLiteral("day/cycle.csv"));
    m_fx->setReadWindow(0, 3);
    {
        FileChooser chooser(path);
        m_fx->child<QAction>("actionrecordStart")->trigger();
        QVERIFY(chooser.chosen);
    }
    m_fx->finishEdit(m_fx->period, QStringLiteral("50"));
    m_fx->repeat->setChecked(true);
    m_fx->readButton->setChecked(true);
    QVERIFY(m_fx->waitFor(windowtext::normal, 2));

    m_catcher = std::make_unique<ModalCatcher>();
    QVERIFY(QDir(m_fx->path(QStringLiteral("day"))).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(m_catcher->count(), 1, 5000);
    QCOMPARE(m_catcher->last().title, QStringLiteral("记录停止"));
    QVERIFY2(m_catcher->last().text.contains(QStringLiteral("已不存在")), qPrintable(m_catcher->last().text));
    QVERIFY(m_fx->child<QAction>("actionrecordStart")->isEnabled());
    // The reads go on after the box.
    const int replies = m_fx->count(windowtext::normal);
    QVERIFY(m_fx->waitFor(windowtext::normal, replies + 3));
    QVERIFY(m_fx->readButton->isChecked());
    QCOMPARE(m_catcher->count(), 1);
    m_fx->repeat->setChecked(false);
}

QTEST_MAIN(tst_TrafficMonitor)
#include "tst_trafficmonitor.moc"
