#pragma once
// What the client area shows for a form that this version does not have yet.

#include <QWidget>

class CPlaceholderForm : public QWidget {
    Q_OBJECT
public:
    CPlaceholderForm(int formId, const QString& name, QWidget* parent = nullptr);
    int FormId() const { return formId_; }

private:
    int formId_;
};
