#include "xlsxdocument.h"

#include <algorithm>

#include <QTextCodec>

#include "xlsxutil.h"

namespace Xlsx {

namespace {
const QString OfficeDocumentType = Ns::DocRels + QLatin1String("/officeDocument");
const QString StrictOfficeDocumentType = Ns::StrictDocRels + QLatin1String("/officeDocument");
const QString WorksheetType = Ns::DocRels + QLatin1String("/worksheet");
const QString SharedStringsType = Ns::DocRels + QLatin1String("/sharedStrings");
} // namespace

XlsxDocument::XlsxDocument(const QString &path)
    : m_path(path), m_package(path, MaxPartSize, MaxEntries)
{
    m_loaded = load();
}

XlsxDocument::~XlsxDocument() = default;

bool XlsxDocument::fail(const QString &what)
{
    m_error = QStringLiteral("%1: %2").arg(m_path, what);
    return false;
}

bool XlsxDocument::packageFailed()
{
    m_error = m_package.errorString();
    return false;
}

bool XlsxDocument::readPart(const QString &part, QByteArray *xml, QTextCodec **codec)
{
    QByteArray data;
    if (!m_package.read(part, &data))
        return packageFailed();
    *xml = toUtf8Xml(data, codec);
    return true;
}

bool XlsxDocument::load()
{
    if (!m_package.open())
        return packageFailed();

    QByteArray xml;
    QString error;
    QVector<Relationship> relationships;
    QString workbook;
    const QString rootRels = m_package.find(QStringLiteral("_rels/.rels"));
    if (!rootRels.isEmpty()) {
        if (!readPart(rootRels, &xml))
            return false;
        if (!parseRelationships(xml, &relationships, &error))
            return fail(QStringLiteral("%1: %2").arg(rootRels, error));
        for (const Relationship &rel : qAsConst(relationships)) {
            if (rel.type == StrictOfficeDocumentType)
                return fail(QStringLiteral("Strict Open XML workbooks are not supported"));
            if (rel.type == OfficeDocumentType && !rel.external) {
                workbook = resolveTarget(QString(), rel.target);
                break;
            }
        }
        if (workbook.isEmpty())
            return fail(QStringLiteral("the package names no workbook"));
    } else {
        workbook = QStringLiteral("xl/workbook.xml");
    }
    m_workbookPart = m_package.find(workbook);
    if (m_workbookPart.isEmpty())
        return fail(QStringLiteral("the workbook part %1 is missing").arg(workbook));

    QVector<WorkbookSheet> sheets;
    if (!readPart(m_workbookPart, &xml))
        return false;
    if (!parseWorkbook(xml, MaxSheets, &sheets, &error))
        return fail(QStringLiteral("%1: %2").arg(m_workbookPart, error));

    m_workbookRelsPart = m_package.find(relationshipsPart(m_workbookPart));
    if (m_workbookRelsPart.isEmpty())
        return fail(QStringLiteral("the workbook has no relationships part"));
    if (!readPart(m_workbookRelsPart, &xml))
        return false;
    if (!parseRelationships(xml, &relationships, &error))
        return fail(QStringLiteral("%1: %2").arg(m_workbookRelsPart, error));

    m_workbookRels = relationships;
    QHash<QString, Relationship> byId;
    for (const Relationship &rel : qAsConst(relationships)) {
        if (rel.external)
            continue;
        byId.insert(rel.id, rel);
        if (rel.type == SharedStringsType && m_sharedStringsPart.isEmpty())
            m_sharedStringsPart = m_package.find(resolveTarget(m_workbookPart, rel.target));
    }
    QSet<QString> names;
    QHash<QString, QString> sheetOfPart;  // part (lower case) -> the first sheet stored there
    for (const WorkbookSheet &sheet : qAsConst(sheets)) {
        const auto rel = byId.constFind(sheet.relationshipId);
        // Chartsheets, dialog and macro sheets hold no cells to read.
        if (rel == byId.cend() || rel->type != WorksheetType || sheet.name.isEmpty() || names.contains(sheet.name))
            continue;
        names.insert(sheet.name);
        const QString part = resolveTarget(m_workbookPart, rel->target);
        const auto first = sheetOfPart.constFind(part.toLower());
        if (first == sheetOfPart.cend())
            sheetOfPart.insert(part.toLower(), sheet.name);
        else
            m_sharingSheets.insert(sheet.name, *first);
        m_sheets.append({sheet.name, part});
    }
    m_contentTypesPart = m_package.find(QStringLiteral("[Content_Types].xml"));
    return true;
}

bool XlsxDocument::loadSharedStrings()
{
    if (m_sharedStringsLoaded)
        return true;
    if (!m_sharedStringsPart.isEmpty()) {
        QByteArray xml;
        QString error;
        if (!readPart(m_sharedStringsPart, &xml))
            return false;
        if (!parseSharedStrings(xml, &m_sharedStrings, &error))
            return fail(QStringLiteral("%1: %2").arg(m_sharedStringsPart, error));
    }
    m_sharedStringsLoaded = true;
    return true;
}

QStringList XlsxDocument::sheetNames() const
{
    QStringList names;
    for (const SheetEntry &sheet : m_sheets)
        names.append(sheet.name);
    return names;
}

bool XlsxDocument::selectSheet(const QString &name, SelectMode mode)
{
    m_current.clear();
    m_currentPart.clear();
    m_cells.clear();
    m_layout = SheetLayout();
    m_hasLayout = false;
    m_edits.clear();
    m_editsSorted = true;
    m_sheetXml.clear();
    if (!m_loaded)
        return false;
    const auto sheet = std::find_if(m_sheets.cbegin(), m_sheets.cend(),
                                    [&name](const SheetEntry &s) { return s.name == name; });
    if (sheet == m_sheets.cend())
        return fail(QStringLiteral("no sheet named '%1'").arg(name));
    if (!loadSharedStrings())
        return false;
    const QString part = m_package.find(sheet->part);
    if (part.isEmpty())
        return fail(QStringLiteral("the part %1 of sheet '%2' is missing").arg(sheet->part, name));
    QByteArray xml;
    QString error;
    if (!readPart(part, &xml, &m_sheetCodec))
        return false;
    SheetLayout *layout = mode == ForEditing ? &m_layout : nullptr;
    if (!parseWorksheet(xml, m_sharedStrings, MaxSheetCells, &m_cells, &error, layout)) {
        m_cells.clear();
        m_layout = SheetLayout();
        return fail(QStringLiteral("sheet '%1': %2").arg(name, error));
    }
    m_hasLayout = layout != nullptr;
    m_sheetXml = xml;
    m_current = name;
    m_currentPart = part;
    return true;
}

QString XlsxDocument::otherSheetOfPart(const QString &name) const
{
    const auto first = m_sharingSheets.constFind(name);
    if (first != m_sharingSheets.cend())
        return *first;
    for (auto it = m_sharingSheets.cbegin(); it != m_sharingSheets.cend(); ++it) {
        if (it.value() == name)
            return it.key();
    }
    return QString();
}

const SheetCell *XlsxDocument::findCell(int row, int column) const
{
    const quint64 key = cellKey(row, column);
    const auto it = std::lower_bound(m_cells.cbegin(), m_cells.cend(), key,
                                     [](const SheetCell &c, quint64 k) { return cellKey(c.row, c.column) < k; });
    if (it == m_cells.cend() || it->row != row || it->column != column)
        return nullptr;
    return &*it;
}

const CellEdits &XlsxDocument::edits() const
{
    if (m_editsSorted)
        return m_edits;
    std::stable_sort(m_edits.begin(), m_edits.end(),
                     [](const CellEdit &a, const CellEdit &b) { return a.key < b.key; });
    // The last write to a cell is the one that counts.
    size_t kept = 0;
    for (size_t i = 0; i < m_edits.size(); ++i) {
        if (kept > 0 && m_edits[kept - 1].key == m_edits[i].key)
            m_edits[kept - 1].text = std::move(m_edits[i].text);
        else if (kept++ != i)
            m_edits[kept - 1] = std::move(m_edits[i]);
    }
    m_edits.resize(kept);
    m_editsSorted = true;
    return m_edits;
}

CellRange XlsxDocument::dimension() const
{
    CellRange range;
    bool any = false;
    const auto add = [&](int row, int column) {
        if (!any) {
            range = {row, column, row, column};
            any = true;
            return;
        }
        range.firstRow = qMin(range.firstRow, row);
        range.lastRow = qMax(range.lastRow, row);
        range.firstColumn = qMin(range.firstColumn, column);
        range.lastColumn = qMax(range.lastColumn, column);
    };
    // Both lists are in key order: one walk finds the cells an edit empties.
    const CellEdits &edits = this->edits();
    auto edit = edits.cbegin();
    for (const SheetCell &cell : m_cells) {
        const quint64 key = cellKey(cell.row, cell.column);
        while (edit != edits.cend() && edit->key < key)
            ++edit;
        if (edit == edits.cend() || edit->key != key || !edit->text.isEmpty())
            add(cell.row, cell.column);
    }
    for (const CellEdit &e : edits) {
        if (!e.text.isEmpty())
            add(keyRow(e.key), keyColumn(e.key));
    }
    return range;
}

QVariant XlsxDocument::read(int row, int column) const
{
    if (row < 1 || row > MaxRow || column < 1 || column > MaxColumn)
        return QVariant();
    const quint64 key = cellKey(row, column);
    const CellEdits &edits = this->edits();
    const auto edit = std::lower_bound(edits.cbegin(), edits.cend(), key,
                                       [](const CellEdit &e, quint64 k) { return e.key < k; });
    if (edit != edits.cend() && edit->key == key)
        return edit->text.isEmpty() ? QVariant() : QVariant(edit->text);
    const SheetCell *cell = findCell(row, column);
    return cell ? cell->value : QVariant();
}

bool XlsxDocument::write(int row, int column, const QVariant &value)
{
    if (m_current.isEmpty())
        return fail(QStringLiteral("no sheet is selected"));
    if (row < 1 || row > MaxRow || column < 1 || column > MaxColumn)
        return fail(QStringLiteral("cell (%1, %2) is outside A1:XFD1048576").arg(row).arg(column));
    const quint64 key = cellKey(row, column);
    if (m_edits.empty() || key > m_edits.back().key) {
        m_edits.push_back({key, value.toString()});
        return true;
    }
    if (m_editsSorted) {
        const auto edit = std::lower_bound(m_edits.begin(), m_edits.end(), key,
                                           [](const CellEdit &e, quint64 k) { return e.key < k; });
        if (edit->key == key) {
            edit->text = value.toString();
            return true;
        }
    }
    m_edits.push_back({key, value.toString()});
    m_editsSorted = false;
    return true;
}

} // namespace Xlsx
