#ifndef DECODING_H
#define DECODING_H

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// Decoding rules turn a raw 16-bit register value into the text of the display column.
// A rule is a JSON object with the optional keys "bits", "signed", "type" ("BCD"/"HEX"),
// "dot", "maps" and "unit", or an array of such objects shown side by side.

// Parses a rule cell. A text without "{" is first wrapped in braces, and the caller's text is
// changed accordingly (the table shows the wrapped text). Text that is not JSON gives a null
// document.
void parseRule(QString &text, QJsonDocument &rule);

// The display text for a value: one rule object's text, or "[text] " per object of an array;
// empty for a null document.
QString decodeValue(quint16 value, const QJsonDocument &rule);

// The rule engine for one rule object.
QString applyRule(quint16 value, const QJsonObject &rule);

// "dot" values above this are shown with this many decimals; no register needs more, and an
// absurd value must not build a huge text.
constexpr int maxRuleDecimals = 30;

#endif // DECODING_H
