#include "widgets/Lamp.h"

#include <QPainter>
#include <QRadialGradient>
#include <algorithm>

CLamp::CLamp(QWidget* parent) : QWidget(parent) {
    // A tick whose lamp looks as last painted asks for nothing: six lamps redrawn five
    // times a second for no change would cost more than the polling.
    connect(&repaint_, &QTimer::timeout, this, [this] {
        if (painted_ != FaceColour()) update();
    });
    repaint_.start(kRepaintMs);
}

void CLamp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = std::min(width(), height()) - 1;
    const QRectF outer((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    // The rim: light from the top left, shade at the bottom right.
    QLinearGradient rim(outer.topLeft(), outer.bottomRight());
    rim.setColorAt(0.0, QColor(235, 235, 235));
    rim.setColorAt(1.0, QColor(105, 105, 105));
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(rim);
    p.drawEllipse(outer);
    const qreal inset = std::max<qreal>(2.0, d / 7.0);
    const QRectF face = outer.adjusted(inset, inset, -inset, -inset);
    const QColor c = FaceColour();
    painted_ = c;
    QRadialGradient glow(face.center() - QPointF(face.width() / 5, face.height() / 5), face.width() / 1.5);
    glow.setColorAt(0.0, lit_ ? c.lighter(160) : QColor(70, 70, 70));
    glow.setColorAt(0.45, c);
    glow.setColorAt(1.0, lit_ ? c.darker(130) : c);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(glow);
    p.drawEllipse(face);
}
