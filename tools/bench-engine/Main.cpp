// vfu_bench_engine [IMAGE_BYTES] [PACKET_SIZE] [WAIT_TIME]
//
// Runs one firmware transfer through the real engine (FirmwareUpdater, SysexSender) and the virtual
// MIDI layer on the real clock, and prints: the wall time of the transfer against the sum of the
// pauses the sender must make, the CPU time of the whole process during the transfer, and the peak
// resident memory. The default 20,000-byte image takes about 8 s.
#include "core/Log.h"
#include "definitions/FirmwareUpdater.h"
#include "definitions/InstructionVisit.h"
#include "core/Clock.h"
#include "packages/FirmwarePackageWriter.h"
#include "engine/SysexSender.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"

#include <juce_events/juce_events.h>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <atomic>
#include <cstdio>
#include <iostream>

namespace
{
// CPU time (user and system) this process has used so far, in milliseconds.
double processCpuMilliseconds()
{
#if JUCE_WINDOWS
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes (GetCurrentProcess(), &creation, &exit, &kernel, &user))
        return 0.0;
    // FILETIME counts 100 ns steps.
    auto ms = [] (const FILETIME& t)
    { return (double) ((juce::uint64) t.dwHighDateTime << 32 | t.dwLowDateTime) / 10000.0; };
    return ms (kernel) + ms (user);
#else
    rusage usage{};
    getrusage (RUSAGE_SELF, &usage);
    auto ms = [] (const timeval& t) { return (double) t.tv_sec * 1000.0 + (double) t.tv_usec / 1000.0; };
    return ms (usage.ru_utime) + ms (usage.ru_stime);
#endif
}

// The largest resident set (working set on Windows) this process has had, in KiB.
long long peakResidentKiB()
{
#if JUCE_WINDOWS
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo (GetCurrentProcess(), &counters, sizeof (counters)))
        return 0;
    return (long long) counters.PeakWorkingSetSize / 1024;
#else
    rusage usage{};
    getrusage (RUSAGE_SELF, &usage);
#if JUCE_MAC
    return (long long) usage.ru_maxrss / 1024; // bytes on macOS
#else
    return (long long) usage.ru_maxrss; // KiB on Linux
#endif
#endif
}

// Receives the reports on the message thread, as the panel would.
class CountingCallback final : public FirmwareUpdaterCallback
{
public:
    void stateChanged (juce::String, juce::String) override { ++reports; }
    void textFieldChanged (juce::String, juce::String, bool) override { ++reports; }
    void buttonChanged (juce::String, juce::String, bool) override { ++reports; }
    void printMessage (juce::String, bool) override { ++reports; }
    void progressChanged (double) override { ++reports; }
    int reports = 0;
};

class CountingDevice final : public vfu::VirtualMidiLayer::Device
{
public:
    void receiveFromHost (const juce::MidiMessage& message) override { bytes += (size_t) message.getRawDataSize(); }
    std::atomic<size_t> bytes{ 0 };
};

// Notes the real time and CPU time at the first and the last progress log line of the transfer.
class TransferTimer final : public vfu::LogObserver
{
public:
    explicit TransferTimer (juce::String entryName) : prefix ("Send '" + entryName + "' : ") {}

    void logLineWritten (const juce::String& text) override
    {
        if (!text.startsWith (prefix))
            return;

        if (text == prefix + "0 %%")
        {
            startWall = juce::Time::getMillisecondCounterHiRes();
            startCpu = processCpuMilliseconds();
        }
        else if (text == prefix + "100 %%")
        {
            endWall = juce::Time::getMillisecondCounterHiRes();
            endCpu = processCpuMilliseconds();
            finished = true;
            juce::MessageManager::getInstance()->stopDispatchLoop();
        }
    }

    const juce::String prefix;
    double startWall = 0, endWall = 0, startCpu = 0, endCpu = 0;
    std::atomic<bool> finished{ false };
};

