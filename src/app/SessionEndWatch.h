#pragma once

// Windows asks each program whether the session may end (WM_QUERYENDSESSION); JUCE hands the
// question to systemRequestedQuit without its flags and answers FALSE unless the app has quit.
// While one of these exists, the message thread's sent messages are looked at first, so the app
// can tell a session end that cannot be refused (ENDSESSION_CRITICAL). Elsewhere it does nothing.
// Create and destroy it on the message thread.
class SessionEndWatch final
{
public:
    SessionEndWatch();
    ~SessionEndWatch();

    // True while the message thread handles a WM_QUERYENDSESSION that carries ENDSESSION_CRITICAL.
    static bool isCriticalSessionEnd() noexcept;

    SessionEndWatch (const SessionEndWatch&) = delete;
    SessionEndWatch& operator= (const SessionEndWatch&) = delete;
};
