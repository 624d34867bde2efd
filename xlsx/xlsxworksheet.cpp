// Reading a worksheet: its cells, and with a layout where each of them stands.
#include "xlsxparts.h"

#include <algorithm>
#include <charconv>

#include <QSet>

#include "xlsxutil.h"

namespace Xlsx {

namespace {

using Span = XmlReader::Span;

enum class CellType : quint8 { Number, Shared, Inline, Formula, Boolean, Error, Date, Other };

struct CellInfo
{
    Span ref;
    Span style;
    CellType type = CellType::Number;
    bool hasV = false;
    Span plainV;        // the value's bytes when they needed no decoding
    QString v;          // otherwise the decoded value
    bool hasInline = false;
    QString inlineText;
    bool formula = false;
    bool sharedMaster = false;
    int sharedIndex = -1;
    int formulaStart = -1;
    int formulaEnd = -1;
};

CellType cellType(const XmlReader &r, const XmlReader::Attribute *t)
{
    if (!t)
        return CellType::Number;
    const Span v = t->value;
    if (r.equals(v, "s"))
        return CellType::Shared;
    if (r.equals(v, "n"))
        return CellType::Number;
    if (r.equals(v, "inlineStr"))
        return CellType::Inline;
    if (r.equals(v, "str"))
        return CellType::Formula;
    if (r.equals(v, "b"))
        return CellType::Boolean;
    if (r.equals(v, "e"))
        return CellType::Error;
    if (r.equals(v, "d"))
        return CellType::Date;
    return CellType::Other;
}

// The attributes of a <c> start tag; the first of each name counts.
void readCellStart(const XmlReader &r, CellInfo *cell)
{
    const XmlReader::Attribute *ref = nullptr;
    const XmlReader::Attribute *style = nullptr;
    const XmlReader::Attribute *type = nullptr;
    for (const XmlReader::Attribute &a : r.attributes()) {
        if (!a.prefix.isNull() || a.name.length != 1)
            continue;
        switch (r.data()[a.name.start]) {
        case 'r': ref = ref ? ref : &a; break;
        case 's': style = style ? style : &a; break;
        case 't': type = type ? type : &a; break;
        default: break;
        }
    }
    if (ref)
        cell->ref = ref->value;
    if (style)
        cell->style = style->value;
    cell->type = cellType(r, type);
}

// The children of a <c>, leaving the reader on its end tag. Without
// needValue an inline string is passed over rather than decoded.
void readCellBody(XmlReader &r, CellInfo *cell, bool needValue = true)
{
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "v")) {
            cell->v = r.readText(&cell->plainV);
            cell->hasV = true;
        } else if (r.is(NsMain, "is") && needValue) {
            cell->inlineText = readRichText(r);
            cell->hasInline = true;
        } else if (r.is(NsMain, "f")) {
            cell->formula = true;
            cell->formulaStart = r.tagStart();
            const XmlReader::Attribute *t = r.attribute("t");
            if (t && r.equals(t->value, "shared")) {
                bool ok = false;
                const int si = r.attributeText("si").toInt(&ok);
                if (ok && si >= 0)
                    cell->sharedIndex = si;
                cell->sharedMaster = !r.attributeText("ref").isEmpty();
            }
            r.skipElement();
            cell->formulaEnd = r.offset();
        } else {
            r.skipElement();
        }
    }
}

QString valueText(const XmlReader &r, const CellInfo &cell)
{
    return cell.plainV.isNull() ? cell.v : QString::fromUtf8(r.data() + cell.plainV.start, cell.plainV.length);
}

