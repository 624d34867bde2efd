#include "logging.h"

Q_LOGGING_CATEGORY(lcModbus, "rurodur.modbus")
Q_LOGGING_CATEGORY(lcProtocol, "rurodur.protocol")
Q_LOGGING_CATEGORY(lcSettings, "rurodur.settings")
Q_LOGGING_CATEGORY(lcXlsx, "rurodur.xlsx")
