#include "midi/MIDIPortsSelector.h"

#include "core/Log.h"
#include "core/Clock.h"
#include "midi/InstrumentProtocol.h"

#include <juce_events/juce_events.h>

namespace
{
const juce::String autoChoice{ "Auto" };

// The index of a chosen port in a list: by its identifier; once that is gone, a port that appeared
// under its name since (the instrument back as a new port), never one listed beside it (its twin).
int findChosenPort (const vfu::MidiLayer::PortList& ports, const juce::String& identifier, const juce::String& name,
                    const juce::StringArray& beside)
{
    const int index = ports.identifiers.indexOf (identifier);
    if (index >= 0)
        return index;

    const int named = ports.names.indexOf (name);
    return named >= 0 && !beside.contains (ports.identifiers[named]) ? named : -1;
}

bool isFinding (PollResult r)
{
    return r == DeviceDetected || r == BootloaderDetected;
}

bool messageLoopHasQuit()
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    return mm != nullptr && mm->hasStopMessageBeenSent();
}
} // namespace

bool MIDIPortsSelector::workerShouldStop()
{
    return juce::Thread::currentThreadShouldExit();
}

juce::StringArray MIDIPortsSelector::getInputNames()
{
    return midiLayer.getInputNames();
}

juce::StringArray MIDIPortsSelector::getOutputNames()
{
    return midiLayer.getOutputNames();
}

// ----- Port choice -----

bool MIDIPortsSelector::selectInputPort (const juce::String& name)
{
    if (name == autoChoice)
        return resetInputPortToAuto();

    const auto ports = midiLayer.getInputPorts();
    const int index = ports.names.indexOf (name);
    if (index < 0)
        return false;

    {
        std::lock_guard<std::mutex> guard (lock);
        portsBesideInput.clear();
    }
    setInputChoice (index, ports);
    return true;
}

void MIDIPortsSelector::setInputChoice (int index, const vfu::MidiLayer::PortList& ports)
{
    inputPortIndex = index;
    std::lock_guard<std::mutex> guard (lock);
    inputPortName = ports.names[index];
    inputPortIdentifier = ports.identifiers[index];
    for (auto& identifier : ports.identifiers)
        if (identifier != inputPortIdentifier)
            portsBesideInput.addIfNotAlreadyThere (identifier);
}

int MIDIPortsSelector::findChosenInput()
{
    const auto ports = midiLayer.getInputPorts();
    juce::String identifier, name;
    juce::StringArray beside;
    {
        std::lock_guard<std::mutex> guard (lock);
        identifier = inputPortIdentifier;
        name = inputPortName;
        beside = portsBesideInput;
    }

    const int index = findChosenPort (ports, identifier, name, beside);
    if (index >= 0)
        setInputChoice (index, ports);
    return index;
}

bool MIDIPortsSelector::selectOutputPort (const juce::String& name)
{
    if (name == autoChoice)
        return resetOutputPortToAuto();

    const auto ports = midiLayer.getOutputPorts();
    const int index = ports.names.indexOf (name);
    if (index < 0)
        return false;

    outputPortIndex = index;
    setOutputChoice (name, ports.identifiers[index], ports.identifiers);
    return true;
}

bool MIDIPortsSelector::resetInputPortToAuto()
{
    inputPortIndex = -1;
    std::lock_guard<std::mutex> guard (lock);
    inputPortName = autoChoice;
    inputPortIdentifier.clear();
    portsBesideInput.clear();
    return true;
}

bool MIDIPortsSelector::resetOutputPortToAuto()
{
    outputPortIndex = -1;
    setOutputChoice (autoChoice, {});
    return true;
}

juce::String MIDIPortsSelector::getInputPortName() const
{
    std::lock_guard<std::mutex> guard (lock);
    return inputPortName;
}

juce::String MIDIPortsSelector::getOutputPortName() const
{
    return getOutputChoice();
}

int MIDIPortsSelector::getInputPortIndex() const
{
    return inputPortIndex;
}

int MIDIPortsSelector::getOutputPortIndex() const
{
    return outputPortIndex;
}

