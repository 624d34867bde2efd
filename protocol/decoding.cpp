#include "decoding.h"

#include "logging.h"
#include "mytool.h"

#include <QJsonArray>
#include <QJsonValue>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A decimal integer text; anything else (including an empty text) is 0.
int decimalOf(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QString fixedText(double v, int decimals)
{
    return QStringLiteral("%1").arg(v / std::pow(10.0, decimals), 0, 'f', decimals);
}

const double notANumber = std::numeric_limits<double>::quiet_NaN();

std::optional<double> finite(double v)
{
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// The number an integer shows in the rule's number form; none for the empty form.
std::optional<double> numberOf(qint64 v, const RuleSpec &rule)
{
    switch (rule.number) {
    case RuleSpec::Number::Empty:
        return std::nullopt;
    case RuleSpec::Number::Fixed:
        return finite(double(v) / std::pow(10.0, rule.decimals));
    case RuleSpec::Number::Hex:
    case RuleSpec::Number::Decimal:
        break;
    }
    return double(v);
}

// The number a map name shows, read as the rule's own numbers are written: hexadecimal digits
// for a "HEX" rule, a decimal number otherwise. NaN when it is no number.
double nameNumber(const QString &name, const RuleSpec &rule)
{
    bool ok = false;
    double v = 0;
    if (rule.number == RuleSpec::Number::Hex)
        v = double(qint64(name.toULongLong(&ok, 16)));
    else
        v = name.toDouble(&ok);
    return ok && std::isfinite(v) ? v : notANumber;
}

// An integer as the rule's number form says ("HEX" and the 32-bit types share the "type" key, so
// a 32-bit value never meets the hexadecimal form).
QString numberText(qint64 v, const RuleSpec &rule)
{
    switch (rule.number) {
    case RuleSpec::Number::Empty:
        return QString();
    case RuleSpec::Number::Fixed:
        return fixedText(double(v), rule.decimals);
    case RuleSpec::Number::Hex:
        // A negative value shows all 64 bits of its two's complement.
        return QString::number(quint64(v), 16).toUpper();
    case RuleSpec::Number::Decimal:
        break;
    }
    return QString::number(v);
}

void setWideNumber(quint32 bits, const RuleSpec &rule, DecodedValue *decoded)
{
    if (rule.wide == RuleSpec::Wide::F32) {
        float f;
        static_assert(sizeof f == sizeof bits, "IEEE 754 single precision");
        std::memcpy(&f, &bits, sizeof f);
        // NaN and the infinities show as such whatever the rule's number form.
        if (!std::isfinite(f)) {
            decoded->text = shortestFloatText(f);
        } else if (rule.number == RuleSpec::Number::Empty) {
            decoded->text.clear();
        } else {
            decoded->text = rule.number == RuleSpec::Number::Fixed
                    ? QStringLiteral("%1").arg(double(f), 0, 'f', rule.decimals)
                    : shortestFloatText(f);
            // The number the text shows (0.9, not the float's 0.89999998): a plot and its
            // table must agree.
            decoded->number = decoded->text.toDouble();
        }
        return;
    }

    const qint64 v = rule.wide == RuleSpec::Wide::I32 ? qint64(qint32(bits)) : qint64(bits);
    decoded->text = numberText(v, rule);
    decoded->number = numberOf(v, rule);
}

// A single register's value through the rule's bit range, sign and BCD.
qint32 registerNumber(quint16 value, const RuleSpec &rule)
{
    qint32 v = value;

    if (rule.hasBits) {
        v = qint32((quint32(v) >> rule.shift) & (0xFFFFu >> rule.maskShift));
        qCDebug(lcProtocol) << "resolve data = " << v;
    }

    if (rule.isSigned) {
        if (rule.width == 16)
            v = qint16(quint16(v));
        else if (rule.width == 8)
            v = qint8(quint8(v));
    }

    if (rule.hasType) {
        if (rule.isBcd)
            v = MyTool::bcdToDec(quint32(v));
        qCDebug(lcProtocol) << "BCD : " << v;
    }
    return v;
}

// Replaces the number text by its map name, if the rule names it.
void applyMaps(const RuleSpec &rule, DecodedValue *decoded)
{
    const auto nameIt = [decoded](const QString &name, double number) {
        decoded->text = name;
        decoded->number = finite(number);
    };
    switch (rule.maps) {
    case RuleSpec::Maps::Object: {
        const auto name = rule.names.constFind(decoded->text);
        if (name != rule.names.constEnd())
            nameIt(*name, rule.nameNumbers.value(*name, notANumber));
        else if (rule.hasOthers)
            nameIt(rule.others, rule.othersNumber);
        return;
    }
    case RuleSpec::Maps::Array: {
        const int i = decimalOf(decoded->text);
        if (i >= 0 && i < rule.arrayNames.size() && rule.arrayIsName.at(i))
            nameIt(rule.arrayNames.at(i), rule.arrayNumbers.at(i));
        return;
    }
    case RuleSpec::Maps::None:
        break;
    }
}

} // namespace

const QString missingNextText = QStringLiteral("--");

quint32 combineRegisters(quint16 first, quint16 second, RuleSpec::Order order)
{
    const auto swapped = [](quint16 word) { return quint32(quint16(word << 8 | word >> 8)); };
    switch (order) {
    case RuleSpec::Order::CDAB:
        return quint32(second) << 16 | first;
    case RuleSpec::Order::BADC:
        return swapped(first) << 16 | swapped(second);
    case RuleSpec::Order::DCBA:
        return swapped(second) << 16 | swapped(first);
    case RuleSpec::Order::ABCD:
        break;
    }
    return quint32(first) << 16 | second;
}

QString shortestFloatText(float value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");

    // The shortest digits that read back as this float, as d.ddde+XX.
    char buffer[32];
    const std::to_chars_result result =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const QString scientific = QString::fromLatin1(buffer, int(result.ptr - buffer));
    const int e = scientific.indexOf(QLatin1Char('e'));
    QString mantissa = scientific.left(e);
    const int exponent = scientific.mid(e + 1).toInt();
    const bool negative = mantissa.startsWith(QLatin1Char('-'));
    if (negative)
        mantissa.remove(0, 1);
    const QString digits = mantissa.remove(QLatin1Char('.'));
    const QString sign = negative ? QStringLiteral("-") : QString();

    if (exponent < -4 || exponent >= 16) {
        QString text = sign + digits.left(1);
        if (digits.size() > 1)
            text += QLatin1Char('.') + digits.mid(1);
        const QString magnitude = QString::number(std::abs(exponent)).rightJustified(2, QLatin1Char('0'));
        return text + (exponent < 0 ? QStringLiteral("e-") : QStringLiteral("e+")) + magnitude;
    }
    if (exponent < 0)
        return sign + QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    if (digits.size() <= exponent + 1)
        return sign + digits + QString(exponent + 1 - digits.size(), QLatin1Char('0'));
    return sign + digits.left(exponent + 1) + QLatin1Char('.') + digits.mid(exponent + 1);
}

void parseRule(QString &text, QJsonDocument &rule)
{
    // Authors often type only the members ("type":"HEX"); braces make them an object.
    if (!text.contains(QLatin1Char('{')))
        text = QLatin1Char('{') + text + QLatin1Char('}');
    rule = QJsonDocument::fromJson(text.toUtf8());
}

RuleSpec compileRuleObject(const QJsonObject &rule)
{
    RuleSpec spec;

    const auto bits = rule.constFind(QLatin1String("bits"));
    if (bits != rule.constEnd()) {
        const QString s = bits->toString();
        const int p = s.indexOf(QLatin1Char(':'));
        const int lo = decimalOf(p < 0 ? s : s.left(p));
        const int hi = decimalOf(p < 0 ? s : s.mid(p + 1));
        spec.hasBits = true;
        // 64 bits: the width of a span such as -2147483648:2147483647 does not fit in int.
        spec.width = qint64(hi) - lo + 1;
        // Shift counts use only their low five bits, so any span wider than 16 bits, or one
        // whose end lies below its start, masks everything away instead of shifting by >= 32.
        spec.shift = quint32(lo) & 31u;
        spec.maskShift = quint32(quint64(16 - spec.width) & 31u);
    }

    const auto isSigned = rule.constFind(QLatin1String("signed"));
    if (isSigned != rule.constEnd())
        spec.isSigned = isSigned->toBool() || isSigned->toInt(0) != 0;

    const auto type = rule.constFind(QLatin1String("type"));
    const QString typeText = type != rule.constEnd() ? type->toString() : QString();
    spec.hasType = type != rule.constEnd();
    spec.isBcd = typeText == QLatin1String("BCD");
    if (typeText == QLatin1String("U32"))
        spec.wide = RuleSpec::Wide::U32;
    else if (typeText == QLatin1String("I32"))
        spec.wide = RuleSpec::Wide::I32;
    else if (typeText == QLatin1String("F32"))
        spec.wide = RuleSpec::Wide::F32;
    const QString order = rule.value(QLatin1String("order")).toString();
    if (order == QLatin1String("CDAB"))
        spec.order = RuleSpec::Order::CDAB;
    else if (order == QLatin1String("BADC"))
        spec.order = RuleSpec::Order::BADC;
    else if (order == QLatin1String("DCBA"))
        spec.order = RuleSpec::Order::DCBA;

    const auto dot = rule.constFind(QLatin1String("dot"));
    if (dot != rule.constEnd()) {
        const int d = dot->toInt(0);
        spec.number = d < 1 ? RuleSpec::Number::Empty : RuleSpec::Number::Fixed;
        spec.decimals = qBound(0, d, maxRuleDecimals);
    } else if (typeText == QLatin1String("HEX")) {
        spec.number = RuleSpec::Number::Hex;
    }

    const auto maps = rule.constFind(QLatin1String("maps"));
    if (maps != rule.constEnd() && maps->isObject()) {
        spec.maps = RuleSpec::Maps::Object;
        const QJsonObject names = maps->toObject();
        for (auto it = names.constBegin(); it != names.constEnd(); ++it) {
            // A member that is not a string counts as missing: "others" applies.
            if (it.value().isString())
                spec.names.insert(it.key(), it.value().toString());
        }
        const QJsonValue others = names.value(QLatin1String("others"));
        spec.hasOthers = others.isString();
        spec.others = others.toString();
        for (const QString &name : qAsConst(spec.names))
            spec.nameNumbers.insert(name, nameNumber(name, spec));
        spec.othersNumber = nameNumber(spec.others, spec);
    } else if (maps != rule.constEnd() && maps->isArray()) {
        spec.maps = RuleSpec::Maps::Array;
        const QJsonArray names = maps->toArray();
        spec.arrayNames.reserve(names.size());
        spec.arrayIsName.reserve(names.size());
        spec.arrayNumbers.reserve(names.size());
        for (const QJsonValue &name : names) {
            spec.arrayNames.append(name.toString());
            spec.arrayIsName.append(name.isString());
            spec.arrayNumbers.append(nameNumber(name.toString(), spec));
        }
    }

    const auto unit = rule.constFind(QLatin1String("unit"));
    if (unit != rule.constEnd()) {
        spec.hasUnit = true;
        spec.unit = unit->toString();
    }
    return spec;
}

CompiledRule compileRule(const QJsonDocument &rule)
{
    CompiledRule compiled;
    if (rule.isObject()) {
        compiled.shape = CompiledRule::Shape::Object;
        compiled.specs.append(compileRuleObject(rule.object()));
    } else if (rule.isArray()) {
        compiled.shape = CompiledRule::Shape::Array;
        const QJsonArray rules = rule.array();
        for (const QJsonValue &element : rules) {
            // Elements that are not objects add nothing to the text.
            if (element.isObject())
                compiled.specs.append(compileRuleObject(element.toObject()));
        }
    }
    return compiled;
}

QString decodeValue(quint16 value, const CompiledRule &rule)
{
    return decodeValue(value, std::nullopt, rule);
}

namespace {

DecodedValue applyRuleSpec(quint16 value, std::optional<quint16> next, const RuleSpec &rule)
{
    DecodedValue decoded;
    if (rule.wide == RuleSpec::Wide::None) {
        const qint32 v = registerNumber(value, rule);
        decoded.text = numberText(v, rule);
        decoded.number = numberOf(v, rule);
    } else if (next) {
        setWideNumber(combineRegisters(value, *next, rule.order), rule, &decoded);
    } else {
        decoded.text = missingNextText;
        return decoded;
    }
    applyMaps(rule, &decoded);
    if (rule.hasUnit)
        decoded.text += rule.unit;
    return decoded;
}

} // namespace

DecodedValue decodeRegister(quint16 value, std::optional<quint16> next, const CompiledRule &rule)
{
    if (rule.shape == CompiledRule::Shape::Object)
        return applyRuleSpec(value, next, rule.specs.first());
    return DecodedValue{ decodeValue(value, next, rule), std::nullopt };
}

QString decodeValue(quint16 value, std::optional<quint16> next, const CompiledRule &rule)
{
    switch (rule.shape) {
    case CompiledRule::Shape::Object:
        return applyRuleSpec(value, next, rule.specs.first()).text;
    case CompiledRule::Shape::Array: {
        QString t;
        for (const RuleSpec &spec : rule.specs)
            t += QLatin1Char('[') + applyRule(value, next, spec) + QLatin1String("] ");
        return t;
    }
    case CompiledRule::Shape::Null:
        break;
    }
    return QString();
}

QString decodeValue(quint16 value, const QJsonDocument &rule)
{
    return decodeValue(value, compileRule(rule));
}

QString applyRule(quint16 value, const RuleSpec &rule)
{
    return applyRule(value, std::nullopt, rule);
}

QString applyRule(quint16 value, std::optional<quint16> next, const RuleSpec &rule)
{
    return applyRuleSpec(value, next, rule).text;
}

QString applyRule(quint16 value, const QJsonObject &rule)
{
    return applyRule(value, compileRuleObject(rule));
}
