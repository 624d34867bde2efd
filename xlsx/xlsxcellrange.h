#ifndef XLSXCELLRANGE_H
#define XLSXCELLRANGE_H

#include <QString>

namespace Xlsx {

// A rectangle of cells, rows and columns counted from 1. The default range is
// empty: lastRow - firstRow + 1 and lastColumn - firstColumn + 1 are both 0.
struct CellRange
{
    int firstRow = 1;
    int firstColumn = 1;
    int lastRow = 0;
    int lastColumn = 0;

    bool isValid() const { return firstRow >= 1 && firstColumn >= 1 && lastRow >= firstRow && lastColumn >= firstColumn; }
    int rowCount() const { return isValid() ? lastRow - firstRow + 1 : 0; }
    int columnCount() const { return isValid() ? lastColumn - firstColumn + 1 : 0; }
    QString toString() const;  // "C3:F12", "B2" for one cell, "A1" when empty
};

} // namespace Xlsx

#endif // XLSXCELLRANGE_H
