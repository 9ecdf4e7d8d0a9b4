#pragma once

#include <juce_core/juce_core.h>

namespace vfu
{
// Why a path (after links) is no regular file, without opening it: "a named pipe", "a socket",
// "a device", "a folder", each prefixed "a link to " when the path is a link. Opening a named pipe
// for reading waits for a writer, and a device may never end, so such paths are refused by name.
// Empty for a regular file and for a path that cannot be examined (the caller's open reports that).
juce::String whyNotARegularFile (const juce::File& file);
} // namespace vfu
