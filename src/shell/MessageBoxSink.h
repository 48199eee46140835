#pragma once
// The GUI's answer to core's questions: a modal QMessageBox with the given text, caption,
// icon and buttons. A worker thread may call Show too: the box is shown on the
// user-interface thread and the worker waits for the answer.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "link/MessageSink.h"

class QMessageBox;

class CMessageBoxSink final : public MessageSink {
public:
    explicit CMessageBoxSink(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons) override;

    // How a prepared box is run: exec() by default; tests answer it themselves.
    using BoxRunner = std::function<int(QMessageBox&)>;
    void SetBoxRunner(BoxRunner runner) { runner_ = std::move(runner); }

private:
    MsgResult ShowHere(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons);

    QPointer<QWidget> parent_;
    BoxRunner runner_;
};
