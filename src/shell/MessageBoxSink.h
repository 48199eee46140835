#pragma once
// The GUI's answer to core's questions: a modal QMessageBox with the given text,
// caption, icon and buttons.

#include <QWidget>

#include "link/MessageSink.h"

class CMessageBoxSink final : public MessageSink {
public:
    explicit CMessageBoxSink(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons) override;

private:
    QWidget* parent_;
};