juce::String MIDIPortsSelector::getOutputChoice() const
{
    std::lock_guard<std::mutex> guard (lock);
    return outputPortName;
}

void MIDIPortsSelector::setOutputPortName (const juce::String& name)
{
    std::lock_guard<std::mutex> guard (lock);
    outputPortName = name;
}

void MIDIPortsSelector::setOutputChoice (const juce::String& name, const juce::String& identifier,
                                         const juce::StringArray& listedIdentifiers)
{
    std::lock_guard<std::mutex> guard (lock);
    if (identifier != outputPortIdentifier)
        portsBesideOutput.clear();
    outputPortName = name;
    outputPortIdentifier = identifier;
    for (auto& other : listedIdentifiers)
        if (other != identifier)
            portsBesideOutput.addIfNotAlreadyThere (other);
}

// ----- Devices -----

std::unique_ptr<vfu::MidiInputConnection> MIDIPortsSelector::openAndStartInput (int index)
{
    auto input = openInputDevice (index);
    if (input != nullptr)
        input->start();
    return input;
}

void MIDIPortsSelector::stopAndClose (std::unique_ptr<vfu::MidiInputConnection>& input)
{
    if (input != nullptr)
        input->stop();
    input.reset();
}

void MIDIPortsSelector::stopAndClose (InputList& inputs)
{
    for (auto& input : inputs)
        stopAndClose (input);
    inputs.clear();
}

std::unique_ptr<vfu::MidiOutputConnection> MIDIPortsSelector::openSelectedOutput()
{
    juce::String choice, identifier;
    juce::StringArray beside;
    {
        std::lock_guard<std::mutex> guard (lock);
        choice = outputPortName;
        identifier = outputPortIdentifier;
        beside = portsBesideOutput;
    }

    // The chosen port itself, wherever it is listed now and whatever name another port took.
    const auto ports = midiLayer.getOutputPorts();
    const int index =
        identifier.isNotEmpty() ? findChosenPort (ports, identifier, choice, beside) : ports.names.indexOf (choice);

    if (index < 0 || workerShouldStop())
        return {};

    return openOutputDevice (index);
}

juce::StringArray MIDIPortsSelector::getOtherProgramsConnectedToChosenPorts()
{
    juce::String inName, outName, inIdentifier, outIdentifier;
    juce::StringArray inBeside, outBeside;
    {
        std::lock_guard<std::mutex> guard (lock);
        inName = inputPortName;
        outName = outputPortName;
        inIdentifier = inputPortIdentifier;
        outIdentifier = outputPortIdentifier;
        inBeside = portsBesideInput;
        outBeside = portsBesideOutput;
    }

    // The identifiers the chosen ports have now (an instrument back from a restart may be listed
    // under a new one); empty for Auto or a port that is gone.
    const auto current = [] (const vfu::MidiLayer::PortList& ports, const juce::String& identifier,
                             const juce::String& name, const juce::StringArray& beside)
    {
        if (identifier.isEmpty())
            return juce::String();
        const int index = findChosenPort (ports, identifier, name, beside);
        return index >= 0 ? ports.identifiers[index] : juce::String();
    };

    const auto input = current (midiLayer.getInputPorts(), inIdentifier, inName, inBeside);
    const auto output = current (midiLayer.getOutputPorts(), outIdentifier, outName, outBeside);
    if (input.isEmpty() && output.isEmpty())
        return {};

    // Names come from other programs: one line each, so that a log line stays one line.
    juce::StringArray programs;
    for (auto& reported : midiLayer.getOtherProgramsConnectedTo (input, output))
    {
        juce::String name;
        for (auto c : reported)
            name += juce::String::charToString (c < 0x20 || c == 0x7f ? (juce::juce_wchar) ' ' : c);
        name = name.trim();
        if (name.isNotEmpty())
            programs.addIfNotAlreadyThere (name);
    }
    return programs;
}

// ----- Polls -----

