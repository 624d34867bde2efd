// Resolve and save of large protocol sheets, next to openpyxl on the same files in the same run.
//
// Workbooks of 1024 and 1500 data rows (seven columns: address, name, hex, decimal, display,
// rule, note) are written by openpyxl. For each: MyXlsx::readSheet and MyXlsx::writeSheet, the
// window's resolve (pushButton_resolve) and save (pushButton_protocolSave), and openpyxl loading
// the workbook with every cell read as text, and saving it.
//
// Usage: bench_sheets [repeats]. Prints "ROW |" lines for bench/run; never fails on a figure.

#include "benchsupport.h"
#include "mainwindow.h"
#include "myconfig.h"
#include "myxlsx.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace bench;

namespace {

const char *const makeScript =
    "import openpyxl, sys\n"
    "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'hold'\n"
    "ws.append(['地址', '名称', '16进制', '10进制', '显示', 'JSON解析', '备注'])\n"
    "rules = ['{\"unit\":\"us\"}', '{\"signed\":true,\"unit\":\"C\"}', '{\"dot\":1,\"unit\":\"mm\"}',\n"
    "         '[{\"bits\":\"0:7\"},{\"bits\":\"8:15\",\"maps\":{\"0\":\"idle\",\"others\":\"busy\"}}]']\n"
    "for a in range(int(sys.argv[2])):\n"
    "    ws.append([a, 'register %d' % a, '0x%04X' % a, a, '', rules[a % 4], 'note %d' % a])\n"
    "ws2 = wb.create_sheet('input'); ws2.append(['地址', '16进制', 'JSON解析']); ws2.append([0, '0x0000', '{}'])\n"
    "wb.save(sys.argv[1])\n";

// openpyxl's own figures, in ms: load with every cell read as text (as a resolve needs), then save.
const char *const timeScript =
    "import openpyxl, sys, time, statistics\n"
    "path, out, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])\n"
    "loads, saves = [], []\n"
    "for _ in range(repeats):\n"
    "    t = time.perf_counter()\n"
    "    wb = openpyxl.load_workbook(path)\n"
    "    ws = wb['hold']\n"
    "    rows = [['' if v is None else str(v) for v in r] for r in ws.iter_rows(values_only=True)]\n"
    "    loads.append((time.perf_counter() - t) * 1000)\n"
    "    t = time.perf_counter()\n"
    "    wb.save(out)\n"
    "    saves.append((time.perf_counter() - t) * 1000)\n"
    "print('load %.3f save %.3f rows %d' % (statistics.median(loads), statistics.median(saves), len(rows)))\n";

bool python(const QStringList &args, QByteArray *output = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), args);
    const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = p.readAllStandardOutput();
    if (!ok)
        note(QString::fromUtf8(p.readAllStandardError()));
    return ok;
}

template<typename F>
double medianMs(int repeats, F f)
{
    QVector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        ms.append(timer.nsecsElapsed() / 1e6);
    }
    return median(ms);
}

QString ms(double value)
{
    return fixed(value, value < 10 ? 2 : 1) + QStringLiteral(" ms");
}

void measure(const QString &dir, int rows, int repeats)
{
    const QString path = dir + QStringLiteral("/sheet%1.xlsx").arg(rows);
    if (!python({ QStringLiteral("-c"), QString::fromUtf8(makeScript), path, QString::number(rows) })) {
        note(QStringLiteral("cannot write the workbook (needs /usr/bin/python3 with openpyxl)"));
        return;
    }

    QStringList header;
    QList<QStringList> data;
    int readResult = 0;
    const double read = medianMs(repeats, [&] { readResult = MyXlsx::readSheet(path, QStringLiteral("hold"), header, data); });
    const QString copy = dir + QStringLiteral("/copy%1.xlsx").arg(rows);
    QFile::remove(copy);
    QFile::copy(path, copy);
    int writeResult = 0;
    const double write = medianMs(repeats, [&] { writeResult = MyXlsx::writeSheet(copy, QStringLiteral("hold"), header, data); });
    note(QStringLiteral("%1 rows: readSheet %2 (%3 rows read), writeSheet %4")
             .arg(rows).arg(readResult).arg(data.size()).arg(writeResult));

    // The window, on its own copy; the table holds at most 1024 rows.
    const QString windowCopy = dir + QStringLiteral("/window%1.xlsx").arg(rows);
    QFile::remove(windowCopy);
    QFile::copy(path, windowCopy);
    MyConfig::restoreDefaults();
    MyConfig::programName = QStringLiteral("bench_sheets");
    MyConfig::protocolFile = windowCopy;
    MyConfig::regsType = QStringLiteral("hold");
    double resolve = 0, save = 0;
    int tableRows = 0;
    {
        MainWindow window;
        window.show();
        auto *resolveButton = window.findChild<QPushButton *>(QStringLiteral("pushButton_resolve"));
        auto *saveButton = window.findChild<QPushButton *>(QStringLiteral("pushButton_protocolSave"));
        resolve = medianMs(repeats, [&] { resolveButton->click(); });
        save = medianMs(repeats, [&] { saveButton->click(); });
        tableRows = window.findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount();
    }

    QByteArray out;
    double pyLoad = -1, pySave = -1;
    if (python({ QStringLiteral("-c"), QString::fromUtf8(timeScript), path,
                 dir + QStringLiteral("/openpyxl%1.xlsx").arg(rows), QString::number(qMax(3, repeats / 3)) },
               &out)) {
        const QList<QByteArray> f = out.trimmed().split(' ');
        pyLoad = f.value(1).toDouble();
        pySave = f.value(3).toDouble();
    }

    const QString n = QString::number(rows);
    const auto r = [](double ours, double ref) { return ours > 0 && ref > 0 ? fixed(ref / ours, 1) + QStringLiteral("× faster") : QStringLiteral("n/a"); };
    row(QStringLiteral("resolve, %1-row sheet: window resolve button (%2 table rows) vs openpyxl load").arg(n).arg(tableRows),
        ms(resolve), ms(pyLoad), r(resolve, pyLoad),
        rows == 1024 ? QStringLiteral("≥ 10× and < 50 ms") : QStringLiteral("—"));
    row(QStringLiteral("read, %1-row sheet: MyXlsx::readSheet vs openpyxl load").arg(n), ms(read), ms(pyLoad),
        r(read, pyLoad), QStringLiteral("—"));
    row(QStringLiteral("save, %1-row sheet: window save button (write + resolve) vs openpyxl save").arg(n),
        ms(save), ms(pySave), r(save, pySave), QStringLiteral("—"));
    row(QStringLiteral("save, %1-row sheet: MyXlsx::writeSheet vs openpyxl save").arg(n), ms(write), ms(pySave),
        r(write, pySave), QStringLiteral("—"));
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? qMax(1, atoi(argv[1])) : 9;
    QTemporaryDir dir;
    if (!enterScratchDir(dir))
        return 1;
    measure(dir.path(), 1024, repeats);
    measure(dir.path(), 1500, repeats);
    return 0;
}
