#include "definitions/DefinitionTransitions.h"

#include "definitions/DefinitionValues.h"
#include "definitions/InstructionVisit.h"
#include "definitions/PanelFieldNames.h"

namespace vfu::definitions
{
namespace
{
std::set<PollResult> resultsBetween (PollResult first, PollResult last)
{
    std::set<PollResult> results;

    for (int code = (int) first; code <= (int) last; ++code)
        results.insert ((PollResult) code);

    return results;
}

// A firmware transfer followed by a polling the engine runs.
bool transferPollsAfter (const State::SendSysExInstruction& instruction)
{
    return isFirmwareTransfer (instruction) && pollsAfterTransfer (instruction.endPolling);
}

struct TransitionCollector
{
    const FirmwareUpdater::StatesMachine& machine;
    const State& state;
    std::vector<Transition>& transitions;

    void add (const juce::String& to, TransitionKind kind, const juce::String& label, bool takeable)
    {
        transitions.push_back ({ state.name, to, kind, label, takeable, machine.getState (to) != nullptr });
    }

    void addList (const FirmwareUpdater::PollingStateList& list, TransitionKind kind,
                  const std::set<PollResult>& produced)
    {
        for (const auto& [result, target] : list)
            add (target, kind, getPollResultValueName (result), produced.count (result) > 0);
    }

    // condition: the Checks around these instructions, empty at the state's own level.
    void addInstructions (const State::InstructionList& instructions, const juce::String& condition, bool runs)
    {
        for (const auto& instruction : instructions)
            vfu::visit (
                *instruction,
                [&] (const State::GotoStateInstruction& gotoState)
                { add (gotoState.state, TransitionKind::gotoState, condition, runs); },
                [&] (const State::ButtonInstruction& button)
                {
                    if (button.gotoState.isNotEmpty())
                        add (button.gotoState, TransitionKind::button, button.text,
                             runs && condition.isEmpty() && getPanelButtonNames().contains (button.name));
                },
                [&] (const State::SendSysExInstruction& sendSysEx)
                {
                    addList (sendSysEx.pollingStates, TransitionKind::afterTransfer,
                             runs ? getResultsForTransferList (sendSysEx) : std::set<PollResult>());
                },
                [&] (const State::CheckInstruction& check)
                {
                    const auto checkText =
                        "if " + check.name + " is " + (check.value ? juce::String ("true") : juce::String ("false"));
                    addInstructions (check.instructions, condition.isEmpty() ? checkText : condition + ", " + checkText,
                                     runs && check.name == "versionNumber");
                });
    }
};
} // namespace

std::set<PollResult> getResultsOfPollingMode (PollingMode mode)
{
    switch (mode)
    {
        case PollingMode::midiDeviceInquiry:
        case PollingMode::scanAllPorts:
            return resultsBetween (PollResult::NoDevice, PollResult::BootloaderDetected);
        case PollingMode::midiDeviceInquiry2:
            return resultsBetween (PollResult::NoDevice, PollResult::PanelModeDetected);
        case PollingMode::midiPorts:
            return resultsBetween (PollResult::NoDevice, PollResult::DeviceDetected);
        case PollingMode::panelState:
            // The panel state poll returns the last state the instrument reported, or Aborted.
            return resultsBetween (PollResult::PanelNoUpdate, PollResult::PanelUpdateFailed);
        case PollingMode::absent:
        case PollingMode::none:
        case PollingMode::unknown:
            break;
    }
    return {};
}

bool isFirmwareTransfer (const State::SendSysExInstruction& instruction)
{
    return instruction.messageKind != "erase" && instruction.messageKind != "panel update state";
}

juce::StringArray getFirmwareImageKinds (const FirmwareUpdater::StatesMachine& machine)
{
    juce::StringArray kinds;

    for (auto& [name, state] : machine.states)
        vfu::visitAll (state->instructions,
                       [&kinds] (const State::SendSysExInstruction& instruction)
                       {
                           if (isFirmwareTransfer (instruction))
                               kinds.addIfNotAlreadyThere (instruction.messageKind);
                       });

    return kinds;
}

std::set<PollResult> getResultsForStateList (const State& state)
{
    auto results = getResultsOfPollingMode (state.pollingMode);

    vfu::visitAll (state.instructions,
                   [&results] (const State::SendSysExInstruction& instruction)
                   {
                       if (transferPollsAfter (instruction) && usesStateListAfterTransfer (instruction.endPolling))
                       {
                           const auto more = getResultsOfPollingMode (instruction.endPolling);
                           results.insert (more.begin(), more.end());
                       }
                   });

    return results;
}

std::set<PollResult> getResultsForTransferList (const State::SendSysExInstruction& instruction)
{
    if (!isFirmwareTransfer (instruction))
        return {};

    std::set<PollResult> results{ PollResult::NoDevice };

    if (transferPollsAfter (instruction) && !usesStateListAfterTransfer (instruction.endPolling))
    {
        const auto more = getResultsOfPollingMode (instruction.endPolling);
        results.insert (more.begin(), more.end());
    }

    return results;
}

bool canTimeOut (const State& state)
{
    bool polls = !getResultsOfPollingMode (state.pollingMode).empty();

    vfu::visitAll (state.instructions, [&polls] (const State::SendSysExInstruction& instruction)
                   { polls = polls || transferPollsAfter (instruction); });

    return polls;
}

juce::String getTimeoutTarget (const FirmwareUpdater& updater, const State& state)
{
    return state.hasAttribute ("timeoutState") ? state.getAttribute ("timeoutState") : updater.getTimeoutState();
}

std::vector<Transition> listTransitions (const FirmwareUpdater& updater)
{
    std::vector<Transition> transitions;
    const auto* machine = updater.getMachine();

    if (machine == nullptr)
        return transitions;

    for (const auto& entry : machine->states)
    {
        const auto& state = *entry.second;
        TransitionCollector collector{ *machine, state, transitions };

        collector.addList (state.pollingStates, TransitionKind::pollResult, getResultsForStateList (state));
        collector.addInstructions (state.instructions, {}, true);

        if (canTimeOut (state))
            collector.add (getTimeoutTarget (updater, state), TransitionKind::timeout,
                           "time-out " + juce::String (updater.getTimeout()) + " s", true);
    }

    return transitions;
}
} // namespace vfu::definitions
