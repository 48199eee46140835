#include "widgets/GridCtrl.h"

#include <QComboBox>
#include <QDoubleValidator>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {
constexpr int kTypeRole = Qt::UserRole + 1;
constexpr int kOptionsRole = Qt::UserRole + 2;
constexpr int kReadOnlyRole = Qt::UserRole + 3;
const QColor kFixedBk(236, 236, 236);
// Room around a cell's text: the style's margins on both sides and the grid line.
constexpr int kCellPadding = 12;

// Edits drop-down cells with a combo box and numeric cells with a validated line edit.
class CellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        const auto type = static_cast<CGridCtrl::CellType>(index.data(kTypeRole).toInt());
        if (type == CGridCtrl::CellType::Combo) {
            auto* box = new QComboBox(parent);
            box->addItems(index.data(kOptionsRole).toStringList());
            return box;
        }
        if (type == CGridCtrl::CellType::Numeric) {
            auto* edit = new QLineEdit(parent);
            auto* v = new QDoubleValidator(edit);
            v->setNotation(QDoubleValidator::StandardNotation);
            edit->setValidator(v);
            return edit;
        }
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            box->setCurrentText(index.data(Qt::DisplayRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor)) {
            model->setData(index, box->currentText(), Qt::DisplayRole);
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};
}  // namespace

CGridCtrl::CGridCtrl(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setItemDelegate(new CellDelegate(this));
    setWordWrap(false);
    setCornerButtonEnabled(false);
    connect(this, &QTableWidget::cellChanged, this, &CGridCtrl::CellEdited);
}

void CGridCtrl::SetRowCount(int rows) {
    const int old = rowCount();
    setRowCount(rows);
    for (int r = old; r < rows; ++r)
        for (int c = 0; c < columnCount(); ++c) Cell(r, c);
    Relayout();
}

void CGridCtrl::SetColumnCount(int cols) {
    const int old = columnCount();
    setColumnCount(cols);
    while (setWidths_.size() < cols) setWidths_.append(-1);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = old; c < cols; ++c) Cell(r, c);
    Relayout();
}

void CGridCtrl::SetFixedRowCount(int rows) {
    fixedRows_ = rows;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) RestyleCell(r, c);
}

void CGridCtrl::SetFixedColumnCount(int cols) {
    fixedCols_ = cols;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) RestyleCell(r, c);
}

QTableWidgetItem* CGridCtrl::Cell(int row, int col) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return nullptr;
    QTableWidgetItem* it = item(row, col);
    if (it == nullptr) {
        const QSignalBlocker block(this);
        it = new QTableWidgetItem();
        it->setData(kTypeRole, static_cast<int>(CellType::Text));
        setItem(row, col, it);
        RestyleCell(row, col);
    }
    return it;
}

void CGridCtrl::RestyleCell(int row, int col) {
    QTableWidgetItem* it = item(row, col);
    if (it == nullptr) return;
    const QSignalBlocker block(this);
    const bool fixed = IsFixed(row, col);
    if (!it->data(Qt::BackgroundRole).isValid() || it->data(Qt::UserRole).toBool() == false)
        it->setBackground(fixed ? kFixedBk : defaultBk_);
    Qt::ItemFlags f = Qt::ItemIsEnabled;
    const auto type = static_cast<CellType>(it->data(kTypeRole).toInt());
    const bool ro = fixed || !editable_ || it->data(kReadOnlyRole).toBool();
    if (type == CellType::Check) {
        if (!ro) f |= Qt::ItemIsUserCheckable;
        if (!it->data(Qt::CheckStateRole).isValid()) it->setCheckState(Qt::Unchecked);
    } else if (!ro) {
        f |= Qt::ItemIsEditable;
    }
    if (selectionMode() != QAbstractItemView::NoSelection) f |= Qt::ItemIsSelectable;
    it->setFlags(f);
}

void CGridCtrl::SetItemText(int row, int col, const QString& text) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        if (it->text() != text) it->setText(text);
    }
}

QString CGridCtrl::GetItemText(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it != nullptr ? it->text() : QString();
}

void CGridCtrl::SetItemBkColour(int row, int col, const QColor& colour) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        it->setData(Qt::UserRole, true);  // set by the form: the default no longer applies
        if (it->background().color() != colour || it->background().style() != Qt::SolidPattern)
            it->setBackground(colour);
    }
}

void CGridCtrl::SetItemFgColour(int row, int col, const QColor& colour) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        if (it->foreground().color() != colour || it->foreground().style() != Qt::SolidPattern)
            it->setForeground(colour);
    }
}

QColor CGridCtrl::GetItemFgColour(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    if (it == nullptr || it->foreground().style() == Qt::NoBrush) return palette().color(QPalette::Text);
    return it->foreground().color();
}

QColor CGridCtrl::GetItemBkColour(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it != nullptr ? it->background().color() : QColor();
}

