#ifndef SETTINGSFIXTURE_H
#define SETTINGSFIXTURE_H

#include "myconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// A fresh temporary directory made current, with the program name "rurodur", so the settings
// file is rurodur.json in it. The members start from their defaults and are reset afterwards.
class SettingsDir
{
public:
    SettingsDir()
    {
        MyConfig::restoreDefaults();
        previous = QDir::currentPath();
        valid = dir.isValid() && QDir::setCurrent(dir.path());
        MyConfig::programName = QStringLiteral("rurodur");
    }

    ~SettingsDir()
    {
        QDir::setCurrent(previous);
        MyConfig::restoreDefaults();
    }

    bool isValid() const { return valid; }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

    // Every entry of the directory, hidden ones (temporary files) included.
    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                          | QDir::NoDotAndDotDot);
    }

    static bool write(const QString &name, const QByteArray &text)
    {
        QFile file(name);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

    static QByteArray read(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir;
    QString previous;
    bool valid = false;
};

// The members hold the values of a fresh start.
inline void compareWithDefaults()
{
    QCOMPARE(MyConfig::destDir, QString("D:/Vorbelt-x86"));
    QCOMPARE(MyConfig::serialName, QString());
    QCOMPARE(MyConfig::serialBaudrate, 0);
    QCOMPARE(MyConfig::serialParity, QString());
    QCOMPARE(MyConfig::serialStopbits, QString());
    QCOMPARE(MyConfig::linkType, QString("serial"));
    QCOMPARE(MyConfig::tcpHost, QString());
    QCOMPARE(MyConfig::tcpPort, 502);
    QCOMPARE(MyConfig::protocolFile, QString("./ProtocolFile/modbus.xlsx"));
    QCOMPARE(MyConfig::period, 1000);
    QCOMPARE(MyConfig::isRepeat, false);
    QCOMPARE(MyConfig::regsType, QString());
    QCOMPARE(MyConfig::regsAddrRead, 0);
    QCOMPARE(MyConfig::regsLenRead, 10);
    QCOMPARE(MyConfig::regsAddrWrite, 0);
    QCOMPARE(MyConfig::regsLenWrite, 10);
    QCOMPARE(MyConfig::deviceAddr, 1);
    QCOMPARE(MyConfig::selectEnable, false);
    QCOMPARE(MyConfig::changeWarnEnable, false);
    QCOMPARE(MyConfig::maxTableRows, 1024);
}

#endif // SETTINGSFIXTURE_H
