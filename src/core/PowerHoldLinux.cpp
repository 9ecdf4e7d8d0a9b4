// Linux: logind's inhibitor lock, taken over the system bus with sd-bus.
#include "core/PowerHold.h"

#if JUCE_LINUX
#include "core/Log.h"

#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace vfu
{
namespace
{
// sleep and idle keep the computer awake; handle-lid-switch is needed too, because logind by default
// suspends on a closed lid despite a sleep lock (LidSwitchIgnoreInhibited=yes).
constexpr const char* heldOff = "sleep:idle:shutdown:handle-lid-switch";

// Connecting and the call together: a bus that accepts but never answers must not hold up the update.
constexpr std::chrono::milliseconds timeout{ 4000 };
using Clock = std::chrono::steady_clock;

// The lock lasts as long as logind's descriptor stays open; this object owns the descriptor.
class LogindLock final : public PowerHold
{
public:
    explicit LogindLock (int fd) : descriptor (fd) {}
    ~LogindLock() override { ::close (descriptor); }

private:
    const int descriptor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogindLock)
};

struct BusError
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free (&error); }
};

struct BusConnection
{
    sd_bus* bus = nullptr;
    // Not flushed: a bus that never finished its greeting would hold the flush for its 90 s time-out.
    ~BusConnection() { sd_bus_close_unref (bus); }
};

struct BusMessage
{
    sd_bus_message* message = nullptr;
    ~BusMessage() { sd_bus_message_unref (message); }
};

juce::String describeErrno (int negativeErrno)
{
    return std::system_category().message (-negativeErrno);
}

uint64_t microsecondsUntil (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds> (deadline - Clock::now()).count();
    return left > 0 ? (uint64_t) left : 0;
}

// sd-bus waits up to its own authentication time-out (far longer than ours) for the bus's greeting,
// so the connection is driven here until it is ready or the deadline passes. 0, or a negative errno.
int waitUntilReady (sd_bus* bus, Clock::time_point deadline)
{
    for (;;)
    {
        if (const auto ready = sd_bus_is_ready (bus); ready != 0)
            return ready > 0 ? 0 : ready;

        const auto processed = sd_bus_process (bus, nullptr);
        if (processed < 0)
            return processed;
        if (processed > 0)
            continue;

        const auto remaining = microsecondsUntil (deadline);
        if (remaining == 0)
            return -ETIMEDOUT;
        if (const auto waited = sd_bus_wait (bus, remaining); waited < 0)
            return waited;
    }
}

std::unique_ptr<PowerHold> notHeldOff (const juce::String& why)
{
    writeLog ("Sleep and shutdown are not held off: " + why);
    return nullptr;
}
} // namespace

std::unique_ptr<PowerHold> holdOffSleepAndShutdown (const juce::String& programName, const juce::String& why)
{
    const auto deadline = Clock::now() + timeout;

    // sd_bus_open_system honours DBUS_SYSTEM_BUS_ADDRESS.
    BusConnection connection;
    if (const auto opened = sd_bus_open_system (&connection.bus); opened < 0)
        return notHeldOff ("no system bus (" + describeErrno (opened) + ")");

    if (const auto ready = waitUntilReady (connection.bus, deadline); ready < 0)
        return notHeldOff ("no system bus (" + describeErrno (ready) + ")");

    BusMessage call, reply;
    auto made = sd_bus_message_new_method_call (connection.bus, &call.message, "org.freedesktop.login1",
                                                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit");
    if (made >= 0)
        made = sd_bus_message_append (call.message, "ssss", heldOff, programName.toRawUTF8(), why.toRawUTF8(), "block");
    if (made < 0)
        return notHeldOff ("cannot ask logind (" + describeErrno (made) + ")");

    BusError error;
    const auto remaining = std::max<uint64_t> (1, microsecondsUntil (deadline));
    if (const auto called = sd_bus_call (connection.bus, call.message, remaining, &error.error, &reply.message);
        called < 0)
        return notHeldOff (
            "logind refused or is absent (" +
            (error.error.message != nullptr ? juce::String::fromUTF8 (error.error.message) : describeErrno (called)) +
            ")");

    // The descriptor belongs to the reply; a copy of our own outlives it (and is not inherited by
    // programs this one starts).
    int descriptor = -1;
    if (const auto read = sd_bus_message_read (reply.message, "h", &descriptor); read < 0)
        return notHeldOff ("logind's answer holds no lock (" + describeErrno (read) + ")");

    const auto own = ::fcntl (descriptor, F_DUPFD_CLOEXEC, 3);
    if (own < 0)
        return notHeldOff ("cannot keep logind's lock (" + describeErrno (-errno) + ")");

    writeLog ("Sleep and shutdown held off: logind lock '" + juce::String (heldOff) + "' (block)");
    return std::make_unique<LogindLock> (own);
}

void setShutdownBlockReason (void* nativeWindowHandle, const juce::String& reason)
{
    juce::ignoreUnused (nativeWindowHandle, reason);
}
} // namespace vfu
#endif
