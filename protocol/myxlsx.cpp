#include "myxlsx.h"

#include <QFileInfo>

#include "logging.h"
#include "xlsxdocument.h"

namespace {

// Empty when path names an existing regular file whose suffix is "xlsx";
// otherwise why it is not a protocol workbook.
QString notAWorkbook(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(path);
    if (!info.isFile())
        return QStringLiteral("%1: not a regular file").arg(path);
    if (info.suffix() != QLatin1String("xlsx"))
        return QStringLiteral("%1: not an .xlsx file").arg(path);
    return QString();
}

// Hands the reason to the caller and the log; returns code.
int failed(int code, const QString &reason, QString *errorString)
{
    qCDebug(lcXlsx).noquote() << reason;
    if (errorString)
        *errorString = reason;
    return code;
}

int succeeded(QString *errorString)
{
    if (errorString)
        errorString->clear();
    return 0;
}

// Opens the workbook and selects the sheet; 0, -2 or -4 as for readSheet.
int openSheet(XlsxDocument &doc, const QString &sheet, XlsxDocument::SelectMode mode, QString *errorString)
{
    if (!doc.isLoaded())
        return failed(-4, doc.errorString(), errorString);
    if (!doc.selectSheet(sheet, mode))
        return failed(doc.sheetNames().contains(sheet) ? -4 : -2, doc.errorString(), errorString);
    return 0;
}

} // namespace

QStringList MyXlsx::listSheets(const QString &path, QString *errorString)
{
    const QString notWorkbook = notAWorkbook(path);
    if (!notWorkbook.isEmpty()) {
        failed(-1, notWorkbook, errorString);
        return {};
    }
    XlsxDocument doc(path);
    if (!doc.isLoaded()) {
        failed(-4, doc.errorString(), errorString);
        return {};
    }
    succeeded(errorString);
    return doc.sheetNames();
}

int MyXlsx::readSheet(const QString &path, const QString &sheet, QStringList &header, QList<QStringList> &rows,
                      QString *errorString)
{
    const QString notWorkbook = notAWorkbook(path);
    if (!notWorkbook.isEmpty())
        return failed(-1, notWorkbook, errorString);
    XlsxDocument doc(path);
    const int opened = openSheet(doc, sheet, XlsxDocument::ForReading, errorString);
    if (opened != 0)
        return opened;

    // Only the size of the used range counts; reading always starts at A1.
    const Xlsx::CellRange range = doc.dimension();
    const int dataRows = range.lastRow - range.firstRow;
    const int columns = range.lastColumn - range.firstColumn + 1;
    if (qint64(qMax(columns, 0)) * (qMax(dataRows, 0) + 1) > MaxSheetCells)
        return failed(-4, QStringLiteral("%1: sheet '%2' is too large to read (%3 columns, %4 rows)")
                              .arg(path, sheet).arg(columns).arg(dataRows + 1),
                      errorString);

    QStringList newHeader;
    for (int column = 1; column <= columns; ++column)
        newHeader.append(doc.read(1, column).toString());
    QList<QStringList> newRows;
    if (dataRows >= 1) {
        newRows.reserve(dataRows);
        for (int row = 2; row <= dataRows + 1; ++row) {
            QStringList texts;
            texts.reserve(qMax(columns, 0));
            for (int column = 1; column <= columns; ++column)
                texts.append(doc.read(row, column).toString());
            newRows.append(texts);
        }
    }
    header = newHeader;
    rows = newRows;
    return succeeded(errorString);
}

int MyXlsx::writeSheet(const QString &path, const QString &sheet, const QStringList &header,
                       const QList<QStringList> &rows, QString *errorString)
{
    const QString notWorkbook = notAWorkbook(path);
    if (!notWorkbook.isEmpty())
        return failed(-1, notWorkbook, errorString);
    XlsxDocument doc(path);
    const int opened = openSheet(doc, sheet, XlsxDocument::ForEditing, errorString);
    if (opened != 0)
        return opened;

    // Texts that do not fit a sheet leave the file alone.
    bool fits = true;
    for (int k = 0; fits && k < header.size(); ++k)
        fits = doc.write(1, k + 1, header.at(k));
    for (int j = 0; fits && j < rows.size(); ++j) {
        const QStringList &texts = rows.at(j);
        for (int k = 0; fits && k < texts.size(); ++k)
            fits = doc.write(j + 2, k + 1, texts.at(k));
    }
    if (!fits || !doc.save())
        return failed(-3, doc.errorString(), errorString);
    return succeeded(errorString);
}
