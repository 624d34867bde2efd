#include "myconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>

#include <cmath>
#include <limits>

const char *const MyConfig::defaultDestDir = "D:/Vorbelt-x86";
const char *const MyConfig::geometryOrganisation = "Velk";
const int MyConfig::maxTableRows = 1024;

QString MyConfig::programName;
QString MyConfig::destDir = QString::fromLatin1(MyConfig::defaultDestDir);
QString MyConfig::serialName;
int MyConfig::serialBaudrate = 0;
QString MyConfig::serialParity;
QString MyConfig::serialStopbits;
QString MyConfig::protocolFile = QStringLiteral("./ProtocolFile/modbus.xlsx");
int MyConfig::period = 1000;
bool MyConfig::isRepeat = false;
QString MyConfig::regsType;
int MyConfig::regsAddrRead = 0;
int MyConfig::regsLenRead = 10;
int MyConfig::regsAddrWrite = 0;
int MyConfig::regsLenWrite = 10;
int MyConfig::deviceAddr = 1;
bool MyConfig::selectEnable = false;
bool MyConfig::changeWarnEnable = false;

namespace {

QString textOf(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

// A whole number inside the 32-bit range; anything else (absent, text, fraction, too big) is 0.
int integerOf(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d)
        return 0;
    if (d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(d);
}

bool booleanOf(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isBool() && value.toBool();
}

} // namespace

QString MyConfig::fileName()
{
    return programName + QStringLiteral(".json");
}

void MyConfig::restoreDefaults()
{
    destDir = QString::fromLatin1(defaultDestDir);
    serialName.clear();
    serialBaudrate = 0;
    serialParity.clear();
    serialStopbits.clear();
    protocolFile = QStringLiteral("./ProtocolFile/modbus.xlsx");
    period = 1000;
    isRepeat = false;
    regsType.clear();
    regsAddrRead = 0;
    regsLenRead = 10;
    regsAddrWrite = 0;
    regsLenWrite = 10;
    deviceAddr = 1;
    selectEnable = false;
    changeWarnEnable = false;
}

void MyConfig::load()
{
    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.readAll();
    file.close();
    fromJson(text);
}

void MyConfig::fromJson(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        const QJsonObject top = document.object();
        destDir = textOf(top, QStringLiteral("destDir"));

        const QJsonValue serial = top.value(QStringLiteral("serialport"));
        if (serial.isObject()) {
            const QJsonObject o = serial.toObject();
            serialName = textOf(o, QStringLiteral("name"));
            serialBaudrate = integerOf(o, QStringLiteral("baudrate"));
            serialParity = textOf(o, QStringLiteral("parity"));
            serialStopbits = textOf(o, QStringLiteral("stopbits"));
        }

        const QJsonValue display = top.value(QStringLiteral("modbusDisplay"));
        if (display.isObject()) {
            const QJsonObject o = display.toObject();
            protocolFile = textOf(o, QStringLiteral("protocolFile"));
            period = integerOf(o, QStringLiteral("period"));
            isRepeat = booleanOf(o, QStringLiteral("isRepeat"));
            regsType = textOf(o, QStringLiteral("regsType"));
            regsAddrRead = integerOf(o, QStringLiteral("regsAddrRead"));
            regsLenRead = integerOf(o, QStringLiteral("regsLenRead"));
            regsAddrWrite = integerOf(o, QStringLiteral("regsAddrWrite"));
            regsLenWrite = integerOf(o, QStringLiteral("regsLenWrite"));
            deviceAddr = integerOf(o, QStringLiteral("deviceAddr"));
            selectEnable = booleanOf(o, QStringLiteral("selectEnable"));
            changeWarnEnable = booleanOf(o, QStringLiteral("changeWarnEnable"));
        }
    }

    // Whatever the file held, the deployment directory must name an existing directory.
    if (destDir.isEmpty() || !QFileInfo(destDir).isDir())
        destDir = QString::fromLatin1(defaultDestDir);
}

QByteArray MyConfig::toJson()
{
    QJsonObject serial;
    serial.insert(QStringLiteral("name"), serialName);
    serial.insert(QStringLiteral("baudrate"), serialBaudrate);
    serial.insert(QStringLiteral("parity"), serialParity);
    serial.insert(QStringLiteral("stopbits"), serialStopbits);

    QJsonObject display;
    display.insert(QStringLiteral("protocolFile"), protocolFile);
    display.insert(QStringLiteral("period"), period);
    display.insert(QStringLiteral("isRepeat"), isRepeat);
    display.insert(QStringLiteral("regsType"), regsType);
    display.insert(QStringLiteral("regsAddrRead"), regsAddrRead);
    display.insert(QStringLiteral("regsLenRead"), regsLenRead);
    display.insert(QStringLiteral("regsAddrWrite"), regsAddrWrite);
    display.insert(QStringLiteral("regsLenWrite"), regsLenWrite);
    display.insert(QStringLiteral("deviceAddr"), deviceAddr);
    display.insert(QStringLiteral("selectEnable"), selectEnable);
    display.insert(QStringLiteral("changeWarnEnable"), changeWarnEnable);

    QJsonObject top;
    top.insert(QStringLiteral("destDir"), destDir);
    top.insert(QStringLiteral("serialport"), serial);
    top.insert(QStringLiteral("modbusDisplay"), display);

    // QJsonObject keeps its keys sorted, and the indented form uses four spaces per level.
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

void MyConfig::save()
{
    // Written beside the old file and renamed over it only when complete, so a crash or a
    // full disk never leaves a truncated settings file.
    QSaveFile file(fileName());
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(toJson());
    file.commit();
}
