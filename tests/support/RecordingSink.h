#pragma once
// A message sink that records every question and answers from a script
// (Cancel once the script runs out), so a test can assert texts, captions and icons.

#include <deque>
#include <string>
#include <vector>

#include "link/MessageSink.h"

struct RecordedMessage {
    std::string text;
    std::string caption;
    MsgIcon icon;
    MsgButtons buttons;
};

class RecordingSink final : public MessageSink {
public:
    MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon,
                   MsgButtons buttons) override {
        messages.push_back({text, caption, icon, buttons});
        if (answers.empty()) return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
        const MsgResult r = answers.front();
        answers.pop_front();
        return r;
    }

    std::deque<MsgResult> answers;
    std::vector<RecordedMessage> messages;
};
