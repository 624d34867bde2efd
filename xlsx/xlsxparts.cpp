#include "xlsxparts.h"

#include <algorithm>
#include <charconv>
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

// The attributes of a <c> start tag.
void readCellStart(const XmlReader &r, CellInfo *cell)
{
    if (const XmlReader::Attribute *ref = r.attribute("r"))
        cell->ref = ref->value;
    if (const XmlReader::Attribute *s = r.attribute("s"))
        cell->style = s->value;
    cell->type = cellType(r, r.attribute("t"));
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
    return cell.plainV.isNull() ? cell.v : QString::fromUtf8(r.raw(cell.plainV));
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
        const int index = valueText(r, cell).trimmed().toInt(&ok);
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
        const QByteArray bytes = r.raw(cell.plainV).trimmed();
        if (bytes.isEmpty())
            return QVariant();
        double number = 0;
        const char *end = bytes.constData() + bytes.size();
        const auto result = std::from_chars(bytes.constData(), end, number);
        if (result.ec == std::errc() && result.ptr == end)
            return number;
        return QString::fromUtf8(bytes);
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
    } else {
        given = QString::fromUtf8(r.raw(attr->value));
        bool ok = false;
        *row = given.toInt(&ok);
        if (!ok)
            *row = 0;
    }
    if (*row < 1 || *row > MaxRow) {
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
    const QByteArray ref = r.raw(cell.ref);
    if (!parseCellReference(ref.constData(), ref.size(), row, column)) {
        *error = QStringLiteral("cell reference \"%1\" outside A1:XFD1048576").arg(QString::fromUtf8(ref));
        return false;
    }
    // Excel refuses such a file too; reading and patching must agree on
    // where every cell is.
    if (*row != rowNumber) {
        *error = QStringLiteral("cell %1 stands in row %2").arg(QString::fromUtf8(ref)).arg(rowNumber);
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
                    QString *error)
{
    cells->clear();
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "worksheet", error))
        return false;
    cells->reserve(qMin(xml.size() / 32, maxCells));
    int cellCount = 0;
    bool sorted = true;
    quint64 lastKey = 0;
    bool sheetDataSeen = false;
    while (r.next() == XmlReader::StartElement) {
        if (!r.is(NsMain, "sheetData")) {
            r.skipElement();
            continue;
        }
        if (sheetDataSeen) {
            *error = QStringLiteral("more than one sheetData element");
            return false;
        }
        sheetDataSeen = true;
        int rowNumber = 0;
        QSet<int> seenRows;
        while (r.next() == XmlReader::StartElement) {
            if (!r.is(NsMain, "row")) {
                r.skipElement();
                continue;
            }
            bool explicitRow = false;
            if (!readRowNumber(r, &rowNumber, &explicitRow, &seenRows, error))
                return false;
            int column = 0;
            while (r.next() == XmlReader::StartElement) {
                if (!r.is(NsMain, "c")) {
                    r.skipElement();
                    continue;
                }
                if (++cellCount > maxCells) {
                    *error = QStringLiteral("more than %1 cells in the sheet").arg(maxCells);
                    return false;
                }
                CellInfo info;
                readCellStart(r, &info);
                int row = 0;
                if (!cellPosition(r, info, rowNumber, &row, &column, error))
                    return false;
                readCellBody(r, &info);
                const QVariant value = cellValue(r, info, sharedStrings);
                if (!holdsValue(value))
                    continue;
                const quint64 key = cellKey(row, column);
                if (!cells->isEmpty() && key <= lastKey)
                    sorted = false;
                lastKey = key;
                cells->append(SheetCell{row, column, value, info.formula});
            }
        }
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

struct CellSpan
{
    int start = 0;
    int nameEnd = 0;
    int end = 0;
    int column = 0;
    bool hasRef = false;
    int formulaStart = -1;
    int formulaEnd = -1;
    int sharedIndex = -1;
    bool sharedMaster = false;
    enum Action : quint8 { Keep, Replace, Clear, Drop } action = Keep;
    Span style;  // as written in the file
    const QString *text = nullptr;  // the edit, owned by the edits map
};

struct RowSpan
{
    int start = 0;
    int nameEnd = 0;
    int tagEnd = 0;
    int end = 0;
    int number = 0;
    bool hasRef = false;
    bool edited = false;
    bool empty = false;
    int qnameLength = 0;
    int spansStart = -1;  // the spans="" hint, dropped when the row changes
    int spansEnd = -1;
    int firstCell = 0;
    int cellCount = 0;
    QVector<QPair<int, int>> others;  // non-cell children, kept after the cells
};

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
    bool plain = true;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == '&' || u == '<' || u == '>' || u == '_' || u >= 0xD800) {
            plain = false;
            break;
        }
    }
    out += plain ? text.toUtf8() : escapeText(encodeEscapes(text)).toUtf8();
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

    void newRow(int row, const QMap<quint64, QString> &edits)
    {
        const QByteArray number = QByteArray::number(row);
        auto it = edits.lowerBound(cellKey(row, 0));
        bool any = false;
        for (auto e = it; e != edits.cend() && keyRow(e.key()) == row && !any; ++e)
            any = !e.value().isEmpty();
        if (!any)
            return;
        m_out += '<';
        m_out += m_prefix;
        m_out += "row r=\"";
        m_out += number;
        m_out += "\">";
        for (; it != edits.cend() && keyRow(it.key()) == row; ++it) {
            if (!it.value().isEmpty())
                cell(keyColumn(it.key()), number, Span(), it.value());
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

} // namespace

bool patchWorksheet(const QByteArray &xml, const QStringList &sharedStrings, const QMap<quint64, QString> &edits,
                    const CellRange &usedRange, QByteArray *patched, bool *formulaReplaced, QString *error)
{
    *formulaReplaced = false;
    if (edits.isEmpty()) {
        *patched = xml;
        return true;
    }
    XmlReader r(xml);
    if (!readRoot(r, NsMain, "worksheet", error))
        return false;

    QVector<RowSpan> rows;
    std::vector<CellSpan> cells;
    QSet<int> brokenShared;  // shared formulas whose anchor cell was overwritten
    Span dimensionRef;
    int sheetDataStart = -1, sheetDataTagEnd = -1, sheetDataEnd = -1;
    QByteArray sheetDataName;
    bool sheetDataEmpty = false;

    while (r.next() == XmlReader::StartElement) {
        if (r.is(NsMain, "dimension") && sheetDataStart < 0) {
            if (const XmlReader::Attribute *ref = r.attribute("ref"))
                dimensionRef = ref->value;
            r.skipElement();
            continue;
        }
        if (!r.is(NsMain, "sheetData")) {
            r.skipElement();
            continue;
        }
        if (sheetDataStart >= 0) {
            *error = QStringLiteral("more than one sheetData element");
            return false;
        }
        sheetDataStart = r.tagStart();
        sheetDataTagEnd = r.tagEnd();
        sheetDataName = r.qualifiedName();
        sheetDataEmpty = r.isEmptyElement();
        int rowNumber = 0;
        QSet<int> seenRows;
        while (r.next() == XmlReader::StartElement) {
            if (!r.is(NsMain, "row")) {
                r.skipElement();
                continue;
            }
            RowSpan row;
            row.start = r.tagStart();
            row.tagEnd = r.tagEnd();
            row.qnameLength = r.qualifiedNameLength();
            row.nameEnd = row.start + 1 + row.qnameLength;
            row.empty = r.isEmptyElement();
            if (!readRowNumber(r, &rowNumber, &row.hasRef, &seenRows, error))
                return false;
            row.number = rowNumber;
            const auto firstEdit = edits.lowerBound(cellKey(rowNumber, 0));
            row.edited = firstEdit != edits.cend() && keyRow(firstEdit.key()) == rowNumber;
            int lastEditedColumn = 0;
            QSet<int> editedColumns;  // only filled when the cells are out of order
            if (row.edited) {
                if (const XmlReader::Attribute *spans = r.attribute("spans")) {
                    row.spansStart = spans->start;
                    row.spansEnd = spans->end;
                }
            }
            row.firstCell = int(cells.size());
            int column = 0;
            while (r.next() == XmlReader::StartElement) {
                if (!r.is(NsMain, "c")) {
                    const int start = r.tagStart();
                    r.skipElement();
                    row.others.append({start, r.offset()});
                    continue;
                }
                CellSpan cell;
                cell.start = r.tagStart();
                cell.nameEnd = cell.start + 1 + r.qualifiedNameLength();
                CellInfo info;
                readCellStart(r, &info);
                int cellRow = 0;
                if (!cellPosition(r, info, rowNumber, &cellRow, &column, error))
                    return false;
                const auto edit = row.edited ? edits.constFind(cellKey(rowNumber, column)) : edits.cend();
                readCellBody(r, &info, edit != edits.cend());
                cell.end = r.offset();
                cell.column = column;
                cell.hasRef = !info.ref.isNull();
                cell.formulaStart = info.formulaStart;
                cell.formulaEnd = info.formulaEnd;
                cell.sharedIndex = info.sharedIndex;
                cell.sharedMaster = info.sharedMaster;
                if (row.edited) {
                    if (edit != edits.cend()) {
                        bool duplicate = false;
                        if (column > lastEditedColumn && editedColumns.isEmpty()) {
                            lastEditedColumn = column;
                        } else {
                            if (editedColumns.isEmpty()) {
                                for (int i = row.firstCell; i < int(cells.size()); ++i) {
                                    if (cells.at(i).text)
                                        editedColumns.insert(cells.at(i).column);
                                }
                            }
                            duplicate = editedColumns.contains(column);
                            editedColumns.insert(column);
                        }
                        const bool textCell = info.type == CellType::Shared || info.type == CellType::Inline
                            || info.type == CellType::Formula;
                        bool same = false;
                        if (!duplicate && (info.formula || textCell || !info.hasV)) {
                            const QVariant value = cellValue(r, info, sharedStrings);
                            same = (info.formula || textCell || !value.isValid()) && *edit == value.toString();
                        }
                        cell.text = &*edit;
                        if (duplicate) {
                            cell.action = CellSpan::Drop;
                        } else if (same) {
                            // Same text: a formula keeps computing it and a
                            // text cell keeps its rich-text runs.
                            cell.action = CellSpan::Keep;
                        } else {
                            cell.action = edit->isEmpty() ? CellSpan::Clear : CellSpan::Replace;
                            cell.style = info.style;
                            if (info.formula) {
                                *formulaReplaced = true;
                                if (info.sharedMaster && info.sharedIndex >= 0)
                                    brokenShared.insert(info.sharedIndex);
                            }
                        }
                    }
                }
                cells.push_back(cell);
            }
            row.end = r.offset();
            row.cellCount = int(cells.size()) - row.firstCell;
            rows.append(row);
        }
        sheetDataEnd = r.offset();
    }
    if (!finish(r, error))
        return false;
    if (sheetDataStart < 0) {
        *error = QStringLiteral("the sheet has no sheetData element");
        return false;
    }

    const int colon = sheetDataName.indexOf(':');
    SheetWriter w(xml, colon >= 0 ? sheetDataName.left(colon + 1) : QByteArray());
    if (!dimensionRef.isNull()) {
        w.copyTo(dimensionRef.start, dimensionRef.start + dimensionRef.length);
        w.out() += usedRange.toString().toLatin1();
    }

    // Rows that exist get their edits; the others become new rows, each
    // placed before the first row with a higher number.
    QSet<int> existingRows;
    for (const RowSpan &row : qAsConst(rows))
        existingRows.insert(row.number);
    QVector<int> newRows;
    for (auto it = edits.cbegin(); it != edits.cend(); it = edits.lowerBound(cellKey(keyRow(it.key()) + 1, 0))) {
        if (!existingRows.contains(keyRow(it.key())))
            newRows.append(keyRow(it.key()));
    }
    int nextNew = 0;
    if (sheetDataEmpty) {
        if (newRows.isEmpty()) {
            *patched = w.result();
            return true;
        }
        // <sheetData/> opens up to take the rows.
        w.copyTo(sheetDataTagEnd - 2, sheetDataEnd);
        w.out() += '>';
        for (const int row : qAsConst(newRows))
            w.newRow(row, edits);
        w.out() += "</" + sheetDataName + '>';
        *patched = w.result();
        return true;
    }

    for (const RowSpan &row : qAsConst(rows)) {
        if (nextNew < newRows.size() && newRows.at(nextNew) < row.number) {
            w.copyTo(row.start);
            while (nextNew < newRows.size() && newRows.at(nextNew) < row.number)
                w.newRow(newRows.at(nextNew++), edits);
        }
        const auto stripped = [&](const CellSpan &cell) {
            return !cell.sharedMaster && cell.sharedIndex >= 0 && brokenShared.contains(cell.sharedIndex);
        };

        if (!row.edited) {
            // A new row before it would shift an implicit row number.
            if (!row.hasRef) {
                w.copyTo(row.nameEnd);
                w.out() += " r=\"" + QByteArray::number(row.number) + '"';
            }
            for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
                if (stripped(cells.at(i)))
                    w.copyTo(cells.at(i).formulaStart, cells.at(i).formulaEnd);
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
            existing.append(cells.at(i).column);
        std::sort(existing.begin(), existing.end());
        auto next = edits.lowerBound(cellKey(row.number, 0));
        const auto addUpTo = [&](int column) {
            for (; next != edits.cend() && keyRow(next.key()) == row.number && keyColumn(next.key()) < column; ++next) {
                if (!next.value().isEmpty()
                    && !std::binary_search(existing.begin(), existing.end(), keyColumn(next.key())))
                    w.cell(keyColumn(next.key()), number, Span(), next.value());
            }
        };
        for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
            const CellSpan &cell = cells.at(i);
            addUpTo(cell.column);
            switch (cell.action) {
            case CellSpan::Keep:
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
            case CellSpan::Replace:
                w.cell(cell.column, number, cell.style, *cell.text);
                break;
            case CellSpan::Clear:
                if (!cell.style.isNull())
                    w.cell(cell.column, number, cell.style, QString());
                break;
            case CellSpan::Drop:
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
        w.copyTo(xml.lastIndexOf('<', sheetDataEnd - 1));
        while (nextNew < newRows.size())
            w.newRow(newRows.at(nextNew++), edits);
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
