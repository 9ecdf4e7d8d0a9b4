#include "core/WindowsPowerCalls.h"

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace vfu::power
{
#if JUCE_WINDOWS
static_assert (states::systemRequired == ES_SYSTEM_REQUIRED && states::continuous == ES_CONTINUOUS);

namespace
{
juce::uint32 errorUnless (BOOL succeeded)
{
    return succeeded ? 0u : (juce::uint32) juce::jmax<DWORD> (1, GetLastError());
}

Calls makeSystemCalls()
{
    Calls calls;
    calls.setThreadExecutionState = [] (ExecutionState state)
    { return (ExecutionState) SetThreadExecutionState ((EXECUTION_STATE) state); };
    calls.createShutdownBlockReason = [] (Window window, const juce::String& reason)
    { return errorUnless (ShutdownBlockReasonCreate (static_cast<HWND> (window), reason.toWideCharPointer())); };
    calls.destroyShutdownBlockReason = [] (Window window)
    { return errorUnless (ShutdownBlockReasonDestroy (static_cast<HWND> (window))); };
    return calls;
}
} // namespace

const Calls& systemCalls()
{
    static const Calls calls = makeSystemCalls();
    return calls;
}
#else
const Calls& systemCalls()
{
    static const Calls none;
    return none;
}
#endif
} // namespace vfu::power
