// vfu_soak UPDATES SEED [--engines N] [--speed S] [--starve-ms D]: plays UPDATES whole updates against
// simulated Quillbox, Lumostrel and Orb 26 instruments, N at a time on a clock S times faster than
// real time, each with faults drawn from a generator seeded by SEED and the run's number. Prints the
// updates run, the faults injected by kind and every invariant failure; exits 1 when any invariant
// failed.
//
// A verdict is only as good as the clock's punctuality: each run measures how late its clock's
// wake-ups came. A failing run whose lag came near a time-out it depends on is inconclusive
// (starved); it is played again alone at a tenth of the speed, and only that replay's verdict
// counts. --starve-ms delays every wake-up of the first plays by D real milliseconds, a deliberately
// starved machine (replays are never starved).
#include "SoakRun.h"

#include "core/Environment.h"
#include "core/Log.h"
#include "packages/FirmwarePackageWriter.h"
#include "packages/FirmwareImage.h"
#include "simulation/WakeLagClock.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace
{
using vfu::simulation::Model;

juce::File writePackage (const juce::File& folder, const juce::String& baseName, const std::vector<vfu::ArchiveWriter::Entry>& images)
{
    folder.createDirectory();
    auto file = folder.getChildFile (baseName + ".vfw");
    const auto data = vfu::ArchiveWriter::createPackage (baseName, images);
    file.replaceWithData (data.getData(), data.getSize());
    return file;
}

vfu::soak::ModelPackages makePackages (const juce::File& folder, Model model)
{
    vfu::soak::ModelPackages p;
    p.model = model;
    std::vector<vfu::ArchiveWriter::Entry> images;
    juce::String baseName;
    const auto id = vfu::simulation::getModelInfo (model).deviceId;

    if (model == Model::quillbox)
    {
        p.version = "2.2.1";
        p.successText = "Update completed successfully.";
        baseName = "quillbox-fw-" + p.version;
        images.push_back ({ baseName + ".syx", vfu::FirmwareImage::generate (id, p.version, 20000), true });
    }
    else if (model == Model::lumostrel)
    {
        p.version = "1.1.0";
        p.successText = "Update successful.";
        baseName = "lmstr-fw-" + p.version;
        images.push_back ({ baseName + ".syx", vfu::FirmwareImage::generate (id, p.version, 20000), true });
    }
    else
    {
        p.version = "1.1.0p1";
        p.successText = "Installation successful.";
        baseName = "orb26-fw-" + p.version;
        images.push_back ({ "orb26-fw2-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 6000), true });
        images.push_back ({ "orb26-fw3-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 3000), true });
        images.push_back ({ "orb26-fw4-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 4000), true });
    }

    p.firstImage = images.back().data;
    p.good = writePackage (folder.getChildFile ("good"), baseName, images);

    // One flipped payload bit in the first image: the package's digests still match, the image's
    // own checksum does not.
    auto& image = images.front().data;
    image[image.getSize() / 2] = (char) (image[image.getSize() / 2] ^ 0x01);
    p.corrupt = writePackage (folder.getChildFile ("corrupt"), baseName, images);
    return p;
}

int optionValue (const juce::StringArray& args, const juce::String& option, int fallback)
{
    const auto i = args.indexOf (option);
    return i >= 0 && i + 1 < args.size() ? args[i + 1].getIntValue() : fallback;
}

// Every run has its own sequence, so that a failing run can be played again on its own.
juce::Random randomForRun (juce::int64 seed, int run)
{
    juce::Random random (seed * 1000003 + run);
    for (int i = 0; i < 8; ++i)
        random.nextInt();
    return random;
}

// A run whose failures cannot be trusted, to be played again alone.
struct InconclusiveRun
{
    int run;
    juce::String reason;
};

// Failures are kept only when the run's clock kept time; otherwise the run is inconclusive.
juce::String starvationOf (const vfu::soak::RunResult& result, double speed)
{
    if (result.failures.isEmpty())
        return {};

    return vfu::simulation::describeStarvation (result.longestLagMilliseconds, speed, vfu::simulation::getUpdateTimeouts());
}
} // namespace

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    const int updates = args.size() > 0 ? juce::jmax (1, args[0].getIntValue()) : 1000;
    const juce::int64 seed = args.size() > 1 ? args[1].getLargeIntValue() : 1;
    const int engines = juce::jlimit (1, 16, optionValue (args, "--engines", 4));
    const double speed = juce::jlimit (1, 1000, optionValue (args, "--speed", 100));
    const double replaySpeed = juce::jmax (1.0, std::floor (speed / 10.0));
    const double starveMs = juce::jlimit (0, 10000, optionValue (args, "--starve-ms", 0));

    // The log and anything else under the user's folders goes into a fresh folder.
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("vfu-soak", {}, false);
    home.createDirectory();
    vfu::moveUserFoldersInto (home);

    juce::ScopedJuceInitialiser_GUI juce;
    openLog();

    const auto folder = home.getChildFile ("packages");
    const std::vector<vfu::soak::ModelPackages> packages { makePackages (folder.getChildFile ("q"), Model::quillbox),
                                                           makePackages (folder.getChildFile ("l"), Model::lumostrel),
                                                           makePackages (folder.getChildFile ("o"), Model::orb26) };

    std::cout << "soak: " << updates << " updates, seed " << seed << ", " << engines << " engines, clock x" << speed << std::endl;

    vfu::soak::Tally tally;
    vfu::soak::FailureList failures;
    std::mutex inconclusiveLock;
    std::vector<InconclusiveRun> inconclusive;
    std::atomic<int> next { 0 }, finished { 0 };
    const auto started = juce::Time::getMillisecondCounterHiRes();

    std::vector<std::thread> workers;
    for (int e = 0; e < engines; ++e)
        workers.emplace_back (
            [&]
            {
                for (int run = next++; run < updates; run = next++)
                {
                    auto random = randomForRun (seed, run);
                    const auto& p = packages[(size_t) (run % 3)];
                    const auto result = vfu::soak::runOneUpdate (p, random, speed, tally, run, starveMs);

                    if (const auto starved = starvationOf (result, speed); starved.isNotEmpty())
                    {
                        const std::lock_guard<std::mutex> sl (inconclusiveLock);
                        inconclusive.push_back ({ run, starved });
                    }
                    else
                    {
                        for (auto& f : result.failures)
                            failures.fail (f);
                    }

                    const auto done = ++finished;
                    if (done % 50 == 0)
                        std::cout << "  " << done << " updates" << std::endl;
                }
            });

    // The message thread delivers the engines' reports and the panel operations of the runs.
    while (finished.load() < updates)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

    for (auto& w : workers)
        w.join();

    // Inconclusive runs are played again one at a time, slower and unstarved; only the replay counts.
    std::sort (inconclusive.begin(), inconclusive.end(), [] (auto& a, auto& b) { return a.run < b.run; });
    int stillInconclusive = 0;
    for (auto& entry : inconclusive)
    {
        std::cout << "  run " << entry.run << ": inconclusive (" << entry.reason << "), played again at clock x" << replaySpeed
                  << std::endl;

        vfu::soak::Tally replayTally; // the replay's counts are not the soak's
        vfu::soak::RunResult replay;
        std::atomic<bool> replayed { false };
        std::thread worker (
            [&]
            {
                auto random = randomForRun (seed, entry.run);
                replay = vfu::soak::runOneUpdate (packages[(size_t) (entry.run % 3)], random, replaySpeed, replayTally, entry.run);
                replayed = true;
            });
        while (!replayed.load())
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
        worker.join();

        if (const auto starved = starvationOf (replay, replaySpeed); starved.isNotEmpty())
        {
            ++stillInconclusive;
            std::cout << "    replay inconclusive (" << starved << ")" << std::endl;
        }
        else
        {
            std::cout << "    replay " << (replay.failures.isEmpty() ? "passed" : "failed") << std::endl;
            for (auto& f : replay.failures)
                failures.fail (f + " (replayed at clock x" + juce::String (replaySpeed, 0) + ")");
        }
    }

    // The program's own shutdown: the last line of the log.
    vfu::soak::cycleLog (failures);
    writeLog ("shutdown");
    closeLog();
    juce::StringArray lines;
    lines.addLines (getLogFile().loadFileAsString());
    lines.removeEmptyStrings();
    if (!lines[lines.size() - 1].endsWith (" - shutdown"))
        failures.fail ("the log does not end with the shutdown line: " + lines[lines.size() - 1].quoted());

    const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
    std::cout << "updates run: " << tally.updates << " (succeeded at once " << tally.successes << ", retried " << tally.retries
              << ", retries finished " << tally.retriesFinished << ") in " << juce::String (seconds, 1) << " s" << std::endl;
    std::cout << "faults injected:" << std::endl;
    for (auto& [kind, count] : tally.faults)
        std::cout << "  " << kind << ": " << count << std::endl;
    const auto failed = failures.get();
    std::cout << "invariant failures: " << failed.size() << " (inconclusive: " << stillInconclusive << " of "
              << inconclusive.size() << " starved runs after their replays)" << std::endl;
    for (auto& f : failed)
        std::cout << "  " << f << std::endl;

    home.deleteRecursively();
    return failed.isEmpty() ? 0 : 1;
}
