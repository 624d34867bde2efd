#ifndef XLSXDOCUMENT_H
#define XLSXDOCUMENT_H

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QTextCodec;

#include "xlsxcellrange.h"
#include "xlsxpackage.h"
#include "xlsxparts.h"

namespace Xlsx {

// One .xlsx workbook opened by path. The package is read when the object is
// constructed; a sheet's cells are read when it is selected. Writes are kept
// in memory until save(), which patches only the selected sheet's XML and
// copies every other part of the package as it was.
class XlsxDocument
{
public:
    // Bounds against damaged or hostile files.
    static constexpr qint64 MaxPartSize = 64 * 1024 * 1024;  // decompressed bytes per part
    static constexpr int MaxEntries = 10000;                  // zip entries
    static constexpr int MaxSheetCells = 4000000;             // <c> elements in one sheet
    // More sheets than a tab bar can show: not a workbook a person reads.
    static constexpr int MaxSheets = 4096;                    // <sheet> elements

    explicit XlsxDocument(const QString &path);
    ~XlsxDocument();
    XlsxDocument(const XlsxDocument &) = delete;
    XlsxDocument &operator=(const XlsxDocument &) = delete;

    // False when the package or its workbook part could not be read.
    bool isLoaded() const { return m_loaded; }
    // Why the last operation failed: "<path>: <what is wrong>".
    QString errorString() const { return m_error; }

    // Worksheet names in workbook order; chartsheets and other kinds are left out.
    QStringList sheetNames() const;

    // ForEditing also keeps where every cell stands in the sheet's XML, so
    // save() need not read the sheet again; it costs memory in proportion to
    // the cells, so reading alone should not ask for it.
    enum SelectMode { ForReading, ForEditing };

    // Exact, case-sensitive lookup. False when there is no such sheet or its
    // part cannot be read (errorString() then says why).
    bool selectSheet(const QString &name, SelectMode mode = ForReading);
    QString currentSheet() const { return m_current; }

    // First/last row and column of the cells that hold a value; an empty
    // sheet gives an invalid (empty) range.
    CellRange dimension() const;

    // Rows and columns count from 1. Empty cells give an invalid QVariant.
    QVariant read(int row, int column) const;

    // Stores the value's text in the selected sheet. An empty text clears the
    // cell's value and keeps its style. False outside A1:XFD1048576 or when
    // no sheet is selected.
    bool write(int row, int column, const QVariant &value);

    // Writes the package back to its path through a temporary file that
    // replaces the original only when complete. On failure the original is
    // untouched and errorString() names the cause. A sheet stored in the same
    // part as another one is not saved: its edits would change both.
    bool save();

private:
    struct SheetEntry
    {
        QString name;
        QString part;
    };

    bool load();
    bool readPart(const QString &part, QByteArray *xml, QTextCodec **codec = nullptr);
    bool loadSharedStrings();
    bool fail(const QString &what);  // the reason is "<path>: <what>"
    bool packageFailed();            // the package's reason
    QString otherSheetOfPart(const QString &name) const;  // a sheet stored in name's part, if any
    const SheetCell *findCell(int row, int column) const;
    bool patchSheet(QHash<QString, QByteArray> *replaced, bool *formulaReplaced);
    QSet<QString> removableCalcChains(const QHash<QString, QByteArray> &replaced);
    bool dropCalcChains(const QSet<QString> &chains, QHash<QString, QByteArray> *replaced);
    const CellEdits &edits() const;

    QString m_path;
    bool m_loaded = false;
    QString m_error;

    Package m_package;
    QString m_contentTypesPart;
    QString m_workbookPart;
    QString m_workbookRelsPart;
    QString m_sharedStringsPart;
    QVector<Relationship> m_workbookRels;
    QVector<SheetEntry> m_sheets;
    QHash<QString, QString> m_sharingSheets;  // sheet -> an earlier sheet stored in the same part
    QStringList m_sharedStrings;
    bool m_sharedStringsLoaded = false;

    QString m_current;
    QString m_currentPart;
    QByteArray m_sheetXml;  // the selected sheet as read, UTF-8
    QTextCodec *m_sheetCodec = nullptr;
    QVector<SheetCell> m_cells;  // sorted by row, then column
    SheetLayout m_layout;
    bool m_hasLayout = false;
    // Writes come in key order as a rule; others are sorted in when the
    // edits are next looked at.
    mutable CellEdits m_edits;
    mutable bool m_editsSorted = true;
};

} // namespace Xlsx

using Xlsx::XlsxDocument;

#endif // XLSXDOCUMENT_H
