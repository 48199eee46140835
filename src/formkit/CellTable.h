#pragma once
// What a grid shows, without widgets: the texts and colour roles of its cells, and the
// cells changed since the last look. Cycles fill it; a form paints only the changed cells
// into its CGridCtrl; kvt40ctl prints it.
//
//     CellTable t(33, 7);
//     t.Set(1, 1, "220.0");
//     t.SetRole(5, 2, CellRole::Alarm);
//     for (CellPos p : t.TakeChanged()) grid.SetItemText(p.row, p.col, ...);
//     std::cout << t.Tsv();               // 33 lines of 7 tab-separated cells

#include <cstdint>
#include <string>
#include <vector>

// How a cell is coloured; the app maps each role to its RGB values in one place.
enum class CellRole : std::uint8_t {
    Normal,  // the form's ordinary background
    Header,  // a fixed header cell
    Alarm,   // an active alarm (red background)
    Ng,      // a failed accuracy check (red text)
};

struct CellPos {
    int row;
    int col;
    bool operator==(const CellPos&) const = default;
};

class CellTable {
public:
    CellTable() = default;
    CellTable(int rows, int cols) { Resize(rows, cols); }

    // Empties the table to rows x cols; every cell counts as changed.
    void Resize(int rows, int cols);
    int Rows() const { return rows_; }
    int Cols() const { return cols_; }

    // Outside the table these do nothing and read as empty / Normal.
    void Set(int row, int col, std::string text);
    void SetRole(int row, int col, CellRole role);
    const std::string& Text(int row, int col) const;
    CellRole Role(int row, int col) const;

    // The cells whose text or role changed since the last call, in row-major order.
    std::vector<CellPos> TakeChanged();
    bool AnyChanged() const { return !changed_.empty(); }

    // Rows [from, to) as lines of tab-separated cells, each ending in '\n'.
    std::string Tsv(int from = 0, int to = -1) const;

private:
    struct Cell {
        std::string text;
        CellRole role = CellRole::Normal;
        bool changed = true;
    };
    bool Inside(int row, int col) const { return row >= 0 && row < rows_ && col >= 0 && col < cols_; }
    Cell& At(int row, int col) { return cells_[static_cast<std::size_t>(row * cols_ + col)]; }
    void Mark(int row, int col);

    int rows_ = 0;
    int cols_ = 0;
    std::vector<Cell> cells_;
    std::vector<CellPos> changed_;
};
