#include "formkit/FormView.h"

CFormView::CFormView(int formId, QWidget* parent) : QWidget(parent), formId_(formId) {
    setObjectName(QStringLiteral("form%1").arg(formId));
}
