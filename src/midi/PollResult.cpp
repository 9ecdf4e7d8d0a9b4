#include "midi/PollResult.h"

const char* getPollResultName (int result)
{
    static const char* const names[] = {
        "Aborted",       "NoDevice",    "DeviceDetected",       "BootloaderDetected",     "PanelModeDetected",
        "PanelNoUpdate", "PanelErased", "PanelFirmwareSending", "PanelFirmwareSucceeded", "PanelUpdateFailed"
    };

    if (result >= 0 && result < (int) (sizeof (names) / sizeof (names[0])))
        return names[result];

    return "PollResult(?)";
}
