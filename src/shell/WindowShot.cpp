#include "shell/WindowShot.h"

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <utility>
#include <vector>

QImage GrabWithDialogs(QWidget& window) {
    const QPixmap main = window.grab();
    // Where each open dialog goes: where it stands when that overlaps the window, centred
    // over it when it stands nowhere near (no window manager placed it).
    std::vector<std::pair<QPixmap, QPoint>> dialogs;
    QRect canvas(QPoint(0, 0), main.size());
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == &window || !top->isVisible() || qobject_cast<QDialog*>(top) == nullptr) continue;
        QPixmap dialog = top->grab();
        QPoint at = top->geometry().topLeft() - window.geometry().topLeft();
        if (!QRect(QPoint(0, 0), main.size()).intersects(QRect(at, dialog.size())))
            at = QPoint((main.width() - dialog.width()) / 2, (main.height() - dialog.height()) / 2);
        canvas = canvas.united(QRect(at, dialog.size()));
        dialogs.emplace_back(std::move(dialog), at);
    }
    // A dialog larger than the window (the traffic window) widens the picture, never cut.
    QImage shot(canvas.size() * main.devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    shot.setDevicePixelRatio(main.devicePixelRatio());
    shot.fill(Qt::transparent);
    QPainter painter(&shot);
    painter.translate(-canvas.topLeft());
    painter.drawPixmap(0, 0, main);
    for (const auto& [dialog, at] : dialogs) painter.drawPixmap(at, dialog);
    return shot;
}
