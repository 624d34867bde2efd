#include "protocoltable.h"

#include "logging.h"
#include "modbustext.h"
#include "myconfig.h"
#include "mytool.h"
#include "myxlsx.h"
#include "readplan.h"

#include <algorithm>

namespace {

const CompiledRule &nullRule()
{
    static const CompiledRule rule;
    return rule;
}

// The rule of a row without a rule column: the empty object, which shows the unsigned decimal.
CompiledRule emptyRule()
{
    QString text;
    QJsonDocument document;
    parseRule(text, document);
    return compileRule(document);
}

} // namespace

ProtocolTable::ProtocolTable(QObject *parent)
    : QObject(parent)
{
}

int ProtocolTable::load(const QString &path, const QString &sheet, QString *errorString)
{
    QStringList header;
    QList<QStringList> rows;
    const int result = MyXlsx::readSheet(path, sheet, header, rows, errorString);
    if (result < 0)
        return result;
    m_loadedFile = path;
    m_loadedSheet = sheet;
    setSheet(header, rows);
    return 0;
}

void ProtocolTable::setSheet(const QStringList &header, const QList<QStringList> &rows)
{
    m_header = header;
    m_rows = rows;
    m_roles = Roles();
    m_rules.clear();
    m_refusedRules.clear();

    m_rowCount = m_rows.size();
    m_columnCount = m_header.size();
    if (m_rowCount == 0 || m_columnCount == 0) {
        m_rowCount = 0;
        m_columnCount = 0;
        emit resolved();
        return;
    }
    m_rowCount = qMin(m_rowCount, MyConfig::maxTableRows);
    qCDebug(lcProtocol) << "rawN,columnN = " << m_rowCount << "," << m_columnCount;

    // A title takes the first role whose word it contains; of two identical titles the first
    // column counts, and a later title with the same role overrides an earlier one.
    struct Role
    {
        const char *word;
        int Roles::*column;
    };
    static const Role roles[] = {
        { "JSON解析", &Roles::rule }, { "显示", &Roles::display }, { "16进制", &Roles::hex },
        { "10进制", &Roles::dec },    { "地址", &Roles::address },
    };
    for (const QString &title : qAsConst(m_header)) {
        for (const Role &role : roles) {
            if (title.contains(QString::fromUtf8(role.word))) {
                m_roles.*role.column = m_header.indexOf(title);
                break;
            }
        }
    }

    // Every shown row holds one text per column, so cells and rows always agree.
    for (int r = 0; r < m_rowCount; ++r) {
        QStringList &row = m_rows[r];
        while (row.size() < m_columnCount)
            row.append(QString());
    }

    m_rules.reserve(m_rowCount);
    if (m_roles.rule < 0) {
        // Without a rule column every row shows its unsigned decimal value.
        m_rules.fill(emptyRule(), m_rowCount);
    } else {
        for (int r = 0; r < m_rowCount; ++r) {
            QString &text = m_rows[r][m_roles.rule];
            if (text.size() > maxRuleTextLength) {
                m_refusedRules.append(r);
                m_rules.append(CompiledRule());
                continue;
            }
            // parseRule puts a rule written without braces inside them; the cell shows that form.
            QJsonDocument document;
            parseRule(text, document);
            CompiledRule rule = compileRule(document);
            if (rule.specs.size() > maxRuleObjects) {
                m_refusedRules.append(r);
                rule = CompiledRule();
            }
            m_rules.append(rule);
        }
    }
    emit resolved();
}

int ProtocolTable::save(const QString &path, const QString &sheet, QString *errorString) const
{
    return MyXlsx::writeSheet(path, sheet, m_header, m_rows, errorString);
}

QString ProtocolTable::text(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= m_columnCount)
        return QString();
    return m_rows.at(row).at(column);
}

