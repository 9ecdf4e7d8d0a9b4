// vfu commands of the device discovery: decoding replies, version numbers, polls of simulated
// instruments and the real MIDI port lists.
#include "CommandRegistry.h"

#include "core/Log.h"
#include "core/Clock.h"
#include "definitions/PollingMode.h"
#include "midi/JuceMidiLayer.h"
#include "core/VersionNumber.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"
#include "simulation/SimulationSpec.h"

#include <iostream>

namespace
{
using namespace vfu;

juce::var toVar (const juce::StringArray& lines)
{
    juce::Array<juce::var> array;
    for (auto& line : lines)
        array.add (line);
    return array;
}

void printJson (juce::DynamicObject* object)
{
    tool::printLine (juce::JSON::toString (juce::var (object)));
}

// One message written in hex, spaces optional ("F0 7E 7F 06 02 ..." or "F07E7F0602...").
juce::MidiMessage parseHexMessage (const juce::String& text)
{
    const auto digits = text.removeCharacters (" \t\r\n");

    if (digits.isEmpty() || digits.length() % 2 != 0 || !digits.containsOnly ("0123456789abcdefABCDEF"))
        tool::failUsage ("Not a message in hex bytes: " + text.quoted());

    juce::MemoryBlock block;
    block.loadFromHexString (digits);
    return juce::MidiMessage (block.getData(), (int) block.getSize());
}

juce::uint16 parseDeviceId (const juce::String& text)
{
    if (text.length() != 4 || !text.containsOnly ("0123456789abcdefABCDEF"))
        tool::failUsage ("--device-id takes four hexadecimal digits, not " + text.quoted());

    return (juce::uint16) text.getHexValue32();
}

juce::StringArray toStringArray (const std::vector<std::string>& values)
{
    juce::StringArray array;
    for (auto& value : values)
        array.add (tool::toJuce (value));
    return array;
}

struct DecodeOptions
{
    std::string deviceId;
    std::vector<std::string> messages;
};

int decodeReply (const DecodeOptions& options)
{
    const auto id = parseDeviceId (tool::toJuce (options.deviceId));

    std::vector<juce::MidiMessage> parsed;
    for (auto& text : options.messages)
        parsed.push_back (parseHexMessage (tool::toJuce (text)));

    LogCollector log;
    VirtualMidiLayer layer (Clock::getRealClock());
    layer.addPorts ("Virtual input");

    MIDIPortsSelector selector (layer, Clock::getRealClock());
    selector.setDeviceID (id);

    for (auto& message : parsed)
        selector.handleIncomingMidi ("Virtual input", message);

    auto* result = new juce::DynamicObject();
    result->setProperty ("deviceDetected", selector.isDeviceDetected());
    result->setProperty ("bootloaderDetected", selector.isBootloaderDetected());
    result->setProperty ("firmwareVersion", selector.getFirmwareVersion());
    result->setProperty ("alternativeReplyReceived", selector.isAlternativeReplyReceived());
    result->setProperty ("panelState", selector.getPanelState());
    result->setProperty ("inputPortName", selector.getInputPortName());
    result->setProperty ("log", toVar (log.getLines()));
    printJson (result);
    return tool::exitSuccess;
}

int versionNumber (const juce::StringArray& texts)
{
    for (auto& text : texts)
        tool::printLine (juce::String (parseVersionNumber (text)));
    return tool::exitSuccess;
}

int formatVersion (const juce::StringArray& numbers)
{
    for (auto& text : numbers)
    {
        const auto digits = text.startsWithChar ('-') || text.startsWithChar ('+') ? text.substring (1) : text;
        const auto value = text.getLargeIntValue();

        if (digits.isEmpty() || !digits.containsOnly ("0123456789") || digits.length() > 10 ||
            value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            tool::failUsage ("Not a 32-bit version number: " + text.quoted());
    }

    for (auto& text : numbers)
        tool::printLine (formatVersionNumber (text.getIntValue()));
    return tool::exitSuccess;
}

struct PollOptions
{
    std::string simulate, mode, times = "1", extraPorts = "0", speed = "1";
};

int poll (const PollOptions& options)
{
    juce::String error;
    const auto spec = simulation::SimulationSpec::parse (tool::toJuce (options.simulate), error);
    if (!spec)
        tool::failUsage (error);

    const auto mode = definitions::parsePollingMode (tool::toJuce (options.mode));
    const int times = (int) tool::readNumber (options.times);
    const int extraPorts = (int) tool::readNumber (options.extraPorts);
    const auto speed = tool::readNumber (options.speed);

    std::unique_ptr<Clock> scaledClock;
    if (speed != 1.0)
        scaledClock = std::make_unique<ScaledClock> (speed);
    auto& clock = scaledClock != nullptr ? *scaledClock : Clock::getRealClock();

    LogCollector log;
    juce::StringArray results;
    juce::String version, inputName, outputName;

    {
        // Ports open through the message thread, as with the real MIDI layer.
        simulation::Simulation simulation (*spec, extraPorts, clock, true);
        MIDIPortsSelector selector (simulation.getLayer(), clock);
        const auto deviceId = simulation.getInstrument().getDeviceId();

        tool::runWithMessageLoop (
            [&]
            {
                if (mode == PollingMode::scanAllPorts)
                {
                    selector.resetInputPortToAuto();
                    selector.resetOutputPortToAuto();
                    writeLog ("Scan all ports");
                }

                for (int i = 0; i < times; ++i)
                {
                    PollResult r;
                    if (mode == PollingMode::scanAllPorts || mode == PollingMode::midiDeviceInquiry)
                        r = selector.pollDevice (deviceId, false);
                    else if (mode == PollingMode::midiDeviceInquiry2)
                        r = selector.pollDevice (deviceId, true);
                    else if (mode == PollingMode::midiPorts)
                        r = selector.checkSelectedPorts();
                    else if (mode == PollingMode::panelState)
                        r = selector.queryPanelState();
                    else
                        break; // "none" and anything else: no poll

                    results.add (getPollResultName (r));
                }
                return 0;
            });

        version = selector.getFirmwareVersion();
        inputName = selector.getInputPortName();
        outputName = selector.getOutputPortName();
    }

    auto* result = new juce::DynamicObject();
    result->setProperty ("results", toVar (results));
    result->setProperty ("firmwareVersion", version);
    result->setProperty ("inputPortName", inputName);
    result->setProperty ("outputPortName", outputName);
    result->setProperty ("log", toVar (log.getLines()));
    printJson (result);
    return tool::exitSuccess;
}

int ports()
{
    JuceMidiLayer layer;
    const auto inputs = layer.getInputNames();
    const auto outputs = layer.getOutputNames();

    // Empty lists can mean no MIDI system at all: say so beside the (unchanged) JSON.
    const auto native = createNativeMidiSystem();
    juce::String problem;
    if (inputs.isEmpty() && outputs.isEmpty() && !native.system->isAvailable (problem))
        std::cerr << "MIDI system not available (" << problem << ")" << std::endl;

    auto* result = new juce::DynamicObject();
    result->setProperty ("inputs", toVar (inputs));
    result->setProperty ("outputs", toVar (outputs));
    printJson (result);
    return tool::exitSuccess;
}

const tool::CommandRegistration decodeReplyCommand ({
    "decode-reply",
    "Classifies SysEx replies as the port selector does",
    "Hands each BYTES (one MIDI message in hex, spaces optional, e.g. \"F0 7E 7F 06 02 04 00 08 00 00 52 01 00 00 "
    "F7\")\n"
    "in order to a fresh port selector polling for device ID HHHH (four hex digits), as if they arrived on\n"
    "the input \"Virtual input\" with the input choice Auto. Prints one JSON object: deviceDetected,\n"
    "bootloaderDetected, firmwareVersion, alternativeReplyReceived, panelState, inputPortName and log\n"
    "(the log lines written, without time stamps).",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<DecodeOptions>();
        vfu::tool::required (
            app.add_option ("--device-id", options->deviceId, "The device ID polled for, four hex digits"));
        vfu::tool::required (app.add_option ("BYTES", options->messages, "One MIDI message in hex (repeatable)"));
        return [options] { return decodeReply (*options); };
    },
});

const tool::CommandRegistration versionNumberCommand ({
    "version-number",
    "Prints the version number of each version text",
    "Prints, one a line, the version number of each TEXT: major x 1000000 + minor x 10000 + patch x 100,\n"
    "plus the number after \"p\" or 99 without it (\"2.2.1\" gives 2020199, \"1.1.0p0\" gives 1010000).",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto texts = std::make_shared<std::vector<std::string>>();
        vfu::tool::required (app.add_option ("TEXT", *texts, "A version text such as 2.2.1 or 1.1.0p3"));
        return [texts] { return versionNumber (toStringArray (*texts)); };
    },
});

