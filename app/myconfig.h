#ifndef MYCONFIG_H
#define MYCONFIG_H

#include <QByteArray>
#include <QString>

// Every persistent setting of the program, as static members. Loaded once before the main
// window exists and written once by its destructor; the window geometry lives elsewhere
// (geometryOrganisation and the program name in the platform settings store).
class MyConfig
{
public:
    MyConfig() = delete;

    static QString programName;

    static QString destDir;

    static QString serialName;
    static int serialBaudrate;
    static QString serialParity;
    static QString serialStopbits;

    // The link the connect button opens: "serial" (Modbus RTU on serialName) or "tcp"
    // (Modbus TCP to tcpHost, port tcpPort, 1..65535).
    static QString linkType;
    static QString tcpHost;
    static int tcpPort;
    static bool isTcpLink() { return linkType == QLatin1String("tcp"); }

    static QString protocolFile;
    static int period;
    static bool isRepeat;
    static QString regsType;
    static int regsAddrRead;
    static int regsLenRead;
    static int regsAddrWrite;
    static int regsLenWrite;
    static int deviceAddr;
    static bool selectEnable;
    static bool changeWarnEnable;

    static const int maxTableRows;

    static const char *const defaultDestDir;
    static const char *const geometryOrganisation;

    // Reads the settings file (fileName()). Only a regular file (after its links) of at most
    // 1 MiB is read; a missing one, or anything else, keeps the defaults.
    static void load();
    // Applies the text of a settings file to the members.
    static void fromJson(const QByteArray &text);
    // Writes the settings file (fileName()), atomically, and only where that name (after its
    // links) is absent or a regular file. When the file failed to parse at load, its text is
    // first kept beside it with ".bak" appended. Returns whether the file
    // was written; a failure leaves any previous file as it was. It is logged, not shown.
    static bool save();
    // The text save() writes: indented, keys sorted, UTF-8.
    static QByteArray toJson();

    // The defaults of a fresh start (the static initial values), with no file loaded, so no
    // backup pending either; programName is kept.
    static void restoreDefaults();
    // programName + ".json" in the settings folder of the platform's locations (the current
    // directory until they are set).
    static QString fileName();
};

#endif // MYCONFIG_H
