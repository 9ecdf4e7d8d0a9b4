// Port-change notices: what the virtual ports tell, through the system layer the app uses, and
// that an event taken back is no longer signalled.
#include "core/Clock.h"
#include "midi/SystemMidiLayer.h"
#include "midi/VirtualMidiLayer.h"

#include <gtest/gtest.h>

using namespace vfu;

TEST (PortChangeNotice, ports_coming_going_freed_or_the_system_switching_signal_until_removed)
{
    ScaledClock clock (10.0);
    VirtualMidiLayer virtualPorts (clock);
    VirtualMidiSystem system{ virtualPorts };
    SystemMidiLayer layer{ system, false };

    juce::WaitableEvent changed;
    ASSERT_TRUE (layer.addPortChangeEvent (changed));

    const std::vector<std::pair<const char*, std::function<void()>>> changes{
        { "added", [&] { virtualPorts.addPorts ("Quillbox"); } },
        { "left", [&] { virtualPorts.setPortsPresent ("Quillbox", false); } },
        { "returned", [&] { virtualPorts.setPortsPresent ("Quillbox", true); } },
        { "held", [&] { virtualPorts.setHeldByAnotherProgram ("Quillbox", "MMSYSERR_ALLOCATED", {}); } },
        { "system off", [&] { system.setAvailable (false); } },
    };
    for (const auto& [what, change] : changes)
    {
        change();
        EXPECT_TRUE (changed.wait (0)) << what;
    }

    layer.removePortChangeEvent (changed);
    virtualPorts.setPortsPresent ("Quillbox", false);
    EXPECT_FALSE (changed.wait (0));
}
