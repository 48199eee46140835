#include "widgets/ItemBar.h"

CItemBar::CItemBar(QWidget* parent) : QDockWidget(QStringLiteral(" Items "), parent) {
    setObjectName(QStringLiteral("ItemBar122"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    outBar_ = new CGfxOutBarCtrl(this);
    outBar_->setObjectName(QStringLiteral("OutBar102"));
    outBar_->setMinimumWidth(130);
    setWidget(outBar_);
}