QString ProtocolTable::rowTitle(int row) const
{
    for (int column = 0; column < m_header.size(); ++column) {
        if (m_header.at(column).trimmed() == QStringLiteral("名称")) {
            const QString name = text(row, column).trimmed();
            return name.isEmpty() ? QString::number(row) : QStringLiteral("%1 %2").arg(row).arg(name);
        }
    }
    return QString::number(row);
}

void ProtocolTable::setText(int row, int column, const QString &text)
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= m_columnCount)
        return;
    m_rows[row][column] = text;
}

bool ProtocolTable::isEditable(int column) const
{
    return column != m_roles.dec && column != m_roles.display;
}

const CompiledRule &ProtocolTable::rule(int row) const
{
    return row >= 0 && row < m_rules.size() ? m_rules.at(row) : nullRule();
}

QString ProtocolTable::decode(int row, quint16 value) const
{
    return decodeValue(value, rule(row));
}

namespace {

// The register after `index` in a reply, which a 32-bit rule takes whatever row it is in the table.
std::optional<quint16> nextValue(const QVector<quint16> &values, int valueCount, int index)
{
    if (index >= 0 && qint64(index) + 1 < qMin(valueCount, values.size()))
        return values.at(index + 1);
    return std::nullopt;
}

} // namespace

QString ProtocolTable::decodeAt(const QModbusDataUnit &unit, int index) const
{
    const qint64 address = qint64(unit.startAddress()) + index;
    const quint16 value = index >= 0 ? unit.value(index) : 0; // 0 past the values
    if (address < 0 || address >= m_rowCount)
        return QString::number(value);
    return decodeValue(value, nextValue(unit.values(), int(unit.valueCount()), index),
                       m_rules.at(int(address)));
}

bool ProtocolTable::writeValues(int address, int count, QVector<quint16> *values) const
{
    values->clear();
    if (count <= 0)
        return true;
    if (m_roles.hex < 0 || address < 0 || qint64(address) + count > m_rowCount)
        return false;
    values->reserve(count);
    for (int row = address; row < address + count; ++row)
        values->append(quint16(MyTool::textToInt(m_rows.at(row).at(m_roles.hex)) & 0xFFFF));
    return true;
}

DecodedReply ProtocolTable::applyReply(const QModbusDataUnit &unit, int windowStart,
                                       int windowCount)
{
    DecodedReply reply;
    reply.area = unit.registerType();
    const QVector<quint16> values = unit.values();
    const int valueCount = qMin(int(unit.valueCount()), values.size());
    const qint64 first = std::max<qint64>({ windowStart, unit.startAddress(), 0 });
    const qint64 end = std::min<qint64>({ qint64(windowStart) + windowCount,
                                          qint64(unit.startAddress()) + valueCount,
                                          ReadPlan::addressSpace });
    if (first >= end)
        return reply;
    reply.registers.resize(int(end - first));
    for (qint64 address = first; address < end; ++address) {
        const int index = int(address - unit.startAddress());
        DecodedRegister &decoded = reply.registers[int(address - first)];
        decoded.address = int(address);
        decoded.value = values.at(index);
        decoded.hex = registerHexText(decoded.value);
        decoded.dec = QString::number(decoded.value);
        decoded.inTable = address < m_rowCount;
        if (!decoded.inTable) {
            decoded.display = decoded.dec;
            continue;
        }
        const int row = int(address);
        DecodedValue shown = decodeRegister(decoded.value, nextValue(values, valueCount, index),
                                            m_rules.at(row));
        decoded.display = std::move(shown.text);
        decoded.number = shown.number;
        qCDebug(lcModbus) << "addr,value = " << row << decoded.value;

        QStringList &texts = m_rows[row];
        if (m_roles.hex >= 0) {
            decoded.hexChanged = texts.at(m_roles.hex) != decoded.hex;
            if (decoded.hexChanged)
                texts[m_roles.hex] = decoded.hex;
        }
        if (m_roles.dec >= 0)
            texts[m_roles.dec] = decoded.dec;
        if (m_roles.display >= 0)
            texts[m_roles.display] = decoded.display;
    }
    return reply;
}
