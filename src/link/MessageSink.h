#pragma once
// How core logic asks the user something: the GUI answers with a message box, the CLI
// and the tests with a scripted reply. Texts are UTF-8.

#include <string>

enum class MsgIcon { None, Information, Exclamation, Stop, Question };
enum class MsgButtons { Ok, OkCancel, RetryCancel, YesNo };
enum class MsgResult { Ok, Cancel, Retry, Yes, No };

class MessageSink {
public:
    virtual MsgResult Show(const std::string& text, const std::string& caption, MsgIcon icon,
                           MsgButtons buttons) = 0;
    virtual ~MessageSink() = default;
};