PollResult MIDIPortsSelector::pollDevice (juce::uint16 deviceId, bool checkPanelMode)
{
    startPoll (deviceId);

    const auto outcome = inputPortIndex.load() == -1 ? scanAllInputs() : scanChosenInput();
    if (outcome.stopped)
        return Aborted;

    // A reply handled after its port had left the lists (the instrument restarting) chose no
    // input: there is nothing to talk to yet, and judging the instrument by the confirmation that
    // follows would send the firmware nowhere.
    if (isFinding (outcome.result) && inputPortIndex.load() == -1)
        return NoDevice;

    if (outcome.result == DeviceDetected && getDeviceID() == vfu::protocol::orb26Id)
        return confirmApplicationFirmware (checkPanelMode);

    return outcome.result;
}

void MIDIPortsSelector::startPoll (juce::uint16 deviceId)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        deviceID = deviceId;
    }
    deviceDetected = false;
}

// Every input open while the outputs are asked: the reply selects the input it came on.
MIDIPortsSelector::InquiryOutcome MIDIPortsSelector::scanAllInputs()
{
    InputList opened;
    const int numInputs = getInputNames().size();
    forgetHeldInputs();

    for (int i = 0; i < numInputs; ++i)
    {
        if (workerShouldStop())
        {
            stopAndClose (opened);
            return { Aborted, true };
        }

        if (auto input = openAndStartInput (i))
            opened.push_back (std::move (input));
    }

    InquiryOutcome outcome;
    if (!opened.empty())
        outcome = askOutputs (false);

    stopAndClose (opened);
    return outcome;
}

// A chosen input that is not listed (its instrument restarting) opens nothing: no other port
// answers in its place.
MIDIPortsSelector::InquiryOutcome MIDIPortsSelector::scanChosenInput()
{
    const int index = findChosenInput();

    writeLog ("Scanning MIDI input [" + getInputPortName() + "]");

    if (workerShouldStop())
        return { Aborted, true };

    auto input = index >= 0 ? openAndStartInput (index) : nullptr;
    const auto outcome = askOutputs (true);
    stopAndClose (input);
    return outcome;
}

// One identity request per output until one answers; a request that found the worker asked to
// stop ends the poll as aborted.
MIDIPortsSelector::InquiryOutcome MIDIPortsSelector::askOutputs (bool rememberOutput)
{
    juce::String choice, identifier;
    {
        std::lock_guard<std::mutex> guard (lock);
        choice = outputPortName;
        identifier = outputPortIdentifier;
    }

    if (choice != autoChoice)
    {
        const auto r = inquire (choice, identifier, deviceInquiryWaitMilliseconds);
        return { isFinding (r) ? r : NoDevice, r == Aborted };
    }

    const auto ports = midiLayer.getOutputPorts();
    for (int i = 0; i < ports.names.size(); ++i)
    {
        const auto& name = ports.names[i];
        const auto r = inquire (name, ports.identifiers[i], deviceInquiryWaitMilliseconds);

        if (r == Aborted)
            return { NoDevice, true };

        if (isFinding (r))
        {
            if (rememberOutput)
                setOutputChoice (name, ports.identifiers[i], ports.identifiers);
            return { r, false };
        }
    }

    return {};
}

PollResult MIDIPortsSelector::sendDeviceInquiry (const juce::String& outputName, int waitMilliseconds)
{
    return inquire (outputName, {}, waitMilliseconds);
}

