#pragma once
// A message sink for an update worker that must never hang on the user-interface thread:
// Show hands the question to that thread through `post` and waits for the answer, but
// Close (called by the owner before it waits for the worker) releases a waiting Show with
// Cancel at once, and every later one. Without it, a worker asking while the user-interface
// thread sits in the owner's destructor waiting for that worker would wait forever.
//
//     HandOffSink sink(appSink, [this](std::function<void()> f) {
//         QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection); });
//     worker = std::thread([&] { sink.Show("升级成功!", "提示", MsgIcon::Information, MsgButtons::Ok); });
//     ...
//     sink.Close();        // in the destructor, before joining the worker
//     worker.join();
//
// Thread contract: Show from any thread but the one `post` delivers to; Close from any.
// `target` is used only on the thread `post` delivers to, and must outlive every posted call
// (posted calls may run after Close; they find the question already answered).

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "link/MessageSink.h"

class HandOffSink final : public MessageSink {
public:
    using Post = std::function<void(std::function<void()>)>;

    HandOffSink(MessageSink& target, Post post);
    ~HandOffSink() override { Close(); }
    HandOffSink(const HandOffSink&) = delete;
    HandOffSink& operator=(const HandOffSink&) = delete;

    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons) override;
    void Close();

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        bool closed = false;
    };
    MessageSink& target_;
    Post post_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};