void CGridCtrl::SetItemAlignment(int row, int col, Qt::Alignment alignment) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        it->setTextAlignment(alignment);
    }
}

void CGridCtrl::SetItemBold(int row, int col, bool bold) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        QFont f = it->font();
        f.setBold(bold);
        it->setFont(f);
    }
}

void CGridCtrl::SetDefaultBkColour(const QColor& colour) {
    defaultBk_ = colour;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) RestyleCell(r, c);
}

void CGridCtrl::SetEditable(bool editable) {
    editable_ = editable;
    setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::SelectedClicked
                             : QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) RestyleCell(r, c);
}

void CGridCtrl::SetItemReadOnly(int row, int col, bool readOnly) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        it->setData(kReadOnlyRole, readOnly);
        RestyleCell(row, col);
    }
}

bool CGridCtrl::IsItemReadOnly(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it == nullptr || !(it->flags() & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable));
}

void CGridCtrl::SetCellType(int row, int col, CellType type) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        it->setData(kTypeRole, static_cast<int>(type));
        if (type != CellType::Check) it->setData(Qt::CheckStateRole, QVariant());
        RestyleCell(row, col);
    }
}

CGridCtrl::CellType CGridCtrl::GetCellType(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it != nullptr ? static_cast<CellType>(it->data(kTypeRole).toInt()) : CellType::Text;
}

void CGridCtrl::SetCheck(int row, int col, bool checked) {
    if (QTableWidgetItem* it = Cell(row, col)) {
        const QSignalBlocker block(this);
        it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

bool CGridCtrl::GetCheck(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it != nullptr && it->checkState() == Qt::Checked;
}

void CGridCtrl::SetCellOptions(int row, int col, const QStringList& options) {
    if (QTableWidgetItem* it = Cell(row, col)) it->setData(kOptionsRole, options);
}

QStringList CGridCtrl::GetCellOptions(int row, int col) const {
    const QTableWidgetItem* it = CellConst(row, col);
    return it != nullptr ? it->data(kOptionsRole).toStringList() : QStringList();
}

void CGridCtrl::SetColumnWidthPx(int col, int width) {
    if (col < 0 || col >= columnCount()) return;
    setWidths_[col] = width;
    setColumnWidth(col, width);
    Relayout();
}

void CGridCtrl::ExpandToFit(bool expand) {
    expand_ = expand;
    Relayout();
}

void CGridCtrl::SetScrollBarsVisible(bool visible) {
    const auto policy = visible ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
}

void CGridCtrl::SetReadOutOnly() {
    SetEditable(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c) RestyleCell(r, c);
}

void CGridCtrl::resizeEvent(QResizeEvent* e) {
    QTableWidget::resizeEvent(e);
    Relayout();
}

QList<int> CGridCtrl::BaseWidths() const {
    QList<int> base(columnCount(), 0);
    for (int c = 0; c < columnCount(); ++c) {
        if (setWidths_.value(c, -1) > 0) {
            base[c] = setWidths_[c];
            continue;
        }
        int need = 10;
        for (int r = 0; r < rowCount(); ++r) {
            const QTableWidgetItem* it = item(r, c);
            if (it == nullptr || it->text().isEmpty()) continue;
            need = std::max(need, QFontMetrics(it->font()).horizontalAdvance(it->text()) + kCellPadding);
        }
        base[c] = need;
    }
    return base;
}

// A line of text and the grid line.
int CGridCtrl::MinRowHeight() const {
    return fontMetrics().height() + 4;
}

QSize CGridCtrl::minimumSizeHint() const {
    return expand_ && minHint_.isValid() ? minHint_ : QTableWidget::minimumSizeHint();
}

// Set widths, or the widest text's, first; then every column an equal share of the rest,
// so no header is cut while there is room. The rows share the height.
void CGridCtrl::Relayout() {
    if (!expand_ || rowCount() == 0 || columnCount() == 0) return;
    const int w = viewport()->width();
    const int h = viewport()->height();
    const int cols = columnCount();
    const QList<int> base = BaseWidths();
    int used = 0;
    for (int c = 0; c < cols; ++c) used += base[c];
    const int frame = 2 * frameWidth();
    const QSize min(used + frame, rowCount() * MinRowHeight() + frame);
    if (min != minHint_) {
        minHint_ = min;
        updateGeometry();  // the form's layout (and its scroll area) learn the new minimum
    }
    // Too narrow for every text: the columns keep their widths and the right ones are cut.
    const int extra = std::max(w - used, 0);
    int given = 0;
    for (int c = 0; c < cols; ++c) {
        const int share = c == cols - 1 ? extra - given : extra / cols;
        given += share;
        setColumnWidth(c, std::max(base[c] + share, 10));
    }
    int usedH = 0;
    for (int r = 0; r < rowCount(); ++r) {
        const int rh = (h * (r + 1)) / rowCount() - usedH;
        setRowHeight(r, rh > 4 ? rh : 4);
        usedH += rh;
    }
}
