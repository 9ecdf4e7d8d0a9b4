#include "core/FileKind.h"

#include <filesystem>

namespace vfu
{
namespace
{
juce::String describe (std::filesystem::file_type type)
{
    using Type = std::filesystem::file_type;
    switch (type)
    {
        case Type::regular:
        case Type::none:
        case Type::not_found:
            return {};
        case Type::directory:
            return "a folder";
        case Type::fifo:
            return "a named pipe";
        case Type::socket:
            return "a socket";
        case Type::block:
        case Type::character:
            return "a device";
        case Type::symlink: // not expected: status() follows links
        case Type::unknown:
        default:
            return "not a regular file";
    }
}
} // namespace

juce::String whyNotARegularFile (const juce::File& file)
{
    // stat() and lstat(), or their Windows equivalents: neither opens the file.
    const auto path = std::filesystem::u8path (file.getFullPathName().toStdString());
    std::error_code error;
    const auto kind = describe (std::filesystem::status (path, error).type());
    if (kind.isEmpty())
        return {};

    return std::filesystem::is_symlink (std::filesystem::symlink_status (path, error)) ? "a link to " + kind : kind;
}
} // namespace vfu
