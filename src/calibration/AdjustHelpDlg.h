#pragma once
// "校表说明" (template 172): the calibration procedure in a read-only text, modeless; every
// click on 使用说明 opens another one.

#include <QDialog>

class QPlainTextEdit;

class CAdjustHelpDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAdjustHelpDlg(QWidget* parent = nullptr);
    QPlainTextEdit* TextEdit() const { return text_; }

private:
    QPlainTextEdit* text_;
};
