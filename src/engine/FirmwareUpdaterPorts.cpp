// The line that tells the user another program holds the instrument's MIDI port.
#include "definitions/FirmwareUpdater.h"

#include "core/Log.h"
#include "midi/MIDIPortsSelector.h"

namespace
{
const juce::String portInUseLine{
    "The instrument's MIDI port is in use by another program. Close programs that use MIDI (a DAW, an editor) "
    "and the update continues."
};
} // namespace

// Polling goes on as before: once the other program lets go, the next poll opens the port, the
// line goes and the update continues. The log names the ports once per change, not every poll.
void FirmwareUpdater::reportPortsInUse()
{
    const auto held = portsSelector.getPortsInUse();
    if (held == reportedPortsInUse)
        return;

    reportedPortsInUse = held;
    const auto text = held.isEmpty() ? juce::String() : portInUseLine;
    writeLog (held.isEmpty() ? juce::String ("MIDI ports no longer held by another program")
                             : "MIDI port in use by another program: " + held.joinIntoString (", "));
    reports.deliver (callback, [text] (FirmwareUpdaterCallback& c)
                     { c.noticeChanged (FirmwareUpdaterCallback::Notice::portInUse, text); });
}
