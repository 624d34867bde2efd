#ifndef MYTOOL_H
#define MYTOOL_H

#include <QModbusDataUnit>
#include <QObject>
#include <QString>

// Static helper routines shared by the window and the protocol code; never instantiated.
class MyTool : public QObject
{
    Q_OBJECT
public:
    explicit MyTool(QObject *parent = nullptr);

    // Field and cell texts: base 16 when the text contains "0x" anywhere, otherwise base 10.
    // False when the text does not convert to a 64-bit number (`value` is then left alone);
    // rurodur-poll reads its numbers this way, with its own range checks.
    static bool textToInteger(const QString &text, qint64 *value);
    // The same as an int; a text that does not convert, or lies outside int, gives 0.
    static int textToInt(const QString &text);

    // Sum of the eight 4-bit groups, lowest first, each times its power of ten. Groups 10..15
    // are not rejected and count with their numeric value.
    static int bcdToDec(quint32 pattern);
};

// The register area a sheet name stands for: "coil"/"线圈", "disc"/"离散", "hold"/"保持",
// "input"/"输入", tried in that order; English keys ignore letter case, Chinese keys do not.
QModbusDataUnit::RegisterType registerTypeOf(const QString &areaText);

#endif // MYTOOL_H
