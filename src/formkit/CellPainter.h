#pragma once
// The one way a grid shows what its CellTable changed: text, then the colours of the
// cell's role, so no view paints a cell's text and forgets its colour.

#include <QString>

#include "formkit/CellColours.h"
#include "formkit/CellTable.h"
#include "widgets/GridCtrl.h"

// Whether the fixed (heading) cells take their role's background or keep the grid's own.
enum class FixedCellColours { FromRole, KeepGrids };

inline void PaintChangedCells(CGridCtrl& grid, CellTable& cells,
                              FixedCellColours fixed = FixedCellColours::FromRole) {
    const QColor normal = grid.GetDefaultBkColour();
    for (const CellPos& p : cells.TakeChanged()) {
        grid.SetItemText(p.row, p.col, QString::fromStdString(cells.Text(p.row, p.col)));
        const CellRole role = cells.Role(p.row, p.col);
        grid.SetItemFgColour(p.row, p.col, cellcolours::Foreground(role));
        const bool heading = p.row < grid.GetFixedRowCount() || p.col < grid.GetFixedColumnCount();
        if (!heading || fixed == FixedCellColours::FromRole)
            grid.SetItemBkColour(p.row, p.col, cellcolours::Background(role, normal));
    }
}
