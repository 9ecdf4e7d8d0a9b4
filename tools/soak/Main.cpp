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
#include <functional>
#include <iostream>
#include <thread>

namespace
{
using vfu::simulation::Model;

juce::File writePackage (const juce::File& folder, const juce::String& baseName,
                         const std::vector<vfu::ArchiveWriter::Entry>& images)
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
        images.push_back (
            { "orb26-fw2-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 6000), true });
        images.push_back (
            { "orb26-fw3-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 3000), true });
        images.push_back (
            { "orb26-fw4-" + p.version + ".syx", vfu::FirmwareImage::generate (id, p.version, 4000), true });
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

    return vfu::simulation::describeStarvation (result.longestLagMilliseconds, speed,
                                                vfu::simulation::getUpdateTimeouts());
}

struct SoakSettings
{
    int updates = 1000;
    juce::int64 seed = 1;
    int engines = 4;
    double speed = 100;
    double replaySpeed = 10;
    double starveMs = 0;
};

SoakSettings parseArguments (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    SoakSettings settings;
    settings.updates = args.size() > 0 ? juce::jmax (1, args[0].getIntValue()) : 1000;
    settings.seed = args.size() > 1 ? args[1].getLargeIntValue() : 1;
    settings.engines = juce::jlimit (1, 16, optionValue (args, "--engines", 4));
    settings.speed = juce::jlimit (1, 1000, optionValue (args, "--speed", 100));
    settings.replaySpeed = juce::jmax (1.0, std::floor (settings.speed / 10.0));
    settings.starveMs = juce::jlimit (0, 10000, optionValue (args, "--starve-ms", 0));
    return settings;
}

// The message thread delivers the engines' reports and the panel operations of the runs.
void dispatchUntil (const std::function<bool()>& done)
{
    while (!done())
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
}

const vfu::soak::ModelPackages& packagesOfRun (const std::vector<vfu::soak::ModelPackages>& packages, int run)
{
    return packages[(size_t) (run % 3)];
}

// Plays every update once, `engines` at a time. The failures of runs whose clock kept time go to
// `failures`; the runs whose clock did not are returned, in order.
std::vector<InconclusiveRun> playAll (const SoakSettings& settings,
                                      const std::vector<vfu::soak::ModelPackages>& packages, vfu::soak::Tally& tally,
                                      vfu::soak::FailureList& failures)
{
    std::mutex inconclusiveLock;
    std::vector<InconclusiveRun> inconclusive;
    std::atomic<int> next{ 0 }, finished{ 0 };

    std::vector<std::thread> workers;
    for (int e = 0; e < settings.engines; ++e)
        workers.emplace_back (
            [&]
            {
                for (int run = next++; run < settings.updates; run = next++)
                {
                    auto random = randomForRun (settings.seed, run);
                    const auto result = vfu::soak::runOneUpdate (packagesOfRun (packages, run), random, settings.speed,
                                                                 tally, run, settings.starveMs);

                    if (const auto starved = starvationOf (result, settings.speed); starved.isNotEmpty())
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

    dispatchUntil ([&] { return finished.load() >= settings.updates; });
    for (auto& w : workers)
        w.join();

    std::sort (inconclusive.begin(), inconclusive.end(), [] (auto& a, auto& b) { return a.run < b.run; });
    return inconclusive;
}

// One run played again on its own, slower and unstarved; its counts are not the soak's.
vfu::soak::RunResult replayAlone (const SoakSettings& settings, const vfu::soak::ModelPackages& packages, int run)
{
    vfu::soak::Tally replayTally;
    vfu::soak::RunResult replay;
    std::atomic<bool> replayed{ false };
    std::thread worker (
        [&]
        {
            auto random = randomForRun (settings.seed, run);
            replay = vfu::soak::runOneUpdate (packages, random, settings.replaySpeed, replayTally, run);
            replayed = true;
        });
    dispatchUntil ([&] { return replayed.load(); });
    worker.join();
    return replay;
}

// Inconclusive runs are played again one at a time; only the replay counts. Returns how many of
// them stay inconclusive.
int replayInconclusive (const std::vector<InconclusiveRun>& inconclusive, const SoakSettings& settings,
                        const std::vector<vfu::soak::ModelPackages>& packages, vfu::soak::FailureList& failures)
{
    int stillInconclusive = 0;
    for (auto& entry : inconclusive)
    {
        std::cout << "  run " << entry.run << ": inconclusive (" << entry.reason << "), played again at clock x"
                  << settings.replaySpeed << std::endl;

        const auto replay = replayAlone (settings, packagesOfRun (packages, entry.run), entry.run);
        if (const auto starved = starvationOf (replay, settings.replaySpeed); starved.isNotEmpty())
        {
            ++stillInconclusive;
            std::cout << "    replay inconclusive (" << starved << ")" << std::endl;
        }
        else
        {
            std::cout << "    replay " << (replay.failures.isEmpty() ? "passed" : "failed") << std::endl;
            for (auto& f : replay.failures)
                failures.fail (f + " (replayed at clock x" + juce::String (settings.replaySpeed, 0) + ")");
        }
    }
    return stillInconclusive;
}

// The program's own shutdown: the last line of the log.
void shutDown (vfu::soak::FailureList& failures)
{
    vfu::soak::cycleLog (failures);
    writeLog ("shutdown");
    closeLog();
    const auto lines = vfu::soak::readLogLines();
    if (!lines[lines.size() - 1].endsWith (" - shutdown"))
        failures.fail ("the log does not end with the shutdown line: " + lines[lines.size() - 1].quoted());
}

void printReport (const vfu::soak::Tally& tally, const juce::StringArray& failed, double seconds, int stillInconclusive,
                  size_t starvedRuns)
{
    std::cout << "updates run: " << tally.updates << " (succeeded at once " << tally.successes << ", retried "
              << tally.retries << ", retries finished " << tally.retriesFinished << ") in " << juce::String (seconds, 1)
              << " s" << std::endl;
    std::cout << "faults injected:" << std::endl;
    for (auto& [kind, count] : tally.faults)
        std::cout << "  " << kind << ": " << count << std::endl;
    std::cout << "invariant failures: " << failed.size() << " (inconclusive: " << stillInconclusive << " of "
              << starvedRuns << " starved runs after their replays)" << std::endl;
    for (auto& f : failed)
        std::cout << "  " << f << std::endl;
}
} // namespace

int main (int argc, char** argv)
{
    const auto settings = parseArguments (argc, argv);

    // The log and anything else under the user's folders goes into a fresh folder.
    const auto home =
        juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("vfu-soak", {}, false);
    home.createDirectory();
    vfu::moveUserFoldersInto (home);

    juce::ScopedJuceInitialiser_GUI juce;
    openLog();

    const auto folder = home.getChildFile ("packages");
    const std::vector<vfu::soak::ModelPackages> packages{ makePackages (folder.getChildFile ("q"), Model::quillbox),
                                                          makePackages (folder.getChildFile ("l"), Model::lumostrel),
                                                          makePackages (folder.getChildFile ("o"), Model::orb26) };

    std::cout << "soak: " << settings.updates << " updates, seed " << settings.seed << ", " << settings.engines
              << " engines, clock x" << settings.speed << std::endl;

    vfu::soak::Tally tally;
    vfu::soak::FailureList failures;
    const auto started = juce::Time::getMillisecondCounterHiRes();

    const auto inconclusive = playAll (settings, packages, tally, failures);
    const auto stillInconclusive = replayInconclusive (inconclusive, settings, packages, failures);
    shutDown (failures);

    const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
    const auto failed = failures.get();
    printReport (tally, failed, seconds, stillInconclusive, inconclusive.size());

    home.deleteRecursively();
    return failed.isEmpty() ? 0 : 1;
}
