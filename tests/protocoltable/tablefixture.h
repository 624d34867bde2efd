#ifndef TABLEFIXTURE_H
#define TABLEFIXTURE_H

#include "protocoltable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>

// Shared by the protocol table suites: fixture workbooks written by openpyxl (see
// make_fixtures.py), sheets read back by openpyxl, and sheets given to the model as texts.
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

// Holding registers from `start` with `values`, as a reply brings them.
inline QModbusDataUnit registers(int start, const QVector<quint16> &values)
{
    return QModbusDataUnit(QModbusDataUnit::HoldingRegisters, start, values);
}

// The six titles of a protocol sheet, one per role and a free one.
inline const QStringList usualTitles = { "地址", "名称", "16进制", "10进制", "显示", "JSON解析" };

// `count` rows of `columns` cells; cell (r, c) is "r,c".
inline QList<QStringList> grid(int count, int columns)
{
    QList<QStringList> rows;
    for (int r = 0; r < count; ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << QStringLiteral("%1,%2").arg(r).arg(c);
        rows << row;
    }
    return rows;
}

// A sheet of the usual titles whose rule column holds `rules`, one row each.
inline void setRules(ProtocolTable &table, const QStringList &rules)
{
    QList<QStringList> rows;
    for (int r = 0; r < rules.size(); ++r)
        rows << QStringList({ QString::number(r), QStringLiteral("r%1").arg(r), "", "", "", rules.at(r) });
    table.setSheet(usualTitles, rows);
}

} // namespace tablefixture

#endif // TABLEFIXTURE_H
