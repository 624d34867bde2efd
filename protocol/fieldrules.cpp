#include "fieldrules.h"

#include <QtGlobal>

namespace {

// Rows of the table left from start address `address` on; an address outside the table
// leaves none, so a count cut against it never reaches beyond the last row.
int rowsFrom(int address, int rows)
{
    if (address < 0 || address > rows)
        return 0;
    return rows - address;
}

} // namespace

FieldWindow applyAddressRule(int address, int count, int rows)
{
    FieldWindow w{ address, count, false, false };
    if (w.address >= rows || w.address < 0) {
        w.address = 0;
        w.addressChanged = true;
    }
    // 64 bits: a count taken from the settings file may be near INT_MAX.
    if (qint64(w.address) + w.count > rows) {
        w.count = rowsFrom(w.address, rows);
        w.countChanged = true;
    }
    return w;
}

FieldWindow applyCountRule(int address, int count, int rows)
{
    FieldWindow w{ address, count, false, false };
    if (w.count > ReadPlan::maxFieldCount || w.count <= 0) {
        w.count = 1;
        w.countChanged = true;
    }
    if (qint64(w.address) + w.count > rows || w.address < 0) {
        w.count = rowsFrom(w.address, rows);
        w.countChanged = true;
    }
    return w;
}
