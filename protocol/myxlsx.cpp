#include "myxlsx.h"

#include <QDebug>
#include <QFileInfo>

#include "xlsxdocument.h"

namespace {

bool isWorkbookFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.suffix() == QLatin1String("xlsx");
}

// Opens the workbook and selects the sheet; 0, -2 or -4 as for readSheet.
int openSheet(XlsxDocument &doc, const QString &sheet, XlsxDocument::SelectMode mode)
{
    if (!doc.isLoaded()) {
        qDebug() << "workbook unreadable:" << doc.errorString();
        return -4;
    }
    if (!doc.sheetNames().contains(sheet))
        return -2;
    if (!doc.selectSheet(sheet, mode)) {
        qDebug() << "sheet unreadable:" << doc.errorString();
        return -4;
    }
    return 0;
}

} // namespace

QStringList MyXlsx::listSheets(const QString &path, QString *errorString)
{
    Q_UNUSED(errorString)
    if (!isWorkbookFile(path))
        return {};
    XlsxDocument doc(path);
    return doc.sheetNames();
}

int MyXlsx::readSheet(const QString &path, const QString &sheet, QStringList &header,
                      QList<QStringList> &rows, QString *errorString)
{
    Q_UNUSED(errorString)
    if (!isWorkbookFile(path))
        return -1;
    XlsxDocument doc(path);
    const int opened = openSheet(doc, sheet, XlsxDocument::ForReading);
    if (opened != 0)
        return opened;

    // Only the size of the used range counts; reading always starts at A1.
    const Xlsx::CellRange range = doc.dimension();
    const int dataRows = range.lastRow - range.firstRow;
    const int columns = range.lastColumn - range.firstColumn + 1;
    if (qint64(qMax(columns, 0)) * (qMax(dataRows, 0) + 1) > MaxSheetCells) {
        qDebug() << "sheet too large:" << sheet << columns << "x" << dataRows + 1;
        return -4;
    }

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
    return 0;
}

int MyXlsx::writeSheet(const QString &path, const QString &sheet, const QStringList &header,
                       const QList<QStringList> &rows, QString *errorString)
{
    Q_UNUSED(errorString)
    if (!isWorkbookFile(path))
        return -1;
    XlsxDocument doc(path);
    const int opened = openSheet(doc, sheet, XlsxDocument::ForEditing);
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
    if (!fits || !doc.save()) {
        qDebug() << "workbook not written:" << doc.errorString();
        return -3;
    }
    return 0;
}
