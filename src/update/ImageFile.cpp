#include "update/ImageFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace {

namespace fs = std::filesystem;

struct FileCloser {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemText(int error) {
    return std::generic_category().message(error);
}

const char* KindText(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory:
            return "a folder";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::character:
        case fs::file_type::block:
            return "a device";
        case fs::file_type::socket:
            return "a socket";
        default:
            return "not a regular file";
    }
}

// By the file's type alone (stat, never open): opening a FIFO for reading waits for a writer.
bool RegularFile(const std::string& path, std::string& why) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || st.type() == fs::file_type::not_found) {
        why = "cannot open " + path + ": " + (ec ? SystemText(ec.value()) : SystemText(ENOENT));
        return false;
    }
    if (st.type() != fs::file_type::regular) {
        why = "cannot send " + path + ": " + KindText(st.type()) + ", not a firmware image";
        return false;
    }
    return true;
}

// Opens the file and takes its size; the stream is left at the start.
File OpenSized(const std::string& path, std::uint32_t& size, std::string& why, bool overCap) {
    if (!RegularFile(path, why)) return nullptr;
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
    if (end == 0) {
        why = "cannot send " + path + ": the image is empty";
        return nullptr;
    }
    if (static_cast<unsigned long>(end) > std::numeric_limits<std::uint32_t>::max()) {
        why = "cannot send " + path + ": larger than 4 GiB";
        return nullptr;
    }
    if (!overCap && static_cast<unsigned long>(end) > kImageCapBytes) {
        why = "cannot send " + path + ": " + std::to_string(end) + " bytes, more than the " +
              std::to_string(kImageCapBytes) + " a firmware image may have";
        return nullptr;
    }
    size = static_cast<std::uint32_t>(end);
    return f;
}

}  // namespace

std::optional<std::uint32_t> ProbeImage(const std::string& path, std::string& why, bool overCap) {
    std::uint32_t size = 0;
    if (!OpenSized(path, size, why, overCap)) return std::nullopt;
    return size;
}

std::optional<std::vector<std::uint8_t>> ReadImage(const std::string& path, std::string& why, bool overCap) {
    std::uint32_t size = 0;
    File f = OpenSized(path, size, why, overCap);
    if (!f) return std::nullopt;
    std::vector<std::uint8_t> image;
    try {
        image.resize(size);
    } catch (const std::bad_alloc&) {
        why = "cannot read " + path + ": not enough memory";
        return std::nullopt;
    }
    errno = 0;
    if (std::fread(image.data(), size, 1, f.get()) != 1) {
        why = "cannot read " + path + ": " + SystemText(errno != 0 ? errno : EIO);
        return std::nullopt;
    }
    return image;
}

std::string FullImagePath(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(path), ec);
    if (ec || path.empty()) return path;
    const fs::path normal = absolute.lexically_normal();
    // "link/.." is not the folder "link" sits in when "link" is a symbolic link: ".." is
    // only taken out when both name the same file.
    bool up = false;
    for (const fs::path& part : absolute) up = up || part == "..";
    if (up && !fs::equivalent(normal, absolute, ec)) return absolute.string();
    return normal.string();
}
