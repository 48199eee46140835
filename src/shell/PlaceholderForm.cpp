#include "shell/PlaceholderForm.h"

#include <QLabel>
#include <QVBoxLayout>

CPlaceholderForm::CPlaceholderForm(int formId, const QString& name, QWidget* parent)
    : CFormView(formId, parent) {
    auto* label =
        new QLabel(QStringLiteral("%1\n\nThis form is not available in this version yet.").arg(name), this);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("color: #5a6470; font-size: 13px;"));
    auto* top = new QVBoxLayout(this);
    top->addWidget(label);
}
