#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QString>

// SHA-256 of a file's bytes, hex encoded; empty when the file cannot be read. Tests compare
// digests to show that a file was left alone.
QByteArray fileDigest(const QString &path);

// A file's bytes; empty when it cannot be read.
QByteArray fileData(const QString &path);

#endif // TESTFILES_H
