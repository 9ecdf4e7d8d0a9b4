#include "midi/NativeMidiSystem.h"
#include "midi/native/juce/JuceMidiSystem.h"

namespace vfu
{
NativeMidiSystem createNativeMidiSystem()
{
    return { std::make_unique<JuceMidiSystem>(), true };
}
} // namespace vfu
