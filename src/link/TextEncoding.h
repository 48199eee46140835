#pragma once
// Text for the files the tool writes, which use the GBK code page (Windows code page 936),
// and text that modules send, which may be in it.

#include <optional>
#include <string>
#include <string_view>

// The GBK bytes of a UTF-8 text; nothing when the text is not valid UTF-8 or a character has
// no GBK form (so a report is never written with a character silently replaced). ASCII is
// unchanged; the same bytes on every system.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// Text received from a device (a bootloader's banner), for showing: each line that is valid
// UTF-8 stays as it is, any other line is read as GBK (a byte that is not GBK either shows as
// U+FFFD). Line breaks are kept; the result is always valid UTF-8.
std::string DeviceTextToUtf8(std::string_view bytes);

// Whether the bytes are valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
