#ifndef DECODING_H
#define DECODING_H

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <optional>

// Decoding rules turn a raw 16-bit register value into the text of the display column.
// A rule is a JSON object with the optional keys "bits", "signed", "type" ("BCD"/"HEX"),
// "dot", "maps" and "unit", or an array of such objects shown side by side.
// "type" "U32", "I32" or "F32" makes the rule of register A read registers A and A+1 of the
// same reply as one 32-bit value, in the byte order "order" gives ("ABCD" when absent).
//
// A rule is compiled once, when the sheet is resolved, into plain values; a reply then
// decodes without looking anything up in JSON.

// One rule object, compiled. Each member holds what the corresponding key means for the
// decoding; a key that is absent leaves its member at the "no effect" value.
struct RuleSpec
{
    bool hasBits = false;
    quint32 shift = 0;      // low five bits of the first bit number
    quint32 maskShift = 0;  // 0xFFFF is shifted right by this to mask the field
    qint64 width = 16;      // bit count of the field; may be any number for odd "bits" texts

    bool isSigned = false;
    bool hasType = false;   // any "type": the type debug line is written
    bool isBcd = false;

    enum class Number { Decimal, Hex, Fixed, Empty };
    Number number = Number::Decimal;
    int decimals = 0;       // for Fixed

    enum class Maps { None, Object, Array };
    Maps maps = Maps::None;
    QHash<QString, QString> names;  // object maps: the members whose value is a string
    bool hasOthers = false;
    QString others;
    QVector<QString> arrayNames;    // array maps
    QVector<bool> arrayIsName;      // false for an element that is not a string
    // The number each name shows, worked out when the rule is compiled; NaN for a name that is
    // not a number.
    QHash<QString, double> nameNumbers;
    double othersNumber = 0;
    QVector<double> arrayNumbers;

    bool hasUnit = false;
    QString unit;

    // A value of two registers; "bits", "signed" and "BCD" play no part for it.
    enum class Wide { None, U32, I32, F32 };
    Wide wide = Wide::None;
    // The four bytes as they come on the wire are b0 b1 (register A, high byte first) and
    // b2 b3 (register A+1); the order names them from the most significant byte down, with
    // A = b0: ABCD is b0 b1 b2 b3, CDAB b2 b3 b0 b1, BADC b1 b0 b3 b2, DCBA b3 b2 b1 b0.
    enum class Order { ABCD, CDAB, BADC, DCBA };
    Order order = Order::ABCD;
};

struct CompiledRule
{
    enum class Shape { Null, Object, Array };
    Shape shape = Shape::Null;
    QVector<RuleSpec> specs;  // one for an object; one per object element of an array
};

// Parses a rule cell. A text without "{" is first wrapped in braces, and the caller's text is
// changed accordingly (the table shows the wrapped text). Text that is not JSON gives a null
// document.
void parseRule(QString &text, QJsonDocument &rule);

CompiledRule compileRule(const QJsonDocument &rule);
RuleSpec compileRuleObject(const QJsonObject &rule);

// A decoded register: the display text and, where the rule shows a number, that number (the
// value before the unit is appended: a scaled or hexadecimal value, a float, a map name that is
// a number). No number for an array rule, a name, an empty form, "--", NaN or an infinity.
struct DecodedValue
{
    QString text;
    std::optional<double> number;
};
DecodedValue decodeRegister(quint16 value, std::optional<quint16> next, const CompiledRule &rule);

// The display text for a value: one rule object's text, or "[text] " per object of an array;
// empty for a null document.
// Without the value of the next register a 32-bit rule object shows missingNextText.
QString decodeValue(quint16 value, const CompiledRule &rule);
QString decodeValue(quint16 value, const QJsonDocument &rule);
// `next` is the value of the register after this one, when the same reply holds it.
QString decodeValue(quint16 value, std::optional<quint16> next, const CompiledRule &rule);

// The rule engine for one rule object.
QString applyRule(quint16 value, const RuleSpec &rule);
QString applyRule(quint16 value, const QJsonObject &rule);
QString applyRule(quint16 value, std::optional<quint16> next, const RuleSpec &rule);

// What a 32-bit rule shows when the reply does not hold the register after its own.
extern const QString missingNextText;

// The 32 bits of registers `first` and `second` (the one after it) in `order`.
quint32 combineRegisters(quint16 first, quint16 second, RuleSpec::Order order);

// The shortest decimal text that reads back as the same float: plain for magnitudes from 1e-4
// up to 1e16 (0.1, 1.5, 123456790), otherwise with an exponent of at least two digits (1e-05,
// 3.4028235e+38); whole numbers without a decimal point. NaN is "NaN", infinities "inf", "-inf".
QString shortestFloatText(float value);

// "dot" values above this are shown with this many decimals; no register needs more, and an
// absurd value must not build a huge text.
constexpr int maxRuleDecimals = 30;

#endif // DECODING_H
