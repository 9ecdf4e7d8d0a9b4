#pragma once

#include <cstdint>

// The outcome of one poll of the MIDI ports. Codes 1 to 9 are the PollingState values of the
// definition documents.
enum PollResult : std::int32_t
{
    Aborted = 0,
    NoDevice = 1,
    DeviceDetected = 2,
    BootloaderDetected = 3,
    PanelModeDetected = 4,
    PanelNoUpdate = 5,
    PanelErased = 6,
    PanelFirmwareSending = 7,
    PanelFirmwareSucceeded = 8,
    PanelUpdateFailed = 9
};

// "DeviceDetected" and so on, for tools and test messages; "PollResult(N)" outside 0..9.
const char* getPollResultName (int result);
