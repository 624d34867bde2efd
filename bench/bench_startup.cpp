// Start-up to the window shown, and peak memory, in fresh processes.
//
// The program's own start sequence (settings file, main window with the sample workbook next to
// it, shown) runs in a child process, timed by the parent from the moment it starts the process
// to the line the child prints once its window is exposed. The reference is a bare QMainWindow
// with an empty table, started the same way in the same run. Peak memory is the child's VmHWM
// after its window has been shown and the events have settled; a third child does the same
// with a 1500-row sheet, the most the register table is asked to hold.
//
// Usage: bench_startup [runs] (parent), bench_startup --child MODE DIR (internal).

#include "benchsupport.h"
#include "mainwindow.h"
#include "myconfig.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMainWindow>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QWindow>

using namespace bench;

namespace {

// Prints "shown" once `window` is exposed, lets the events settle, then prints the peak memory.
int reportShown(QWidget &window)
{
    window.show();
    waitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10000);
    std::printf("shown\n");
    std::fflush(stdout);
    spin(200);
    std::printf("hwm %lld\n", procStatusKb("VmHWM"));
    std::fflush(stdout);
    return 0;
}

int child(int argc, char **argv, const QString &mode, const QString &dir)
{
    QApplication application(argc, argv);
    QDir::setCurrent(dir);
    if (mode == QLatin1String("reference")) {
        QMainWindow window;
        window.setCentralWidget(new QTableWidget(&window));
        window.resize(1366, 706);
        return reportShown(window);
    }
    // The program's own sequence, with the settings file of `dir`.
    MyConfig::programName = mode;
    MyConfig::load();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
    MainWindow window;
    window.setWindowTitle(MyConfig::programName);
    const int result = reportShown(window);
    std::printf("rows %d\n", window.findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount());
    std::fflush(stdout);
    return result;
}

struct Run
{
    double ms = -1;
    qint64 hwmKb = -1;
    int rows = -1;
};

Run runChild(const QString &self, const QString &mode, const QString &dir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(self, { QStringLiteral("--child"), mode, dir });
    Run run;
    QByteArray out;
    while (p.waitForReadyRead(20000)) {
        out += p.readAllStandardOutput();
        if (run.ms < 0 && out.contains("shown\n"))
            run.ms = timer.nsecsElapsed() / 1e6;
        if (out.contains("hwm ") && out.endsWith('\n') && (mode == QLatin1String("reference") || out.contains("rows ")))
            break;
    }
    p.waitForFinished(20000);
    out += p.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("hwm "))
            run.hwmKb = line.mid(4).toLongLong();
        if (line.startsWith("rows "))
            run.rows = line.mid(5).toInt();
    }
    return run;
}

bool makeLargeWorkbook(const QString &path, int rows)
{
    const QString script = QStringLiteral(
        "import openpyxl, sys\n"
        "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'hold'\n"
        "ws.append(['地址', '名称', '16进制', '10进制', '显示', 'JSON解析', '备注'])\n"
        "for a in range(int(sys.argv[2])):\n"
        "    ws.append([a, 'register %d' % a, '0x%04X' % a, a, '', '{\"dot\":1,\"unit\":\"mm\"}', 'note'])\n"
        "wb.save(sys.argv[1])\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), script, path, QString::number(rows) });
    return python.waitForFinished(120000) && python.exitCode() == 0;
}

void writeSettings(const QString &dir, const QString &program, const QString &workbook)
{
    QFile file(dir + QLatin1Char('/') + program + QStringLiteral(".json"));
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("{\"modbusDisplay\": {\"protocolFile\": \"%1\", \"regsType\": \"hold\", "
                              "\"period\": 1000, \"regsLenRead\": 10, \"regsLenWrite\": 10, "
                              "\"deviceAddr\": 1}}\n")
                   .arg(workbook).toUtf8());
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    if (argc == 4 && QByteArray(argv[1]) == "--child")
        return child(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 9;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // The sample workbook a fresh build starts with, and a large one.
    QDir(dir.path()).mkpath(QStringLiteral("ProtocolFile"));
    QFile::copy(QStringLiteral(RURODUR_SOURCE_DIR "/ProtocolFile/modbus.xlsx"),
                dir.filePath(QStringLiteral("ProtocolFile/modbus.xlsx")));
    const QString large = dir.filePath(QStringLiteral("large.xlsx"));
    if (!makeLargeWorkbook(large, 1500)) {
        note(QStringLiteral("cannot write the workbook (needs /usr/bin/python3 with openpyxl)"));
        return 1;
    }
    writeSettings(dir.path(), QStringLiteral("large"), large);

    const QString self = QCoreApplication::applicationFilePath();
    QVector<double> ours, reference, largeMs;
    qint64 oursHwm = 0, referenceHwm = 0, largeHwm = 0;
    int sampleRows = -1, largeRows = -1;
    for (int i = 0; i < runs; ++i) {
        // Interleaved, so load on the machine hits all alike; the settings of "rurodur" are
        // absent, as on a first start.
        const Run r = runChild(self, QStringLiteral("reference"), dir.path());
        const Run o = runChild(self, QStringLiteral("rurodur"), dir.path());
        const Run l = runChild(self, QStringLiteral("large"), dir.path());
        QFile::remove(dir.filePath(QStringLiteral("rurodur.json")));
        reference.append(r.ms);
        ours.append(o.ms);
        largeMs.append(l.ms);
        referenceHwm = qMax(referenceHwm, r.hwmKb);
        oursHwm = qMax(oursHwm, o.hwmKb);
        largeHwm = qMax(largeHwm, l.hwmKb);
        sampleRows = o.rows;
        largeRows = l.rows;
    }
    note(QStringLiteral("start-up runs: ours %1 rows, large %2 rows").arg(sampleRows).arg(largeRows));

    const double o = median(ours), r = median(reference), l = median(largeMs);
    row(QStringLiteral("start-up to window shown, sample workbook (%1 rows), median of %2").arg(sampleRows).arg(runs),
        fixed(o, 1) + QStringLiteral(" ms"), fixed(r, 1) + QStringLiteral(" ms (bare QMainWindow)"),
        fixed(o / r, 2), QStringLiteral("—"));
    row(QStringLiteral("start-up to window shown, 1500-row sheet (%1 table rows)").arg(largeRows),
        fixed(l, 1) + QStringLiteral(" ms"), fixed(r, 1) + QStringLiteral(" ms (bare QMainWindow)"),
        fixed(l / r, 2), QStringLiteral("—"));
    row(QStringLiteral("peak memory (VmHWM) after start-up, sample workbook"),
        fixed(oursHwm / 1024.0, 1) + QStringLiteral(" MiB"),
        fixed(referenceHwm / 1024.0, 1) + QStringLiteral(" MiB (bare QMainWindow)"),
        fixed(double(oursHwm) / referenceHwm, 2), QStringLiteral("—"));
    row(QStringLiteral("peak memory (VmHWM) after start-up, 1500-row sheet"),
        fixed(largeHwm / 1024.0, 1) + QStringLiteral(" MiB"),
        fixed(referenceHwm / 1024.0, 1) + QStringLiteral(" MiB (bare QMainWindow)"),
        fixed(double(largeHwm) / referenceHwm, 2), QStringLiteral("—"));
    return 0;
}
