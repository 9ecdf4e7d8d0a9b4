#include "definitions/DefinitionReport.h"

#include "definitions/InbuiltDefinitions.h"
#include "definitions/InstructionVisit.h"

#include <cstdio>
#include <cstdlib>

namespace vfu::definitions
{
namespace
{
using State = FirmwareUpdater::StatesMachine::State;

// The float as the shortest decimal that reads back as the same float, so 0.082f prints as 0.082
// and not as the digits of its binary approximation.
double toShortestDouble (float value)
{
    for (int precision = 1; precision <= 9; ++precision)
    {
        char text[48];
        std::snprintf (text, sizeof (text), "%.*g", precision, (double) value);
        const auto candidate = std::strtod (text, nullptr);

        if ((float) candidate == value)
            return candidate;
    }

    return (double) value;
}

juce::var describePollingStates (const FirmwareUpdater::PollingStateList& list)
{
    auto object = new juce::DynamicObject();

    for (const auto& [result, target] : list)
        object->setProperty (juce::String ((int) result), target);

    return juce::var (object);
}

juce::var describeInstructions (const State::InstructionList& instructions);

juce::var describeInstruction (const State::Instruction& instruction)
{
    auto object = new juce::DynamicObject();
    juce::var result (object);

    vfu::visit (
        instruction,
        [object] (const State::TextFieldInstruction& textField)
        {
            object->setProperty ("kind", "TextField");
            object->setProperty ("name", textField.name);
            object->setProperty ("text", textField.text);
            object->setProperty ("visible", textField.visible);
        },
        [object] (const State::ButtonInstruction& button)
        {
            object->setProperty ("kind", "Button");
            object->setProperty ("name", button.name);
            object->setProperty ("text", button.text);
            object->setProperty ("state", button.state);
            object->setProperty ("gotoState", button.gotoState);
        },
        [object] (const State::PrintInstruction& print)
        {
            object->setProperty ("kind", "Print");
            object->setProperty ("text", print.text);
            object->setProperty ("flag", print.getFlag());
        },
        [object] (const State::SendSysExInstruction& sendSysEx)
        {
            object->setProperty ("kind", "SendSysEx");
            object->setProperty ("messageKind", sendSysEx.messageKind);
            object->setProperty ("endPollingMode", sendSysEx.endPollingMode);
            object->setProperty ("packetSize", sendSysEx.packetSize);
            object->setProperty ("waitTime", toShortestDouble (sendSysEx.waitTime));
            object->setProperty ("pollingStates", describePollingStates (sendSysEx.pollingStates));
        },
        [object] (const State::WaitInstruction& wait)
        {
            object->setProperty ("kind", "Wait");
            object->setProperty ("time", toShortestDouble (wait.time));
        },
        [object] (const State::GotoStateInstruction& gotoState)
        {
            object->setProperty ("kind", "GotoState");
            object->setProperty ("state", gotoState.state);
        },
        [object] (const State::CheckInstruction& check)
        {
            object->setProperty ("kind", "Check");
            object->setProperty ("name", check.name);
            object->setProperty ("value", check.value);
            object->setProperty ("instructions", describeInstructions (check.instructions));
        });

    return result;
}

juce::var describeInstructions (const State::InstructionList& instructions)
{
    juce::Array<juce::var> list;

    for (const auto& instruction : instructions)
        list.add (describeInstruction (*instruction));

    return list;
}

juce::var describeState (const State& state)
{
    auto attributes = new juce::DynamicObject();

    for (const auto& [attributeName, value] : state.attributes)
        attributes->setProperty (attributeName, value);

    auto object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("name", state.name);
    object->setProperty ("attributes", juce::var (attributes));
    object->setProperty ("pollingStates", describePollingStates (state.pollingStates));
    object->setProperty ("instructions", describeInstructions (state.instructions));
    return result;
}

juce::String modeText (bool consoleMode)
{
    return consoleMode ? "true" : "false";
}
} // namespace

juce::String summariseDefinition (const FirmwareUpdater& updater)
{
    const auto* machine = updater.getMachine();
    jassert (machine != nullptr); // construction fails without one

    return "OK: '" + updater.getDeviceName() + "' (consoleMode = " + modeText (updater.getConsoleMode()) +
           "): " + juce::String ((int) machine->states.size()) + " states, initial state '" +
           machine->initialStateName + "'";
}

juce::var describeDefinition (const FirmwareUpdater& updater)
{
    auto object = new juce::DynamicObject();
    juce::var result (object);

    object->setProperty ("deviceName", updater.getDeviceName());
    object->setProperty ("consoleMode", updater.getConsoleMode());
    object->setProperty ("midiDeviceId", (int) updater.getMidiDeviceId());
    object->setProperty ("fileNamePattern", updater.getFileNamePattern());
    object->setProperty ("sha256Check", updater.getSha256Check());
    object->setProperty ("timeout", updater.getTimeout());
    object->setProperty ("timeoutState", updater.getTimeoutState());

    juce::Array<juce::var> states;

    if (const auto* machine = updater.getMachine())
    {
        object->setProperty ("initialState", machine->initialStateName);

        for (const auto& entry : machine->states)
            states.add (describeState (*entry.second));
    }

    object->setProperty ("states", states);
    return result;
}

DefinitionCommandResult runDefinitionCommand (DefinitionCommand command, const juce::File& definitionFile,
                                              const juce::String& deviceName, bool consoleMode)
{
    vfu::UpdaterEnvironment environment;
    environment.programFile = juce::File(); // no program archive is read

    try
    {
        const auto updater = definitionFile == juce::File()
                                 ? std::make_unique<FirmwareUpdater> (getInbuiltDefinitions(), deviceName, consoleMode,
                                                                      nullptr, juce::Array<juce::File>(), environment)
                                 : std::make_unique<FirmwareUpdater> (definitionFile, deviceName, consoleMode, nullptr,
                                                                      juce::Array<juce::File>(), environment);

        if (command == DefinitionCommand::check)
            return { 0, summariseDefinition (*updater) };

        return { 0, juce::JSON::toString (describeDefinition (*updater)) };
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        return { 1, e.message };
    }
}
} // namespace vfu::definitions
