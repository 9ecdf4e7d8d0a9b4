#pragma once

#include "simulation/PortPublisher.h"
#include "simulation/RecordingReplay.h"

#include <functional>
#include <memory>
#include <mutex>

namespace vfu::simulation
{
// Puts a recording behind ports that a publisher creates (`vfu simulate --replay`): each of the
// instrument's recorded ports is created while the replay shows it and closed when the replay takes
// it away, as the recorded instrument joined and left the port lists. What the host sends reaches
// the replay as the bytes arrive; what the replay plays goes out on the published output.
class PublishedReplay final : private juce::Thread
{
public:
    // The replay must be made with instrumentPortsOnly, on `layer`; both outlive this object. Lines
    // ("ports: created \"NAME\"", "ports: closed \"NAME\"") go to `print`, from its own thread.
    PublishedReplay (RecordingReplay& replay, VirtualMidiLayer& layer, PortPublisher& publisher,
                     std::function<void (const juce::String&)> print);
    ~PublishedReplay() override;

    // Creates the ports shown now and starts following the replay; false with the reason when the
    // ports cannot be created.
    bool start (juce::String& problem);
    void stop();

private:
    class Port;

    void run() override;
    bool reconcile (juce::String& problem);

    RecordingReplay& replay;
    VirtualMidiLayer& layer;
    PortPublisher& publisher;
    const std::function<void (const juce::String&)> print;
    std::vector<std::unique_ptr<Port>> ports; // one per name, this thread only (or start, before it)

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PublishedReplay)
};
} // namespace vfu::simulation
