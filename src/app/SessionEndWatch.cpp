#include "app/SessionEndWatch.h"

#if defined(_WIN32)

#include <windows.h>

namespace
{
HHOOK hook = nullptr;
bool criticalSessionEnd = false; // message thread only: the hook runs on the thread it watches

// Called before each message sent to a window of the message thread reaches its procedure.
LRESULT CALLBACK lookAtSentMessage (int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
    {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*> (lParam);
        criticalSessionEnd = sent->message == WM_QUERYENDSESSION && (sent->lParam & ENDSESSION_CRITICAL) != 0;
    }
    return CallNextHookEx (hook, code, wParam, lParam);
}
} // namespace

SessionEndWatch::SessionEndWatch()
{
    if (hook == nullptr)
        hook = SetWindowsHookExW (WH_CALLWNDPROC, lookAtSentMessage, nullptr, GetCurrentThreadId());
}

SessionEndWatch::~SessionEndWatch()
{
    if (hook != nullptr)
        UnhookWindowsHookEx (hook);
    hook = nullptr;
    criticalSessionEnd = false;
}

bool SessionEndWatch::isCriticalSessionEnd() noexcept
{
    return criticalSessionEnd;
}

#else

SessionEndWatch::SessionEndWatch() = default;
SessionEndWatch::~SessionEndWatch() = default;

bool SessionEndWatch::isCriticalSessionEnd() noexcept
{
    return false;
}

#endif
