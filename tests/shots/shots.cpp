// Renders the main window and the distance display while they read the simulated sensor,
// into PNG files: rurodur-shots OUTDIR. Run under a real (virtual) display for real fonts.
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
#include <QTemporaryDir>
#include <QTextStream>

namespace {

void waitFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int fail(const QString &message)
{
    QTextStream(stderr) << "rurodur-shots: " << message << '\n';
    return 1;
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
    QDir::setCurrent(programDir.path());
    QDir().mkpath(QStringLiteral("ProtocolFile"));
    QFile::copy(QStringLiteral(SAMPLE_WORKBOOK), QStringLiteral("ProtocolFile/modbus.xlsx"));

    MyConfig::programName = QStringLiteral("rurodur");
    MyConfig::serialName = sensor.clientPort();
    MyConfig::serialBaudrate = 115200;
    MyConfig::serialParity = QStringLiteral("None");
    MyConfig::serialStopbits = QStringLiteral("1");
    MyConfig::isRepeat = true;
    MyConfig::period = 200;
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
        const QList<QWidget *> tops = QApplication::topLevelWidgets();
        for (QWidget *top : tops) {
            if (top->objectName() == QLatin1String("SonicDisplay") && top->isVisible())
                top->grab().save(outDir + QStringLiteral("/distance.png"));
        }
        if (!QFile::exists(outDir + QStringLiteral("/distance.png")))
            result = fail(QStringLiteral("the distance display did not open"));
        window.findChild<QCheckBox *>(QStringLiteral("checkBox_repeat"))->setChecked(false);
        waitFor(300);
    }
    sensor.stop();
    return result;
}
