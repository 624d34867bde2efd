#ifndef TABLEFIXTURE_H
#define TABLEFIXTURE_H

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>

// Shared by the protocol table suites: fixture workbooks written by openpyxl (see
// make_fixtures.py), and sheets read back by openpyxl.
namespace tablefixture {

inline const char *python() { return "/usr/bin/python3"; }

// Runs the fixture script into `dir`; returns the script's error output on failure.
inline QString makeWorkbooks(const QString &dir)
{
    QProcess process;
    process.start(QString::fromLatin1(python()),
                  { QStringLiteral(RURODUR_SOURCE_DIR "/tests/protocoltable/make_fixtures.py"), dir });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString::fromUtf8(process.readAllStandardError()) + process.errorString();
    return QString();
}

// Every row of a sheet as openpyxl sees it, cells as texts (empty cell: empty text).
inline QList<QStringList> readWithOpenpyxl(const QString &path, const QString &sheet)
{
    static const char script[] = R"(
import json, sys
from openpyxl import load_workbook
ws = load_workbook(sys.argv[1])[sys.argv[2]]
rows = [["" if v is None else str(v) for v in row] for row in ws.iter_rows(values_only=True)]
sys.stdout.write(json.dumps(rows))
)";
    QProcess process;
    process.start(QString::fromLatin1(python()),
                  { QStringLiteral("-c"), QString::fromLatin1(script), path, sheet });
    QList<QStringList> rows;
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return rows;
    const QJsonArray array = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    for (const QJsonValue &row : array) {
        QStringList texts;
        const QJsonArray cells = row.toArray();
        for (const QJsonValue &cell : cells)
            texts.append(cell.toString());
        rows.append(texts);
    }
    return rows;
}

} // namespace tablefixture

#endif // TABLEFIXTURE_H
