#pragma once
// The code page of the files the tool writes: UTF-8 text to GBK bytes (two bytes per
// Chinese character). The one place that knows how; a Windows build swaps the body.

#include <optional>
#include <string>
#include <string_view>

// The GBK bytes of `utf8`; nothing when it holds a character GBK cannot encode or is not
// valid UTF-8.
std::optional<std::string> EncodeGbk(std::string_view utf8);
