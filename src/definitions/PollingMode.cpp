#include "definitions/PollingMode.h"

namespace vfu::definitions
{
namespace
{
constexpr PollingMode namedModes[] = { PollingMode::midiDeviceInquiry, PollingMode::midiDeviceInquiry2,
                                       PollingMode::midiPorts,         PollingMode::panelState,
                                       PollingMode::scanAllPorts,      PollingMode::none };
} // namespace

PollingMode parsePollingMode (const juce::String& text)
{
    if (text.isEmpty())
        return PollingMode::absent;

    for (const auto mode : namedModes)
        if (text.equalsIgnoreCase (getPollingModeText (mode)))
            return mode;

    return PollingMode::unknown;
}

juce::String getPollingModeText (PollingMode mode)
{
    switch (mode)
    {
        case PollingMode::midiDeviceInquiry:
            return "MIDI Device inquiry";
        case PollingMode::midiDeviceInquiry2:
            return "MIDI Device inquiry 2";
        case PollingMode::midiPorts:
            return "MIDI ports";
        case PollingMode::panelState:
            return "Panel state";
        case PollingMode::scanAllPorts:
            return "Scan all ports";
        case PollingMode::none:
            return "none";
        case PollingMode::absent:
        case PollingMode::unknown:
            break;
    }
    return {};
}

bool isDeviceInquiry (PollingMode mode)
{
    return mode == PollingMode::midiDeviceInquiry || mode == PollingMode::midiDeviceInquiry2;
}

bool pollsAfterTransfer (PollingMode mode)
{
    return isDeviceInquiry (mode) || mode == PollingMode::midiPorts;
}

bool usesStateListAfterTransfer (PollingMode endPollingMode)
{
    return endPollingMode == PollingMode::midiDeviceInquiry2;
}
} // namespace vfu::definitions
