#ifndef XLSXPARTS_H
#define XLSXPARTS_H

#include <functional>

#include <QMap>
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

// Cell edits keyed by row << 16 | column (columns stop at 16384).
inline quint64 cellKey(int row, int column) { return (quint64(row) << 16) | quint64(column); }
inline int keyRow(quint64 key) { return int(key >> 16); }
inline int keyColumn(quint64 key) { return int(key & 0xFFFF); }

// Parts are UTF-8 (see toUtf8Xml). Every parser returns false with *error set on malformed XML, a DTD, the
// Strict OOXML namespace, or a root element of the wrong kind.
bool parseRelationships(const QByteArray &xml, QVector<Relationship> *relationships, QString *error);
bool parseWorkbook(const QByteArray &xml, QVector<WorkbookSheet> *sheets, QString *error);
bool parseSharedStrings(const QByteArray &xml, QStringList *strings, QString *error);

// The cells of a worksheet that hold a value, sorted by row and column; a
// later duplicate of a cell replaces the earlier one.
bool parseWorksheet(const QByteArray &xml, const QStringList &sharedStrings, int maxCells,
                    QVector<SheetCell> *cells, QString *error);

// The worksheet XML with edits applied (see XlsxDocument::write); everything
// not edited is copied byte for byte. *formulaReplaced tells
// whether a formula cell lost its formula.
bool patchWorksheet(const QByteArray &xml, const QStringList &sharedStrings, const QMap<quint64, QString> &edits,
                    const CellRange &usedRange, QByteArray *patched, bool *formulaReplaced, QString *error);

// Drops the elements of the given namespace and name whose attribute attr
// satisfies match; every other byte stays.
bool removeElements(const QByteArray &xml, NsId ns, const char *name, const char *attr,
                    const std::function<bool(const QString &)> &match, QByteArray *result, QString *error);

} // namespace Xlsx

#endif // XLSXPARTS_H
