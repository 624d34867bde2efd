// XlsxDocument::save: the patched sheet, the calculation chain, the package.
#include "xlsxdocument.h"

#include <QSaveFile>
#include <QTextCodec>

#include "xlsxutil.h"

namespace Xlsx {

namespace {
const QString CalcChainType = Ns::DocRels + QLatin1String("/calcChain");

// Relationship parts read to find who else uses a calculation chain; past
// these bounds the chain is kept rather than the search made longer.
constexpr int MaxRelationshipParts = 1000;
constexpr qint64 MaxRelationshipBytes = 64 * 1024 * 1024;
} // namespace

bool XlsxDocument::save()
{
    if (!m_loaded)
        return false;
    QHash<QString, QByteArray> replaced;
    QSet<QString> removed;
    if (!edits().empty()) {
        const QString other = otherSheetOfPart(m_current);
        if (!other.isEmpty())
            return fail(QStringLiteral("sheets '%1' and '%2' are stored in one part: saving one would change the other")
                            .arg(m_current, other));
        bool formulaReplaced = false;
        if (!patchSheet(&replaced, &formulaReplaced))
            return false;
        // The calculation chain lists formula cells; one that no longer holds
        // a formula makes Excel report the file as damaged, so the chain goes.
        if (formulaReplaced) {
            removed = removableCalcChains(replaced);
            if (!removed.isEmpty() && !dropCalcChains(removed, &replaced))
                return false;
        }
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write: %1").arg(file.errorString()));
    if (!m_package.writeCopy(&file, replaced, removed)) {
        file.cancelWriting();
        return packageFailed();
    }
    // A write that fails while the last buffered bytes go out is reported by
    // flush(), not by commit().
    if (!file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(QStringLiteral("cannot write: %1").arg(reason));
    }
    if (!file.commit())
        return fail(QStringLiteral("cannot write: %1").arg(file.errorString()));

    m_package.open();
    return true;
}

bool XlsxDocument::patchSheet(QHash<QString, QByteArray> *replaced, bool *formulaReplaced)
{
    QByteArray patched;
    QString error;
    SheetLayout parsed;
    if (!m_hasLayout) {
        QVector<SheetCell> cells;
        if (!parseWorksheet(m_sheetXml, m_sharedStrings, MaxSheetCells, &cells, &error, &parsed))
            return fail(QStringLiteral("sheet '%1': %2").arg(m_current, error));
    }
    const SheetLayout &layout = m_hasLayout ? m_layout : parsed;
    if (!patchWorksheet(m_sheetXml, layout, edits(), dimension(), &patched, formulaReplaced, &error))
        return fail(QStringLiteral("sheet '%1': %2").arg(m_current, error));
    const QByteArray data = fromUtf8Xml(patched, m_sheetCodec);
    if (data.size() > MaxPartSize)
        return fail(QStringLiteral("sheet '%1' would grow beyond %2 bytes").arg(m_current).arg(MaxPartSize));
    replaced->insert(m_currentPart, data);
    return true;
}

// A relationship of the calculation-chain type is not proof of a chain: only
// a part that no other relationship uses, whose root element is <calcChain>
// and that this save does not replace may be removed as one.
QSet<QString> XlsxDocument::removableCalcChains(const QHash<QString, QByteArray> &replaced)
{
    QSet<QString> chains;
    for (const Relationship &rel : qAsConst(m_workbookRels)) {
        if (rel.type == CalcChainType && !rel.external)
            chains.insert(m_package.find(resolveTarget(m_workbookPart, rel.target)));
    }
    chains.remove(QString());
    const auto usedBy = [&chains, this](const QString &sourcePart, const QVector<Relationship> &rels, bool workbook) {
        for (const Relationship &rel : rels) {
            if (!rel.external && !(workbook && rel.type == CalcChainType))
                chains.remove(m_package.find(resolveTarget(sourcePart, rel.target)));
        }
    };
    usedBy(m_workbookPart, m_workbookRels, true);
    for (const QString &part : {m_workbookPart, m_workbookRelsPart, m_contentTypesPart, m_sharedStringsPart})
        chains.remove(part);
    for (const SheetEntry &sheet : qAsConst(m_sheets))
        chains.remove(m_package.find(sheet.part));
    for (auto it = replaced.cbegin(); it != replaced.cend(); ++it)
        chains.remove(it.key());

    // Reads a part without making its failure the document's error.
    const auto peek = [this](const QString &part, QByteArray *xml) {
        if (!m_package.read(part, xml))
            return false;
        *xml = toUtf8Xml(*xml, nullptr);
        return true;
    };
    // Every other relationships part of the package, within bounds.
    int partsRead = 0;
    qint64 bytesRead = 0;
    const QStringList entries = m_package.entries();
    for (const QString &entry : entries) {
        if (chains.isEmpty())
            return chains;
        const QString lower = entry.toLower();
        if (entry == m_workbookRelsPart || !lower.endsWith(QLatin1String(".rels"))
            || !(lower.startsWith(QLatin1String("_rels/")) || lower.contains(QLatin1String("/_rels/"))))
            continue;
        QByteArray xml;
        QVector<Relationship> rels;
        QString error;
        if (++partsRead > MaxRelationshipParts || !peek(entry, &xml)
            || (bytesRead += xml.size()) > MaxRelationshipBytes || !parseRelationships(xml, &rels, &error))
            return QSet<QString>();
        usedBy(relationshipsSource(entry), rels, false);
    }

    for (auto it = chains.begin(); it != chains.end();) {
        QByteArray xml;
        bool chain = peek(*it, &xml);
        if (chain) {
            XmlReader r(xml);
            chain = r.next() == XmlReader::StartElement && r.is(NsMain, "calcChain");
        }
        it = chain ? std::next(it) : chains.erase(it);
    }
    return chains;
}

// Takes the chains out of the workbook's relationships and the content types.
bool XlsxDocument::dropCalcChains(const QSet<QString> &chains, QHash<QString, QByteArray> *replaced)
{
    const auto isChain = [&chains, this](const QString &part) {
        return chains.contains(m_package.find(part));
    };
    QTextCodec *codec = nullptr;
    QByteArray rels;
    QString error;
    if (!readPart(m_workbookRelsPart, &rels, &codec))
        return false;
    const auto chainRelationship = [&](const XmlReader &r) {
        return r.attributeText("Type") == CalcChainType && r.attributeText("TargetMode") != QLatin1String("External")
            && isChain(resolveTarget(m_workbookPart, r.attributeText("Target")));
    };
    if (!removeElements(rels, NsPackageRels, "Relationship", chainRelationship, &rels, &error))
        return fail(QStringLiteral("%1: %2").arg(m_workbookRelsPart, error));
    replaced->insert(m_workbookRelsPart, fromUtf8Xml(rels, codec));
    if (!m_contentTypesPart.isEmpty()) {
        QByteArray types;
        if (!readPart(m_contentTypesPart, &types, &codec))
            return false;
        const auto chainOverride = [&](const XmlReader &r) {
            return isChain(resolveTarget(QString(), r.attributeText("PartName")));
        };
        if (!removeElements(types, NsContentTypes, "Override", chainOverride, &types, &error))
            return fail(QStringLiteral("%1: %2").arg(m_contentTypesPart, error));
        replaced->insert(m_contentTypesPart, fromUtf8Xml(types, codec));
    }
    return true;
}

} // namespace Xlsx
