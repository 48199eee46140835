#include "update/ImageFile.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemText(int error) { return std::generic_category().message(error); }

// Opens the file and takes its size; the stream is left at the start.
File OpenSized(const std::string& path, std::uint32_t& size, std::string& why) {
    errno = 0;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        why = "cannot open " + path + ": " + SystemText(errno);
        return nullptr;
    }
    long end = -1;
    if (std::fseek(f.get(), 0, SEEK_END) == 0) end = std::ftell(f.get());
    if (end < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) {
        why = "cannot read " + path + ": " + SystemText(errno != 0 ? errno : EIO);
        return nullptr;
    }
    if (static_cast<unsigned long>(end) > std::numeric_limits<std::uint32_t>::max()) {
        why = "cannot send " + path + ": larger than 4 GiB";
        return nullptr;
    }
    size = static_cast<std::uint32_t>(end);
    return f;
}

}  // namespace

std::optional<std::uint32_t> ProbeImage(const std::string& path, std::string& why) {
    std::uint32_t size = 0;
    if (!OpenSized(path, size, why)) return std::nullopt;
    return size;
}

std::optional<std::vector<std::uint8_t>> ReadImage(const std::string& path, std::string& why) {
    std::uint32_t size = 0;
    File f = OpenSized(path, size, why);
    if (!f) return std::nullopt;
    std::vector<std::uint8_t> image;
    try {
        image.resize(size);
    } catch (const std::bad_alloc&) {
        why = "cannot read " + path + ": not enough memory";
        return std::nullopt;
    }
    errno = 0;
    const std::size_t got = size == 0 ? 0 : std::fread(image.data(), size, 1, f.get());
    if (size != 0 && got != 1) {
        // A directory opens and seeks on some systems and fails only here.
        why = "cannot read " + path + ": " + SystemText(errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    return image;
}
