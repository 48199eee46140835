#pragma once
// The firmware image: a file read whole into one buffer ("rb", size by seeking to the end,
// one read of that size), freed by the caller after the transfer. Every way it can fail is
// told apart, so the user sees why nothing was sent.
//
//     std::string why;
//     if (auto image = ReadImage(path, why)) transmit(*image);
//     else show(why);                       // "cannot open /x.bin: No such file or directory"
//
// Only what can be firmware is taken: a regular file (a folder, a FIFO or a device is told
// by its type and never opened, so a FIFO cannot hang the caller), not empty, and at most
// kImageCapBytes unless the caller lifts the cap.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The largest image sent without being forced: 1 MiB, several times any module's flash,
// already about 20 minutes of transfer at 9600 baud. A bigger file is almost surely the
// wrong one.
inline constexpr std::uint32_t kImageCapBytes = 1024 * 1024;

// The size of the file as the update takes it, or nullopt with `why` set: missing, not a
// regular file, empty, over the cap (unless `overCap`), not openable, or larger than a
// 32-bit size.
std::optional<std::uint32_t> ProbeImage(const std::string& path, std::string& why, bool overCap = false);
// The whole file, or nullopt with `why` set (the same refusals; also when fewer bytes could
// be read than it has).
std::optional<std::vector<std::uint8_t>> ReadImage(const std::string& path, std::string& why,
                                                   bool overCap = false);
// The full path of `path` as block 0 carries it (what a file dialog hands over): absolute,
// with "." and ".." taken out where that still names the same file. `path` itself when
// the system cannot tell.
std::string FullImagePath(const std::string& path);
