#include "update/HandOffSink.h"

#include <optional>

HandOffSink::HandOffSink(MessageSink& target, Post post) : target_(target), post_(std::move(post)) {}

MsgResult HandOffSink::Show(const std::string& text, const std::string& caption, MsgIcon icon,
                            MsgButtons buttons) {
    struct Call {
        std::optional<MsgResult> answer;
    };
    auto call = std::make_shared<Call>();
    {
        const std::lock_guard lock(gate_->mutex);
        if (gate_->closed) return MsgResult::Cancel;
    }
    // The posted call keeps the gate and the call alive; it may run after this Show gave up.
    post_([gate = gate_, call, &target = target_, text, caption, icon, buttons] {
        {
            const std::lock_guard lock(gate->mutex);
            if (gate->closed) return;
        }
        const MsgResult r = target.Show(text, caption, icon, buttons);
        const std::lock_guard lock(gate->mutex);
        call->answer = r;
        gate->cv.notify_all();
    });
    std::unique_lock lock(gate_->mutex);
    gate_->cv.wait(lock, [&] { return gate_->closed || call->answer.has_value(); });
    return call->answer.value_or(MsgResult::Cancel);
}

void HandOffSink::Close() {
    const std::lock_guard lock(gate_->mutex);
    gate_->closed = true;
    gate_->cv.notify_all();
}
