// Termination signals counted instead of ending the process, and told to a listener soon after.
#include "core/TerminationSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#if !JUCE_WINDOWS
TEST (TerminationSignals, a_caught_signal_is_counted_and_wakes_every_listener_without_ending_the_process)
{
    vfu::catchTerminationSignals ({ vfu::TerminationSignal::hangUp, vfu::TerminationSignal::terminate });
    const int hangUpsBefore = vfu::getTerminationSignalCount (vfu::TerminationSignal::hangUp);
    const int interruptsBefore = vfu::getTerminationSignalCount (vfu::TerminationSignal::interrupt);

    std::atomic<int> firstTold{ 0 }, secondTold{ 0 };
    {
        vfu::TerminationSignalListener first ([&] (vfu::TerminationSignal s)
                                              { firstTold += s == vfu::TerminationSignal::hangUp ? 1 : 100; });
        vfu::TerminationSignalListener second ([&] (vfu::TerminationSignal) { ++secondTold; });

        std::raise (SIGHUP);
        std::raise (SIGHUP);

        for (int waited = 0; waited < 5000 && (firstTold < 2 || secondTold < 2); waited += 5)
            juce::Thread::sleep (5);
    } // both stop here

    EXPECT_EQ (vfu::getTerminationSignalCount (vfu::TerminationSignal::hangUp), hangUpsBefore + 2);
    EXPECT_EQ (vfu::getTerminationSignalCount (vfu::TerminationSignal::interrupt), interruptsBefore);
    EXPECT_EQ (firstTold.load(), 2);
    EXPECT_EQ (secondTold.load(), 2);

    // A listener made afterwards is told only what comes after it.
    std::atomic<int> laterTold{ 0 };
    vfu::TerminationSignalListener later ([&] (vfu::TerminationSignal) { ++laterTold; });
    std::raise (SIGTERM);
    for (int waited = 0; waited < 5000 && laterTold < 1; waited += 5)
        juce::Thread::sleep (5);
    EXPECT_EQ (laterTold.load(), 1);
}
#endif
