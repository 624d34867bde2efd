#ifndef MYXLSX_H
#define MYXLSX_H

#include <QList>
#include <QObject>
#include <QStringList>

// Reads and writes the sheets of the protocol workbook as plain texts.
// Result codes: 0 success, -1 not an existing regular file ending in "xlsx",
// -2 no sheet of that name, -3 the workbook could not be written (the file
// stays as it was), -4 the workbook is damaged or too large to read.
// errorString, when given, receives the reason for an error (and for an
// empty sheet list from a file that could not be read): the file and what is
// wrong with it, e.g. "modbus.xlsx: no sheet named 'X'". It is cleared on
// success.
class MyXlsx : public QObject
{
    Q_OBJECT
public:
    explicit MyXlsx(QObject *parent = nullptr) : QObject(parent) {}

    // Cells a sheet may expand to in memory (header included).
    static constexpr qint64 MaxSheetCells = 4000000;

    static QStringList listSheets(const QString &path, QString *errorString = nullptr);
    static int readSheet(const QString &path, const QString &sheet, QStringList &header, QList<QStringList> &rows,
                         QString *errorString = nullptr);
    static int writeSheet(const QString &path, const QString &sheet, const QStringList &header,
                          const QList<QStringList> &rows, QString *errorString = nullptr);
};

#endif // MYXLSX_H
