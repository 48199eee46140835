#pragma once
// The text a live view and its kvt40ctl command show when the module's reply to a reading
// failed its check. Its own unit, so a command that prints it needs no measurement cycle.

inline constexpr const char* kUnableToReadText = "Unable to read meter data!";
