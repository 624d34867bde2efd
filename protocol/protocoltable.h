#ifndef PROTOCOLTABLE_H
#define PROTOCOLTABLE_H

#include "decoding.h"

#include <QList>
#include <QModbusDataUnit>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <optional>

// One register of a reply as every consumer needs it, decoded once: the table shows the texts,
// the recorder writes the display text, the trend plots the number, the distance display takes
// the raw value.
struct DecodedRegister
{
    int address = 0;
    quint16 value = 0;
    QString hex;     // "0x000A"
    QString dec;     // "10"
    QString display; // the row's rule applied; the unsigned decimal value past the table's rows
    std::optional<double> number; // what the rule shows as a number, before its unit
    bool inTable = false;         // a row of the table stands for this register
    bool hexChanged = false;      // the row's hex text differs from what it held before
};

// The registers of one read reply that lie inside the read window, in address order.
struct DecodedReply
{
    QModbusDataUnit::RegisterType area = QModbusDataUnit::Invalid;
    QVector<DecodedRegister> registers;

    // The register at `address`, or nullptr when the reply does not hold it.
    const DecodedRegister *find(int address) const
    {
        if (registers.isEmpty())
            return nullptr;
        const qint64 index = qint64(address) - registers.constFirst().address;
        return index >= 0 && index < registers.size() ? &registers.at(int(index)) : nullptr;
    }
};

// The register table of one protocol sheet, without widgets: the sheet's header and rows as
// texts, the row cap, the columns that take a role from their titles, and one compiled rule
// per row. Row r stands for register address r. The window mirrors it in its table widget;
// the command-line poller uses it alone.
class ProtocolTable : public QObject
{
    Q_OBJECT
public:
    // Column of each role, -1 when the sheet has no such column.
    struct Roles
    {
        int rule = -1;    // title contains "JSON解析": the decoding rule; editable
        int display = -1; // "显示": the decoded text; read-only
        int hex = -1;     // "16进制": the raw value as 0x0000; editable, the value a write sends
        int dec = -1;     // "10进制": the raw value in decimal; read-only
        int address = -1; // "地址": the address as the author wrote it; never interpreted
    };

    // Rule texts longer than this are not decoded: the reply path must stay fast whatever a
    // workbook holds.
    static constexpr int maxRuleTextLength = 64 * 1024;
    // Nor are array rules of more objects than this: each object is a decoding of its own on
    // every reply, and no display cell shows more side by side.
    static constexpr int maxRuleObjects = 64;

    explicit ProtocolTable(QObject *parent = nullptr);

    // Reads `sheet` of the workbook at `path` and resolves it. The MyXlsx result code: 0 on
    // success; on failure nothing changes and `errorString` says why.
    int load(const QString &path, const QString &sheet, QString *errorString = nullptr);
    // Resolves texts already read: the table takes this sheet's rows (up to the cap), roles and
    // rules; nothing of the sheet before survives.
    void setSheet(const QStringList &header, const QList<QStringList> &rows);
    // Writes every row (also those beyond the cap) back into `sheet` of `path`; MyXlsx result.
    int save(const QString &path, const QString &sheet, QString *errorString = nullptr) const;

    int rowCount() const { return m_rowCount; }
    int columnCount() const { return m_columnCount; }
    const QStringList &header() const { return m_header; }
    // All data rows of the sheet, not capped.
    const QList<QStringList> &rows() const { return m_rows; }
    const Roles &roles() const { return m_roles; }
    // The workbook and sheet of the last successful load; a save goes only there.
    QString loadedFile() const { return m_loadedFile; }
    QString loadedSheet() const { return m_loadedSheet; }
    // Rows whose rule was refused at the last resolve (too long, or too many objects, to decode).
    const QList<int> &refusedRules() const { return m_refusedRules; }

    QString text(int row, int column) const;
    // "12" or "12 温度": a row's address, and its name where the sheet has a column titled "名称"
    // (blanks around the title or the name aside). Past the last row, the address alone.
    QString rowTitle(int row) const;
    // A cell edit; ignored outside the table.
    void setText(int row, int column, const QString &text);
    // Columns the user may edit: all but the decimal and display columns.
    bool isEditable(int column) const;
    const CompiledRule &rule(int row) const;

    // The display text of `row` for a value.
    QString decode(int row, quint16 value) const;
    // The display text of the register at `index` of a reply (address start + index), decoded
    // with its row's rule; a 32-bit rule also reads the register after it in the same reply
    // ("--" when the reply ends with this register). A register beyond the table's rows shows
    // its unsigned decimal value.
    QString decodeAt(const QModbusDataUnit &unit, int index) const;

    // The values of the hex cells of rows address .. address + count - 1 (low 16 bits of each
    // text read as a field number); false when a row lies outside the table or the sheet has no
    // hex column. A count of 0 or less gives an empty list.
    bool writeValues(int address, int count, QVector<quint16> *values) const;

    // Decodes each register of a reply inside the read window (windowStart, windowCount) once,
    // takes the texts into the rows that stand for them and returns the decoded registers.
    DecodedReply applyReply(const QModbusDataUnit &unit, int windowStart, int windowCount);

signals:
    // After every successful load or setSheet.
    void resolved();

private:
    QStringList m_header;
    QList<QStringList> m_rows;
    QVector<CompiledRule> m_rules;
    QList<int> m_refusedRules;
    Roles m_roles;
    int m_rowCount = 0;
    int m_columnCount = 0;
    QString m_loadedFile;
    QString m_loadedSheet;
};

#endif // PROTOCOLTABLE_H
