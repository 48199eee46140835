#pragma once
// --image of update and retry: the file checked before the port is opened, by the rules
// every sender of an image follows, and named by its full path, as block 0 carries it.

#include <optional>
#include <string>

#include "cli/CliCommand.h"
#include "update/ImageFile.h"
#include "update/YmodemSender.h"

struct CheckedImage {
    std::string path;  // the full path
    std::uint32_t size = 0;
};

// The image at `typed`, or nullopt after printing why (exit code 1 in ctx).
inline std::optional<CheckedImage> CheckImageArg(CliContext& ctx, const std::string& typed, bool force) {
    CheckedImage image{FullImagePath(typed), 0};
    std::string why;
    const auto size = ProbeImage(image.path, why, force);
    if (!size) {
        ctx.Failed("kvt40ctl: " + why);
        std::string ignored;
        if (!force && ProbeImage(image.path, ignored, true))
            ctx.err << "kvt40ctl: --force sends it all the same\n";
        return std::nullopt;
    }
    if (!YmodemSender::FitsInitialPacket(image.path, *size)) {
        ctx.Failed("kvt40ctl: the image path is too long for the header block (" +
                   std::to_string(image.path.size()) + " bytes: " + image.path + ")");
        return std::nullopt;
    }
    image.size = *size;
    return image;
}
