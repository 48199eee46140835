// A worker's question reaches the user on the user-interface thread and its answer comes back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <atomic>
#include <thread>

#include "shell/MessageBoxSink.h"

TEST(MessageBoxSink, AWorkerWaitsForTheAnswerGivenOnTheUserInterfaceThread) {
    CMessageBoxSink sink;
    QString shownText;
    QString shownTitle;
    bool onUiThread = false;
    sink.SetBoxRunner([&](QMessageBox& box) {
        onUiThread = QThread::currentThread() == qApp->thread();
        shownText = box.text();
        shownTitle = box.windowTitle();
        return static_cast<int>(QMessageBox::Retry);
    });
    std::atomic<bool> done{false};
    MsgResult answer = MsgResult::Cancel;
    std::thread worker([&] {
        answer = sink.Show("升级失败!", "提示", MsgIcon::Information, MsgButtons::RetryCancel);
        done = true;
    });
    QElapsedTimer bound;
    bound.start();
    while (!done && bound.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    EXPECT_TRUE(onUiThread);
    EXPECT_EQ(shownText, QStringLiteral("升级失败!"));
    EXPECT_EQ(shownTitle, QStringLiteral("提示"));
    EXPECT_EQ(answer, MsgResult::Retry);

    // On the user-interface thread itself the box is shown directly.
    EXPECT_EQ(sink.Show("x", "y", MsgIcon::Stop, MsgButtons::Ok), MsgResult::Retry);
}
