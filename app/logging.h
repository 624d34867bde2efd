#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// The program's diagnostic categories; every debug line goes through one of them, so a user
// can switch a subsystem's lines on with QT_LOGGING_RULES (e.g. "rurodur.modbus.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcModbus)    // link, requests, replies, writes
Q_DECLARE_LOGGING_CATEGORY(lcProtocol)  // protocol table, resolve, decoding rules
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // settings file
Q_DECLARE_LOGGING_CATEGORY(lcXlsx)      // protocol workbook reading and writing

#endif // LOGGING_H