const tool::CommandRegistration formatVersionCommand ({
    "format-version",
    "Prints the version text of each version number",
    "Prints, one a line, the version text of each NUMBER (2020199 gives \"2.2.1\", 1010003 gives \"1.1.0p3\").",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto numbers = std::make_shared<std::vector<std::string>>();
        vfu::tool::required (app.add_option ("NUMBER", *numbers, "A 32-bit version number"));
        return [numbers] { return formatVersion (toStringArray (*numbers)); };
    },
});

const tool::CommandRegistration pollCommand ({
    "poll",
    "Polls a simulated instrument as the update engine does",
    "Makes N polls (--times, default 1) in the polling mode MODE (\"MIDI Device inquiry\", \"MIDI Device\n"
    "inquiry 2\", \"MIDI ports\", \"Panel state\", \"Scan all ports\" or \"none\"; any case; \"Scan all ports\"\n"
    "resets both port choices to Auto first) against one simulated instrument listed after K silent ports\n"
    "(--extra-ports, default 0, named \"Silent port 1\"...).\n"
    "SPEC is MODEL[:VERSION|:bootloader][:panel=B]: MODEL quillbox, lumostrel or orb26; VERSION the firmware\n"
    "it runs (default 2.1.0 for quillbox, 1.0.9 for the others); bootloader starts it in its bootloader;\n"
    "B is the Orb 26 panel state byte (0 to 5).\n"
    "--speed X runs the clock X times faster than real time (default 1: the exact timings).\n"
    "Prints one JSON object: results (poll result names), firmwareVersion, inputPortName, outputPortName, log.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<PollOptions>();
        vfu::tool::required (app.add_option ("--simulate", options->simulate,
                                             "The simulated instrument: MODEL[:VERSION|:bootloader][:panel=B]"));
        vfu::tool::required (app.add_option ("--mode", options->mode, "The polling mode"));
        tool::addWholeNumberOption (app, "--times", options->times, "How many polls", 1, 999999)->default_str ("1");
        tool::addWholeNumberOption (app, "--extra-ports", options->extraPorts,
                                    "Silent ports listed before the instrument", 0, 999999)
            ->default_str ("0");
        tool::addNumberOption (app, "--speed", options->speed, "Clock speed against real time", 0.01, 1000.0)
            ->default_str ("1");
        return [options] { return poll (*options); };
    },
});

const tool::CommandRegistration portsCommand ({
    "ports",
    "Lists the computer's MIDI ports",
    "Prints one JSON object with the names of the real MIDI inputs and outputs, in system order. When\n"
    "the computer's MIDI system cannot be reached, the lists are empty and a line on standard error says\n"
    "\"MIDI system not available (WHY)\"; the exit code is 0 all the same.",
    "",
    [] (CLI::App&) -> std::function<int()> { return [] { return ports(); }; },
});
} // namespace
