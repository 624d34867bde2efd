// The main window's traffic monitor, statistics field and recording, driven through the menus
// and widgets against sensor-sim.
#include "framelog.h"
#include "modalcatcher.h"
#include "modbuscrc.h"
#include "simfixture.h"
#include "trafficmonitor.h"
#include "windowfixture.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

// Answers the file dialog that `open` shows with `path`; true when one was answered.
bool chooseFile(const QString &path, const std::function<void()> &open)
{
    bool chosen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            poll.stop();
            dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept();
            chosen = true;
        }
    });
    poll.start(5);
    open();
    return chosen;
}

QStringList rowTexts(const QAbstractItemModel *rows, int row)
{
    QStringList texts;
    for (int column = 1; column < rows->columnCount(); ++column)
        texts << rows->index(row, column).data().toString();
    return texts;
}

QStringList lines(const QString &path, const QString &separator)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(separator, Qt::SkipEmptyParts);
}

} // namespace

class tst_TrafficMonitor : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void opensOnceFromTheDisplayMenu();
    void framesPauseClearAndSave();
    void statisticsInMonitorAndStatusBar();
    void recordsFromTheMenu();

private:
    void openWindow(const QStringList &simArgs = { QStringLiteral("--static") });
    bool readOnce(int start, int count);
    TrafficMonitor *openMonitor();

    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<WindowFixture> m_fx;
};

void tst_TrafficMonitor::cleanup()
{
    m_fx.reset();
    m_sim.reset();
}

