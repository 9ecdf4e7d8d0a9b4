#include "simulation/RawMidiReader.h"

#if JUCE_LINUX
#include <cerrno>
#include <cstring>

namespace vfu::simulation
{
RawMidiReader::RawMidiReader (std::vector<pollfd> descriptorsToPoll, ReadFunction readFunction,
                              PortPublisher::Receiver& receiverToUse, FailureFunction onFailureToUse)
    : juce::Thread ("Rawmidi input"), descriptors (std::move (descriptorsToPoll)), read (std::move (readFunction)),
      receiver (receiverToUse), onFailure (std::move (onFailureToUse))
{
}

RawMidiReader::~RawMidiReader()
{
    stop();
}

void RawMidiReader::start()
{
    startThread();
}

bool RawMidiReader::stop()
{
    // The loop looks at the flag after every poll, so a generous multiple of the interval suffices.
    return stopThread (pollMs * 40);
}

void RawMidiReader::run()
{
    while (!threadShouldExit())
    {
        for (auto& descriptor : descriptors)
            descriptor.revents = 0;

        const int ready = ::poll (descriptors.data(), (nfds_t) descriptors.size(), pollMs);
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            fail (std::strerror (errno));
            return;
        }

        short events = 0;
        for (auto& descriptor : descriptors)
            events |= descriptor.revents;

        // What is there is passed on before a hang-up ends reading.
        if ((events & POLLIN) != 0 && !readAvailable())
            return;

        if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0)
        {
            fail ("the device went away");
            return;
        }
    }
}

bool RawMidiReader::readAvailable()
{
    while (!threadShouldExit())
    {
        const long count = read (buffer, sizeof (buffer));
        if (count > 0)
            receiver.bytesReceived (buffer, (int) count);
        else if (count == 0 || count == -EAGAIN)
            return true;
        else
        {
            fail (std::strerror ((int) -count));
            return false;
        }
    }
    return true;
}

void RawMidiReader::fail (const juce::String& why)
{
    failed = true;
    if (onFailure)
        onFailure (why);
}
} // namespace vfu::simulation
#endif
