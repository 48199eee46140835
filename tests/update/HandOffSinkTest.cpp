// A worker's question handed to the thread that owns the message boxes, and released when
// the owner closes the sink before waiting for the worker. Runs under the thread sanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <thread>

#include "support/RecordingSink.h"
#include "update/HandOffSink.h"

namespace {

// This test's thread plays the user-interface thread: posted calls queue up for it.
class PostedCalls {
public:
    void Post(std::function<void()> f) {
        const std::lock_guard lock(mutex_);
        calls_.push_back(std::move(f));
        cv_.notify_all();
    }
    // Runs the next posted call; false when none came within the bound.
    bool RunNext() {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !calls_.empty(); })) return false;
        auto f = std::move(calls_.front());
        calls_.pop_front();
        lock.unlock();
        f();
        return true;
    }
    bool WaitForPosted() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !calls_.empty(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> calls_;
};

}  // namespace

TEST(HandOffSink, TheAnswerComesFromTheOwningThread) {
    RecordingSink boxes;
    boxes.answers = {MsgResult::Ok};
    PostedCalls ui;
    HandOffSink sink(boxes, [&](std::function<void()> f) { ui.Post(std::move(f)); });
    MsgResult answer = MsgResult::Cancel;
    std::thread worker(
        [&] { answer = sink.Show("升级成功!", "提示", MsgIcon::Information, MsgButtons::Ok); });
    ASSERT_TRUE(ui.RunNext());
    worker.join();
    EXPECT_EQ(answer, MsgResult::Ok);
    ASSERT_EQ(boxes.messages.size(), 1u);
    EXPECT_EQ(boxes.messages[0].text, "升级成功!");
    EXPECT_EQ(boxes.messages[0].icon, MsgIcon::Information);
}

TEST(HandOffSink, CloseReleasesAWaitingWorkerAndTheLateCallShowsNothing) {
    RecordingSink boxes;
    PostedCalls ui;
    HandOffSink sink(boxes, [&](std::function<void()> f) { ui.Post(std::move(f)); });
    MsgResult answer = MsgResult::Ok;
    std::thread worker([&] { answer = sink.Show("升级失败!", "提示", MsgIcon::Stop, MsgButtons::Ok); });
    ASSERT_TRUE(ui.WaitForPosted());
    sink.Close();  // what the owner's destructor does before it waits for the worker
    worker.join();
    EXPECT_EQ(answer, MsgResult::Cancel);
    ASSERT_TRUE(ui.RunNext());
    EXPECT_TRUE(boxes.messages.empty());
    EXPECT_EQ(sink.Show("again", "提示", MsgIcon::Stop, MsgButtons::Ok), MsgResult::Cancel);
}
