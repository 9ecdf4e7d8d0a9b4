#include "Interrupts.h"

#include <atomic>
#include <csignal>

namespace vfu::tool
{
namespace
{
std::atomic<int> interrupts{ 0 };

extern "C" void countInterrupt (int)
{
    interrupts.fetch_add (1);
}
} // namespace

void countInterrupts (bool includeTerminate)
{
    std::signal (SIGINT, countInterrupt);
    if (includeTerminate)
        std::signal (SIGTERM, countInterrupt);
}

int getInterruptCount()
{
    return interrupts.load();
}
} // namespace vfu::tool
