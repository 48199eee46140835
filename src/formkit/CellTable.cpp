#include "formkit/CellTable.h"

#include <algorithm>

void CellTable::Resize(int rows, int cols) {
    rows_ = std::max(rows, 0);
    cols_ = std::max(cols, 0);
    cells_.assign(static_cast<std::size_t>(rows_ * cols_), Cell{});
    changed_.clear();
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < cols_; ++c) changed_.push_back({r, c});
}

void CellTable::Mark(int row, int col) {
    Cell& cell = At(row, col);
    if (cell.changed) return;
    cell.changed = true;
    changed_.push_back({row, col});
}

void CellTable::Set(int row, int col, std::string text) {
    if (!Inside(row, col)) return;
    Cell& cell = At(row, col);
    if (cell.text == text) return;
    cell.text = std::move(text);
    Mark(row, col);
}

void CellTable::SetRole(int row, int col, CellRole role) {
    if (!Inside(row, col)) return;
    Cell& cell = At(row, col);
    if (cell.role == role) return;
    cell.role = role;
    Mark(row, col);
}

const std::string& CellTable::Text(int row, int col) const {
    static const std::string kEmpty;
    return Inside(row, col) ? cells_[static_cast<std::size_t>(row * cols_ + col)].text : kEmpty;
}

CellRole CellTable::Role(int row, int col) const {
    return Inside(row, col) ? cells_[static_cast<std::size_t>(row * cols_ + col)].role : CellRole::Normal;
}

std::vector<CellPos> CellTable::TakeChanged() {
    std::vector<CellPos> out;
    out.swap(changed_);
    for (const CellPos& p : out) At(p.row, p.col).changed = false;
    std::sort(out.begin(), out.end(), [](const CellPos& a, const CellPos& b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    });
    return out;
}

std::string CellTable::Tsv(int from, int to) const {
    if (to < 0 || to > rows_) to = rows_;
    std::string out;
    for (int r = std::max(from, 0); r < to; ++r) {
        for (int c = 0; c < cols_; ++c) {
            if (c > 0) out += '\t';
            out += Text(r, c);
        }
        out += '\n';
    }
    return out;
}
