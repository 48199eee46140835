#pragma once
// Text for the files the tool writes, which use the GBK code page (Windows code page 936).

#include <optional>
#include <string>
#include <string_view>

// The GBK bytes of a UTF-8 text; nothing when the text is not valid UTF-8 or a character has
// no GBK form (so a report is never written with a character silently replaced). ASCII is
// unchanged; the same bytes on every system.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
