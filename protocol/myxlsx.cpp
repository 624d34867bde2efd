#include "myxlsx.h"
// PLACEHOLDER: to be written.
QStringList MyXlsx::listSheets(const QString &) { return {}; }
int MyXlsx::readSheet(const QString &, const QString &, QStringList &, QList<QStringList> &) { return -1; }
int MyXlsx::writeSheet(const QString &, const QString &, const QStringList &, const QList<QStringList> &) { return -1; }
