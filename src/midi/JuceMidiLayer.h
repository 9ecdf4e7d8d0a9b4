#pragma once

#include "midi/NativeMidiSystem.h"
#include "midi/SystemMidiLayer.h"

namespace vfu
{
namespace detail
{
// Holds the system ahead of the layer that refers to it (bases are built in the order listed).
struct NativeMidiSystemHolder
{
    NativeMidiSystem native = createNativeMidiSystem();
};
} // namespace detail

// The layer of the shipped app: the operating system's ports (createNativeMidiSystem), with
// repeated names made distinct.
class JuceMidiLayer final : private detail::NativeMidiSystemHolder, public SystemMidiLayer
{
public:
    JuceMidiLayer() : SystemMidiLayer (*native.system, native.portsOpenOnMessageThread) {}

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiLayer)
};
} // namespace vfu
