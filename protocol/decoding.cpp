#include "decoding.h"
// PLACEHOLDER: to be written.
void parseRule(QString &, QJsonDocument &) {}
QString decodeValue(quint16, const QJsonDocument &) { return {}; }
QString applyRule(quint16, const QJsonObject &) { return {}; }