juce::MemoryBlock makeImage (int size)
{
    juce::MemoryBlock image ((size_t) size);
    for (int i = 0; i < size; ++i)
        image[i] = (char) (i % 0x7f);
    image[0] = (char) 0xf0;
    image[size - 1] = (char) 0xf7;
    return image;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    const int imageSize = argc > 1 ? juce::String (argv[1]).getIntValue() : 20000;
    const int packetSize = argc > 2 ? juce::String (argv[2]).getIntValue() : 256;
    const juce::String waitTime = argc > 3 ? juce::String (argv[3]) : juce::String ("0.082");

    if (imageSize < 2 || imageSize > 16 * 1024 * 1024)
    {
        std::cerr << "Usage: vfu_bench_engine [IMAGE_BYTES (2 to 16 MiB, default 20000)] [PACKET_SIZE] [WAIT_TIME]"
                  << std::endl;
        return 2;
    }

    auto folder = juce::File::createTempFile ("vfu-bench-engine");
    folder.createDirectory();
    const auto image = makeImage (imageSize);
    const auto package =
        vfu::ArchiveWriter::createPackage ("bench-fw-1.0.0", { { "bench-fw-1.0.0.syx", image, true } });
    folder.getChildFile ("bench-fw-1.0.0.vfw").replaceWithData (package.getData(), package.getSize());

    const juce::String document =
        "<FirmwareUpdaters><FirmwareUpdater deviceName=\"Bench\" communicationMode=\"MIDI\" MIDIDeviceID=\"0008\""
        " fileNamePattern=\"bench-fw-\" initialState=\"Download\" timeout=\"45\" timeoutState=\"Download\">"
        "<State name=\"Download\" pollingMode=\"none\">"
        "<SendSysEx messageKind=\"bench-fw-$(version)\" packetSize=\"" +
        juce::String (packetSize) + "\" waitTime=\"" + waitTime +
        "\"/>"
        "</State></FirmwareUpdater></FirmwareUpdaters>";

    auto& clock = vfu::Clock::getRealClock();
    vfu::VirtualMidiLayer layer (clock);
    auto& device = layer.addDevice ("Bench port", std::make_unique<CountingDevice>());
    MIDIPortsSelector selector (layer, clock);
    selector.selectInputPort ("Bench port");
    selector.selectOutputPort ("Bench port");

    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();

    TransferTimer timer ("bench-fw-1.0.0.syx");
    vfu::addLogObserver (&timer);

    int result = 0;
    {
        CountingCallback callback;
        FirmwareUpdater updater (document, "Bench", false, &callback, { folder }, environment);
        if (!updater.setFirmwareVersion ("1.0.0"))
        {
            std::cerr << "The benchmark package was not accepted." << std::endl;
            result = 1;
        }
        else
        {
            // The instruction as the loader stored it (packet size and wait time rules applied).
            const auto* state = updater.getMachine()->getState ("Download");
            const FirmwareUpdater::State::SendSysExInstruction* instruction = nullptr;
            vfu::visit (*state->instructions.front(),
                        [&instruction] (const FirmwareUpdater::State::SendSysExInstruction& send)
                        { instruction = &send; });
            jassert (instruction != nullptr); // the benchmark's own document starts with its SendSysEx
            const auto expectedMs =
                vfu::SysexSender::getTotalPauseMilliseconds (imageSize, instruction->packetSize, instruction->waitTime);

            // The message loop blocks as the app's does (reports arrive through it) until the
            // transfer ends or a generous deadline passes.
            juce::Timer::callAfterDelay ((int) (expectedMs * 2 + 30000),
                                         [] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
            updater.startThread();
            juce::MessageManager::getInstance()->runDispatchLoop();
            updater.stopThread (5000);

            if (!timer.finished)
            {
                std::cerr << "The transfer did not finish." << std::endl;
                result = 1;
            }
            else
            {
                const auto wallMs = timer.endWall - timer.startWall;
                const auto cpuMs = timer.endCpu - timer.startCpu;
                std::printf ("image bytes:            %d (packet size %d, wait time %.3f)\n", imageSize,
                             instruction->packetSize, (double) instruction->waitTime);
                std::printf ("bytes received:         %zu\n", device.bytes.load());
                std::printf ("specified pauses:       %lld ms\n", (long long) expectedMs);
                std::printf ("transfer wall time:     %.1f ms (%+.3f %%)\n", wallMs,
                             (wallMs - (double) expectedMs) * 100.0 / (double) expectedMs);
                std::printf ("process CPU time:       %.1f ms (%.3f %% of one core)\n", cpuMs, cpuMs * 100.0 / wallMs);
                std::printf ("peak resident memory:   %lld KiB\n", peakResidentKiB());
                std::printf ("reports received:       %d\n", callback.reports);

                if (device.bytes.load() != (size_t) imageSize)
                    result = 1;
            }
        }
    }

    vfu::removeLogObserver (&timer);
    folder.deleteRecursively();
    return result;
}