// A run of 1 to 9 ASCII digits, the usual spelling of row numbers and
// string indexes; anything else is left to QString's conversion.
bool plainNumber(const char *p, int n, int *value)
{
    if (n < 1 || n > 9)
        return false;
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const uchar c = uchar(p[i]);
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

inline bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

QVariant cellValue(const XmlReader &r, const CellInfo &cell, const QStringList &sharedStrings)
{
    switch (cell.type) {
    case CellType::Inline:
        if (cell.hasInline)
            return cell.inlineText;
        return cell.hasV ? QVariant(decodeEscapes(valueText(r, cell))) : QVariant();
    case CellType::Shared: {
        if (!cell.hasV)
            return QVariant();
        bool ok = false;
        int index = -1;
        if (!cell.plainV.isNull() && plainNumber(r.data() + cell.plainV.start, cell.plainV.length, &index))
            ok = true;
        else
            index = valueText(r, cell).trimmed().toInt(&ok);
        // A missing sharedStrings part or a bad index leaves the cell empty.
        if (!ok || index < 0 || index >= sharedStrings.size())
            return QVariant();
        return sharedStrings.at(index);
    }
    case CellType::Formula:
        return cell.hasV ? QVariant(decodeEscapes(valueText(r, cell))) : QVariant();
    case CellType::Boolean: {
        const QString v = valueText(r, cell).trimmed();
        if (v == QLatin1String("1") || v == QLatin1String("true"))
            return true;
        if (v == QLatin1String("0") || v == QLatin1String("false"))
            return false;
        return QVariant();
    }
    case CellType::Error:
    case CellType::Date:
    case CellType::Other:
        return cell.hasV ? QVariant(valueText(r, cell)) : QVariant();
    case CellType::Number:
        break;
    }
    if (!cell.hasV)
        return QVariant();
    if (!cell.plainV.isNull()) {
        const char *begin = r.data() + cell.plainV.start;
        const char *end = begin + cell.plainV.length;
        while (begin < end && isAsciiSpace(*begin))
            ++begin;
        while (end > begin && isAsciiSpace(end[-1]))
            --end;
        if (begin == end)
            return QVariant();
        double number = 0;
        const auto result = std::from_chars(begin, end, number);
        if (result.ec == std::errc() && result.ptr == end)
            return number;
        return QString::fromUtf8(begin, int(end - begin));
    }
    const QString v = cell.v.trimmed();
    if (v.isEmpty())
        return QVariant();
    bool ok = false;
    const double number = v.toDouble(&ok);
    return ok ? QVariant(number) : QVariant(cell.v);
}

bool holdsValue(const QVariant &value)
{
    return value.isValid() && !(value.type() == QVariant::String && value.toString().isEmpty());
}

bool readRowNumber(const XmlReader &r, int *row, bool *explicitRow, QSet<int> *seen, QString *error)
{
    const XmlReader::Attribute *attr = r.attribute("r");
    *explicitRow = attr != nullptr;
    QString given;
    if (!attr) {
        ++*row;
    } else if (!plainNumber(r.data() + attr->value.start, attr->value.length, row)) {
        given = QString::fromUtf8(r.raw(attr->value));
        bool ok = false;
        *row = given.toInt(&ok);
        if (!ok)
            *row = 0;
    }
    if (*row < 1 || *row > MaxRow) {
        if (*explicitRow)
            given = QString::fromUtf8(r.raw(attr->value));
        *error = QStringLiteral("row number %1 outside 1..%2 at line %3")
                     .arg(*explicitRow ? given : QString::number(*row))
                     .arg(MaxRow)
                     .arg(r.lineAt(r.tagStart()));
        return false;
    }
    if (seen->contains(*row)) {
        *error = QStringLiteral("row %1 appears twice").arg(*row);
        return false;
    }
    seen->insert(*row);
    return true;
}

bool cellPosition(const XmlReader &r, const CellInfo &cell, int rowNumber, int *row, int *column, QString *error)
{
    if (cell.ref.isNull()) {
        *row = rowNumber;
        ++*column;
        if (*column <= MaxColumn)
            return true;
        *error = QStringLiteral("more than %1 cells in row %2").arg(MaxColumn).arg(rowNumber);
        return false;
    }
    if (!parseCellReference(r.data() + cell.ref.start, cell.ref.length, row, column)) {
        *error = QStringLiteral("cell reference \"%1\" outside A1:XFD1048576").arg(QString::fromUtf8(r.raw(cell.ref)));
        return false;
    }
    // Excel refuses such a file too; reading and patching must agree on
    // where every cell is.
    if (*row != rowNumber) {
        *error = QStringLiteral("cell %1 stands in row %2").arg(QString::fromUtf8(r.raw(cell.ref))).arg(rowNumber);
        return false;
    }
    return true;
}


} // namespace

