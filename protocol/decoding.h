#ifndef DECODING_H
#define DECODING_H

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVector>

// Decoding rules turn a raw 16-bit register value into the text of the display column.
// A rule is a JSON object with the optional keys "bits", "signed", "type" ("BCD"/"HEX"),
// "dot", "maps" and "unit", or an array of such objects shown side by side.
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

    bool hasUnit = false;
    QString unit;
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

// The display text for a value: one rule object's text, or "[text] " per object of an array;
// empty for a null document.
QString decodeValue(quint16 value, const CompiledRule &rule);
QString decodeValue(quint16 value, const QJsonDocument &rule);

// The rule engine for one rule object.
QString applyRule(quint16 value, const RuleSpec &rule);
QString applyRule(quint16 value, const QJsonObject &rule);

// "dot" values above this are shown with this many decimals; no register needs more, and an
// absurd value must not build a huge text.
constexpr int maxRuleDecimals = 30;

#endif // DECODING_H
