// Patching a worksheet: the edits planned against the sheet's layout, then
// written around the bytes that stay as they were.
#include "xlsxparts.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <QSet>
#include <QVarLengthArray>

#include "xlsxutil.h"

namespace Xlsx {

namespace {

using Span = XmlReader::Span;

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

// A plain decimal: optional sign, digits, optional fraction ("12", "-40", "+5", "1.50", "007");
// not "1e3", ".5" or "5.".
bool isPlainNumber(const QString &text)
{
    int i = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
    const int digits = i;
    while (i < text.size() && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9')
        ++i;
    if (i == digits)
        return false;
    if (i < text.size() && text.at(i) == QLatin1Char('.')) {
        const int fraction = ++i;
        while (i < text.size() && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9')
            ++i;
        if (i == fraction)
            return false;
    }
    return i == text.size();
}

// The stored form of a plain decimal: the shortest text that reads back as the same double
// ("+5" is stored as 5, "1.50" as 1.5).
QString storedNumber(const QString &text)
{
    return QVariant(text.toDouble()).toString();
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

    // The start of a cell element up to its attributes: reference and style.
    void openCell(int column, const QByteArray &row, Span style)
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
    }

    void cell(int column, const QByteArray &row, Span style, const QString &text)
    {
        openCell(column, row, style);
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

    // A number cell; text is its value as a plain decimal.
    void number(int column, const QByteArray &row, Span style, const QString &text)
    {
        openCell(column, row, style);
        m_out += "><";
        m_out += m_prefix;
        m_out += "v>";
        m_out += storedNumber(text).toLatin1();
        m_out += "</";
        m_out += m_prefix;
        m_out += "v></";
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

// What becomes of each edited cell and which rows are new. All of it is
// known before any row is written: overwriting the anchor of a shared
// formula changes the cells that share it, wherever they stand.
struct PatchPlan
{
    enum Action : quint8 { Keep, Replace, Number, Clear, Drop };
    std::vector<Action> actions;  // per layout cell
    std::vector<bool> rowEdited;  // per layout row
    QSet<int> brokenShared;       // shared formulas whose anchor cell was overwritten
    QVector<int> newRows;         // rows that only the edits have, ascending
    bool formulaReplaced = false;

    // A cell that keeps its place but loses its part in a broken shared formula.
    bool stripped(const SheetLayout::Cell &cell) const
    {
        return !cell.sharedMaster && cell.sharedIndex >= 0 && brokenShared.contains(cell.sharedIndex);
    }
};

PatchPlan planPatch(const SheetLayout &layout, const CellEdits &edits)
{
    const std::vector<SheetLayout::Row> &rows = layout.rows;
    const std::vector<SheetLayout::Cell> &cells = layout.cells;
    PatchPlan plan;
    plan.actions.assign(cells.size(), PatchPlan::Keep);
    plan.rowEdited.assign(rows.size(), false);
    for (size_t ri = 0; ri < rows.size(); ++ri) {
        const SheetLayout::Row &row = rows[ri];
        const RowEdits range = rowEdits(edits, row.number);
        if (range.isEmpty())
            continue;
        plan.rowEdited[ri] = true;
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
            PatchPlan::Action &action = plan.actions[size_t(i)];
            if (duplicate) {
                action = PatchPlan::Drop;
            } else if (edit->text == cell.text) {
                // Same text: the cell stays as stored, so a number stays a
                // number, a formula keeps computing it and a text cell keeps
                // its rich-text runs.
                action = PatchPlan::Keep;
            } else {
                action = edit->text.isEmpty()                            ? PatchPlan::Clear
                    : cell.number && isPlainNumber(edit->text) ? PatchPlan::Number
                                                                         : PatchPlan::Replace;
                if (cell.formula) {
                    plan.formulaReplaced = true;
                    if (cell.sharedMaster && cell.sharedIndex >= 0)
                        plan.brokenShared.insert(cell.sharedIndex);
                }
            }
        }
    }

    // Rows that exist get their edits; the others become new rows.
    QSet<int> existingRows;
    existingRows.reserve(int(rows.size()));
    for (const SheetLayout::Row &row : rows)
        existingRows.insert(row.number);
    for (auto it = edits.cbegin(); it != edits.cend();) {
        const int row = keyRow(it->key);
        if (!existingRows.contains(row))
            plan.newRows.append(row);
        it = std::lower_bound(it, edits.cend(), cellKey(row + 1, 0), keyBefore);
    }
    return plan;
}

// An existing row that holds edits: its start tag less the spans hint, its
// cells in file order with the edits for missing cells merged in by column.
void writeEditedRow(SheetWriter &w, const SheetLayout &layout, const SheetLayout::Row &row, const CellEdits &edits,
                    const PatchPlan &plan)
{
    const std::vector<SheetLayout::Cell> &cells = layout.cells;
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
        switch (plan.actions[size_t(i)]) {
        case PatchPlan::Keep:
            w.copyRange(cell.start, cell.nameEnd);
            if (!cell.hasRef) {
                w.out() += " r=\"";
                appendReference(w.out(), cell.column, number);
                w.out() += '"';
            }
            if (plan.stripped(cell)) {
                w.copyRange(cell.nameEnd, cell.formulaStart);
                w.copyRange(cell.formulaEnd, cell.end);
            } else {
                w.copyRange(cell.nameEnd, cell.end);
            }
            break;
        case PatchPlan::Replace:
            w.cell(cell.column, number, cell.style, range.find(cell.column)->text);
            break;
        case PatchPlan::Number:
            w.number(cell.column, number, cell.style, range.find(cell.column)->text);
            break;
        case PatchPlan::Clear:
            if (!cell.style.isNull())
                w.cell(cell.column, number, cell.style, QString());
            break;
        case PatchPlan::Drop:
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

// The sheet XML with the plan carried out.
QByteArray writePatch(const QByteArray &xml, const SheetLayout &layout, const CellEdits &edits,
                      const CellRange &usedRange, const PatchPlan &plan)
{
    const std::vector<SheetLayout::Row> &rows = layout.rows;
    const std::vector<SheetLayout::Cell> &cells = layout.cells;
    const int colon = layout.sheetDataName.indexOf(':');
    SheetWriter w(xml, colon >= 0 ? layout.sheetDataName.left(colon + 1) : QByteArray());
    const XmlReader::Span dimensionRef = layout.dimensionRef;
    if (!dimensionRef.isNull()) {
        w.copyTo(dimensionRef.start, dimensionRef.start + dimensionRef.length);
        w.out() += usedRange.toString().toLatin1();
    }

    const QVector<int> &newRows = plan.newRows;
    const auto writeNewRow = [&](int row) {
        const RowEdits range = rowEdits(edits, row);
        w.newRow(row, range.first, range.last);
    };
    if (layout.sheetDataEmpty) {
        if (newRows.isEmpty())
            return w.result();
        // <sheetData/> opens up to take the rows.
        w.copyTo(layout.sheetDataTagEnd - 2, layout.sheetDataEnd);
        w.out() += '>';
        for (const int row : newRows)
            writeNewRow(row);
        w.out() += "</" + layout.sheetDataName + '>';
        return w.result();
    }

    // A new row goes before the first row with a higher number.
    int nextNew = 0;
    for (size_t ri = 0; ri < rows.size(); ++ri) {
        const SheetLayout::Row &row = rows[ri];
        if (nextNew < newRows.size() && newRows.at(nextNew) < row.number) {
            w.copyTo(row.start);
            while (nextNew < newRows.size() && newRows.at(nextNew) < row.number)
                writeNewRow(newRows.at(nextNew++));
        }
        if (plan.rowEdited[ri]) {
            writeEditedRow(w, layout, row, edits, plan);
            continue;
        }
        // A new row before it would shift an implicit row number.
        if (!row.hasRef) {
            w.copyTo(row.nameEnd);
            w.out() += " r=\"" + QByteArray::number(row.number) + '"';
        }
        if (!plan.brokenShared.isEmpty()) {
            for (int i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
                if (plan.stripped(cells[size_t(i)]))
                    w.copyTo(cells[size_t(i)].formulaStart, cells[size_t(i)].formulaEnd);
            }
        }
    }
    if (nextNew < newRows.size()) {
        w.copyTo(xml.lastIndexOf('<', layout.sheetDataEnd - 1));
        while (nextNew < newRows.size())
            writeNewRow(newRows.at(nextNew++));
    }
    return w.result();
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
    const PatchPlan plan = planPatch(layout, edits);
    *formulaReplaced = plan.formulaReplaced;
    *patched = writePatch(xml, layout, edits, usedRange, plan);
    return true;
}

bool removeElements(const QByteArray &xml, NsId ns, const char *name, const std::function<bool(const XmlReader &)> &match,
                    QByteArray *result, QString *error)
{
    XmlReader r(xml);
    QByteArray out;
    int pos = 0;
    while (!r.atEnd()) {
        if (r.next() != XmlReader::StartElement || !r.is(ns, name) || !match(r))
            continue;
        const int start = r.tagStart();
        r.skipElement();
        out.append(xml.constData() + pos, start - pos);
        pos = r.offset();
    }
    if (r.hasError()) {
        *error = QStringLiteral("XML error: %1").arg(r.errorString());
        return false;
    }
    out.append(xml.constData() + pos, xml.size() - pos);
    *result = out;
    return true;
}

} // namespace Xlsx
