#pragma once
// The run's text of bootloader replies: empty at start, appended block by block
// (each followed by "\r\n"), never cleared. The update worker appends while the
// user-interface thread may take a snapshot, so it is guarded.

#include <mutex>
#include <string>
#include <string_view>

class UpdateLog {
public:
    void Append(std::string_view block);
    std::string Text() const;

private:
    mutable std::mutex mutex_;
    std::string text_;
};
