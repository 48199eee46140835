#include "settings/SettingsGrid.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPushButton>
#include <algorithm>

#include "formkit/CellColours.h"
#include "formkit/CellPainter.h"
#include "widgets/GridCtrl.h"

namespace settingsgrid {

namespace {
// Room for a drop-down's arrow beside the widest option.
constexpr int kColumnSlack = 24;
}  // namespace

void SetUp(CGridCtrl& grid, int rows, int cols) {
    grid.SetDefaultBkColour(cellcolours::kNormal);
    grid.SetRowCount(rows);
    grid.SetColumnCount(cols);
    grid.SetFixedRowCount(1);
    grid.SetFixedColumnCount(1);
    grid.SetScrollBarsVisible(false);
    grid.SetEditable(true);
    for (int c = 0; c < cols; ++c) grid.SetItemAlignment(0, c, Qt::AlignCenter);
    for (int r = 1; r < rows; ++r)
        for (int c = 0; c < cols; ++c) grid.SetItemAlignment(r, c, Qt::AlignVCenter | Qt::AlignLeft);
}

void FitToContents(CGridCtrl& grid, int minChars) {
    grid.resizeColumnsToContents();
    grid.resizeRowsToContents();
    const int minWidth = QFontMetrics(grid.font()).horizontalAdvance(QString(minChars, QLatin1Char('W')));
    int width = 2 * grid.frameWidth();
    for (int c = 0; c < grid.columnCount(); ++c) {
        const int content = c == 1 ? std::max(grid.columnWidth(c), minWidth) : grid.columnWidth(c);
        grid.setColumnWidth(c, content + kColumnSlack);
        width += grid.columnWidth(c);
    }
    int height = 2 * grid.frameWidth();
    for (int r = 0; r < grid.rowCount(); ++r) height += grid.rowHeight(r);
    grid.setFixedSize(width, height);
    // Fixed, so the layout around it does not hand it (or its group) the spare height.
    grid.setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Paint(CGridCtrl& grid, CellTable& cells) {
    PaintChangedCells(grid, cells);
}

QHBoxLayout* ButtonRow(QPushButton* read, QPushButton* set) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(read);
    row->addSpacing(24);
    row->addWidget(set);
    row->addStretch();
    return row;
}

}  // namespace settingsgrid
