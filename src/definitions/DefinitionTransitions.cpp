#include "definitions/DefinitionTransitions.h"

#include "definitions/DefinitionValues.h"
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

template <typename Function> void forEachSendSysEx (const State::InstructionList& instructions, Function&& function)
{
    for (const auto& instruction : instructions)
    {
        if (const auto* sendSysEx = dynamic_cast<const State::SendSysExInstruction*> (instruction.get()))
            function (*sendSysEx);
        else if (const auto* check = dynamic_cast<const State::CheckInstruction*> (instruction.get()))
            forEachSendSysEx (check->instructions, function);
    }
}

// The polling modes that the post-send polling knows.
bool pollsAfterTransfer (const State::SendSysExInstruction& instruction)
{
    const auto mode = instruction.endPollingMode.toLowerCase();
    return isFirmwareTransfer (instruction) &&
           (mode == "midi device inquiry" || mode == "midi device inquiry 2" || mode == "midi ports");
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
        {
            const auto* item = instruction.get();

            if (const auto* gotoState = dynamic_cast<const State::GotoStateInstruction*> (item))
            {
                add (gotoState->state, TransitionKind::gotoState, condition, runs);
            }
            else if (const auto* button = dynamic_cast<const State::ButtonInstruction*> (item))
            {
                if (button->gotoState.isNotEmpty())
                    add (button->gotoState, TransitionKind::button, button->text,
                         runs && condition.isEmpty() && getPanelButtonNames().contains (button->name));
            }
            else if (const auto* sendSysEx = dynamic_cast<const State::SendSysExInstruction*> (item))
            {
                addList (sendSysEx->pollingStates, TransitionKind::afterTransfer,
                         runs ? getResultsForTransferList (*sendSysEx) : std::set<PollResult>());
            }
            else if (const auto* check = dynamic_cast<const State::CheckInstruction*> (item))
            {
                const auto checkText =
                    "if " + check->name + " is " + (check->value ? juce::String ("true") : juce::String ("false"));
                addInstructions (check->instructions, condition.isEmpty() ? checkText : condition + ", " + checkText,
                                 runs && check->name == "versionNumber");
            }
        }
    }
};
} // namespace

std::set<PollResult> getResultsOfPollingMode (const juce::String& pollingMode)
{
    const auto mode = pollingMode.toLowerCase();

    if (mode == "midi device inquiry" || mode == "scan all ports")
        return resultsBetween (PollResult::NoDevice, PollResult::BootloaderDetected);

    if (mode == "midi device inquiry 2")
        return resultsBetween (PollResult::NoDevice, PollResult::PanelModeDetected);

    if (mode == "midi ports")
        return resultsBetween (PollResult::NoDevice, PollResult::DeviceDetected);

    // The panel state poll returns the last state the instrument reported, or Aborted.
    if (mode == "panel state")
        return resultsBetween (PollResult::PanelNoUpdate, PollResult::PanelUpdateFailed);

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
        forEachSendSysEx (state->instructions,
                          [&kinds] (const State::SendSysExInstruction& instruction)
                          {
                              if (isFirmwareTransfer (instruction))
                                  kinds.addIfNotAlreadyThere (instruction.messageKind);
                          });

    return kinds;
}

std::set<PollResult> getResultsForStateList (const State& state)
{
    auto results = getResultsOfPollingMode (state.getAttribute ("pollingMode"));

    forEachSendSysEx (state.instructions,
                      [&results] (const State::SendSysExInstruction& instruction)
                      {
                          if (pollsAfterTransfer (instruction) &&
                              instruction.endPollingMode.toLowerCase() == "midi device inquiry 2")
                          {
                              const auto more = getResultsOfPollingMode (instruction.endPollingMode);
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

    if (pollsAfterTransfer (instruction) && instruction.endPollingMode.toLowerCase() != "midi device inquiry 2")
    {
        const auto more = getResultsOfPollingMode (instruction.endPollingMode);
        results.insert (more.begin(), more.end());
    }

    return results;
}

bool canTimeOut (const State& state)
{
    bool polls = !getResultsOfPollingMode (state.getAttribute ("pollingMode")).empty();

    forEachSendSysEx (state.instructions, [&polls] (const State::SendSysExInstruction& instruction)
                      { polls = polls || pollsAfterTransfer (instruction); });

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