void tst_TrafficMonitor::openWindow(const QStringList &simArgs)
{
    m_sim = std::make_unique<SimFixture>(QStringLiteral(SENSOR_SIM_PATH));
    QVERIFY2(m_sim->start(simArgs), qPrintable(m_sim->errorString()));
    m_fx = std::make_unique<WindowFixture>(QStringLiteral("tst_trafficmonitor"));
    m_fx->useWorkbook(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"), QStringLiteral("保持寄存器"));
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
    m_fx->child<QAction>("actionmonitor")->trigger();
    const QList<TrafficMonitor *> monitors = m_fx->window()->findChildren<TrafficMonitor *>();
    return monitors.size() == 1 ? monitors.first() : nullptr;
}

void tst_TrafficMonitor::opensOnceFromTheDisplayMenu()
{
    openWindow();
    QVERIFY(m_fx->child<QMenu>("menu_display")->actions().contains(m_fx->child<QAction>("actionmonitor")));
    QPointer<TrafficMonitor> monitor = openMonitor();
    QVERIFY(monitor);
    QCOMPARE(monitor->windowTitle(), QStringLiteral("报文监视"));
    QCOMPARE(monitor->windowType(), Qt::Window);
    QVERIFY(monitor->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(monitor->pos(), m_fx->window()->pos() + QPoint(30, 30));
    monitor->hide();
    QCOMPARE(openMonitor(), monitor.data()); // shown again, not a second one
    QVERIFY(monitor->isVisible());
    QVERIFY(monitor->close());
    QTRY_VERIFY(monitor.isNull());
}

void tst_TrafficMonitor::framesPauseClearAndSave()
{
    openWindow();
    TrafficMonitor *monitor = openMonitor();
    QVERIFY(monitor);
    const QAbstractItemModel *rows = monitor->findChild<QTableView *>(QStringLiteral("tableView_frames"))->model();
    QVERIFY(readOnce(0, 3));
    QTRY_COMPARE(rows->rowCount(), 2);
    QCOMPARE(rowTexts(rows, 0), (QStringList{ "发送", testcrc::hex(testcrc::frame("01 03 00 00 00 03")),
                                              "读保持寄存器 地址 0 数量 3" }));
    QCOMPARE(rowTexts(rows, 1), (QStringList{ "接收", testcrc::hex(testcrc::frame("01 03 06 14 4C 00 19 23 28")),
                                              "读保持寄存器 应答 地址 0 数量 3" }));
    QCOMPARE(m_fx->count(windowtext::normal), 1); // the window's own messages as before

    auto *pause = monitor->findChild<QPushButton *>(QStringLiteral("pushButton_pause"));
    pause->click();
    QVERIFY(readOnce(2, 1));
    QTest::qWait(3 * FrameLog::batchMs); // longer than a batch: the rows must still not change
    QCOMPARE(rows->rowCount(), 2);
    pause->click();
    QCOMPARE(rows->rowCount(), 4);

    const QString path = m_fx->path(QStringLiteral("frames.txt"));
    QVERIFY(chooseFile(path, [monitor] { monitor->findChild<QPushButton *>(QStringLiteral("pushButton_save"))->click(); }));
    const QStringList saved = lines(path, QStringLiteral("\n"));
    QCOMPARE(saved.size(), 4);
    QVERIFY2(saved.at(3).endsWith("\t接收\t" + testcrc::hex(testcrc::frame("01 03 02 23 28"))
                                  + "\t读保持寄存器 应答 地址 2 数量 1"),
             qPrintable(saved.at(3)));
    monitor->findChild<QPushButton *>(QStringLiteral("pushButton_clear"))->click();
    QCOMPARE(rows->rowCount(), 0);
}

void tst_TrafficMonitor::statisticsInMonitorAndStatusBar()
{
    openWindow({ QStringLiteral("--static"), QStringLiteral("--exception"), QStringLiteral("20:2") });
    auto *field = m_fx->child<QLabel>("label_statistics");
    QCOMPARE(field->parentWidget(), m_fx->status); // on the bar, beside the messages
    QVERIFY(readOnce(0, 3));
    QVERIFY(readOnce(20, 1));
    QVERIFY(readOnce(0, 1));
    QTRY_VERIFY2(field->text().startsWith(QStringLiteral("请求 3  正常 2  异常 1  超时 0  损坏 0  重发 0  ")),
                 qPrintable(field->text()));
    QCOMPARE(m_fx->count(windowtext::normal), 2); // the messages are the window's, as before
    QCOMPARE(m_fx->styles.count(windowtext::red), 1);

    TrafficMonitor *monitor = openMonitor();
    QVERIFY(monitor);
    const auto label = [monitor](const char *name) { return monitor->findChild<QLabel *>(name)->text(); };
    QCOMPARE(label("label_requests") + QLatin1Char('/') + label("label_replies"), QStringLiteral("3/2"));
    QCOMPARE(label("label_exceptions"), QStringLiteral("1（02 非法数据地址 ×1）"));
    QVERIFY(QRegularExpression(QStringLiteral("^([0-9.]+ / ){3}[0-9.]+$")).match(label("label_responseTime")).hasMatch());
    monitor->findChild<QPushButton *>(QStringLiteral("pushButton_resetStatistics"))->click();
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
    m_fx->setReadWindow(0, 3);
    const QString path = m_fx->path(QStringLiteral("记录.csv"));
    QVERIFY(chooseFile(path, [start] { start->trigger(); }));
    QVERIFY(!start->isEnabled() && stop->isEnabled());
    QVERIFY(m_fx->child<QLabel>("label_recording")->isVisible());
    for (int i = 0; i < 3; ++i)
        QVERIFY(readOnce(0, 3));
    stop->trigger();
    QVERIFY(start->isEnabled() && !stop->isEnabled());
    QVERIFY(readOnce(0, 3)); // after the stop: not recorded
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.read(3) == "\xEF\xBB\xBF"); // the byte-order mark
    const QStringList csv = lines(path, QStringLiteral("\r\n"));
    QCOMPARE(csv.size(), 4);
    QCOMPARE(csv.at(0), QStringLiteral("时间,0 飞行时间,1 温度,2 距离"));
    for (int i = 1; i < 4; ++i)
        QCOMPARE(csv.at(i).section(QLatin1Char(','), 1), QStringLiteral("5196us,25℃,900.0mm"));

    // Another area under the same header would mean other registers: the recording ends.
    const QString areaPath = m_fx->path(QStringLiteral("area.csv"));
    QVERIFY(chooseFile(areaPath, [start] { start->trigger(); }));
    QVERIFY(readOnce(0, 3));
    auto *area = m_fx->child<QComboBox>("comboBox_regsType");
    const int holding = area->currentIndex();
    area->setCurrentIndex(holding == 0 ? 1 : 0);
    QCOMPARE(m_fx->window()->statusBar()->currentMessage(),
             QStringLiteral("记录已停止：寄存器区域或协议表已更改"));
    QVERIFY(start->isEnabled() && !stop->isEnabled());
    QVERIFY(!m_fx->child<QLabel>("label_recording")->isVisible());
    QCOMPARE(lines(areaPath, QStringLiteral("\r\n")).size(), 2);
    area->setCurrentIndex(holding);

    // Its folder removed while the cycle runs: a warning, and the reads go on.
    QVERIFY(QDir(m_fx->path(QString())).mkdir(QStringLiteral("day")));
    QVERIFY(chooseFile(m_fx->path(QStringLiteral("day/cycle.csv")), [start] { start->trigger(); }));
    m_fx->finishEdit(m_fx->period, QStringLiteral("50"));
    m_fx->repeat->setChecked(true);
    m_fx->readButton->setChecked(true);
    QVERIFY(m_fx->waitFor(windowtext::normal, 6));
    ModalCatcher catcher;
    QVERIFY(QDir(m_fx->path(QStringLiteral("day"))).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(catcher.count(), 1, 5000);
    QCOMPARE(catcher.last().title, QStringLiteral("记录停止"));
    QVERIFY2(catcher.last().text.contains(QStringLiteral("已不存在")), qPrintable(catcher.last().text));
    QVERIFY(start->isEnabled());
    QVERIFY(m_fx->waitFor(windowtext::normal, m_fx->count(windowtext::normal) + 3));
    QCOMPARE(catcher.count(), 1);
    m_fx->repeat->setChecked(false);
}

QTEST_MAIN(tst_TrafficMonitor)
#include "tst_trafficmonitor.moc"
