#pragma once
// The grid every form draws into: a QTableWidget with the cell kinds the forms need
// (plain text, check box, drop-down list, numeric edit), per-cell background colours,
// fixed header rows/columns and a stretch-to-fill layout for dense read-outs.

#include <QColor>
#include <QStringList>
#include <QTableWidget>

class CGridCtrl : public QTableWidget {
    Q_OBJECT
public:
    enum class CellType { Text, Check, Combo, Numeric };

    explicit CGridCtrl(QWidget* parent = nullptr);

    void SetRowCount(int rows);
    void SetColumnCount(int cols);
    int GetRowCount() const { return rowCount(); }
    int GetColumnCount() const { return columnCount(); }
    // Fixed rows/columns are drawn as headers (grey, not editable) inside the grid.
    void SetFixedRowCount(int rows);
    void SetFixedColumnCount(int cols);
    int GetFixedRowCount() const { return fixedRows_; }
    int GetFixedColumnCount() const { return fixedCols_; }

    void SetItemText(int row, int col, const QString& text);
    QString GetItemText(int row, int col) const;
    void SetItemBkColour(int row, int col, const QColor& colour);
    QColor GetItemBkColour(int row, int col) const;
    void SetItemFgColour(int row, int col, const QColor& colour);
    QColor GetItemFgColour(int row, int col) const;
    // Background of every ordinary (not fixed) cell, now and for cells made later.
    void SetDefaultBkColour(const QColor& colour);
    QColor GetDefaultBkColour() const { return defaultBk_; }

    void SetItemAlignment(int row, int col, Qt::Alignment alignment);
    void SetItemBold(int row, int col, bool bold);

    // Whole-grid editing; read-only cells stay read-only either way.
    void SetEditable(bool editable);
    bool IsEditable() const { return editable_; }
    void SetItemReadOnly(int row, int col, bool readOnly);
    bool IsItemReadOnly(int row, int col) const;

    void SetCellType(int row, int col, CellType type);
    CellType GetCellType(int row, int col) const;
    // Check cells.
    void SetCheck(int row, int col, bool checked);
    bool GetCheck(int row, int col) const;
    // Drop-down cells: the entries offered; the cell text is the chosen entry.
    void SetCellOptions(int row, int col, const QStringList& options);
    QStringList GetCellOptions(int row, int col) const;

    // Stretch to fill: every column starts at its set width (or, without one, the width its
    // widest text needs) and then every column takes an equal share of the space left;
    // the rows share the height. Such a grid never asks to be smaller than those widths and
    // a readable row each, so a window too small for it scrolls instead of cutting rows.
    void SetColumnWidthPx(int col, int width);
    void ExpandToFit(bool expand = true);
    // Lays the columns out again for the texts now in the grid (after the first fill).
    void Refit() { Relayout(); }
    void SetScrollBarsVisible(bool visible);
    // No selection, no focus cell, no user resizing: a read-out, not a spreadsheet.
    void SetReadOutOnly();

    QSize minimumSizeHint() const override;

signals:
    void CellEdited(int row, int col);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QTableWidgetItem* Cell(int row, int col);
    const QTableWidgetItem* CellConst(int row, int col) const { return item(row, col); }
    void RestyleCell(int row, int col);
    bool IsFixed(int row, int col) const { return row < fixedRows_ || col < fixedCols_; }
    void Relayout();
    // Each column's width before the share of the free space.
    QList<int> BaseWidths() const;
    int MinRowHeight() const;

    int fixedRows_ = 0;
    int fixedCols_ = 0;
    bool editable_ = true;
    bool expand_ = false;
    QColor defaultBk_{Qt::white};
    QList<int> setWidths_;
    QSize minHint_;
};
