#pragma once

#include "midi/native/winmm/WinMmCalls.h"

namespace vfu
{
// The WinMM ports of one direction as JUCE 7.0.5 lists them, asked afresh each time (an
// instrument that restarts into its bootloader comes back under another device number): names
// as the driver gives them, identifiers as the device interface name or the port's name when the
// driver has none (repeats of either get "-2", "-3"...), and the WinMM device number behind each.
// A port whose description cannot be read is left out, as JUCE does; unlike JUCE, the ports after
// it keep their own device numbers and interface names.
struct WinMmListing
{
    juce::StringArray names;
    juce::StringArray identifiers;
    juce::Array<juce::uint32> devices;

    juce::Array<juce::MidiDeviceInfo> asDeviceInfos() const
    {
        juce::Array<juce::MidiDeviceInfo> infos;
        for (int i = 0; i < names.size(); ++i)
            infos.add ({ names[i], identifiers[i] });
        return infos;
    }
};

// `Table` is winmm::Calls or winmm::InputCalls.
template <typename Table> WinMmListing listWinMmPorts (const Table& calls)
{
    WinMmListing listing;
    if (!calls.getNumberOfDevices)
        return listing;

    const auto count = calls.getNumberOfDevices();
    for (juce::uint32 device = 0; device < count; ++device)
    {
        juce::String name;
        if (calls.getName (device, name) != winmm::results::noError)
            continue;

        const auto interfaceName = calls.getInterfaceName (device);
        listing.names.add (name);
        listing.identifiers.add (interfaceName.isNotEmpty() ? interfaceName : name);
        listing.devices.add (device);
    }

    for (auto* list : { &listing.names, &listing.identifiers })
        list->appendNumbersToDuplicates (false, false, juce::CharPointer_UTF8 ("-"), juce::CharPointer_UTF8 (""));
    return listing;
}
} // namespace vfu
