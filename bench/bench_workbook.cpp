// MyXlsx reading and writing the 1500-row fixture, next to openpyxl loading
// and saving the same file in the same run, and a patch-save of a 10,000-row
// sheet. Prints "ROW |" lines for bench/run; never fails on a figure.
//
// Usage: bench_workbook [tests/data folder]

#include "benchsupport.h"
#include "myxlsx.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace bench;

namespace {

// openpyxl's load (reading every value) and load+save, median ms of n runs.
bool openpyxlTimes(const QString &path, int n, double *readMs, double *writeMs)
{
    const QString script = QStringLiteral(
        "import sys, time, shutil, statistics, tempfile, os\n"
        "from openpyxl import load_workbook\n"
        "path, n = sys.argv[1], int(sys.argv[2])\n"
        "r, w = [], []\n"
        "tmp = tempfile.mkdtemp()\n"
        "for i in range(n):\n"
        "    t = time.perf_counter(); wb = load_workbook(path)\n"
        "    texts = [[str(c.value) for c in row] for row in wb['holding'].iter_rows()]\n"
        "    r.append(time.perf_counter() - t)\n"
        "    copy = os.path.join(tmp, 'w.xlsx'); shutil.copy(path, copy)\n"
        "    t = time.perf_counter(); wb = load_workbook(copy); wb.save(copy)\n"
        "    w.append(time.perf_counter() - t)\n"
        "print(statistics.median(r) * 1000, statistics.median(w) * 1000)\n");
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, QString::number(n)});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return false;
    const QStringList parts = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char(' '));
    if (parts.size() != 2)
        return false;
    *readMs = parts.at(0).toDouble();
    *writeMs = parts.at(1).toDouble();
    return true;
}

bool makeLarge(const QString &path, int rows)
{
    const QString script = QStringLiteral(
        "import sys\n"
        "from openpyxl import Workbook\n"
        "wb = Workbook(); ws = wb.active; ws.title = 'holding'\n"
        "ws.append(['c%d' % i for i in range(10)])\n"
        "for i in range(int(sys.argv[2])):\n"
        "    ws.append([i, 'name %d' % i, '0x%04X' % (i & 0xFFFF), i * 3, '', '{\"dot\":1}', 'mm', -i, i + 0.5, 'n'])\n"
        "wb.save(sys.argv[1])\n");
    return QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, QString::number(rows)}) == 0;
}

struct Ours
{
    double readMs = 0;
    double writeMs = 0;
    int rows = 0;
};

Ours measure(const QString &source, const QString &work, int n, bool changeTexts)
{
    Ours o;
    QVector<double> reads, writes;
    for (int i = 0; i < n; ++i) {
        QStringList header;
        QList<QStringList> rows;
        QElapsedTimer t;
        t.start();
        MyXlsx::readSheet(source, QStringLiteral("holding"), header, rows);
        reads.append(t.nsecsElapsed() / 1e6);
        o.rows = rows.size();
        if (changeTexts) {
            for (QStringList &row : rows)
                row[4] = QStringLiteral("v%1").arg(i);
        }
        QFile::remove(work);
        QFile::copy(source, work);
        t.restart();
        MyXlsx::writeSheet(work, QStringLiteral("holding"), header, rows);
        writes.append(t.nsecsElapsed() / 1e6);
    }
    o.readMs = median(reads);
    o.writeMs = median(writes);
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString data = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QStringLiteral(RURODUR_SOURCE_DIR "/tests/data");
    QTemporaryDir dir;

    const QString fixture = data + QStringLiteral("/openpyxl_large.xlsx");
    const Ours ours = measure(fixture, dir.filePath(QStringLiteral("w.xlsx")), 21, false);
    double pyRead = 0, pyWrite = 0;
    const bool py = openpyxlTimes(fixture, 7, &pyRead, &pyWrite);
    const QString rows = QString::number(ours.rows);

    row(QStringLiteral("readSheet, %1 rows x 10 columns (ms)").arg(rows), fixed(ours.readMs, 2),
        py ? QStringLiteral("openpyxl load %1").arg(fixed(pyRead, 1)) : QStringLiteral("n/a"),
        py ? fixed(pyRead / ours.readMs, 1) + QLatin1Char('x') : QStringLiteral("n/a"), QStringLiteral(">= 10x"));
    row(QStringLiteral("readSheet per 1000 rows x 10 columns (ms)"), fixed(ours.readMs * 1000 / ours.rows, 2),
        QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("<= 15"));
    row(QStringLiteral("writeSheet, %1 rows x 10 columns (ms)").arg(rows), fixed(ours.writeMs, 2),
        py ? QStringLiteral("openpyxl load+save %1").arg(fixed(pyWrite, 1)) : QStringLiteral("n/a"),
        py ? fixed(pyWrite / ours.writeMs, 1) + QLatin1Char('x') : QStringLiteral("n/a"), QStringLiteral(">= 10x"));

    const QString large = dir.filePath(QStringLiteral("large10k.xlsx"));
    if (makeLarge(large, 10000)) {
        const Ours big = measure(large, dir.filePath(QStringLiteral("w10k.xlsx")), 7, true);
        row(QStringLiteral("writeSheet patch-save, %1 rows, one column changed (ms)").arg(big.rows),
            fixed(big.writeMs, 2), QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("< 300"));
        row(QStringLiteral("readSheet, %1 rows x 10 columns (ms)").arg(big.rows), fixed(big.readMs, 2),
            QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("<= 150"));
    } else {
        note(QStringLiteral("openpyxl could not write the 10,000-row workbook"));
    }
    return 0;
}
