#pragma once
// "标准源设置" (template 169): the voltages and currents the standard source delivers. Each
// edit must hold a number (0 or more) before 确定 closes the dialog.

#include <QDialog>
#include <array>

#include "calibration/AdjustFormulas.h"
#include "link/MessageSink.h"

class QLineEdit;
class QPushButton;

class CStdSourceDlg : public QDialog {
    Q_OBJECT
public:
    CStdSourceDlg(const SourceSettings& values, MessageSink& sink, QWidget* parent = nullptr);

    // 确定: true (and the dialog accepted) when every edit holds a number; otherwise the
    // framework's message and the dialog stays open at the bad edit.
    bool OnOk();
    SourceSettings Values() const { return values_; }

    // Ua, Ub, Uc, Ia, Ib, Ic in that order (ids 1040, 1041, 1043, 1047, 1048, 1049).
    QLineEdit* Edit(int k) const { return edits_[static_cast<std::size_t>(k)]; }
    QPushButton* OkButton() const { return ok_; }

private:
    MessageSink& sink_;
    SourceSettings values_;
    std::array<QLineEdit*, 6> edits_{};
    QPushButton* ok_ = nullptr;
};

inline constexpr const char* kEnterANumber = "请输入一个数字。";
