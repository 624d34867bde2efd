#include "xlsxparts.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

#include <QSet>
#include <QVarLengthArray>

#include "xlsxutil.h"

namespace Xlsx {

namespace {

using Span = XmlReader::Span;

bool finish(XmlReader &r, QString *error)
{
    // Whatever follows the root must be white space, comments or PIs.
    while (!r.atEnd())
        r.next();
    if (r.hasError()) {
        *error = QStringLiteral("XML error: %1").arg(r.errorString());
        return false;
    }
    return true;
}

// Moves to the root element and checks it.
bool readRoot(XmlReader &r, NsId ns, const char *local, QString *error)
{
    if (r.next() != XmlReader::StartElement)
        return finish(r, error);
    if (r.ns() == NsStrictMain || r.ns() == NsStrictDocRels) {
        *error = QStringLiteral("Strict Open XML workbooks are not supported");
        return false;
    }
    if (!r.is(ns, local)) {
        *error = QStringLiteral("unexpected root element %1").arg(r.localName());
        return false;
    }
    return true;
}

// Text of a <si> or <is>: plain <t>, or the <t> of each rich-text run; the
// phonetic runs (<rPh>) are a reading aid and not part of the text.
QString readRichText(XmlReader &r)
{
    QString text;
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "t")) {
            text += r.readText();
        } else if (r.is(NsMain, "r")) {
            while (r.next() == XmlReader::StartElement) {
                if (r.is(NsMain, "t"))
                    text += r.readText();
                else
                    r.skipElement();
            }
        } else {
            r.skipElement();
        }
    }
    return decodeEscapes(text);
}

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

bool parseRelationships(const QByteArray &xml, QVector<Relationship> *relationships, QString *error)
{
    relationships->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsPackageRels, "Relationships", error))
        return false;
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsPackageRels, "Relationship")) {
            Relationship rel;
            rel.id = r.attributeText("Id");
            rel.type = r.attributeText("Type");
            rel.target = r.attributeText("Target");
            rel.external = r.attributeText("TargetMode") == QLatin1String("External");
            relationships->append(rel);
        }
        r.skipElement();
    }
    return finish(r, error);
}

bool parseWorkbook(const QByteArray &xml, QVector<WorkbookSheet> *sheets, QString *error)
{
    sheets->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "workbook", error))
        return false;
    while (r.next() == XmlReader::StartElement) {
        if (!r.is(NsMain, "sheets")) {
            r.skipElement();
            continue;
        }
        while (r.next() == XmlReader::StartElement) {
            if (r.is(NsMain, "sheet")) {
                WorkbookSheet sheet;
                sheet.name = r.attributeText("name");
                if (const XmlReader::Attribute *id = r.attribute(NsDocRels, "id"))
                    sheet.relationshipId = r.text(id->value);
                sheets->append(sheet);
            }
            r.skipElement();
        }
    }
    return finish(r, error);
}

bool parseSharedStrings(const QByteArray &xml, QStringList *strings, QString *error)
{
    strings->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "sst", error))
        return false;
    // The count attributes are often wrong; the <si> elements are what counts.
    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "si"))
            strings->append(readRichText(r));
        else
            r.skipElement();
    }
    if (!finish(r, error)) {
        strings->clear();
        return false;
    }
    return true;
}

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
                    const bool textCell = info.type == CellType::Shared || info.type == CellType::Inline
                        || info.type == CellType::Formula;
                    const bool comparable = (info.formula || textCell || !info.hasV)
                        && (info.formula || textCell || !value.isValid());
                    layout->cells.push_back({cellStart, cellNameEnd, r.offset(), column, info.formulaStart,
                                             info.formulaEnd, info.sharedIndex, info.style, !info.ref.isNull(),
                                             info.sharedMaster, info.formula, comparable,
                                             comparable ? value.toString() : QString()});
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

