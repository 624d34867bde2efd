// Renders the main window, the distance display and the trend chart while they read the
// simulated sensor, and the device scan dialog after a scan of that line, into PNG files:
// rurodur-shots OUTDIR. Run under a real (virtual) display for real fonts.
#include "mainwindow.h"
#include "myconfig.h"
#include "scandialog.h"
#include "simfixture.h"
#include "trendchart.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include "shotsupport.h"

using shots::waitFor;

namespace {

int fail(const QString &message)
{
    return shots::fail("rurodur-shots", message);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2)
        return fail(QStringLiteral("usage: rurodur-shots OUTDIR"));
    const QString outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);

    SimFixture sensor(QStringLiteral(SENSOR_SIM_PATH));
    if (!sensor.start())
        return fail(sensor.errorString());

    QTemporaryDir programDir;
    shots::prepareProgramDirectory(programDir.path(), sensor.clientPort());
    MyConfig::regsLenRead = 22;
    MyConfig::changeWarnEnable = true;

    int result = 0;
    {
        MainWindow window;
        window.setWindowTitle(MyConfig::programName);
        window.resize(1100, 640);
        window.show();
        waitFor(300);
        window.grab().save(outDir + QStringLiteral("/main-start.png"));

        window.findChild<QPushButton *>(QStringLiteral("pushButton_connect"))->setChecked(true);
        waitFor(300);
        window.findChild<QPushButton *>(QStringLiteral("pushButton_read"))->setChecked(true);
        window.findChild<QAction *>(QStringLiteral("actiondistance"))->trigger();
        waitFor(2500);

        window.grab().save(outDir + QStringLiteral("/main-live.png"));
        if (QWidget *display = shots::shownWindow("SonicDisplay"))
            display->grab().save(outDir + QStringLiteral("/distance.png"));
        if (!QFile::exists(outDir + QStringLiteral("/distance.png")))
            result = fail(QStringLiteral("the distance display did not open"));

        // The trend chart of the distance between its two limits, and the flight time.
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
        table->clearSelection();
        for (int row : { 0, 2, 10, 11 })
            table->setRangeSelected(QTableWidgetSelectionRange(row, 0, row, 1), true);
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_period"))->setText(QStringLiteral("100"));
        window.findChild<QAction *>(QStringLiteral("actiontrend"))->trigger();
        waitFor(25000);
        const QList<TrendChart *> charts = window.findChildren<TrendChart *>();
        if (charts.size() == 1)
            charts.first()->grab().save(outDir + QStringLiteral("/trend.png"));
        else
            result = fail(QStringLiteral("the trend chart did not open"));
        window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"))->setChecked(false);
        waitFor(300);

        // A full scan of the line with its defaults (the line in use), the device chosen.
        window.findChild<QAction *>(QStringLiteral("actionscan"))->trigger();
        const QList<ScanDialog *> scans = window.findChildren<ScanDialog *>();
        if (scans.size() == 1) {
            ScanDialog *scan = scans.first();
            bool done = false;
            QObject::connect(scan->scanner(), &DeviceScanner::finished, [&done] { done = true; });
            scan->findChild<QPushButton *>(QStringLiteral("pushButton_start"))->click();
            QElapsedTimer scanTimer;
            scanTimer.start();
            while (!done && scanTimer.elapsed() < 60000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            scan->findChild<QTableWidget *>(QStringLiteral("tableWidget_found"))->selectRow(0);
            waitFor(300);
            scan->grab().save(outDir + QStringLiteral("/scan.png"));
        } else {
            result = fail(QStringLiteral("the scan dialog did not open"));
        }
    }
    sensor.stop();
    return result;
}
