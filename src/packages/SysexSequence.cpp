#include "packages/SysexSequence.h"

namespace vfu::SysexSequence
{
namespace
{
juce::String byteAt (juce::uint8 byte, size_t offset)
{
    return "byte " + juce::String::toHexString ((int) byte).paddedLeft ('0', 2).toUpperCase() + " at offset " +
           juce::String ((juce::int64) offset);
}
} // namespace

juce::String findProblem (const void* data, size_t size)
{
    if (data == nullptr || size == 0)
        return "empty";

    const auto* bytes = static_cast<const juce::uint8*> (data);
    bool inMessage = false;

    for (size_t i = 0; i < size; ++i)
    {
        const auto byte = bytes[i];

        if (!inMessage)
        {
            if (byte != 0xF0)
                return byteAt (byte, i) + " outside a SysEx message";

            inMessage = true;
        }
        else if (byte == 0xF7)
        {
            inMessage = false;
        }
        else if (byte >= 0x80)
        {
            return byteAt (byte, i) + " inside a SysEx message";
        }
    }

    return inMessage ? juce::String ("the last SysEx message has no F7") : juce::String();
}
} // namespace vfu::SysexSequence
