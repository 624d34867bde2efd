#include "logging.h"

// Debug lines are off unless switched on (QT_LOGGING_RULES="rurodur.*.debug=true"): some of
// them are written per register of every reply, which a release build must not pay for.
Q_LOGGING_CATEGORY(lcModbus, "rurodur.modbus", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProtocol, "rurodur.protocol", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "rurodur.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcXlsx, "rurodur.xlsx", QtInfoMsg)
