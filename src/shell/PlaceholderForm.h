#pragma once
// What the client area shows for a form that this version does not have yet.

#include "formkit/FormView.h"

class CPlaceholderForm : public CFormView {
    Q_OBJECT
public:
    CPlaceholderForm(int formId, const QString& name, QWidget* parent = nullptr);
};