bool parseWorksheet(const QByteArray &xml, const QStringList &sharedStrings, int maxCells, QVector<SheetCell> *cells,
                    QString *error, SheetLayout *layout)
{
    cells->clear();
    if (layout)
        *layout = SheetLayout();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "worksheet", error))
        return false;
    cells->reserve(qMin(xml.size() / 32, maxCells));
    if (layout)
        layout->cells.reserve(size_t(qMin(xml.size() / 32, maxCells)));
    int cellCount = 0;
    bool sorted = true;
    quint64 lastKey = 0;
    bool sheetDataSeen = false;
    while (r.next() == XmlReader::StartElement) {
        if (layout && !sheetDataSeen && r.is(NsMain, "dimension")) {
            if (const XmlReader::Attribute *ref = r.attribute("ref"))
                layout->dimensionRef = ref->value;
        }
        if (!r.is(NsMain, "sheetData")) {
            r.skipElement();
            continue;
        }
        if (sheetDataSeen) {
            *error = QStringLiteral("more than one sheetData element");
            return false;
        }
        sheetDataSeen = true;
        if (layout) {
            layout->sheetDataStart = r.tagStart();
            layout->sheetDataTagEnd = r.tagEnd();
            layout->sheetDataName = r.qualifiedName();
            layout->sheetDataEmpty = r.isEmptyElement();
        }
        int rowNumber = 0;
        QSet<int> seenRows;
        while (r.next() == XmlReader::StartElement) {
            if (!r.is(NsMain, "row")) {
                r.skipElement();
                continue;
            }
            SheetLayout::Row row;
            if (layout) {
                row.start = r.tagStart();
                row.tagEnd = r.tagEnd();
                row.nameEnd = row.start + 1 + r.qualifiedNameLength();
                row.empty = r.isEmptyElement();
                row.spansStart = row.spansEnd = -1;
                if (const XmlReader::Attribute *spans = r.attribute("spans")) {
                    row.spansStart = spans->start;
                    row.spansEnd = spans->end;
                }
                row.firstCell = int(layout->cells.size());
            }
            bool explicitRow = false;
            if (!readRowNumber(r, &rowNumber, &explicitRow, &seenRows, error))
                return false;
            int column = 0;
            while (r.next() == XmlReader::StartElement) {
                if (!r.is(NsMain, "c")) {
                    const int start = r.tagStart();
                    r.skipElement();
                    if (layout)
                        row.others.append({start, r.offset()});
                    continue;
                }
                if (++cellCount > maxCells) {
                    *error = QStringLiteral("more than %1 cells in the sheet").arg(maxCells);
                    return false;
                }
                const int cellStart = r.tagStart();
                const int cellNameEnd = cellStart + 1 + r.qualifiedNameLength();
                CellInfo info;
                readCellStart(r, &info);
                int row = 0;
                if (!cellPosition(r, info, rowNumber, &row, &column, error))
                    return false;
                readCellBody(r, &info);
                const QVariant value = cellValue(r, info, sharedStrings);
                if (layout) {
                    const bool number = info.type == CellType::Number && value.type() == QVariant::Double;
                    layout->cells.push_back({cellStart, cellNameEnd, r.offset(), column, info.formulaStart,
                                             info.formulaEnd, info.sharedIndex, info.style, !info.ref.isNull(),
                                             info.sharedMaster, info.formula, number, value.toString()});
                }
                if (!holdsValue(value))
                    continue;
                const quint64 key = cellKey(row, column);
                if (!cells->isEmpty() && key <= lastKey)
                    sorted = false;
                lastKey = key;
                cells->append(SheetCell{row, column, value, info.formula});
            }
            if (layout) {
                row.end = r.offset();
                row.number = rowNumber;
                row.hasRef = explicitRow;
                row.cellCount = int(layout->cells.size()) - row.firstCell;
                layout->rows.push_back(std::move(row));
            }
        }
        if (layout)
            layout->sheetDataEnd = r.offset();
    }
    if (!finish(r, error)) {
        cells->clear();
        return false;
    }
    if (!sorted) {
        std::stable_sort(cells->begin(), cells->end(), [](const SheetCell &a, const SheetCell &b) {
            return cellKey(a.row, a.column) < cellKey(b.row, b.column);
        });
        // Keep the last of duplicates, as a reader going through the file would.
        QVector<SheetCell> unique;
        unique.reserve(cells->size());
        for (const SheetCell &c : qAsConst(*cells)) {
            if (!unique.isEmpty() && unique.last().row == c.row && unique.last().column == c.column)
                unique.last() = c;
            else
                unique.append(c);
        }
        cells->swap(unique);
    }
    return true;
}

} // namespace Xlsx
