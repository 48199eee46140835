#pragma once
// What the three settings forms share in their grids: the set-up (one fixed header row
// and column, the read-out background, no scroll bars), sizing to the contents and the
// painting of the cells their core class changed.

#include <QColor>

#include "formkit/CellTable.h"

class CGridCtrl;
class QHBoxLayout;
class QPushButton;

namespace settingsgrid {

// Rows and columns, row 0 and column 0 fixed, row 0 centred, the ordinary background.
void SetUp(CGridCtrl& grid, int rows, int cols);
// Columns and rows as wide and high as their texts, and the grid exactly as large as
// them, so nothing scrolls. Column 1 is at least wide enough for `minChars` characters,
// for values not read yet.
void FitToContents(CGridCtrl& grid, int minChars = 0);
// Writes the cells changed since the last call (texts and colours) into the grid.
void Paint(CGridCtrl& grid, CellTable& cells);
// The "Read" and "Set" buttons side by side, centred.
QHBoxLayout* ButtonRow(QPushButton* read, QPushButton* set);

}  // namespace settingsgrid
