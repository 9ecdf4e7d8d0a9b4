#pragma once

#include <juce_core/juce_core.h>

// How a state (its pollingMode) or the polling after a firmware transfer (a SendSysEx's
// endPollingMode) asks after the instrument. Documents write the mode in any case; it is read once
// at load, and the engine, the checks and the tools switch on the value.
enum class PollingMode
{
    absent,             // no text at all: a SendSysEx without endPollingMode polls nothing after it
    midiDeviceInquiry,  // "MIDI Device inquiry"
    midiDeviceInquiry2, // "MIDI Device inquiry 2": the inquiry that also finds the panel update mode
    midiPorts,          // "MIDI ports": only checks that the chosen ports are still there
    panelState,         // "Panel state"
    scanAllPorts,       // "Scan all ports": back to automatic ports, then the device inquiry
    none,               // "none": polls nothing
    unknown             // any other text: polls nothing, as "none"
};

namespace vfu::definitions
{
// The mode a document's text names, compared without regard to case; empty text is `absent`.
PollingMode parsePollingMode (const juce::String& text);

// The text a document holds for the mode, as `vfu` prints it; empty for `absent` and `unknown`
// (whose own text the model keeps beside the value).
juce::String getPollingModeText (PollingMode mode);

// Whether the mode polls the instrument with a device inquiry.
bool isDeviceInquiry (PollingMode mode);

// Whether the polling that follows a firmware transfer knows the mode; any other endPollingMode
// polls nothing there.
bool pollsAfterTransfer (PollingMode mode);

// After a firmware transfer, the polling in "MIDI Device inquiry 2" matches its results with the
// state's own PollingState list; the other post-send modes use the SendSysEx's list. The engine has
// always done so and documents rely on it: what that inquiry finds (the panel update mode among it)
// leads on as the state's own polling in that mode would, while the SendSysEx's list holds the
// outcomes of the transfer itself. The engine, the transition listing and lint all ask here.
bool usesStateListAfterTransfer (PollingMode endPollingMode);
} // namespace vfu::definitions
