// vfu simulate: a simulated instrument behind MIDI ports of the computer's own MIDI system, for the
// real updater (the app or vfu update) to talk to.
#include "CommandRegistry.h"

#include "core/Clock.h"
#include "core/TerminationSignals.h"
#include "midi/Recording.h"
#include "simulation/PublishedReplay.h"
#include "simulation/RawMidiPortPublisher.h"
#include "simulation/SimulatedUpdate.h"
#include "simulation/SimulationSpec.h"
#include "simulation/SimulatorSession.h"

namespace vfu
{
namespace
{
struct SimulateOptions
{
    std::string spec, speed = "1", autoBootloader, portName, imageSize, replay, rawMidi;
    std::vector<std::string> faults;
    bool json = false;
};

// Where the instrument is reached: ports of its own on the MIDI system, or an existing rawmidi
// device of the kernel (--rawmidi), whose sequencer port is already listed.
std::unique_ptr<simulation::PortPublisher> createPublisher (const SimulateOptions& given)
{
    if (given.rawMidi.empty())
        return simulation::createSystemPortPublisher();

    const auto device = tool::toJuce (given.rawMidi).trim();
    if (device.isEmpty())
        tool::failUsage ("--rawmidi needs a device name, such as hw:1,0");
    return std::make_unique<simulation::RawMidiPortPublisher> (device);
}

// Why the instrument cannot be reached: its ports not created, or the rawmidi device (whose
// problem already names it) not opened.
juce::String portFailure (const SimulateOptions& given, const juce::String& whose, const juce::String& problem)
{
    if (given.rawMidi.empty())
        return "Cannot create the " + whose + " MIDI ports: " + problem;
    return problem.substring (0, 1).toUpperCase() + problem.substring (1);
}

// The recording as the instrument, behind ports of the MIDI system, until SIGINT or SIGTERM.
int replay (const SimulateOptions& given, Clock& clock)
{
    juce::String error;
    recording::Recording recording;
    const auto file = tool::resolvePath (tool::toJuce (given.replay));
    if (!recording::readFile (file, recording, error))
        tool::failUsage ("replay: cannot read " + file.getFileName() + ": " + error);

    catchTerminationSignals ({ TerminationSignal::interrupt, TerminationSignal::terminate });

    VirtualMidiLayer layer (clock);
    simulation::RecordingReplay replayed (std::move (recording), layer, true);
    auto publisher = createPublisher (given);
    simulation::PublishedReplay published (replayed, layer, *publisher,
                                           [] (const juce::String& line) { tool::printLine (line); });

    replayed.start();
    if (!published.start (error))
        tool::fail (portFailure (given, "replay's", error));

    bool reported = false;
    while (getTerminationSignalTotal() == 0)
    {
        if (replayed.hasDiverged() && !reported)
        {
            tool::printLine (replayed.finish());
            reported = true;
        }
        juce::Thread::sleep (50);
    }

    published.stop();
    const auto verdict = replayed.finish();
    if (!reported)
        tool::printLine (verdict);
    return verdict.startsWith ("replay: diverged") ? tool::exitFailure : tool::exitSuccess;
}

int simulate (const SimulateOptions& given)
{
    if (!given.replay.empty())
    {
        if (!given.spec.empty() || !given.faults.empty() || !given.autoBootloader.empty() || !given.portName.empty())
            tool::failUsage (
                "--replay takes no SPEC, --fault, --auto-bootloader or --port-name: the recording is the instrument");

        const double speed = tool::readNumber (given.speed);
        std::unique_ptr<Clock> scaledClock;
        if (speed != 1.0)
            scaledClock = std::make_unique<ScaledClock> (speed);
        return replay (given, scaledClock != nullptr ? *scaledClock : Clock::getRealClock());
    }

    if (given.spec.empty())
        tool::failUsage ("vfu simulate needs SPEC, or --replay FILE");

    juce::String error;
    const auto spec = simulation::SimulationSpec::parse (tool::toJuce (given.spec), error);
    if (!spec)
        tool::failUsage (error);

    simulation::SimulatorSession::Options options;
    options.instrument = spec->toSettings();
    for (auto& fault : given.faults)
        if (!SimulatedUpdate::applyFault (options.instrument.faults, tool::toJuce (fault), error))
            tool::failUsage (error);

    if (!given.portName.empty() && !given.rawMidi.empty())
        tool::failUsage ("--port-name does not go with --rawmidi: the kernel's port keeps its own name");

    if (!given.portName.empty())
    {
        options.instrument.portName = tool::toJuce (given.portName).trim();
        if (options.instrument.portName.isEmpty())
            tool::failUsage ("--port-name needs a name");
    }

    if (!given.autoBootloader.empty())
        options.autoBootloaderMs = (int) (tool::readNumber (given.autoBootloader) * 1000.0);

    if (!given.imageSize.empty())
        options.imageSize = (juce::int64) tool::readNumber (given.imageSize);

    options.json = given.json;

    const double speed = tool::readNumber (given.speed);
    std::unique_ptr<Clock> scaledClock;
    if (speed != 1.0)
        scaledClock = std::make_unique<ScaledClock> (speed);
    Clock& clock = scaledClock != nullptr ? *scaledClock : Clock::getRealClock();

    catchTerminationSignals ({ TerminationSignal::interrupt, TerminationSignal::terminate });

    auto publisher = createPublisher (given);
    simulation::SimulatorSession session (options, clock, *publisher,
                                          [] (const juce::String& line) { tool::printLine (line); });

    juce::String problem;
    if (!session.start (problem))
        tool::fail (portFailure (given, "simulator's", problem));

    while (getTerminationSignalTotal() == 0)
        juce::Thread::sleep (50);

    session.finish();
    return tool::exitSuccess;
}

const tool::CommandRegistration simulateCommand ({
    "simulate",
    "Runs a simulated instrument behind MIDI ports of the computer's MIDI system",
    "SPEC as in vfu poll (MODEL[:VERSION|:bootloader][:panel=B]). The instrument behaves as in vfu run and\n"
    "the tests; its ports (an input and an output) are created with the MIDI system and carry its model's\n"
    "name (\"Quillbox\", \"Lumostrel\", \"Orb 26\"), or --port-name. When it restarts (into its bootloader,\n"
    "after an erase, after an image) its ports are closed and created anew after the restart time, as a\n"
    "USB instrument leaves and rejoins the port lists. --auto-bootloader SECONDS restarts it into its\n"
    "bootloader that long after it first answered an identity request in its firmware. --speed N runs its\n"
    "clock N times faster. --image-size BYTES gives the expected image size for progress lines every 10 %\n"
    "(without it, a line every 16384 bytes).\n"
    "--rawmidi DEVICE (Linux) serves the instrument through an existing rawmidi device of the kernel instead,\n"
    "as ALSA names it (\"hw:1,0\", e.g. of snd-virmidi): the updater talks to that device's sequencer port,\n"
    "as to a USB instrument, and a restart closes and reopens the device while the port stays listed.\n"
    "Prints one line per event (see docs/simulator.md): \"simulate: ...\", \"ports: created|closed \\\"NAME\\\"\",\n"
    "\"received: KIND\", \"auto-bootloader: ...\", \"restart: off the ports for MS ms, then MODE\",\n"
    "\"back: MODE\", \"image: N bytes received\", \"image-check: N bytes, valid|invalid: WHY\",\n"
    "\"installed: VERSION\", \"erased\". On SIGINT or SIGTERM it closes its ports, prints the summary\n"
    "(\"summary: image bytes received: N\", \"summary: image: valid|invalid: WHY|none\",\n"
    "\"summary: version installed: VERSION|none\", \"summary: transfer: N packets, MS ms from the first\n"
    "to the last\", \"summary: identity requests: N\", \"summary: ports created: N times\") and exits 0.\n"
    "--json prints one JSON object a line instead ({\"event\": ..., \"time\": seconds, \"text\": ...}, the\n"
    "summary as {\"event\":\"summary\", ...}). Exits 1 when the ports cannot be created (no MIDI system)\n"
    "or the rawmidi device cannot be opened.\n"
    "--replay FILE plays a recording (vfu update --record) as the instrument instead of SPEC: the ports it\n"
    "answered on are created and closed as recorded, every message of the updater is checked against it,\n"
    "and it answers with the recorded replies (docs/recordings.md). Prints \"ports: created|closed \\\"NAME\\\"\",\n"
    "\"replay: diverged at line N: expected ..., got ...\" at the first difference, and on SIGINT or SIGTERM\n"
    "the verdict (\"replay: matched N lines\" and exit 0, or the divergence and exit 1). A recording that\n"
    "cannot be read is refused with its line number and the reason (exit 2).",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<SimulateOptions>();
        app.add_option ("SPEC", options->spec, "The simulated instrument: MODEL[:VERSION|:bootloader][:panel=B]");
        app.add_option ("--replay", options->replay, "A recording to play as the instrument, instead of SPEC");
        tool::addNumberOption (app, "--speed", options->speed, "Clock speed against real time", 0.01, 10000.0)
            ->default_str ("1");
        tool::addNumberOption (
            app, "--auto-bootloader", options->autoBootloader,
            "Restart into the bootloader SECONDS after the first identity request answered in the firmware", 0.0,
            86400.0);
        tool::addRepeatableOption (
            app, "--fault", options->faults,
            "A fault of the instrument: drop-replies, reply-delay=MS, garble-replies, short-replies, "
            "unrelated-sysex, vanish-after=BYTES, never-come-back (repeatable)");
        app.add_option ("--port-name", options->portName, "The name of its ports (default: its model's name)");
        app.add_option ("--rawmidi", options->rawMidi,
                        "Serve it through this rawmidi device of the kernel (e.g. hw:1,0) instead of ports of its own");
        tool::addWholeNumberOption (app, "--image-size", options->imageSize,
                                    "Expected image size in bytes, for progress lines every 10 %", 1, 1000000000);
        app.add_flag ("--json", options->json, "One JSON object a line");
        return [options] { return simulate (*options); };
    },
});
} // namespace
} // namespace vfu
