#pragma once
// An indicator lamp: a round light, red (or its set colour) when lit, black when dark,
// with a grey three-dimensional rim. It repaints itself from its own 200 ms timer; its
// owner only sets it lit or dark, and the change shows at the lamp's next tick.

#include <QColor>
#include <QTimer>
#include <QWidget>

class CLamp : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRepaintMs = 200;

    explicit CLamp(QWidget* parent = nullptr);

    void SetLit(bool lit) { lit_ = lit; }
    bool IsLit() const { return lit_; }
    void SetOnColour(const QColor& colour) { on_ = colour; }
    QColor OnColour() const { return on_; }
    // The colour of the light's face as it is painted now.
    QColor FaceColour() const { return lit_ ? on_ : QColor(Qt::black); }
    const QTimer& RepaintTimer() const { return repaint_; }

    QSize sizeHint() const override { return {33, 36}; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool lit_ = false;
    QColor on_{255, 0, 0};
    QColor painted_;  // the face as last painted; invalid before the first paint
    QTimer repaint_;
};
