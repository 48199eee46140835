#pragma once
// The firmware image: a file read whole into one buffer ("rb", size by seeking to the end,
// one read of that size), freed by the caller after the transfer. Every way it can fail is
// told apart, so the user sees why nothing was sent.
//
//     std::string why;
//     if (auto image = ReadImage(path, why)) transmit(*image);
//     else show(why);                       // "cannot open /x.bin: No such file or directory"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The size of the file as the update takes it, or nullopt with `why` set: not openable,
// not seekable, or larger than a 32-bit size.
std::optional<std::uint32_t> ProbeImage(const std::string& path, std::string& why);
// The whole file, or nullopt with `why` set (also when fewer bytes could be read than it has).
std::optional<std::vector<std::uint8_t>> ReadImage(const std::string& path, std::string& why);
