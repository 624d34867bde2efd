#ifndef FIELDRULES_H
#define FIELDRULES_H

// The limits the address and count fields enforce when an edit is finished, as functions of
// numbers: the window parses its field texts, applies a rule and writes back what changed.

#include "readplan.h"

struct FieldWindow
{
    int address = 0;
    int count = 0;
    bool addressChanged = false; // the address field must show the new address
    bool countChanged = false;   // the count field must show the new count
};

// Address finished: an address at or beyond the last row, or below 0, becomes 0; then the count
// is cut to the rows left after the address.
FieldWindow applyAddressRule(int address, int count, int rows);

// Count finished: the count is first forced into 1..127 (0, negative or larger counts become 1),
// then cut to the rows left after the address.
FieldWindow applyCountRule(int address, int count, int rows);

#endif // FIELDRULES_H
