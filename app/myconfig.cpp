#include "myconfig.h"

#include "logging.h"
#include "platform.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QStringList>

#include <cmath>
#include <limits>
#include <variant>

const char *const MyConfig::defaultDestDir = "D:/Vorbelt-x86";
const char *const MyConfig::geometryOrganisation = "Velk";
const int MyConfig::maxTableRows = 1024;

// Their initial values come from the table below, applied when this file is initialised.
QString MyConfig::programName;
QString MyConfig::destDir;
QString MyConfig::serialName;
int MyConfig::serialBaudrate;
QString MyConfig::serialParity;
QString MyConfig::serialStopbits;
QString MyConfig::linkType;
QString MyConfig::tcpHost;
int MyConfig::tcpPort;
QString MyConfig::protocolFile;
int MyConfig::period;
bool MyConfig::isRepeat;
QString MyConfig::regsType;
int MyConfig::regsAddrRead;
int MyConfig::regsLenRead;
int MyConfig::regsAddrWrite;
int MyConfig::regsLenWrite;
int MyConfig::deviceAddr;
bool MyConfig::selectEnable;
bool MyConfig::changeWarnEnable;

namespace {

// One stored setting: its key path in the file ("group/key", or "key" at the top level), the
// member that holds it, and its default written as it would stand in the file. The member's
// type picks the conversion, the same for defaults and for loaded values.
struct Setting
{
    const char *path;
    std::variant<QString *, int *, bool *> member;
    QJsonValue initial;
};

const Setting settings[] = {
    { "destDir", &MyConfig::destDir, QLatin1String(MyConfig::defaultDestDir) },
    { "serialport/name", &MyConfig::serialName, QString() },
    { "serialport/baudrate", &MyConfig::serialBaudrate, 0 },
    { "serialport/parity", &MyConfig::serialParity, QString() },
    { "serialport/stopbits", &MyConfig::serialStopbits, QString() },
    { "network/link", &MyConfig::linkType, QStringLiteral("serial") },
    { "network/host", &MyConfig::tcpHost, QString() },
    { "network/port", &MyConfig::tcpPort, 502 },
    { "modbusDisplay/protocolFile", &MyConfig::protocolFile, QStringLiteral("./ProtocolFile/modbus.xlsx") },
    { "modbusDisplay/period", &MyConfig::period, 1000 },
    { "modbusDisplay/isRepeat", &MyConfig::isRepeat, false },
    { "modbusDisplay/regsType", &MyConfig::regsType, QString() },
    { "modbusDisplay/regsAddrRead", &MyConfig::regsAddrRead, 0 },
    { "modbusDisplay/regsLenRead", &MyConfig::regsLenRead, 10 },
    { "modbusDisplay/regsAddrWrite", &MyConfig::regsAddrWrite, 0 },
    { "modbusDisplay/regsLenWrite", &MyConfig::regsLenWrite, 10 },
    { "modbusDisplay/deviceAddr", &MyConfig::deviceAddr, 1 },
    { "modbusDisplay/selectEnable", &MyConfig::selectEnable, false },
    { "modbusDisplay/changeWarnEnable", &MyConfig::changeWarnEnable, false },
};

// Anything larger is not a settings file of this program and is not read.
const qint64 maxFileSize = 1024 * 1024;

// The text of a settings file that did not parse at load, held until a save has kept it as
// the backup beside the file that replaces it.
bool backupPending = false;
QByteArray backupText;

void assign(QString *member, const QJsonValue &value)
{
    *member = value.isString() ? value.toString() : QString();
}

// A whole number inside the 32-bit range; anything else (absent, text, fraction, too big) is 0.
void assign(int *member, const QJsonValue &value)
{
    *member = 0;
    if (!value.isDouble())
        return;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d)
        return;
    if (d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return;
    *member = static_cast<int>(d);
}

void assign(bool *member, const QJsonValue &value)
{
    *member = value.isBool() && value.toBool();
}

template<typename T>
QJsonValue jsonOf(const T *member)
{
    return QJsonValue(*member);
}

QStringList keysOf(const Setting &setting)
{
    return QString::fromLatin1(setting.path).split(QLatin1Char('/'));
}

// The value at the setting's key path. False when a group on the way is absent or not an
// object: the member then keeps its value. An absent key inside a present group is an
// undefined value, which converts to the empty text, 0 or false.
bool lookUp(const QJsonObject &top, const Setting &setting, QJsonValue *value)
{
    const QStringList keys = keysOf(setting);
    QJsonObject object = top;
    for (int i = 0; i + 1 < keys.size(); ++i) {
        const QJsonValue group = object.value(keys.at(i));
        if (!group.isObject())
            return false;
        object = group.toObject();
    }
    *value = object.value(keys.last());
    return true;
}

void insertAt(QJsonObject *object, const QStringList &keys, int level, const QJsonValue &value)
{
    if (level + 1 == keys.size()) {
        object->insert(keys.at(level), value);
        return;
    }
    QJsonObject group = object->value(keys.at(level)).toObject();
    insertAt(&group, keys, level + 1, value);
    object->insert(keys.at(level), group);
}

// Applies a settings text to the members; false, with the reason, when it is not JSON with an
// object on top, in which case nothing is taken from it. The deployment directory is checked
// either way.
bool apply(const QByteArray &text, QString *reason)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    const bool usable = error.error == QJsonParseError::NoError && document.isObject();
    if (usable) {
        const QJsonObject top = document.object();
        for (const Setting &setting : settings) {
            QJsonValue value;
            if (lookUp(top, setting, &value))
                std::visit([&value](auto *member) { assign(member, value); }, setting.member);
        }
    } else if (error.error != QJsonParseError::NoError) {
        *reason = QStringLiteral("not JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset);
    } else {
        *reason = QStringLiteral("no object at the top");
    }

    // A link this program does not know is the serial line, and a port no socket can have is
    // the registered Modbus port.
    if (!MyConfig::isTcpLink())
        MyConfig::linkType = QStringLiteral("serial");
    if (MyConfig::tcpPort < 1 || MyConfig::tcpPort > 65535)
        MyConfig::tcpPort = 502;

    // Whatever the file held, the deployment directory must name an existing directory.
    if (MyConfig::destDir.isEmpty() || !QFileInfo(MyConfig::destDir).isDir())
        MyConfig::destDir = QString::fromLatin1(MyConfig::defaultDestDir);
    return usable;
}

// Writes text to path through a temporary file renamed into place, only where path (after
// its links) is absent or a regular file: a device, FIFO or directory behind the name is
// never replaced. On failure the previous file is as it was; why is left in *reason.
bool writeFile(const QString &path, const QByteArray &text, QString *reason)
{
    const QString notRegular = QStringLiteral("it is not a regular file");
    if (!Platform::replaceableByFile(path)) {
        *reason = notRegular;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    // Checked again at the last moment, as the name may have changed while it was written.
    if (!Platform::replaceableByFile(path)) {
        *reason = notRegular;
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

// Static initialisation gives every member its default: this runs after the members and the
// table above, which are initialised in the order they are defined in this file.
const struct DefaultsApplied
{
    DefaultsApplied() { MyConfig::restoreDefaults(); }
} defaultsApplied;

} // namespace

QString MyConfig::fileName()
{
    const QString name = programName + QStringLiteral(".json");
    const QString dir = Platform::locations().settingsDir;
    return dir.isEmpty() ? name : dir + QLatin1Char('/') + name;
}

void MyConfig::restoreDefaults()
{
    backupPending = false;
    backupText.clear();
    for (const Setting &setting : settings)
        std::visit([&setting](auto *member) { assign(member, setting.initial); }, setting.member);
}

void MyConfig::load()
{
    backupPending = false;
    backupText.clear();
    const QString name = fileName();
    QByteArray text;
    switch (Platform::readRegularFile(name, maxFileSize, &text)) {
    case Platform::FileRead::Read:
        break;
    case Platform::FileRead::Missing:
        qCDebug(lcSettings).noquote() << "no settings file" << name << "- defaults kept";
        return;
    case Platform::FileRead::NotRegular:
        qCWarning(lcSettings).noquote() << "settings file" << name
                                        << "is not a regular file; not read, defaults kept";
        return;
    case Platform::FileRead::TooLarge:
        qCWarning(lcSettings).noquote() << "settings file" << name << "is larger than" << maxFileSize
                                        << "bytes; not read, defaults kept";
        return;
    case Platform::FileRead::Failed:
        qCWarning(lcSettings).noquote() << "settings file" << name << "cannot be read; defaults kept";
        return;
    }

    QString reason;
    if (apply(text, &reason)) {
        qCDebug(lcSettings).noquote() << "settings loaded from" << name;
    } else {
        // Kept aside at the next save, so one typo made by hand does not lose every setting.
        qCWarning(lcSettings).noquote() << "settings file" << name << "not used, defaults kept:" << reason;
        backupPending = true;
        backupText = text;
    }
}

void MyConfig::fromJson(const QByteArray &text)
{
    QString reason;
    if (!apply(text, &reason))
        qCWarning(lcSettings).noquote() << "settings text not used:" << reason;
}

QByteArray MyConfig::toJson()
{
    QJsonObject top;
    for (const Setting &setting : settings) {
        const QJsonValue value =
                std::visit([](const auto *member) { return jsonOf(member); }, setting.member);
        insertAt(&top, keysOf(setting), 0, value);
    }
    // QJsonObject keeps its keys sorted, and the indented form uses four spaces per level.
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

bool MyConfig::save()
{
    const QString name = fileName();
    QString reason;
    if (!Platform::replaceableByFile(name)) {
        qCWarning(lcSettings).noquote() << "settings not saved:" << name << "is not a regular file";
        return false;
    }

    if (backupPending) {
        const QString backupName = name + QStringLiteral(".bak");
        // Without its backup the unparsable file is not replaced: it holds the user's values.
        if (!writeFile(backupName, backupText, &reason)) {
            qCWarning(lcSettings).noquote() << "settings not saved: the unparsable" << name
                                            << "could not be kept as" << backupName << "-" << reason;
            return false;
        }
        qCDebug(lcSettings).noquote() << "unparsable settings file kept as" << backupName;
        backupPending = false;
        backupText.clear();
    }

    if (!writeFile(name, toJson(), &reason)) {
        qCWarning(lcSettings).noquote() << "settings not saved to" << name << "-" << reason;
        return false;
    }
    qCDebug(lcSettings).noquote() << "settings saved to" << name;
    return true;
}
