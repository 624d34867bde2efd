// Renders the traffic monitor and the status bar's statistics field while the main window reads
// the simulated sensor, which garbles the CRC of every 20th reply: rurodur-monitor-shots OUTDIR
// writes monitor.png and statusbar.png. Run under a real (virtual) display for real fonts.
#include "framelog.h"
#include "mainwindow.h"
#include "myconfig.h"
#include "simfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>

#include "shotsupport.h"

using shots::waitFor;

namespace {

int fail(const QString &message)
{
    return shots::fail("rurodur-monitor-shots", message);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2)
        return fail(QStringLiteral("usage: rurodur-monitor-shots OUTDIR"));
    const QString outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);

    SimFixture sensor(QStringLiteral(SENSOR_SIM_PATH));
    if (!sensor.start({ QStringLiteral("--corrupt-crc-every"), QStringLiteral("20") }))
        return fail(sensor.errorString());

    QTemporaryDir programDir;
    shots::prepareProgramDirectory(programDir.path(), sensor.clientPort());
    MyConfig::regsLenRead = 3;

    int result = 0;
    {
        MainWindow window;
        window.setWindowTitle(MyConfig::programName);
        window.resize(1100, 640);
        window.show();
        waitFor(300);
        window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(true);
        waitFor(300);
        window.findChild<QAction *>(QStringLiteral("actionmonitor"))->trigger();
        window.findChild<QPushButton *>(QStringLiteral("pushButton_read"))->setChecked(true);
        waitFor(8500);

        if (QWidget *monitor = shots::shownWindow("TrafficMonitor")) {
            // The damaged reply and its retry in the middle of the picture.
            auto *view = monitor->findChild<QTableView *>(QStringLiteral("tableView_frames"));
            const QAbstractItemModel *rows = view->model();
            for (int row = 0; row < rows->rowCount(); ++row) {
                const QModelIndex index = rows->index(row, 0);
                if (index.data(FrameLog::KindRole).toInt() == int(CapturedFrame::Kind::BadCrc)) {
                    view->scrollTo(index, QAbstractItemView::PositionAtCenter);
                    break;
                }
            }
            waitFor(100);
            monitor->grab().save(outDir + QStringLiteral("/monitor.png"));
        }
        else
            result = fail(QStringLiteral("the traffic monitor did not open"));
        window.statusBar()->grab().save(outDir + QStringLiteral("/statusbar.png"));
        window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"))->setChecked(false);
        waitFor(300);
    }
    sensor.stop();
    return result;
}
