#ifndef DECODING_H
#define DECODING_H
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
// PLACEHOLDER: to be written.
void parseRule(QString &text, QJsonDocument &rule);
QString decodeValue(quint16 value, const QJsonDocument &rule);
QString applyRule(quint16 value, const QJsonObject &rule);
#endif
