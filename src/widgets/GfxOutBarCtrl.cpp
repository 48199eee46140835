#include "widgets/GfxOutBarCtrl.h"

#include <QListWidget>

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
}

CGfxOutBarCtrl::CGfxOutBarCtrl(QWidget* parent) : QToolBox(parent) {
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(
        "QToolBox::tab { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f4f6f9, stop:1 #dde3ea);"
        " border: 1px solid #b8c2cc; border-radius: 2px; padding-left: 6px; font-weight: bold; color: "
        "#23303d; }"
        "QToolBox::tab:selected { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e3edf8, stop:1 "
        "#c6d8ec); }");
}

void CGfxOutBarCtrl::SetImageList(const QList<QIcon>& large, const QList<QIcon>& small) {
    large_ = large;
    small_ = small;
}

int CGfxOutBarCtrl::AddFolder(const QString& title) {
    auto* list = new QListWidget(this);
    list->setViewMode(QListView::IconMode);
    list->setFlow(QListView::TopToBottom);
    list->setMovement(QListView::Static);
    list->setResizeMode(QListView::Adjust);
    list->setWrapping(false);
    list->setIconSize(QSize(32, 32));
    list->setGridSize(QSize(150, 64));
    list->setWordWrap(true);
    list->setSpacing(2);
    list->setFrameShape(QFrame::NoFrame);
    list->setFocusPolicy(Qt::NoFocus);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setStyleSheet(
        "QListWidget { background: #5f7d98; color: white; }"
        "QListWidget::item:hover { background: rgba(255,255,255,40); border-radius: 3px; }"
        "QListWidget::item:selected { background: rgba(255,255,255,70); color: white; border-radius: 3px; }");
    const int folder = addItem(list, title);
    connect(list, &QListWidget::itemClicked, this,
            [this, list](QListWidgetItem* it) { ClickItem(indexOf(list), list->row(it)); });
    return folder;
}

QListWidget* CGfxOutBarCtrl::List(int folder) const {
    return qobject_cast<QListWidget*>(widget(folder));
}

int CGfxOutBarCtrl::InsertItem(int folder, int position, const QString& text, int image) {
    QListWidget* list = List(folder);
    if (list == nullptr) return -1;
    if (position < 0 || position > list->count()) position = list->count();
    auto* it = new QListWidgetItem(text);
    it->setData(kImageRole, image);
    if (image >= 0 && image < large_.size()) it->setIcon(large_[image]);
    it->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    it->setSizeHint(QSize(150, 60));  // the whole cell, so icon and text sit centred
    list->insertItem(position, it);
    return position;
}

int CGfxOutBarCtrl::GetItemCount(int folder) const {
    const QListWidget* list = List(folder);
    return list != nullptr ? list->count() : 0;
}

void CGfxOutBarCtrl::SetSelFolder(int folder) {
    if (folder >= 0 && folder < count()) setCurrentIndex(folder);
}

QString CGfxOutBarCtrl::GetItemText(int index) const {
    const QListWidget* list = List(currentIndex());
    if (list == nullptr || index < 0 || index >= list->count()) return {};
    return list->item(index)->text();
}

int CGfxOutBarCtrl::GetItemImage(int folder, int index) const {
    const QListWidget* list = List(folder);
    if (list == nullptr || index < 0 || index >= list->count()) return -1;
    return list->item(index)->data(kImageRole).toInt();
}

QIcon CGfxOutBarCtrl::GetItemIcon(int folder, int index) const {
    const QListWidget* list = List(folder);
    if (list == nullptr || index < 0 || index >= list->count()) return {};
    return list->item(index)->icon();
}

void CGfxOutBarCtrl::ClickItem(int folder, int index) {
    QListWidget* list = List(folder);
    if (list == nullptr || index < 0 || index >= list->count()) return;
    SetSelFolder(folder);
    list->setCurrentRow(index);
    emit ItemClicked(folder, index);
}
