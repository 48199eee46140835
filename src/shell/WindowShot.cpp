#include "shell/WindowShot.h"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

QImage GrabWithDialogs(QWidget& window) {
    QImage shot = window.grab().toImage();
    QPainter painter(&shot);
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == &window || !top->isVisible() || qobject_cast<QDialog*>(top) == nullptr) continue;
        const QPixmap dialog = top->grab();
        QPoint at = top->geometry().topLeft() - window.geometry().topLeft();
        // Off the window (no window manager placed it): centred, as a message box opens.
        if (!shot.rect().contains(QRect(at, dialog.size())))
            at = QPoint((shot.width() - dialog.width()) / 2, (shot.height() - dialog.height()) / 2);
        painter.drawPixmap(at, dialog);
    }
    return shot;
}
