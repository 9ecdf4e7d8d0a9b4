#include "midi/MIDIPortsSelector.h"

#include "core/Log.h"
#include "core/Clock.h"

#include <juce_events/juce_events.h>

namespace
{
constexpr juce::uint16 orb26Id = 0x000C;
const juce::String autoChoice{ "Auto" };

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

    const int index = getInputNames().indexOf (name);
    if (index < 0)
        return false;

    inputPortIndex = index;
    std::lock_guard<std::mutex> guard (lock);
    inputPortName = name;
    return true;
}

bool MIDIPortsSelector::selectOutputPort (const juce::String& name)
{
    if (name == autoChoice)
        return resetOutputPortToAuto();

    const int index = getOutputNames().indexOf (name);
    if (index < 0)
        return false;

    outputPortIndex = index;
    setOutputPortName (name);
    return true;
}

bool MIDIPortsSelector::resetInputPortToAuto()
{
    inputPortIndex = -1;
    std::lock_guard<std::mutex> guard (lock);
    inputPortName = autoChoice;
    return true;
}

bool MIDIPortsSelector::resetOutputPortToAuto()
{
    outputPortIndex = -1;
    setOutputPortName (autoChoice);
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
    const int index = getOutputNames().indexOf (getOutputChoice());

    if (index < 0 || workerShouldStop())
        return {};

    return openOutputDevice (index);
}

// ----- Polls -----

PollResult MIDIPortsSelector::pollDevice (juce::uint16 deviceId, bool checkPanelMode)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        deviceID = deviceId;
    }
    deviceDetected = false;

    PollResult result = NoDevice;
    bool stopped = false;

    // One identity request per output until one answers; a request that found the worker asked to
    // stop ends the poll as aborted.
    auto askOutputs = [this, &stopped] (bool rememberOutput) -> PollResult
    {
        const auto choice = getOutputChoice();

        if (choice != autoChoice)
        {
            const auto r = sendDeviceInquiry (choice, deviceInquiryWaitMilliseconds);
            stopped = r == Aborted;
            return isFinding (r) ? r : NoDevice;
        }

        for (auto& name : getOutputNames())
        {
            const auto r = sendDeviceInquiry (name, deviceInquiryWaitMilliseconds);

            if (r == Aborted)
            {
                stopped = true;
                break;
            }

            if (isFinding (r))
            {
                if (rememberOutput)
                    setOutputPortName (name);
                return r;
            }
        }

        return NoDevice;
    };

    if (inputPortIndex.load() == -1)
    {
        InputList opened;
        const int numInputs = getInputNames().size();

        for (int i = 0; i < numInputs; ++i)
        {
            if (workerShouldStop())
            {
                stopAndClose (opened);
                return Aborted;
            }

            if (auto input = openAndStartInput (i))
                opened.push_back (std::move (input));
        }

        if (!opened.empty())
            result = askOutputs (false);

        stopAndClose (opened);
    }
    else
    {
        const int index = inputPortIndex;
        const auto name = getInputNames()[index]; // empty when the index lies outside the list
        {
            std::lock_guard<std::mutex> guard (lock);
            inputPortName = name;
        }

        writeLog ("Scanning MIDI input [" + name + "]");

        if (workerShouldStop())
            return Aborted;

        auto input = openAndStartInput (index);
        result = askOutputs (true);
        stopAndClose (input);
    }

    if (stopped)
        return Aborted;

    if (result == DeviceDetected && getDeviceID() == orb26Id)
        result = confirmApplicationFirmware (checkPanelMode);

    return result;
}

PollResult MIDIPortsSelector::sendDeviceInquiry (const juce::String& outputName, int waitMilliseconds)
{
    const int index = getOutputNames().indexOf (outputName);

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
        setOutputPortName (autoChoice);

    if (!clock.sleepUnlessThreadExits (waitMilliseconds))
        return Aborted; // the output closes on the way out

    PollResult result = NoDevice;
    const auto choice = getOutputChoice();

    if (deviceDetected && (choice == autoChoice || choice == outputName))
    {
        outputPortIndex = index;
        setOutputPortName (outputName);
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
    juce::String inName, outName;
    {
        std::lock_guard<std::mutex> guard (lock);
        inName = inputPortName;
        outName = outputPortName;
    }

    if (inName == autoChoice || outName == autoChoice)
        return NoDevice;

    const auto inputs = getInputNames();
    const auto outputs = getOutputNames();
    const int in = inputPortIndex;
    const int out = outputPortIndex;

    const bool inputThere = juce::isPositiveAndBelow (in, inputs.size()) && inputs[in] == inName;
    const bool outputThere = juce::isPositiveAndBelow (out, outputs.size()) && outputs[out] == outName;

    return inputThere && outputThere ? DeviceDetected : NoDevice;
}
