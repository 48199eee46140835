#pragma once
// The dockable " Items " bar at the left of the main window; it holds the navigation bar.

#include <QDockWidget>

#include "widgets/GfxOutBarCtrl.h"

class CItemBar : public QDockWidget {
    Q_OBJECT
public:
    explicit CItemBar(QWidget* parent = nullptr);
    CGfxOutBarCtrl& OutBar() { return *outBar_; }

private:
    CGfxOutBarCtrl* outBar_;
};
