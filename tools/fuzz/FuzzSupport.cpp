#include "FuzzSupport.h"

#include <juce_events/juce_events.h>

#include <cstdlib>

namespace vfu::fuzz
{
void initialiseOnce()
{
    static const bool done = []
    {
        // Anything the code writes under HOME goes into a throw-away folder.
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getNonexistentChildFile ("vfu-fuzz-home", {}, false);
        home.createDirectory();
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        juce::MessageManager::getInstance();
        return true;
    }();
    (void) done;
}
} // namespace vfu::fuzz

namespace vfu::fuzz
{
juce::String textOf (const uint8_t* data, size_t size)
{
    const auto* chars = reinterpret_cast<const char*> (data);
    if (juce::CharPointer_UTF8::isValidString (chars, (int) size))
        return juce::String::fromUTF8 (chars, (int) size);

    juce::String text;
    for (size_t i = 0; i < size; ++i)
        text += (juce::juce_wchar) data[i];
    return text;
}
} // namespace vfu::fuzz
