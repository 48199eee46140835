#pragma once
// How core logic asks the user something: the GUI answers with a message box, the CLI
// and the tests with a scripted reply. Texts are UTF-8.
//
// Thread contract: Show may be called from the user-interface thread or from a worker;
// it blocks its caller until the answer. A sink that shows widgets hands the question to
// the user-interface thread (which must be running its event loop, not waiting for that
// worker) and waits there.

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
