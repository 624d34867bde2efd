#ifndef MYXLSX_H
#define MYXLSX_H
#include <QList>
#include <QObject>
#include <QStringList>
// PLACEHOLDER: to be written.
class MyXlsx : public QObject
{
    Q_OBJECT
public:
    explicit MyXlsx(QObject *parent = nullptr) : QObject(parent) {}
    static QStringList listSheets(const QString &path);
    static int readSheet(const QString &path, const QString &sheet, QStringList &header, QList<QStringList> &rows);
    static int writeSheet(const QString &path, const QString &sheet, const QStringList &header, const QList<QStringList> &rows);
};
#endif
