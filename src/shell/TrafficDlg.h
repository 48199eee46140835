#pragma once
// "Communication Traffic" (template 178): a non-modal snapshot of the update log.

#include <QDialog>

class QPlainTextEdit;
class UpdateLog;

class CTrafficDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTrafficDlg(const UpdateLog& updateLog, QWidget* parent = nullptr);
    QString Text() const { return text_; }
    QPlainTextEdit* Edit() const { return edit_; }

private:
    QPlainTextEdit* edit_;
    QString text_;
};
