#pragma once
// The settings commands' sink: it keeps the messages a form would have shown, so the
// command prints them (results on stdout, failures on stderr).

#include <string>
#include <vector>

#include "link/MessageSink.h"

// Keeps every message a form would have shown; answers OK.
class KeptMessages final : public MessageSink {
public:
    MsgResult Show(const std::string& text, const std::string&, MsgIcon icon, MsgButtons) override {
        texts.push_back(text);
        icons.push_back(icon);
        return MsgResult::Ok;
    }
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }

    std::vector<std::string> texts;
    std::vector<MsgIcon> icons;
};
