#ifndef TABLEFIXTURE_H
#define TABLEFIXTURE_H

#include "mainwindow.h"
#include "myconfig.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

// Shared by the protocol table suites: fixture workbooks written by openpyxl, workbooks read
// back by openpyxl, the window's debug lines, and a real MainWindow built from settings.
namespace tablefixture {

inline const char *python() { return "/usr/bin/python3"; }

// Runs the fixture script into `dir`; returns the script's error output on failure.
inline QString makeWorkbooks(const QString &dir)
{
    QProcess process;
    process.start(QString::fromLatin1(python()),
                  { QStringLiteral(RURODUR_SOURCE_DIR "/tests/protocoltable/make_fixtures.py"), dir });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString::fromUtf8(process.readAllStandardError()) + process.errorString();
    return QString();
}

// Every row of a sheet as openpyxl sees it, cells as texts (empty cell: empty text).
inline QList<QStringList> readWithOpenpyxl(const QString &path, const QString &sheet)
{
    static const char script[] = R"(
import json, sys
from openpyxl import load_workbook
ws = load_workbook(sys.argv[1])[sys.argv[2]]
rows = [["" if v is None else str(v) for v in row] for row in ws.iter_rows(values_only=True)]
sys.stdout.write(json.dumps(rows))
)";
    QProcess process;
    process.start(QString::fromLatin1(python()),
                  { QStringLiteral("-c"), QString::fromLatin1(script), path, sheet });
    QList<QStringList> rows;
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return rows;
    const QJsonArray array = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    for (const QJsonValue &row : array) {
        QStringList texts;
        const QJsonArray cells = row.toArray();
        for (const QJsonValue &cell : cells)
            texts.append(cell.toString());
        rows.append(texts);
    }
    return rows;
}

inline QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Debug lines of the default category, recorded even where the test environment switches
// debug output off; other messages go on to the test framework's handler.
class DebugLog
{
public:
    static void install()
    {
        previousFilter() = QLoggingCategory::installFilter(&DebugLog::filter);
        previousHandler() = qInstallMessageHandler(&DebugLog::handler);
    }
    static void clear() { lines().clear(); }
    static int count(const QString &prefix)
    {
        int n = 0;
        for (const QString &line : qAsConst(lines()))
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    static QStringList &lines()
    {
        static QStringList list;
        return list;
    }
    static QLoggingCategory::CategoryFilter &previousFilter()
    {
        static QLoggingCategory::CategoryFilter filter = nullptr;
        return filter;
    }
    static QtMessageHandler &previousHandler()
    {
        static QtMessageHandler h = nullptr;
        return h;
    }
    static void filter(QLoggingCategory *category)
    {
        if (previousFilter())
            previousFilter()(category);
        if (qstrcmp(category->categoryName(), "default") == 0
            || qstrcmp(category->categoryName(), "rurodur.protocol") == 0)
            category->setEnabled(QtDebugMsg, true);
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg) {
            lines().append(text);
            return;
        }
        if (previousHandler())
            previousHandler()(type, context, text);
    }
};

// A temporary directory made current, fresh settings and a fresh geometry entry per window.
class Session
{
public:
    explicit Session(const char *suite)
        : m_previousDir(QDir::currentPath())
    {
        static int run = 0;
        m_valid = m_dir.isValid() && QDir::setCurrent(m_dir.path());
        MyConfig::restoreDefaults();
        MyConfig::programName = QStringLiteral("%1_%2_%3")
                                        .arg(QLatin1String(suite))
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(++run);
    }
    ~Session()
    {
        QSettings(QString::fromLatin1(MyConfig::geometryOrganisation), MyConfig::programName).clear();
        QDir::setCurrent(m_previousDir);
    }
    bool isValid() const { return m_valid; }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Copies a fixture workbook into this session, so a test may change it freely.
    QString copy(const QString &source, const QString &name) const
    {
        const QString target = path(name);
        QFile::remove(target);
        return QFile::copy(source, target) ? target : QString();
    }

private:
    QString m_previousDir;
    QTemporaryDir m_dir;
    bool m_valid = false;
};

template<typename T>
T *child(QWidget *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

} // namespace tablefixture

#endif // TABLEFIXTURE_H
