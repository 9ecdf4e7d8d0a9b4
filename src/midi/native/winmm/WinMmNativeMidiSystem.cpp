#include "midi/NativeMidiSystem.h"
#include "midi/native/winmm/WinMmSystem.h"

namespace vfu
{
// WinMM through WinMmInput and WinMmOutput, listed under the identifiers JUCE would give (JUCE's
// WinMM input passes SysEx on in the driver's pieces and its output cannot report a failure).
// WinMM opens a port from any thread; the worker opens its own (a port another program holds is
// tried for 300 ms, which the message thread must not spend).
NativeMidiSystem createNativeMidiSystem()
{
    return { std::make_unique<WinMmSystem> (winmm::systemInputCalls(), winmm::systemCalls()), false };
}
} // namespace vfu