// With an identifier the inquiry goes to that port, listed under whatever name; without, to the
// port of that name.
PollResult MIDIPortsSelector::inquire (const juce::String& outputName, const juce::String& outputIdentifier,
                                       int waitMilliseconds)
{
    juce::StringArray beside;
    {
        std::lock_guard<std::mutex> guard (lock);
        beside = portsBesideOutput;
    }
    const auto ports = midiLayer.getOutputPorts();
    const int index = outputIdentifier.isNotEmpty() ? findChosenPort (ports, outputIdentifier, outputName, beside)
                                                    : ports.names.indexOf (outputName);
    const auto listedName = index >= 0 ? ports.names[index] : outputName;

    if (workerShouldStop() || messageLoopHasQuit())
        return Aborted;

    std::unique_ptr<vfu::MidiOutputConnection> output;
    if (index >= 0)
    {
        output = openOutputDevice (index);
        if (output != nullptr)
            output->sendMessageNow (getIdentityRequest());
    }

    writeLog (outputName + " : send Device Inquiry Request...");

    if (index < 0)
        setOutputChoice (autoChoice, {});

    if (!clock.sleepUnlessThreadExits (waitMilliseconds))
        return Aborted; // the output closes on the way out

    PollResult result = NoDevice;
    const auto choice = getOutputChoice();

    if (deviceDetected && (choice == autoChoice || choice == outputName))
    {
        outputPortIndex = index;
        setOutputChoice (listedName, ports.identifiers[index], ports.identifiers);
        result = bootloaderDetected ? BootloaderDetected : DeviceDetected;
    }
    else
    {
        setFirmwareVersion ("Unknown");
    }

    output.reset();
    return result;
}

PollResult MIDIPortsSelector::confirmApplicationFirmware (bool checkPanelMode)
{
    if (workerShouldStop())
        return Aborted;

    auto input = openAndStartInput (inputPortIndex);
    bool replied = false;

    for (int attempt = 0; attempt < alternativeInquiryAttempts; ++attempt)
    {
        {
            std::lock_guard<std::mutex> guard (lock);
            alternativeReplyReceived = false;
        }

        if (auto output = openSelectedOutput())
        {
            writeLog (getOutputChoice() + " : send Alternative Device Inquiry Request...");
            output->sendMessageNow (getAlternativeDeviceInquiry());
        }

        if (!clock.sleepUnlessThreadExits (alternativeInquiryWaitMilliseconds) || workerShouldStop())
        {
            stopAndClose (input);
            return Aborted;
        }

        if (isAlternativeReplyReceived())
        {
            bootloaderDetected = false;
            replied = true;
            break;
        }
    }

    PollResult result = DeviceDetected;

    if (!replied)
    {
        result = BootloaderDetected;
        bootloaderDetected = true;
        writeLog ("DeviceID 000C detected (bootloader = true)");
    }
    else
    {
        writeLog ("DeviceID 000C detected (bootloader = false)");

        if (checkPanelMode && parseVersionNumber (getFirmwareVersion()) >= parseVersionNumber ("1.1.0p0"))
        {
            const auto panel = queryPanelState();

            if (panel == Aborted && workerShouldStop())
            {
                stopAndClose (input);
                return Aborted;
            }

            if (panel == PanelErased || panel == PanelFirmwareSending)
            {
                result = PanelModeDetected;
                writeLog ("DeviceID 000C detected (panel mode detected)");
            }
        }
    }

    stopAndClose (input);
    return result;
}

PollResult MIDIPortsSelector::queryPanelState()
{
    const auto request = createPanelStateRequest (getDeviceID());

    auto input = openAndStartInput (inputPortIndex);

    if (auto output = openSelectedOutput())
        output->sendMessageNow (request);

    if (workerShouldStop() || !clock.sleepUnlessThreadExits (panelStateWaitMilliseconds) || workerShouldStop())
    {
        stopAndClose (input);
        return Aborted;
    }

    stopAndClose (input);
    return (PollResult) getPanelState();
}

PollResult MIDIPortsSelector::checkSelectedPorts()
{
    juce::String inName, outName, inIdentifier, outIdentifier;
    {
        std::lock_guard<std::mutex> guard (lock);
        inName = inputPortName;
        outName = outputPortName;
        inIdentifier = inputPortIdentifier;
        outIdentifier = outputPortIdentifier;
    }

    if (inName == autoChoice || outName == autoChoice)
        return NoDevice;

    // The chosen ports themselves: a twin that keeps a port of the same name, or takes the place
    // of a port that left, is not the chosen instrument.
    const bool inputThere = inIdentifier.isNotEmpty() && midiLayer.getInputPorts().identifiers.contains (inIdentifier);
    const bool outputThere =
        outIdentifier.isNotEmpty() && midiLayer.getOutputPorts().identifiers.contains (outIdentifier);

    return inputThere && outputThere ? DeviceDetected : NoDevice;
}
