#include "shell/MessageBoxSink.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

MsgResult CMessageBoxSink::Show(const std::string& text, const std::string& caption, MsgIcon icon,
                                MsgButtons buttons) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread())
        return ShowHere(text, caption, icon, buttons);
    // Widgets live on the user-interface thread only; the worker blocks until the answer.
    MsgResult result = MsgResult::Cancel;
    QMetaObject::invokeMethod(
        app, [&] { result = ShowHere(text, caption, icon, buttons); }, Qt::BlockingQueuedConnection);
    return result;
}

MsgResult CMessageBoxSink::ShowHere(const std::string& text, const std::string& caption, MsgIcon icon,
                                    MsgButtons buttons) {
    QMessageBox box(parent_.data());
    box.setText(QString::fromStdString(text));
    box.setWindowTitle(QString::fromStdString(caption));
    switch (icon) {
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MsgIcon::None:
            break;
    }
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MsgButtons::RetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
    }
    switch (runner_ ? runner_(box) : box.exec()) {
        case QMessageBox::Ok:
            return MsgResult::Ok;
        case QMessageBox::Retry:
            return MsgResult::Retry;
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        default:
            return MsgResult::Cancel;
    }
}
