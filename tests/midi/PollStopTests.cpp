#include "MidiTestSupport.h"
#include "support/MessageLoop.h"

using namespace vfu;
using namespace vfu::simulation;

namespace
{
struct PollStop : public ::testing::Test
{
    // Starts the poll on a worker, waits until `ready` holds, asks the worker to stop and returns
    // the poll's result once it has ended.
    PollResult stopWhen (std::function<PollResult()> poll, std::function<bool()> ready)
    {
        PollResult result = NoDevice;
        vfu::test::WorkerThread worker ([&] { result = poll(); });
        worker.startThread();

        const auto end = juce::Time::getMillisecondCounter() + 30000;
        while (!ready() && !worker.finished && juce::Time::getMillisecondCounter() < end)
            juce::Thread::sleep (1);

        EXPECT_FALSE (worker.finished.load()) << "the poll ended before the stop";
        worker.signalThreadShouldExit();
        EXPECT_TRUE (worker.waitUntilFinished (10000));
        return result;
    }

    static InstrumentSettings orb26 (const juce::String& version, bool bootloader, int panel = 0)
    {
        InstrumentSettings settings;
        settings.model = Model::orb26;
        settings.firmwareVersion = version;
        settings.startInBootloader = bootloader;
        settings.panelStateByte = panel;
        return settings;
    }

    ScaledClock clock{ vfu::test::testClockSpeed };
    LogCollector log;
};
} // namespace

TEST_F (PollStop, a_stop_during_the_identity_wait_aborts_and_closes_every_port)
{
    Simulation simulation (InstrumentSettings{}, 2, clock);
    auto& layer = simulation.getLayer();
    simulation.getInstrument().setFaults ({ true });
    MIDIPortsSelector selector (layer, clock);

    EXPECT_EQ (stopWhen ([&] { return selector.pollDevice (0x0008, false); },
                         [&] { return layer.getNumMessagesSentTo ("Silent port 2") > 0; }),
               Aborted);
    // The next output would have been asked had the wait run to its end.
    EXPECT_EQ (layer.getNumMessagesSentTo ("Quillbox"), 0);
    EXPECT_EQ (layer.getNumOpenInputs(), 0);
    EXPECT_EQ (layer.getNumOpenOutputs(), 0);
}

TEST_F (PollStop, a_stop_during_the_alternative_inquiries_aborts)
{
    Simulation simulation (orb26 ("1.0.9", true), 0, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (stopWhen ([&] { return selector.pollDevice (0x000C, false); },
                         [&] { return simulation.getInstrument().getAlternativeInquiries() > 0; }),
               Aborted);
    EXPECT_LT (simulation.getInstrument().getAlternativeInquiries(), 5);
    EXPECT_FALSE (log.contains ("DeviceID 000C detected (bootloader = true)"));
    EXPECT_EQ (simulation.getLayer().getNumOpenInputs(), 0);
}

TEST_F (PollStop, a_stop_during_the_panel_state_wait_aborts)
{
    Simulation simulation (orb26 ("1.1.0", false, 1), 0, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (stopWhen ([&] { return selector.pollDevice (0x000C, true); },
                         [&] { return simulation.getInstrument().getPanelStateRequests() > 0; }),
               Aborted);
    EXPECT_FALSE (log.contains ("DeviceID 000C detected (panel mode detected)"));
    EXPECT_EQ (simulation.getLayer().getNumOpenInputs(), 0);

    EXPECT_EQ (stopWhen ([&] { return selector.queryPanelState(); },
                         [&] { return simulation.getInstrument().getPanelStateRequests() > 1; }),
               Aborted);
}

TEST_F (PollStop, a_worker_already_asked_to_stop_sends_nothing)
{
    Simulation simulation (InstrumentSettings{}, 1, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);
    PollResult autoResult = NoDevice, namedResult = NoDevice, inquiry = NoDevice;
    bool outputOpened = true;

    vfu::test::runOnWorker (
        [&]
        {
            juce::Thread::getCurrentThread()->signalThreadShouldExit();
            autoResult = selector.pollDevice (0x0008, false);
            selector.selectInputPort ("Quillbox");
            namedResult = selector.pollDevice (0x0008, false);
            inquiry = selector.sendDeviceInquiry ("Quillbox", 1000);
            selector.selectOutputPort ("Quillbox");
            outputOpened = selector.openSelectedOutput() != nullptr;
        });

    EXPECT_EQ (autoResult, Aborted);
    EXPECT_EQ (namedResult, Aborted);
    EXPECT_EQ (inquiry, Aborted);
    EXPECT_FALSE (outputOpened);
    EXPECT_EQ (log.getLines(), juce::StringArray ({ "Scanning MIDI input [Quillbox]" }));
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Quillbox"), 0);
}

TEST_F (PollStop, ports_opened_through_the_message_thread_work_while_its_loop_runs)
{
    Simulation simulation (InstrumentSettings{}, 1, clock, true);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    PollResult result = Aborted;
    vfu::test::WorkerThread worker ([&] { result = selector.pollDevice (0x0008, false); });
    worker.startThread();
    EXPECT_TRUE (vfu::test::runMessageLoopUntil ([&] { return worker.finished.load(); }, 60000));
    EXPECT_EQ (result, DeviceDetected);
    EXPECT_EQ (simulation.getLayer().getNumOpenInputs(), 0);
}

TEST_F (PollStop, a_worker_waiting_for_a_blocked_message_thread_still_stops_and_the_late_port_is_closed)
{
    Simulation simulation (InstrumentSettings{}, 1, clock, true);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    // This thread is the message thread and does not run its loop: the opens stay queued.
    PollResult result = NoDevice;
    vfu::test::WorkerThread worker ([&] { result = selector.pollDevice (0x0008, false); });
    worker.startThread();
    juce::Thread::sleep (100);
    EXPECT_FALSE (worker.finished.load());

    worker.signalThreadShouldExit();
    EXPECT_TRUE (worker.waitUntilFinished (5000));
    EXPECT_EQ (result, Aborted);

    vfu::test::runMessageLoopFor (200);
    EXPECT_EQ (simulation.getLayer().getNumOpenInputs(), 0);
    EXPECT_EQ (simulation.getLayer().getNumOpenOutputs(), 0);
}