namespace {

void appendReference(QByteArray &out, int column, const QByteArray &row)
{
    char letters[4];
    int n = 0;
    for (; column > 0; column = (column - 1) / 26)
        letters[n++] = char('A' + (column - 1) % 26);
    while (n > 0)
        out += letters[--n];
    out += row;
}

void appendText(QByteArray &out, const QString &text)
{
    // Plain text is encoded straight into out; the first character that needs
    // escaping sends the whole text the slow way.
    const int at = out.size();
    if (qint64(text.size()) * 3 < qint64(std::numeric_limits<int>::max() / 2 - at)) {
        out.resize(at + text.size() * 3);
        char *p = out.data() + at;
        bool plain = true;
        for (const QChar c : text) {
            const ushort u = c.unicode();
            if (u < 0x20 || u == '&' || u == '<' || u == '>' || u == '_' || u >= 0xD800) {
                plain = false;
                break;
            }
            if (u < 0x80) {
                *p++ = char(u);
            } else if (u < 0x800) {
                *p++ = char(0xC0 | (u >> 6));
                *p++ = char(0x80 | (u & 0x3F));
            } else {
                *p++ = char(0xE0 | (u >> 12));
                *p++ = char(0x80 | ((u >> 6) & 0x3F));
                *p++ = char(0x80 | (u & 0x3F));
            }
        }
        if (plain) {
            out.resize(int(p - out.constData()));
            return;
        }
        out.resize(at);
    }
    out += escapeText(encodeEscapes(text)).toUtf8();
}

class SheetWriter
{
public:
    SheetWriter(const QByteArray &xml, const QByteArray &prefix) : m_xml(xml), m_prefix(prefix)
    {
        m_out.reserve(xml.size() + xml.size() / 4 + 1024);
    }

    // Copies the source up to pos, then continues from resume.
    void copyTo(int pos) { copyTo(pos, pos); }
    void copyTo(int pos, int resume)
    {
        if (pos > m_pos)
            m_out.append(m_xml.constData() + m_pos, pos - m_pos);
        m_pos = qMax(m_pos, resume);
    }
    void copyRange(int from, int to) { m_out.append(m_xml.constData() + from, to - from); }
    QByteArray &out() { return m_out; }
    QByteArray result()
    {
        copyTo(m_xml.size());
        return m_out;
    }

    void cell(int column, const QByteArray &row, Span style, const QString &text)
    {
        m_out += '<';
        m_out += m_prefix;
        m_out += "c r=\"";
        appendReference(m_out, column, row);
        m_out += '"';
        if (!style.isNull()) {
            m_out += " s=\"";
            m_out.append(m_xml.constData() + style.start, style.length);
            m_out += '"';
        }
        if (text.isEmpty()) {
            m_out += "/>";
            return;
        }
        m_out += " t=\"inlineStr\"><";
        m_out += m_prefix;
        m_out += "is><";
        m_out += m_prefix;
        m_out += 't';
        // Excel trims the text of a <t> unless told to keep its white space.
        if (text.at(0).isSpace() || text.at(text.size() - 1).isSpace() || text.contains(QLatin1Char('\n'))
            || text.contains(QLatin1Char('\t')))
            m_out += " xml:space=\"preserve\"";
        m_out += '>';
        appendText(m_out, text);
        m_out += "</";
        m_out += m_prefix;
        m_out += "t></";
        m_out += m_prefix;
        m_out += "is></";
        m_out += m_prefix;
        m_out += "c>";
    }

    void newRow(int row, CellEdits::const_iterator first, CellEdits::const_iterator last)
    {
        bool any = false;
        for (auto e = first; e != last && !any; ++e)
            any = !e->text.isEmpty();
        if (!any)
            return;
        const QByteArray number = QByteArray::number(row);
        m_out += '<';
        m_out += m_prefix;
        m_out += "row r=\"";
        m_out += number;
        m_out += "\">";
        for (auto it = first; it != last; ++it) {
            if (!it->text.isEmpty())
                cell(keyColumn(it->key), number, Span(), it->text);
        }
        m_out += "</";
        m_out += m_prefix;
        m_out += "row>";
    }

private:
    const QByteArray &m_xml;
    QByteArray m_prefix;
    QByteArray m_out;
    int m_pos = 0;
};

const auto keyBefore = [](const CellEdit &edit, quint64 key) { return edit.key < key; };

// The edits of one row.
struct RowEdits
{
    CellEdits::const_iterator first;
    CellEdits::const_iterator last;
    bool isEmpty() const { return first == last; }
    const CellEdit *find(int column) const
    {
        const quint64 key = cellKey(keyRow(first->key), column);
        const auto it = std::lower_bound(first, last, key, keyBefore);
        return it != last && it->key == key ? &*it : nullptr;
    }
};

RowEdits rowEdits(const CellEdits &edits, int row)
{
    const auto first = std::lower_bound(edits.cbegin(), edits.cend(), cellKey(row, 0), keyBefore);
    return {first, std::lower_bound(first, edits.cend(), cellKey(row + 1, 0), keyBefore)};
}

} // namespace

