#ifndef XLSXPARTS_H
#define XLSXPARTS_H

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include "xlsxcellrange.h"
#include "xlsxxmlreader.h"

namespace Xlsx {

struct Relationship
{
    QString id;
    QString type;
    QString target;
    bool external = false;
};

struct WorkbookSheet
{
    QString name;
    QString relationshipId;
};

struct SheetCell
{
    int row;
    int column;
    QVariant value;
    bool formula;
};

// Cell positions as one sortable key, row << 16 | column (columns stop at 16384).
inline quint64 cellKey(int row, int column) { return (quint64(row) << 16) | quint64(column); }
inline int keyRow(quint64 key) { return int(key >> 16); }
inline int keyColumn(quint64 key) { return int(key & 0xFFFF); }

// A cell's new text. Edits are handed around sorted by key, one per cell.
struct CellEdit
{
    quint64 key;
    QString text;
};
using CellEdits = std::vector<CellEdit>;

// Where the pieces of a worksheet stand in its XML, byte offsets as read.
// Patching from it saves reading the sheet a second time.
struct SheetLayout
{
    struct Cell
    {
        int start;
        int nameEnd;
        int end;
        int column;
        int formulaStart;
        int formulaEnd;
        int sharedIndex;
        XmlReader::Span style;  // as written in the file
        bool hasRef;
        bool sharedMaster;
        bool formula;
        bool number;      // of the numeric type, with a value that reads as a number
        QString text;     // its value's text, as reading gives it
    };
    struct Row
    {
        int start;
        int nameEnd;
        int tagEnd;
        int end;
        int number;
        bool hasRef;
        bool empty;
        int spansStart;  // the spans="" hint, dropped when the row changes
        int spansEnd;
        int firstCell;
        int cellCount;
        QVector<QPair<int, int>> others;  // non-cell children, kept after the cells
    };

    std::vector<Row> rows;
    std::vector<Cell> cells;  // in file order
    XmlReader::Span dimensionRef;
    int sheetDataStart = -1;
    int sheetDataTagEnd = -1;
    int sheetDataEnd = -1;
    QByteArray sheetDataName;
    bool sheetDataEmpty = false;
};

// Steps shared by the part parsers. readRoot moves to the root element and
// checks its kind; finish reads to the end, so that whatever follows the root
// is checked too; readRichText gives the text of an <si> or <is>.
bool readRoot(XmlReader &r, NsId ns, const char *local, QString *error);
bool finish(XmlReader &r, QString *error);
QString readRichText(XmlReader &r);

// Parts are UTF-8 (see toUtf8Xml). Every parser returns false with *error set on malformed XML, a DTD, the
// Strict OOXML namespace, or a root element of the wrong kind.
bool parseRelationships(const QByteArray &xml, QVector<Relationship> *relationships, QString *error);
// More than maxSheets <sheet> elements is an error.
bool parseWorkbook(const QByteArray &xml, int maxSheets, QVector<WorkbookSheet> *sheets, QString *error);
bool parseSharedStrings(const QByteArray &xml, QStringList *strings, QString *error);

// The cells of a worksheet that hold a value, sorted by row and column; a
// later duplicate of a cell replaces the earlier one. With layout given it
// also receives where every row and cell stands.
bool parseWorksheet(const QByteArray &xml, const QStringList &sharedStrings, int maxCells,
                    QVector<SheetCell> *cells, QString *error, SheetLayout *layout = nullptr);

// The worksheet XML with edits applied (see XlsxDocument::write); everything
// not edited is copied byte for byte. layout is the one parseWorksheet gave
// for this xml. *formulaReplaced tells whether a formula cell lost its formula.
bool patchWorksheet(const QByteArray &xml, const SheetLayout &layout, const CellEdits &edits,
                    const CellRange &usedRange, QByteArray *patched, bool *formulaReplaced, QString *error);

// Drops the elements of the given namespace and name that match (the reader
// stands on the element's start tag); every other byte stays.
bool removeElements(const QByteArray &xml, NsId ns, const char *name, const std::function<bool(const XmlReader &)> &match,
                    QByteArray *result, QString *error);

} // namespace Xlsx

#endif // XLSXPARTS_H
