#include "link/UpdateLog.h"

void UpdateLog::Append(std::string_view block) {
    const std::lock_guard lock(mutex_);
    text_.append(block);
    text_.append("\r\n");
}

std::string UpdateLog::Text() const {
    const std::lock_guard lock(mutex_);
    return text_;
}
