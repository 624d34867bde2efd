#include "mytool.h"

#include <limits>

MyTool::MyTool(QObject *parent)
    : QObject(parent)
{
}

bool MyTool::textToInteger(const QString &text, qint64 *value)
{
    bool ok = false;
    const int base = text.contains(QLatin1String("0x")) ? 16 : 10;
    const qint64 converted = text.toLongLong(&ok, base);
    if (ok)
        *value = converted;
    return ok;
}

int MyTool::textToInt(const QString &text)
{
    qint64 value = 0;
    if (!textToInteger(text, &value) || value < std::numeric_limits<int>::min()
        || value > std::numeric_limits<int>::max())
        return 0;
    return int(value);
}

int MyTool::bcdToDec(quint32 pattern)
{
    // Eight groups of up to 15 each: at most 15 * 11111111, well inside 32 bits unsigned,
    // but the sum is formed in 64 bits so the conversion to int is the only narrowing.
    qint64 sum = 0;
    qint64 weight = 1;
    for (int i = 0; i < 8; ++i) {
        sum += static_cast<qint64>((pattern >> (4 * i)) & 0xF) * weight;
        weight *= 10;
    }
    return static_cast<int>(sum);
}

QModbusDataUnit::RegisterType registerTypeOf(const QString &areaText)
{
    struct Key
    {
        const char *english;
        const char *chinese;
        QModbusDataUnit::RegisterType type;
    };
    static const Key keys[] = {
        { "coil", "线圈", QModbusDataUnit::Coils },
        { "disc", "离散", QModbusDataUnit::DiscreteInputs },
        { "hold", "保持", QModbusDataUnit::HoldingRegisters },
        { "input", "输入", QModbusDataUnit::InputRegisters },
    };
    for (const Key &key : keys) {
        if (areaText.contains(QLatin1String(key.english), Qt::CaseInsensitive)
            || areaText.contains(QString::fromUtf8(key.chinese), Qt::CaseSensitive))
            return key.type;
    }
    return QModbusDataUnit::Invalid;
}
