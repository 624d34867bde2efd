#include "decoding.h"

#include "mytool.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>

#include <cmath>

namespace {

// A decimal integer text; anything else (including an empty text) is 0.
int decimalOf(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

// A JSON number that is a whole number inside the int range; anything else is 0.
int integerOf(const QJsonValue &value)
{
    return value.toInt(0);
}

QString numberText(qint32 v, const QJsonObject &rule)
{
    if (rule.contains(QLatin1String("dot"))) {
        int d = integerOf(rule.value(QLatin1String("dot")));
        if (d < 1)
            return QString();
        d = qMin(d, maxRuleDecimals);
        return QStringLiteral("%1").arg(double(v) / std::pow(10.0, d), 0, 'f', d);
    }
    if (rule.value(QLatin1String("type")).toString() == QLatin1String("HEX")) {
        // A negative value shows all 64 bits of its two's complement.
        return QString::number(quint64(qint64(v)), 16).toUpper();
    }
    return QString::number(v);
}

QString mappedText(const QString &t, const QJsonValue &maps)
{
    if (maps.isObject()) {
        const QJsonObject names = maps.toObject();
        const QJsonValue name = names.value(t);
        if (name.isString())
            return name.toString();
        const QJsonValue others = names.value(QLatin1String("others"));
        if (others.isString())
            return others.toString();
        return t;
    }
    if (maps.isArray()) {
        const QJsonArray names = maps.toArray();
        const int i = decimalOf(t);
        if (i >= 0 && i < names.size() && names.at(i).isString())
            return names.at(i).toString();
        return t;
    }
    return t;
}

} // namespace

void parseRule(QString &text, QJsonDocument &rule)
{
    // Authors often type only the members ("type":"HEX"); braces make them an object.
    if (!text.contains(QLatin1Char('{')))
        text = QLatin1Char('{') + text + QLatin1Char('}');
    rule = QJsonDocument::fromJson(text.toUtf8());
}

QString decodeValue(quint16 value, const QJsonDocument &rule)
{
    if (rule.isObject())
        return applyRule(value, rule.object());

    QString t;
    if (rule.isArray()) {
        const QJsonArray rules = rule.array();
        for (const QJsonValue &element : rules) {
            if (element.isObject())
                t += QLatin1Char('[') + applyRule(value, element.toObject()) + QLatin1String("] ");
        }
    }
    return t;
}

QString applyRule(quint16 value, const QJsonObject &rule)
{
    qint32 v = value;
    // 64 bits: the width of a span such as -2147483648:2147483647 does not fit in int.
    qint64 w = 16;

    if (rule.contains(QLatin1String("bits"))) {
        const QString s = rule.value(QLatin1String("bits")).toString();
        const int p = s.indexOf(QLatin1Char(':'));
        const int lo = decimalOf(p < 0 ? s : s.left(p));
        const int hi = decimalOf(p < 0 ? s : s.mid(p + 1));
        w = qint64(hi) - lo + 1;
        // Shift counts use only their low five bits, so any span wider than 16 bits, or one
        // whose end lies below its start, masks everything away instead of shifting by >= 32.
        const quint32 shift = quint32(lo) & 31u;
        const quint32 maskShift = quint32(quint64(16 - w) & 31u);
        v = qint32((quint32(v) >> shift) & (0xFFFFu >> maskShift));
        qDebug() << "resolve data = " << v;
    }

    if (rule.contains(QLatin1String("signed"))) {
        const QJsonValue s = rule.value(QLatin1String("signed"));
        if (s.toBool() || integerOf(s) != 0) {
            if (w == 16)
                v = qint16(quint16(v));
            else if (w == 8)
                v = qint8(quint8(v));
        }
    }

    if (rule.contains(QLatin1String("type"))) {
        if (rule.value(QLatin1String("type")).toString() == QLatin1String("BCD"))
            v = MyTool::bcdToDec(quint32(v));
        qDebug() << "BCD : " << v;
    }

    QString t = numberText(v, rule);

    if (rule.contains(QLatin1String("maps")))
        t = mappedText(t, rule.value(QLatin1String("maps")));

    if (rule.contains(QLatin1String("unit")))
        t += rule.value(QLatin1String("unit")).toString();

    return t;
}
