#pragma once
// Outlook-style navigation bar: folders, each a column of large icons with their texts.
// One folder is open at a time; clicking a folder title only opens that folder, clicking
// an item reports (folder, item position) through ItemClicked.

#include <QIcon>
#include <QList>
#include <QToolBox>

class QListWidget;

class CGfxOutBarCtrl : public QToolBox {
    Q_OBJECT
public:
    explicit CGfxOutBarCtrl(QWidget* parent = nullptr);

    // Images referred to by index in InsertItem: large for the item icons, small for menus.
    void SetImageList(const QList<QIcon>& large, const QList<QIcon>& small);
    // Returns the new folder's index.
    int AddFolder(const QString& title);
    // A position beyond the end appends. Returns the item's position, -1 for no such folder.
    int InsertItem(int folder, int position, const QString& text, int image);

    int GetFolderCount() const { return count(); }
    int GetItemCount(int folder) const;
    void SetSelFolder(int folder);
    int GetSelFolder() const { return currentIndex(); }
    // Text of an item of the selected folder; empty when there is no such item.
    QString GetItemText(int index) const;
    QString GetFolderText(int folder) const { return itemText(folder); }
    int GetItemImage(int folder, int index) const;
    QIcon GetItemIcon(int folder, int index) const;

    QSize sizeHint() const override { return {170, 400}; }

    // What a mouse click on an item does (also used by tests and keyboard activation).
    void ClickItem(int folder, int index);

signals:
    // Code 1 of the frame's notification: an item was clicked.
    void ItemClicked(int folder, int index);

private:
    QListWidget* List(int folder) const;

    QList<QIcon> large_;
    QList<QIcon> small_;
};
