#pragma once

#include "simulation/PortPublisher.h"

namespace vfu::simulation
{
// Serves a simulated instrument through an existing rawmidi device of the kernel (e.g. "hw:1,0"
// of snd-virmidi) instead of ports of its own: what the host sends to the device's sequencer port
// is read from the device, and replies are written to it. The kernel's port stays listed while the
// device is closed, as a USB instrument that restarts without leaving the lists; there the kernel
// passes SysEx through a rawmidi buffer of one page, as it does towards a real USB instrument.
// Each `publish` opens the device anew and each Ports closes it. Linux only; elsewhere `publish`
// says that rawmidi devices are not available.
class RawMidiPortPublisher final : public PortPublisher
{
public:
    explicit RawMidiPortPublisher (const juce::String& deviceName);
    ~RawMidiPortPublisher() override;

    std::unique_ptr<Ports> publish (const juce::String& name, Receiver& receiver, juce::String& problem) override;

private:
    const juce::String device;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RawMidiPortPublisher)
};
} // namespace vfu::simulation