bool patchWorksheet(const QByteArray &xml, const SheetLayout &layout, const CellEdits &edits,
                    const CellRange &usedRange, QByteArray *patched, bool *formulaReplaced, QString *error)
{
    *formulaReplaced = false;
    if (edits.empty()) {
        *patched = xml;
        return true;
    }
    if (layout.sheetDataStart < 0) {
        *error = QStringLiteral("the sheet has no sheetData element");
        return false;
    }
    const std::vector<SheetLayout::Row> &rows = layout.rows;
    const std::vector<SheetLayout::Cell> &cells = layout.cells;

    // What becomes of each edited cell. All of them are known before any row
    // is written: overwriting the anchor of a shared formula changes the
    // cells that share it, wherever they stand.
    enum Action : quint8 { Keep, Replace, Clear, Drop };
    std::vector<Action> actions(cells.size(), Keep);
    std::vector<bool> rowEdited(rows.size(), false);
    QSet<int> brokenShared;  // shared formulas whose anchor cell was overwritten
    for (size_t ri = 0; ri < rows.size(); ++ri) {
        const SheetLayout::Row &row = rows[ri];
        const RowEdits range = rowEdits(edits, row.number);
        if (range.isEmpty())
            continue;
        rowEdited[ri] = true;
        int lastEditedColumn = 0;
        QSet<int> editedColumns;  // only filled when the cells are out of order
        for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
            const SheetLayout::Cell &cell = cells[size_t(i)];
            const CellEdit *edit = range.find(cell.column);
            if (!edit)
                continue;
            bool duplicate = false;
            if (cell.column > lastEditedColumn && editedColumns.isEmpty()) {
                lastEditedColumn = cell.column;
            } else {
                if (editedColumns.isEmpty()) {
                    for (int k = row.firstCell; k < i; ++k) {
                        if (range.find(cells[size_t(k)].column))
                            editedColumns.insert(cells[size_t(k)].column);
                    }
                }
                duplicate = editedColumns.contains(cell.column);
                editedColumns.insert(cell.column);
            }
            if (duplicate) {
                actions[size_t(i)] = Drop;
            } else if (cell.comparable && edit->text == cell.text) {
                // Same text: a formula keeps computing it and a text cell
                // keeps its rich-text runs.
                actions[size_t(i)] = Keep;
            } else {
                actions[size_t(i)] = edit->text.isEmpty() ? Clear : Replace;
                if (cell.formula) {
                    *formulaReplaced = true;
                    if (cell.sharedMaster && cell.sharedIndex >= 0)
                        brokenShared.insert(cell.sharedIndex);
                }
            }
        }
    }

    const int colon = layout.sheetDataName.indexOf(':');
    SheetWriter w(xml, colon >= 0 ? layout.sheetDataName.left(colon + 1) : QByteArray());
    const XmlReader::Span dimensionRef = layout.dimensionRef;
    if (!dimensionRef.isNull()) {
        w.copyTo(dimensionRef.start, dimensionRef.start + dimensionRef.length);
        w.out() += usedRange.toString().toLatin1();
    }

    // Rows that exist get their edits; the others become new rows, each
    // placed before the first row with a higher number.
    QSet<int> existingRows;
    existingRows.reserve(int(rows.size()));
    for (const SheetLayout::Row &row : rows)
        existingRows.insert(row.number);
    QVector<int> newRows;
    for (auto it = edits.cbegin(); it != edits.cend();) {
        const int row = keyRow(it->key);
        if (!existingRows.contains(row))
            newRows.append(row);
        it = std::lower_bound(it, edits.cend(), cellKey(row + 1, 0), keyBefore);
    }
    const auto writeNewRow = [&](int row) {
        const RowEdits range = rowEdits(edits, row);
        w.newRow(row, range.first, range.last);
    };
    int nextNew = 0;
    if (layout.sheetDataEmpty) {
        if (newRows.isEmpty()) {
            *patched = w.result();
            return true;
        }
        // <sheetData/> opens up to take the rows.
        w.copyTo(layout.sheetDataTagEnd - 2, layout.sheetDataEnd);
        w.out() += '>';
        for (const int row : qAsConst(newRows))
            writeNewRow(row);
        w.out() += "</" + layout.sheetDataName + '>';
        *patched = w.result();
        return true;
    }

    const auto stripped = [&](const SheetLayout::Cell &cell) {
        return !cell.sharedMaster && cell.sharedIndex >= 0 && brokenShared.contains(cell.sharedIndex);
    };
    for (size_t ri = 0; ri < rows.size(); ++ri) {
        const SheetLayout::Row &row = rows[ri];
        if (nextNew < newRows.size() && newRows.at(nextNew) < row.number) {
            w.copyTo(row.start);
            while (nextNew < newRows.size() && newRows.at(nextNew) < row.number)
                writeNewRow(newRows.at(nextNew++));
        }

        if (!rowEdited[ri]) {
            // A new row before it would shift an implicit row number.
            if (!row.hasRef) {
                w.copyTo(row.nameEnd);
                w.out() += " r=\"" + QByteArray::number(row.number) + '"';
            }
            if (!brokenShared.isEmpty()) {
                for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
                    if (stripped(cells[size_t(i)]))
                        w.copyTo(cells[size_t(i)].formulaStart, cells[size_t(i)].formulaEnd);
                }
            }
            continue;
        }

        // The start tag as written, less its spans hint (the cells change),
        // with an explicit row number.
        const QByteArray number = QByteArray::number(row.number);
        const int tagBodyEnd = row.empty ? row.tagEnd - 2 : row.tagEnd - 1;
        if (row.spansStart >= 0) {
            w.copyTo(row.spansStart, row.spansEnd);
            w.copyTo(tagBodyEnd, row.end);
        } else {
            w.copyTo(tagBodyEnd, row.end);
        }
        if (!row.hasRef)
            w.out() += " r=\"" + number + '"';
        w.out() += '>';

        // Cells in file order, edits for missing cells merged in by column.
        QVarLengthArray<int, 32> existing;
        for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i)
            existing.append(cells[size_t(i)].column);
        std::sort(existing.begin(), existing.end());
        const RowEdits range = rowEdits(edits, row.number);
        auto next = range.first;
        const auto addUpTo = [&](int column) {
            for (; next != range.last && keyColumn(next->key) < column; ++next) {
                if (!next->text.isEmpty()
                    && !std::binary_search(existing.begin(), existing.end(), keyColumn(next->key)))
                    w.cell(keyColumn(next->key), number, Span(), next->text);
            }
        };
        for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
            const SheetLayout::Cell &cell = cells[size_t(i)];
            addUpTo(cell.column);
            switch (actions[size_t(i)]) {
            case Keep:
                w.copyRange(cell.start, cell.nameEnd);
                if (!cell.hasRef) {
                    w.out() += " r=\"";
                    appendReference(w.out(), cell.column, number);
                    w.out() += '"';
                }
                if (stripped(cell)) {
                    w.copyRange(cell.nameEnd, cell.formulaStart);
                    w.copyRange(cell.formulaEnd, cell.end);
                } else {
                    w.copyRange(cell.nameEnd, cell.end);
                }
                break;
            case Replace:
                w.cell(cell.column, number, cell.style, range.find(cell.column)->text);
                break;
            case Clear:
                if (!cell.style.isNull())
                    w.cell(cell.column, number, cell.style, QString());
                break;
            case Drop:
                break;
            }
        }
        addUpTo(MaxColumn + 1);
        for (const auto &other : row.others)
            w.copyRange(other.first, other.second);
        w.out() += "</";
        w.copyRange(row.start + 1, row.nameEnd);
        w.out() += '>';
    }

    if (nextNew < newRows.size()) {
        w.copyTo(xml.lastIndexOf('<', layout.sheetDataEnd - 1));
        while (nextNew < newRows.size())
            writeNewRow(newRows.at(nextNew++));
    }
    *patched = w.result();
    return true;
}

bool removeElements(const QByteArray &xml, NsId ns, const char *name, const char *attr,
                    const std::function<bool(const QString &)> &match, QByteArray *result, QString *error)
{
    XmlReader r(xml);
    QByteArray out;
    int pos = 0;
    while (!r.atEnd()) {
        if (r.next() != XmlReader::StartElement || !r.is(ns, name) || !match(r.attributeText(attr)))
            continue;
        const int start = r.tagStart();
        r.skipElement();
        out.append(xml.constData() + pos, start - pos);
        pos = r.offset();
    }
    if (!finish(r, error))
        return false;
    out.append(xml.constData() + pos, xml.size() - pos);
    *result = out;
    return true;
}

} // namespace Xlsx
